#pragma once

#include "platform/wave_out.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// A sound output without sound, for tests: time passes only when the test advances the clock.
// Each advance plays the buffers that were queued when it began, at the format's byte rate,
// and hands them back on the advancing thread. Threads that sleep on the clock wake once it
// has advanced far enough, so nothing in a test waits for real time. The callbacks of returned
// buffers run on the advancing thread and must not call back into the clock.

class VirtualWaveOut;

class VirtualClock {
public:
    std::chrono::milliseconds Now() const;
    // Plays every open, running device for duration, then wakes the sleepers whose time has come.
    void Advance(std::chrono::milliseconds duration);
    // Blocks the calling thread until the clock has advanced by duration.
    void SleepFor(std::chrono::milliseconds duration);
    // Waits (at most safetyLimit of real time) until count threads sleep on the clock.
    bool WaitForSleepers(int count, std::chrono::milliseconds safetyLimit = std::chrono::seconds(10)) const;

    // Makes devices that play on this clock; the last one made stays reachable for the test.
    WaveOutFactory DeviceFactory();
    VirtualWaveOut* LatestDevice() const;
    // While set, newly made devices refuse to open.
    void SetRefuseOpen(bool refuse);

    // What the devices did, in order: "open", "write 8000", "pause", "restart", "reset", "close".
    std::vector<std::string> Events() const;
    // Every byte written to any device, in the order of the writes.
    std::string WrittenBytes() const;
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

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::chrono::milliseconds now_{0};
    int sleepers_ = 0;
    bool refuseOpen_ = false;
    std::vector<VirtualWaveOut*> devices_;
    VirtualWaveOut* latest_ = nullptr;
    std::vector<std::string> events_;
    std::string writtenBytes_;
};

class VirtualWaveOut : public WaveOut {
public:
    VirtualWaveOut(VirtualClock& clock, bool refuseOpen);
    ~VirtualWaveOut() override;

    bool Open(const WaveFormat& format, DoneCallback onDone) override;
    void Write(WaveBuffer& buffer) override;
    void Pause() override;
    void Restart() override;
    void Reset() override;
    void Close() override;

private:
    friend class VirtualClock;
    void Play(std::chrono::milliseconds duration);
    void Return(const std::vector<WaveBuffer*>& buffers);

    VirtualClock& clock_;
    const bool refuseOpen_;
    std::mutex mutex_;
    WaveFormat format_;
    DoneCallback onDone_;
    std::deque<WaveBuffer*> queue_;
    std::uint32_t playedOfFront_ = 0;
    bool paused_ = false;
    bool open_ = false;
};
