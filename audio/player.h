#pragma once

#include "platform/wave_out.h"

#include <QObject>

#include <cstdint>
#include <string>

class QTimer;
class WavePlayerSlot;

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
// Each buffer is decoded just before it is queued: the sound starts at once, however long the
// recording, and nothing of it is kept.
class Player : public QObject {
    Q_OBJECT

public:
    enum class State { Stopped, Starting, Playing, Paused };
    Q_ENUM(State)
    enum class Problem { BadFormat, NoOutput };
    Q_ENUM(Problem)

    // makeOutput makes the sound output of each playback.
    explicit Player(WaveOutFactory makeOutput, QObject* parent = nullptr);
    ~Player() override;

    State state() const { return state_; }
    bool muted() const { return muted_; }

public slots:
    void play(const std::string& path);
    void pauseOrResume();
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
    // reason says why in words, for logs and the command line.
    void failed(Player::Problem problem, const std::string& reason);

private:
    void SetState(State state);
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
};

// The output volume for a volume step: the top (0) is full level, the bottom (10) silent, the
// same level in both channels.
std::uint32_t VolumeWord(int step);
