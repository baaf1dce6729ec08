#include "support/wave_out_virtual.h"

#include <algorithm>

void VirtualClock::Advance(std::chrono::milliseconds duration)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = handBackHook_;
    }
    std::lock_guard devices(devicesMutex_);
    for (VirtualWaveOut* device : devices_)
        device->Play(duration, hook);
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
        std::lock_guard devices(devicesMutex_);
        latest_ = device.get();
        return device;
    };
}

VirtualWaveOut* VirtualClock::LatestDevice() const
{
    std::lock_guard devices(devicesMutex_);
    return latest_;
}

void VirtualClock::SetRefuseOpen(bool refuse)
{
    std::lock_guard lock(mutex_);
    refuseOpen_ = refuse;
}

void VirtualClock::SetHandBackHook(std::function<void()> hook)
{
    std::lock_guard lock(mutex_);
    handBackHook_ = std::move(hook);
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

std::uint64_t VirtualClock::PlayedBytes() const
{
    return playedBytes_.load();
}

std::size_t VirtualClock::CountEventsLocked(std::string_view prefix) const
{
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                  [&](const std::string& event) { return event.starts_with(prefix); }));
}

std::size_t VirtualClock::CountEvents(std::string_view prefix) const
{
    std::lock_guard lock(mutex_);
    return CountEventsLocked(prefix);
}

bool VirtualClock::WaitForEvents(std::string_view prefix, std::size_t count,
                                 std::chrono::milliseconds safetyLimit) const
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
    std::lock_guard devices(devicesMutex_);
    devices_.push_back(device);
}

void VirtualClock::Detach(VirtualWaveOut* device)
{
    std::lock_guard devices(devicesMutex_);
    std::erase(devices_, device);
    if (latest_ == device)
        latest_ = nullptr;
}

VirtualWaveOut::VirtualWaveOut(VirtualClock& clock, bool refuseOpen) : clock_(clock), refuseOpen_(refuseOpen)
{
}

VirtualWaveOut::~VirtualWaveOut()
{
    Close();
    clock_.Detach(this);
}

Result<void> VirtualWaveOut::Open(const WaveFormat& format, DoneCallback onDone)
{
    if (refuseOpen_)
        return Failure{"the virtual output refuses to open"};
    if (Result<void> playable = CheckPlayableFormat(format); !playable)
        return playable;
    {
        std::lock_guard lock(mutex_);
        format_ = format;
        onDone_ = std::move(onDone);
        open_ = true;
    }
    clock_.Attach(this);
    clock_.Record("open");
    return {};
}

void VirtualWaveOut::Write(WaveBuffer& buffer)
{
    {
        std::lock_guard lock(mutex_);
        queue_.Push(buffer);
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
    ++resetsWaiting_;
    std::lock_guard device(deviceLock_);
    --resetsWaiting_;
    std::vector<WaveBuffer*> returned;
    {
        std::lock_guard lock(mutex_);
        returned = queue_.TakeAll();
    }
    clock_.Record("reset");
    HandBack(returned, onDone_);
}

bool VirtualWaveOut::ResetWaiting() const
{
    return resetsWaiting_.load() > 0;
}

void VirtualWaveOut::Close()
{
    bool wasOpen = false;
    {
        std::lock_guard lock(mutex_);
        wasOpen = open_;
        open_ = false;
        queue_.TakeAll();
    }
    if (wasOpen) {
        clock_.Detach(this);
        clock_.Record("close");
    }
}

void VirtualWaveOut::Play(std::chrono::milliseconds duration, const std::function<void()>& handBackHook)
{
    std::lock_guard device(deviceLock_);
    std::vector<WaveBuffer*> finished;
    {
        std::lock_guard lock(mutex_);
        if (!open_ || paused_)
            return;
        const auto budget = static_cast<std::size_t>(duration.count() * format_.averageBytesPerSecond / 1000);
        const std::size_t played = queue_.Take(
            budget, [](const unsigned char*, std::size_t) {}, finished);
        clock_.playedBytes_ += played;
    }
    if (handBackHook && !finished.empty())
        handBackHook();
    HandBack(finished, onDone_);
}
