#pragma once

#include "audio/player.h"
#include "platform/wave_out.h"

#include <QWidget>

#include <functional>
#include <string>

class LoudnessOutlines;
class OutlineSlider;
class QPushButton;
class QSlider;

// The playback controls under a list of recordings: "播放", "暂停", "停止", "下一条", "上一条",
// "静音" and "退出", the position slider (a percentage of the recording) and the upright volume
// slider (0 at the top, loudest, to 10). They play the list's rows with a Player, which keeps
// the rules of the playback (the pending restart and seek, next and previous, the mute): the
// controls pass the clicks on, tell the user the player's answers and show its state. The
// position slider shows the loudness outline of the recording that plays, or else of the
// selected one.
class PlayerControls : public QWidget {
    Q_OBJECT

public:
    // focusList gives the list the keyboard focus again; makeOutput makes the sound output of
    // each playback.
    PlayerControls(PlayList list, std::function<void()> focusList, WaveOutFactory makeOutput, QWidget* parent);

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
    void PauseOrResume();
    void StopPlayback();
    void SkipBy(int offset);
    void ToggleMute();
    void ApplyVolume(int step);
    void ShowState(Player::State state);
    void ShowProgress(int percent);
    void ShowFailure(Player::Problem problem);
    void OutlineReady(const QString& path);

    std::function<void()> focusList_;
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
    std::string outlinedFile_; // the recording whose outline the slider shows or waits for

    Player::State shownState_ = Player::State::Stopped;
};
