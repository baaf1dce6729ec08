#include "audio/player.h"

#include "audio/wave_player.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

constexpr int kCloseDelayMs = 500;

} // namespace

std::uint32_t VolumeWord(int step)
{
    const auto level = static_cast<std::uint32_t>((10 - std::clamp(step, 0, 10)) * 65535 / 10);
    return level | (level << 16);
}

// The output's reports come from its worker and the sound output's thread; the default
// connection queues them to this thread.
Player::Player(WaveOutFactory makeOutput, QObject* parent)
    : QObject(parent), output_(new WavePlayerSlot(std::move(makeOutput), this)), closeTimer_(new QTimer(this))
{
    setObjectName(QStringLiteral("player"));
    output_->setObjectName(QStringLiteral("playerSlot"));
    closeTimer_->setObjectName(QStringLiteral("Timer1"));
    closeTimer_->setInterval(kCloseDelayMs);
    closeTimer_->setSingleShot(true);
    connect(closeTimer_, &QTimer::timeout, this, &Player::CloseEndedOutput);
    connect(output_, &WavePlayerSlot::started, this, &Player::Started);
    connect(output_, &WavePlayerSlot::finished, this, &Player::EndReported);
    connect(output_, &WavePlayerSlot::progress, this, [this](int percent) {
        if (Reporting())
            emit positionChanged(percent);
    });
    connect(output_, &WavePlayerSlot::sliderDisabled, this, [this] {
        if (Reporting())
            emit seekUnavailable();
    });
    connect(output_, &WavePlayerSlot::playDisabled, this, [this] {
        if (Reporting())
            emit restartUnavailable();
    });
}

// The output (a child) closes its playback when it goes.
Player::~Player() = default;

void Player::SetState(State state)
{
    if (std::exchange(state_, state) != state)
        emit stateChanged(state);
}

bool Player::OutputRunning() const
{
    const WavePlayer* player = output_->player();
    return player && !player->ended.load();
}

bool Player::Reporting() const
{
    return !output_->isQuiet() && (state_ == State::Playing || state_ == State::Paused);
}

void Player::play(const std::string& path)
{
    if (state_ != State::Stopped)
        return;
    const int percent = std::exchange(startPercent_, 0);
    pauseWhenStarted_ = false;
    stopWhenStarted_ = false;
    SetState(State::Starting);
    const Result<void> opened = WaveOpenRecording(*output_, path, percent);
    closeTimer_->stop(); // the output it replaced, if any, is closed
    if (!opened) {
        SetState(State::Stopped);
        emit failed(Problem::NoOutput, opened.error().reason);
    }
}

// The first buffers are queued. A report of a player that a new start has replaced is not
// this start's: its player has not started yet.
void Player::Started()
{
    const WavePlayer* player = output_->player();
    if (state_ != State::Starting || !player || !player->started.load())
        return;
    ApplyVolumeAtStart();
    SetState(State::Playing);
    if (std::exchange(pauseWhenStarted_, false))
        pauseOrResume();
    if (std::exchange(stopWhenStarted_, false))
        stop();
}

void Player::Refused(Failure refusal)
{
    WaveClose(*output_);
    SetState(State::Stopped);
    emit failed(Problem::BadFormat, refusal.reason);
}

void Player::ApplyVolumeAtStart()
{
    const std::uint32_t volume = VolumeWord(volumeStep_);
    if (muted_)
        savedVolume_ = volume;
    SetWaveOutVolume(muted_ ? 0 : volume);
}

void Player::pauseOrResume()
{
    if (state_ == State::Starting) {
        pauseWhenStarted_ = !pauseWhenStarted_;
        return;
    }
    if (state_ != State::Playing && state_ != State::Paused)
        return;
    const bool pause = state_ == State::Playing;
    WaveSetPaused(*output_, pause);
    SetState(pause ? State::Paused : State::Playing);
}

// A start on its way ends as a playback does, so that every stop is followed by ended().
void Player::stop()
{
    if (state_ == State::Stopped)
        return;
    WaveRequestStop(*output_);
    SetState(State::Stopped);
}

void Player::seek(int percent)
{
    startPercent_ = std::clamp(percent, 0, 100);
    if (state_ == State::Starting)
        stopWhenStarted_ = true;
    if (state_ == State::Playing || state_ == State::Paused)
        stop();
}

void Player::setVolume(int step)
{
    volumeStep_ = step;
    if (state_ == State::Playing || state_ == State::Paused)
        SetWaveOutVolume(VolumeWord(step));
}

void Player::setMuted(bool muted)
{
    if (muted == muted_)
        return;
    muted_ = muted;
    if (muted) {
        savedVolume_ = GetWaveOutVolume();
        SetWaveOutVolume(0);
    } else {
        SetWaveOutVolume(savedVolume_);
    }
}

void Player::shutDown()
{
    output_->setQuiet(true);
    WaveRequestStop(*output_);
    WaveClose(*output_);
    closeTimer_->stop();
    startPercent_ = 0;
    pauseWhenStarted_ = false;
    stopWhenStarted_ = false;
    state_ = State::Stopped;
}

// The output's worker has ended: the close timer closes it on this thread. The end of an
// output that a new start has replaced meanwhile changes nothing.
void Player::EndReported()
{
    if (output_->isQuiet() || OutputRunning())
        return;
    if (const WavePlayer* player = output_->player(); player && player->refusal && state_ == State::Starting) {
        Refused(*player->refusal);
        return;
    }
    if (state_ == State::Playing || state_ == State::Paused)
        SetState(State::Stopped);
    closeTimer_->start();
}

// An output started since the end is not the timer's to close; while a start is on its way,
// the owner hears of it through that start instead.
void Player::CloseEndedOutput()
{
    closeTimer_->stop();
    if (OutputRunning())
        return;
    WaveClose(*output_);
    if (state_ != State::Starting)
        emit ended();
}
