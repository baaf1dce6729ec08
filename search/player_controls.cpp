#include "search/player_controls.h"

#include "platform/common_widgets.h"
#include "platform/message_box.h"
#include "search/outline_slider.h"

#include <QEvent>
#include <QPushButton>
#include <QRegion>
#include <QSlider>

#include <utility>

namespace {

const QString kWarningCaption = QStringLiteral("提示");
const QString kMuteText = QStringLiteral("静音");
const QString kUnmuteText = QStringLiteral("取消静音");
const QString kSelectToPlayText = QStringLiteral("请先选择一条要播放的语音！");
constexpr QSize kButtonSize(73, 25);
constexpr QSize kVolumeSliderSize(24, 69);
constexpr int kButtonTop = 15; // the volume slider stands 15 pixels higher than the buttons

// No button is the dialog's default: Enter in another control must not press one.
QPushButton* MakeButton(const char* objectName, const QString& text, QWidget* parent)
{
    return MakeDialogButton(objectName, text, parent, kButtonSize);
}

} // namespace

PlayerControls::PlayerControls(PlayList list, WaveOutFactory makeOutput, QWidget* parent)
    : QWidget(parent),
      list_(std::move(list)),
      player_(new Player(std::move(makeOutput), this)),
      outlines_(new LoudnessOutlines(this))
{
    setObjectName(QStringLiteral("playerControls"));
    BuildControls();
    ConnectControls();
}

void PlayerControls::BuildControls()
{
    playButton_ = MakeButton("btnplay", QStringLiteral("播放"), this);
    pauseButton_ = MakeButton("btnpause", QStringLiteral("暂停"), this);
    stopButton_ = MakeButton("btnstop", QStringLiteral("停止"), this);
    nextButton_ = MakeButton("btnnext", QStringLiteral("下一条"), this);
    previousButton_ = MakeButton("btnlast", QStringLiteral("上一条"), this);
    muteButton_ = MakeButton("btnjiny", kMuteText, this);
    closeButton_ = MakeButton("btnclose", QStringLiteral("退出"), this);

    // Volume: 0 (top, loudest) to 10, a tick at every step on the right.
    volumeSlider_ = MakeNamed<QSlider>("TrackBar2", Qt::Vertical, this);
    volumeSlider_->setAccessibleName(QStringLiteral("音量"));
    volumeSlider_->setRange(0, 10);
    volumeSlider_->setValue(5);
    volumeSlider_->setTickPosition(QSlider::TicksRight);
    volumeSlider_->setTickInterval(1);
    volumeSlider_->setInvertedAppearance(true);
    volumeSlider_->resize(kVolumeSliderSize);

    // Position: a percentage of the recording.
    positionSlider_ = MakeNamed<OutlineSlider>("positionSlider", this);
    positionSlider_->setAccessibleName(QStringLiteral("播放进度"));
    positionSlider_->setRange(0, 100);
    positionSlider_->setValue(0);
    positionSlider_->setTickPosition(QSlider::NoTicks);
    positionSlider_->installEventFilter(this);
}

void PlayerControls::ConnectControls()
{
    connect(playButton_, &QPushButton::clicked, this, &PlayerControls::PlaySelected);
    connect(pauseButton_, &QPushButton::clicked, this, &PlayerControls::PauseOrResume);
    connect(stopButton_, &QPushButton::clicked, this, &PlayerControls::StopPlayback);
    connect(nextButton_, &QPushButton::clicked, this, [this] { SkipBy(1); });
    connect(previousButton_, &QPushButton::clicked, this, [this] { SkipBy(-1); });
    connect(muteButton_, &QPushButton::clicked, this, &PlayerControls::ToggleMute);
    connect(closeButton_, &QPushButton::clicked, this, &PlayerControls::quitRequested);
    connect(volumeSlider_, &QSlider::valueChanged, this, &PlayerControls::ApplyVolume);
    connect(player_, &Player::stateChanged, this, &PlayerControls::ShowState);
    connect(player_, &Player::positionChanged, this, &PlayerControls::ShowProgress);
    connect(player_, &Player::failed, this, &PlayerControls::ShowFailure);
    connect(player_, &Player::ended, this, &PlayerControls::EndPlayback);
    connect(player_, &Player::seekUnavailable, positionSlider_, [this] { positionSlider_->setEnabled(false); });
    connect(player_, &Player::restartUnavailable, playButton_, [this] { playButton_->setEnabled(false); });
    connect(outlines_, &LoudnessOutlines::outlineReady, this, &PlayerControls::OutlineReady);
}

