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

PlayerControls::PlayerControls(PlayList list, std::function<void()> focusList, WaveOutFactory makeOutput,
                               QWidget* parent)
    : QWidget(parent),
      focusList_(std::move(focusList)),
      player_(new Player(std::move(makeOutput), this)),
      outlines_(new LoudnessOutlines(this))
{
    setObjectName(QStringLiteral("playerControls"));
    player_->setPlayList(std::move(list));
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
    connect(player_, &Player::ended, this, &PlayerControls::EnablePlayControls);
    connect(player_, &Player::restartRequested, this, &PlayerControls::PlaySelected);
    connect(player_, &Player::currentChanged, this, [this](const QString& path) {
        emit startingRecording(path);
        ShowOutline();
    });
    connect(player_, &Player::mutedChanged, muteButton_,
            [this](bool muted) { muteButton_->setText(muted ? kUnmuteText : kMuteText); });
    connect(positionSlider_, &QSlider::valueChanged, player_, &Player::setPosition);
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
        player_->pressPosition();
    if (watched == positionSlider_ && event->type() == QEvent::MouseButtonRelease)
        player_->releasePosition();
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

// "播放", and the restart the player asks for once it has ended: the player answers; the
// controls stay disabled while a start is on its way.
void PlayerControls::PlaySelected()
{
    playButton_->setEnabled(false);
    positionSlider_->setEnabled(false);
    const Player::State before = player_->state();
    const Player::Answer answer = player_->playSelected();
    if (answer == Player::Answer::NothingSelected) {
        Warn(kSelectToPlayText);
        EnablePlayControls();
        return;
    }
    if (before == Player::State::Paused) {
        EnablePlayControls();
        return;
    }
    focusList_();
    if (answer == Player::Answer::PositionAtEnd) {
        EnablePlayControls();
        positionSlider_->setValue(0);
        return;
    }
    // Switching rows waits for the end with the slider disabled; the row that plays goes on
    // untouched, and a start on its way enables the controls itself.
    if (player_->restartPending())
        playButton_->setEnabled(true);
    else if (before == Player::State::Playing)
        EnablePlayControls();
}

void PlayerControls::PauseOrResume()
{
    if (player_->pauseOrResume() == Player::Answer::NothingPlaying) {
        Warn(QStringLiteral("没有正在播放的语音！"));
        return;
    }
    focusList_();
}

// Asks the player to end, paused or not; once it has, it tells so through ended().
void PlayerControls::StopPlayback()
{
    if (player_->state() != Player::State::Stopped)
        positionSlider_->setValue(0);
    if (player_->stopPlayback() == Player::Answer::NothingPlaying) {
        playButton_->setEnabled(true);
        return;
    }
    focusList_();
}

// "下一条" and "上一条".
void PlayerControls::SkipBy(int offset)
{
    focusList_();
    if ((offset > 0 ? player_->next() : player_->previous()) == Player::Answer::NothingSelected)
        Warn(kSelectToPlayText);
}

void PlayerControls::ToggleMute()
{
    if (player_->toggleMute() == Player::Answer::NothingPlaying) {
        ShowMessage(window(), QStringLiteral("没有正在播放语音！"), kWarningCaption, MessageIcon::None);
        return;
    }
    focusList_();
}

// Applied while a recording plays or is paused; a stopped player applies it at the next start.
void PlayerControls::ApplyVolume(int step)
{
    player_->setVolume(step);
    focusList_();
}

// A start that succeeded enables the controls, and one on its way (a restart too) disables
// them; a playback that ended or was stopped puts the slider back to 0, unless a seek holds it
// where the user drags it.
void PlayerControls::ShowState(Player::State state)
{
    const Player::State was = std::exchange(shownState_, state);
    if (state == Player::State::Starting) {
        playButton_->setEnabled(false);
        positionSlider_->setEnabled(false);
    }
    if (was == Player::State::Starting && state != Player::State::Stopped)
        EnablePlayControls();
    if (state == Player::State::Stopped && was != Player::State::Starting && !player_->seekPending())
        positionSlider_->setValue(0);
    ShowOutline();
}

void PlayerControls::ShowOutline()
{
    std::string path;
    if (player_->state() != Player::State::Stopped)
        path = player_->currentFile();
    else if (const std::optional<std::string> selected = player_->selectedPath())
        path = *selected;
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
    if (player_->seekPending())
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
    Warn(QString::fromUtf8(ProblemText(problem)));
}

void PlayerControls::ShutDown()
{
    player_->shutDown();
    if (std::exchange(shownState_, Player::State::Stopped) == Player::State::Starting)
        EnablePlayControls();
}
