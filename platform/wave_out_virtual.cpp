#include "platform/wave_out_virtual.h"

#include <algorithm>

std::chrono::milliseconds VirtualClock::Now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::Advance(std::chrono::milliseconds duration)
{
    std::vector<VirtualWaveOut*> devices;
    {
        std::lock_guard lock(mutex_);
        devices = devices_;
    }
    for (VirtualWaveOut* device : devices)
        device->Play(duration);
    {
        std::lock_guard lock(mutex_);
        now_ += duration;
    }
    changed_.notify_all();
}

void VirtualClock::SleepFor(std::chrono::milliseconds duration)
{
    std::unique_lock lock(mutex_);
    const std::chrono::milliseconds wakeAt = now_ + duration;
    ++sleepers_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return now_ >= wakeAt; });
    --sleepers_;
}

bool VirtualClock::WaitForSleepers(int count, std::chrono::milliseconds safetyLimit) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, safetyLimit, [&] { return sleepers_ >= count; });
}

WaveOutFactory VirtualClock::DeviceFactory()
{
    return [this]() -> std::unique_ptr<WaveOut> {
        bool refuse = false;
        {
            std::lock_guard lock(mutex_);
            refuse = refuseOpen_;
        }
        auto device = std::make_unique<VirtualWaveOut>(*this, refuse);
        std::lock_guard lock(mutex_);
        latest_ = device.get();
        return device;
    };
}

VirtualWaveOut* VirtualClock::LatestDevice() const
{
    std::lock_guard lock(mutex_);
    return latest_;
}

void VirtualClock::SetRefuseOpen(bool refuse)
{
    std::lock_guard lock(mutex_);
    refuseOpen_ = refuse;
}

void VirtualClock::Attach(VirtualWaveOut* device)
{
    std::lock_guard lock(mutex_);
    devices_.push_back(device);
}

void VirtualClock::Detach(VirtualWaveOut* device)
{
    std::lock_guard lock(mutex_);
    std::erase(devices_, device);
    if (latest_ == device)
        latest_ = nullptr;
}

VirtualWaveOut::VirtualWaveOut(VirtualClock& clock, bool refuseOpen) : clock_(clock), refuseOpen_(refuseOpen) {}

VirtualWaveOut::~VirtualWaveOut()
{
    Close();
    clock_.Detach(this);
}

bool VirtualWaveOut::Open(const WaveFormat& format, DoneCallback onDone)
{
    if (refuseOpen_ || !IsPlayableFormat(format))
        return false;
    {
        std::lock_guard lock(mutex_);
        format_ = format;
        onDone_ = std::move(onDone);
        open_ = true;
    }
    clock_.Attach(this);
    return true;
}

void VirtualWaveOut::Write(WaveBuffer& buffer)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&buffer);
        writtenLengths_.push_back(buffer.length);
    }
    written_.notify_all();
}

void VirtualWaveOut::Pause()
{
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void VirtualWaveOut::Restart()
{
    std::lock_guard lock(mutex_);
    paused_ = false;
}

void VirtualWaveOut::Reset()
{
    std::vector<WaveBuffer*> returned;
    {
        std::lock_guard lock(mutex_);
        returned.assign(queue_.begin(), queue_.end());
        queue_.clear();
        playedOfFront_ = 0;
        ++resets_;
    }
    Return(returned);
}

void VirtualWaveOut::Close()
{
    bool wasOpen = false;
    {
        std::lock_guard lock(mutex_);
        wasOpen = open_;
        open_ = false;
        queue_.clear();
    }
    if (wasOpen)
        clock_.Detach(this);
}

void VirtualWaveOut::Play(std::chrono::milliseconds duration)
{
    std::vector<WaveBuffer*> returned;
    {
        std::lock_guard lock(mutex_);
        if (!open_ || paused_)
            return;
        std::uint64_t budget = static_cast<std::uint64_t>(duration.count()) * format_.averageBytesPerSecond / 1000;
        // Only what was queued when this stretch of time began plays in it.
        for (std::size_t queued = queue_.size(); queued > 0; --queued) {
            WaveBuffer* front = queue_.front();
            const std::uint32_t left = front->length - playedOfFront_;
            if (left > budget) {
                playedOfFront_ += static_cast<std::uint32_t>(budget);
                break;
            }
            budget -= left;
            playedOfFront_ = 0;
            queue_.pop_front();
            returned.push_back(front);
        }
    }
    Return(returned);
}

void VirtualWaveOut::Return(const std::vector<WaveBuffer*>& buffers)
{
    DoneCallback onDone;
    {
        std::lock_guard lock(mutex_);
        onDone = onDone_;
    }
    for (WaveBuffer* buffer : buffers) {
        buffer->done.store(true);
        if (onDone)
            onDone(*buffer);
    }
}

std::vector<std::uint32_t> VirtualWaveOut::WrittenLengths() const
{
    std::lock_guard lock(mutex_);
    return writtenLengths_;
}

bool VirtualWaveOut::WaitForWrites(std::size_t count, std::chrono::milliseconds safetyLimit) const
{
    std::unique_lock lock(mutex_);
    return written_.wait_for(lock, safetyLimit, [&] { return writtenLengths_.size() >= count; });
}

std::size_t VirtualWaveOut::QueuedCount() const
{
    std::lock_guard lock(mutex_);
    return queue_.size();
}

int VirtualWaveOut::ResetCount() const
{
    std::lock_guard lock(mutex_);
    return resets_;
}

bool VirtualWaveOut::IsPaused() const
{
    std::lock_guard lock(mutex_);
    return paused_;
}

bool VirtualWaveOut::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}
