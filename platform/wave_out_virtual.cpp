#include "platform/wave_out_virtual.h"

#include <algorithm>

std::chrono::milliseconds VirtualClock::Now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::Advance(std::chrono::milliseconds duration)
{
    {
        // Held while the devices play, so that a device closed on another thread meanwhile
        // waits in Detach instead of vanishing under the loop.
        std::lock_guard lock(mutex_);
        for (VirtualWaveOut* device : devices_)
            device->Play(duration);
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

std::vector<std::string> VirtualClock::Events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

std::string VirtualClock::WrittenBytes() const
{
    std::lock_guard lock(mutex_);
    return writtenBytes_;
}

std::size_t VirtualClock::CountEventsLocked(std::string_view prefix) const
{
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(), [&](const std::string& event) {
        return event.starts_with(prefix);
    }));
}

std::size_t VirtualClock::CountEvents(std::string_view prefix) const
{
    std::lock_guard lock(mutex_);
    return CountEventsLocked(prefix);
}

bool VirtualClock::WaitForEvents(std::string_view prefix, std::size_t count, std::chrono::milliseconds safetyLimit) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, safetyLimit, [&] { return CountEventsLocked(prefix) >= count; });
}

void VirtualClock::Record(std::string event, std::string_view bytes)
{
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        writtenBytes_.append(bytes);
    }
    changed_.notify_all();
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
    clock_.Record("open");
    return true;
}

void VirtualWaveOut::Write(WaveBuffer& buffer)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(&buffer);
    }
    clock_.Record("write " + std::to_string(buffer.length),
                  std::string_view(reinterpret_cast<const char*>(buffer.data), buffer.length));
}

void VirtualWaveOut::Pause()
{
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    clock_.Record("pause");
}

void VirtualWaveOut::Restart()
{
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    clock_.Record("restart");
}

void VirtualWaveOut::Reset()
{
    std::vector<WaveBuffer*> returned;
    {
        std::lock_guard lock(mutex_);
        returned.assign(queue_.begin(), queue_.end());
        queue_.clear();
        playedOfFront_ = 0;
    }
    clock_.Record("reset");
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
    if (wasOpen) {
        clock_.Detach(this);
        clock_.Record("close");
    }
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