// The buttons in seven of eight equal steps, the volume slider in the eighth, the position
// slider under the first buttons. Only the controls themselves take the mouse: the rest of the
// rectangle belongs to whatever lies beneath.
void PlayerControls::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int step = width() / 8;
    QPushButton* const buttons[] = {playButton_,     pauseButton_, stopButton_, nextButton_,
                                    previousButton_, muteButton_,  closeButton_};
    QRegion taken;
    for (int i = 0; i < 7; ++i) {
        buttons[i]->move(i * step, kButtonTop);
        taken += buttons[i]->geometry();
    }
    positionSlider_->setGeometry(10, kButtonTop + 37, step * 13 / 2, 20);
    volumeSlider_->move(7 * step, 0);
    setMask(taken + positionSlider_->geometry() + volumeSlider_->geometry());
}

// A mouse button pressed on the enabled position slider seeks; released, it lets a restart
// that waits for it go on. A disabled slider is seen here too, but it does not seek.
bool PlayerControls::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == positionSlider_ && event->type() == QEvent::MouseButtonPress && positionSlider_->isEnabled())
        PressPositionSlider();
    if (watched == positionSlider_ && event->type() == QEvent::MouseButtonRelease)
        ReleasePositionSlider();
    return QWidget::eventFilter(watched, event);
}

void PlayerControls::Warn(const QString& text)
{
    ShowMessage(window(), text, kWarningCaption, MessageIcon::Warning);
}

void PlayerControls::EnablePlayControls()
{
    playButton_->setEnabled(true);
    positionSlider_->setEnabled(true);
}

// "播放", and the restart once an ended player has been closed: resumes a paused player,
// starts the selected row when stopped, and while playing switches to another row once the
// current player has ended.
void PlayerControls::PlaySelected()
{
    playButton_->setEnabled(false);
    positionSlider_->setEnabled(false);
    restartPending_ = false;
    if (player_->state() == Player::State::Paused) {
        player_->pauseOrResume();
        EnablePlayControls();
        return;
    }
    const std::optional<int> row = list_.selectedRow();
    if (!row) {
        Warn(kSelectToPlayText);
        EnablePlayControls();
        return;
    }
    list_.focusList();
    if (player_->state() == Player::State::Stopped) {
        StartRecording(*row);
        return;
    }
    // The row that plays goes on untouched, its slider included; a start on its way enables
    // the controls itself.
    if (list_.pathOfRow(*row) == currentFile_) {
        if (player_->state() == Player::State::Playing)
            EnablePlayControls();
        return;
    }
    restartPending_ = true;
    player_->stop();
    playButton_->setEnabled(true);
}

// Plays the row's recording, from the position slider's percentage after a seek. A slider at
// its right end only returns to 0. The controls stay disabled until the start has succeeded
// or failed.
void PlayerControls::StartRecording(int row)
{
    if (positionSlider_->value() == 100) {
        EnablePlayControls();
        positionSlider_->setValue(0);
        return;
    }
    currentFile_ = list_.pathOfRow(row);
    emit startingRecording(QString::fromStdString(currentFile_));
    ShowOutline();
    if (std::exchange(seekPending_, false))
        player_->seek(positionSlider_->value());
    player_->play(currentFile_);
}

// While a start is on its way the pause is taken in and done once the sound runs.
void PlayerControls::PauseOrResume()
{
    if (player_->state() == Player::State::Stopped) {
        Warn(QStringLiteral("没有正在播放的语音！"));
        return;
    }
    player_->pauseOrResume();
    list_.focusList();
}

// Asks the player to end, paused or not; once it has, it tells so through ended().
void PlayerControls::StopPlayback()
{
    if (player_->state() == Player::State::Stopped) {
        playButton_->setEnabled(true);
        return;
    }
    positionSlider_->setValue(0);
    if (player_->muted()) {
        player_->setMuted(false);
        muteButton_->setText(kMuteText);
    }
    player_->stop();
    list_.focusList();
}

