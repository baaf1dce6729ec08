#pragma once

#include "platform/wave_out.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// A sound output without sound, for tests: time passes only when the test advances the clock.
// Each advance plays what the open, running devices hold queued, at the format's byte rate,
// and hands the finished buffers back on the advancing thread, so nothing in a test waits for
// real time. The callbacks of returned buffers run on the advancing thread and must not call
// back into the clock.

class VirtualWaveOut;

class VirtualClock {
public:
    // Plays every open, running device for duration.
    void Advance(std::chrono::milliseconds duration);

    // Makes devices that play on this clock; the last one made stays reachable for the test.
    WaveOutFactory DeviceFactory();
    VirtualWaveOut* LatestDevice() const;
    // While set, newly made devices refuse to open.
    void SetRefuseOpen(bool refuse);
    // Called inside Advance by a device that has taken finished buffers off its queue, just
    // before it hands them back, with its device lock held: lets a test act in that gap.
    void SetHandBackHook(std::function<void()> hook);

    // What the devices did, in order: "open", "write 8000", "pause", "restart", "reset", "close".
    std::vector<std::string> Events() const;
    // Every byte written to any device, in the order of the writes.
    std::string WrittenBytes() const;
    // Bytes the devices have played; what a reset discarded was written but never played.
    std::uint64_t PlayedBytes() const;
    // Waits (at most safetyLimit of real time) until count events start with prefix.
    bool WaitForEvents(std::string_view prefix, std::size_t count,
                       std::chrono::milliseconds safetyLimit = std::chrono::seconds(10)) const;
    std::size_t CountEvents(std::string_view prefix) const;

private:
    friend class VirtualWaveOut;
    void Attach(VirtualWaveOut* device);
    void Detach(VirtualWaveOut* device);
    void Record(std::string event, std::string_view bytes = {});
    std::size_t CountEventsLocked(std::string_view prefix) const;

    // Held while the devices play, so that a device closed on another thread meanwhile waits
    // in Detach instead of vanishing under the loop.
    mutable std::mutex devicesMutex_;
    std::vector<VirtualWaveOut*> devices_;
    VirtualWaveOut* latest_ = nullptr;

    mutable std::mutex mutex_; // guards what follows
    mutable std::condition_variable changed_;
    bool refuseOpen_ = false;
    std::function<void()> handBackHook_;
    std::vector<std::string> events_;
    std::string writtenBytes_;
    std::atomic<std::uint64_t> playedBytes_{0};
};

class VirtualWaveOut : public WaveOut {
public:
    VirtualWaveOut(VirtualClock& clock, bool refuseOpen);
    ~VirtualWaveOut() override;

    Result<void> Open(const WaveFormat& format, DoneCallback onDone) override;
    void Write(WaveBuffer& buffer) override;
    void Pause() override;
    void Restart() override;
    void Reset() override;
    void Close() override;

    // True while a Reset waits for a hand-back in progress to end.
    bool ResetWaiting() const;

private:
    friend class VirtualClock;
    void Play(std::chrono::milliseconds duration, const std::function<void()>& handBackHook);

    VirtualClock& clock_;
    const bool refuseOpen_;
    // The device lock: held from taking finished buffers off the queue until they are handed
    // back, and by Reset, as a real output's lock is held while it pulls samples.
    std::mutex deviceLock_;
    std::atomic<int> resetsWaiting_{0};
    std::mutex mutex_; // guards what follows
    WaveFormat format_;
    DoneCallback onDone_; // set by Open, before the device plays
    WaveBufferQueue queue_;
    bool paused_ = false;
    bool open_ = false;
};
