#pragma once

#include "audio/player.h"
#include "platform/wave_out.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class LoudnessOutlines;
class OutlineSlider;
class QPushButton;
class QSlider;

// The rows the controls play from, as the list that owns them hands them in.
struct PlayList {
    std::function<std::optional<int>()> selectedRow;
    std::function<std::string(int row)> pathOfRow;
    std::function<int()> rowCount;
    std::function<void(int row)> selectRow;
    std::function<void()> focusList; // gives the list the keyboard focus again
};

// The playback controls under a list of recordings: "播放", "暂停", "停止", "下一条", "上一条",
// "静音" and "退出", the position slider (a percentage of the recording) and the upright volume
// slider (0 at the top, loudest, to 10). They play the list's selected row with a Player.
// Skipping to another row and seeking ask the player to stop and play the selected row again
// once the stopped player has ended; a seek starts at the position slider's value, once its
// mouse button is released. The position slider shows the loudness outline of the recording
// that plays, or else of the selected one.
class PlayerControls : public QWidget {
    Q_OBJECT

public:
    // makeOutput makes the sound output of each playback.
    PlayerControls(PlayList list, WaveOutFactory makeOutput, QWidget* parent);

    // The height the controls take; their width is the parent's to choose.
    static constexpr int kHeight = 72;
    // Ends the playback at once, silently; the volume is left as it is.
    void ShutDown();
    // The list's selection has changed: the slider shows the selected recording's outline
    // unless one plays.
    void ShowOutline();

signals:
    // A recording is being started: its full path.
    void startingRecording(const QString& path);
    // "退出" was clicked.
    void quitRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void ConnectControls();
    void Warn(const QString& text);
    void EnablePlayControls();
    void PlaySelected();
    void StartRecording(int row);
    void PauseOrResume();
    void StopPlayback();
    void SkipBy(int offset);
    void ToggleMute();
    void ApplyVolume(int step);
    void PressPositionSlider();
    void ReleasePositionSlider();
    void ShowState(Player::State state);
    void ShowProgress(int percent);
    void ShowFailure(Player::Problem problem);
    void EndPlayback();
    void OutlineReady(const QString& path);

    PlayList list_;
    Player* player_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QPushButton* pauseButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* previousButton_ = nullptr;
    QPushButton* muteButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QSlider* volumeSlider_ = nullptr;
    OutlineSlider* positionSlider_ = nullptr;
    LoudnessOutlines* outlines_ = nullptr;
    std::string outlinedFile_;       // the recording whose outline the slider shows or waits for

    Player::State shownState_ = Player::State::Stopped;
    bool restartPending_ = false;    // play the selected row again once the player has ended
    bool seekPending_ = false;       // the next start begins at the position slider's value
    bool mouseHeld_ = false;         // a mouse button is held down on the position slider
    bool restartOnRelease_ = false;  // the restart waits for that button's release
    std::string currentFile_;        // the recording last started
};
