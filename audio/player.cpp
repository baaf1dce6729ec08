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

const char* ProblemText(Player::Problem problem)
{
    return problem == Player::Problem::BadFormat ? "播放错误的语音格式！" : "无法打开声音输出设备！";
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

// While a start is on its way the pause is taken in and done once the sound runs.
Player::Answer Player::pauseOrResume()
{
    if (state_ == State::Stopped)
        return Answer::NothingPlaying;
    if (state_ == State::Starting) {
        pauseWhenStarted_ = !pauseWhenStarted_;
        return Answer::Done;
    }
    const bool pause = state_ == State::Playing;
    WaveSetPaused(*output_, pause);
    SetState(pause ? State::Paused : State::Playing);
    return Answer::Done;
}

std::optional<int> Player::SelectedRow() const
{
    return list_.selectedRow ? list_.selectedRow() : std::nullopt;
}

std::optional<std::string> Player::selectedPath() const
{
    const std::optional<int> row = SelectedRow();
    return row ? std::optional(list_.pathOfRow(*row)) : std::nullopt;
}

Player::Answer Player::playSelected()
{
    restartPending_ = false;
    if (state_ == State::Paused)
        return pauseOrResume();
    const std::optional<int> row = SelectedRow();
    if (!row)
        return Answer::NothingSelected;
    const std::string path = list_.pathOfRow(*row);
    if (state_ == State::Stopped) {
        if (position_ == 100)
            return Answer::PositionAtEnd;
        currentFile_ = path;
        emit currentChanged(QString::fromStdString(path), *row > 0, *row + 1 < list_.rowCount());
        if (std::exchange(seekPending_, false))
            seek(position_);
        play(path);
        return Answer::Done;
    }
    // The row that plays goes on untouched; another one starts once this player has ended.
    if (path != currentFile_) {
        restartPending_ = true;
        stop();
    }
    return Answer::Done;
}

// With nothing playing only the selection moves; the pending restart is dropped by the next
// playSelected().
Player::Answer Player::SkipBy(int offset)
{
    const std::optional<int> row = SelectedRow();
    if (!row)
        return Answer::NothingSelected;
    const int target = *row + offset;
    if (target < 0 || target >= list_.rowCount())
        return Answer::Done;
    list_.selectRow(target);
    restartPending_ = true;
    stop();
    return Answer::Done;
}

Player::Answer Player::stopPlayback()
{
    if (state_ == State::Stopped)
        return Answer::NothingPlaying;
    setMuted(false);
    stop();
    return Answer::Done;
}

// Muting while a start is on its way silences the sound it starts.
Player::Answer Player::toggleMute()
{
    if (state_ == State::Stopped)
        return Answer::NothingPlaying;
    setMuted(!muted_);
    return Answer::Done;
}

// A press while playing stops the player; once it has ended and the button has been released,
// the recording starts again at the position.
void Player::pressPosition()
{
    if (state_ != State::Playing)
        return;
    positionHeld_ = true;
    restartPending_ = true;
    seekPending_ = true;
    seek(position_);
}

void Player::releasePosition()
{
    positionHeld_ = false;
    if (std::exchange(restartOnRelease_, false))
        emit restartRequested();
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
    emit mutedChanged(muted);
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
    restartPending_ = false;
    seekPending_ = false;
    positionHeld_ = false;
    restartOnRelease_ = false;
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
    if (state_ == State::Starting)
        return;
    emit ended();
    if (!restartPending_)
        return;
    if (positionHeld_)
        restartOnRelease_ = true;
    else
        emit restartRequested();
}