// "下一条" and "上一条": select the neighbouring row and play it once the current player has
// ended; nothing at either end of the list.
void PlayerControls::SkipBy(int offset)
{
    list_.focusList();
    const std::optional<int> row = list_.selectedRow();
    if (!row) {
        Warn(kSelectToPlayText);
        return;
    }
    const int target = *row + offset;
    if (target < 0 || target >= list_.rowCount())
        return;
    list_.selectRow(target);
    restartPending_ = true;
    player_->stop();
}

// Muting while a start is on its way silences the sound it starts.
void PlayerControls::ToggleMute()
{
    if (player_->state() == Player::State::Stopped) {
        ShowMessage(window(), QStringLiteral("没有正在播放语音！"), kWarningCaption, MessageIcon::None);
        return;
    }
    const bool mute = !player_->muted();
    player_->setMuted(mute);
    muteButton_->setText(mute ? kUnmuteText : kMuteText);
    list_.focusList();
}

// Applied while a recording plays or is paused; a stopped player applies it at the next start.
void PlayerControls::ApplyVolume(int step)
{
    player_->setVolume(step);
    list_.focusList();
}

// Pressing the slider while playing stops the player; once it has ended and the button has
// been released, the recording starts again at the slider's value.
void PlayerControls::PressPositionSlider()
{
    if (player_->state() != Player::State::Playing)
        return;
    mouseHeld_ = true;
    restartPending_ = true;
    seekPending_ = true;
    player_->seek(positionSlider_->value());
}

void PlayerControls::ReleasePositionSlider()
{
    mouseHeld_ = false;
    if (std::exchange(restartOnRelease_, false))
        PlaySelected();
}

// A start that succeeded enables the controls; a playback that ended or was stopped puts the
// slider back to 0, unless a seek holds it where the user drags it.
void PlayerControls::ShowState(Player::State state)
{
    const Player::State was = std::exchange(shownState_, state);
    if (was == Player::State::Starting && state != Player::State::Stopped)
        EnablePlayControls();
    if (state == Player::State::Stopped && was != Player::State::Starting && !seekPending_)
        positionSlider_->setValue(0);
    ShowOutline();
}

void PlayerControls::ShowOutline()
{
    std::string path;
    if (player_->state() != Player::State::Stopped)
        path = currentFile_;
    else if (const std::optional<int> row = list_.selectedRow())
        path = list_.pathOfRow(*row);
    if (path == outlinedFile_ && positionSlider_->HasOutline())
        return;
    outlinedFile_ = path;
    positionSlider_->SetOutline(path.empty() ? nullptr : outlines_->Find(path));
}

void PlayerControls::OutlineReady(const QString& path)
{
    if (path.toStdString() == outlinedFile_)
        positionSlider_->SetOutline(outlines_->Find(outlinedFile_));
}

// Once 100 % has been reported the slider's maximum stays 99.
void PlayerControls::ShowProgress(int percent)
{
    if (seekPending_)
        return;
    if (percent >= 100)
        positionSlider_->setMaximum(99);
    else
        positionSlider_->setValue(percent);
}

void PlayerControls::ShowFailure(Player::Problem problem)
{
    EnablePlayControls();
    positionSlider_->setValue(0);
    Warn(problem == Player::Problem::BadFormat ? QStringLiteral("播放错误的语音格式！")
                                               : QStringLiteral("无法打开声音输出设备！"));
}

// The ended player has been closed: the controls are offered again, and what is pending
// starts, once the slider's button is released.
void PlayerControls::EndPlayback()
{
    EnablePlayControls();
    if (!restartPending_)
        return;
    if (mouseHeld_) {
        restartOnRelease_ = true;
        return;
    }
    PlaySelected();
}

void PlayerControls::ShutDown()
{
    player_->shutDown();
    if (std::exchange(shownState_, Player::State::Stopped) == Player::State::Starting)
        EnablePlayControls();
    restartPending_ = false;
    seekPending_ = false;
    mouseHeld_ = false;
    restartOnRelease_ = false;
}
