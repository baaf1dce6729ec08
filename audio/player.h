#pragma once

#include "platform/wave_out.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QTimer;
class WavePlayerSlot;

// The rows a window lists, read when the player needs them: its selected row, each row's
// recording, how many rows there are, and a way to select a row.
struct PlayList {
    std::function<std::optional<int>()> selectedRow;
    std::function<std::string(int row)> pathOfRow;
    std::function<int()> rowCount;
    std::function<void(int row)> selectRow;
};

// Plays one recording at a time and owns the state of its playback. A window connects to the
// signals and calls the slots, all on the window's thread:
//
//   play(path)        opens the output, and the recording in the player's worker
//                     (State::Starting), then plays it from the point the last seek() chose, or
//                     from its start (State::Playing); a recording that cannot be decoded or
//                     an output that cannot be opened ends in failed() and State::Stopped
//   pauseOrResume()   Playing <-> Paused; while starting, the start ends paused
//   stop()            ends the playback: State::Stopped at once, ended() once the output has
//                     been closed (500 ms after the playback has really ended)
//   seek(percent)     the next start begins at percent of the recording; a playback that runs
//                     is stopped as by stop() (one starting, once its sound runs), so that the
//                     owner starts it again from there
//   setVolume(step)   the volume step 0 (loudest) to 10 (silent), applied while a recording
//                     plays or is paused, and at every start
//   setMuted(muted)   silences the output, and gives back the volume it had before; a start
//                     while muted stays silent
//
//   positionChanged(percent)  while playing: how much has been played (100 or more at the end)
//   seekUnavailable()         fewer than 50000 bytes are left: a seek makes no sense any more
//   restartUnavailable()      fewer than 40000 bytes are left: a new start is no longer offered
//   ended()                   the output of the ended playback is closed: the next play() may come
//
// Given a window's list, the player also keeps the rules of its playback controls, and answers
// each command with what the user is to be told:
//
//   playSelected()    "播放": resumes a paused recording, starts the selected row when stopped
//                     (at the position after a seek; not at all with the position at 100), and
//                     while playing switches to another selected row once the player has ended
//   next(), previous()  select the neighbouring row and play it once the player has ended;
//                     nothing at either end of the list
//   stopPlayback()    "停止": unmutes, then stops
//   toggleMute()      "静音" / "取消静音"
//   pressPosition(), releasePosition()  a mouse button on the position slider: pressed while
//                     playing, the recording starts again at the position once the player has
//                     ended and the button is released
//
//   currentChanged(path, hasPrevious, hasNext)  a row's recording is being started
//   mutedChanged(muted)
//   restartRequested()        the ended player leaves a restart pending: the owner plays the
//                             selected row as "播放" does
//
// Each buffer is decoded just before it is queued: the sound starts at once, however long the
// recording, and nothing of it is kept.
class Player : public QObject {
    Q_OBJECT

public:
    enum class State { Stopped, Starting, Playing, Paused };
    Q_ENUM(State)
    enum class Problem { BadFormat, NoOutput };
    Q_ENUM(Problem)
    enum class Answer { Done, NothingSelected, NothingPlaying, PositionAtEnd };

    // makeOutput makes the sound output of each playback.
    explicit Player(WaveOutFactory makeOutput, QObject* parent = nullptr);
    ~Player() override;

    State state() const { return state_; }
    bool muted() const { return muted_; }
    void setPlayList(PlayList list) { list_ = std::move(list); }
    // The position slider's value, 0 to 100: where a seek starts.
    void setPosition(int position) { position_ = position; }
    // While set, reports of the position concern the playback a seek is ending.
    bool seekPending() const { return seekPending_; }
    bool restartPending() const { return restartPending_; }
    // The recording last started from the list.
    const std::string& currentFile() const { return currentFile_; }
    std::optional<std::string> selectedPath() const;

    Answer playSelected();
    Answer next() { return SkipBy(1); }
    Answer previous() { return SkipBy(-1); }
    Answer pauseOrResume();
    Answer stopPlayback();
    Answer toggleMute();
    void pressPosition();
    void releasePosition();

public slots:
    void play(const std::string& path);
    void stop();
    void seek(int percent);
    void setVolume(int step);
    void setMuted(bool muted);
    // Ends everything at once without a word: the output is stopped and closed, a start on its
    // way is dropped, and nothing is signalled until the next play().
    void shutDown();

signals:
    void stateChanged(Player::State state);
    void positionChanged(int percent);
    void seekUnavailable();
    void restartUnavailable();
    void ended();
    void currentChanged(const QString& path, bool hasPrevious, bool hasNext);
    void mutedChanged(bool muted);
    void restartRequested();
    // reason says why in words, for logs and the command line.
    void failed(Player::Problem problem, const std::string& reason);

private:
    void SetState(State state);
    Answer SkipBy(int offset);
    // The list's selected row; none while the player has no list.
    std::optional<int> SelectedRow() const;
    void Started();
    // The start is refused: the recording cannot be decoded.
    void Refused(Failure refusal);
    void ApplyVolumeAtStart();
    void EndReported();
    void CloseEndedOutput();
    // Whether the output holds a playback whose worker still runs.
    bool OutputRunning() const;
    // Whether reports of the output still concern this player's playback.
    bool Reporting() const;

    WavePlayerSlot* output_;
    // One-shot: closes the ended output on this thread, then tells the owner.
    QTimer* closeTimer_;
    State state_ = State::Stopped;
    int startPercent_ = 0;
    // Asked for while starting, done once the sound runs.
    bool pauseWhenStarted_ = false;
    bool stopWhenStarted_ = false;
    int volumeStep_ = 5;
    bool muted_ = false;
    std::uint32_t savedVolume_ = 0; // the output volume before muting

    PlayList list_;
    int position_ = 0;
    std::string currentFile_;       // the recording last started from the list
    bool restartPending_ = false;   // play the selected row again once the player has ended
    bool seekPending_ = false;      // the next start begins at the position
    bool positionHeld_ = false;     // a mouse button is held down on the position slider
    bool restartOnRelease_ = false; // the restart waits for that button's release
};

// What the user is told when a start failed: "播放错误的语音格式！" or "无法打开声音输出设备！".
const char* ProblemText(Player::Problem problem);

// The output volume for a volume step: the top (0) is full level, the bottom (10) silent, the
// same level in both channels.
std::uint32_t VolumeWord(int step);
