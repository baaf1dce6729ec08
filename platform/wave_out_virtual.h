#pragma once

#include "platform/wave_out.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// A sound output without sound, for tests: time passes only when the test advances the clock.
// Each advance plays the buffers that were queued when it began, at the format's byte rate,
// and hands them back on the advancing thread. Threads that sleep on the clock wake once it
// has advanced far enough, so nothing in a test waits for real time.

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

private:
    friend class VirtualWaveOut;
    void Attach(VirtualWaveOut* device);
    void Detach(VirtualWaveOut* device);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::chrono::milliseconds now_{0};
    int sleepers_ = 0;
    bool refuseOpen_ = false;
    std::vector<VirtualWaveOut*> devices_;
    VirtualWaveOut* latest_ = nullptr;
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

    // What the test can observe.
    std::vector<std::uint32_t> WrittenLengths() const;
    // Waits (at most safetyLimit of real time) until count buffers have been written in all.
    bool WaitForWrites(std::size_t count, std::chrono::milliseconds safetyLimit = std::chrono::seconds(10)) const;
    std::size_t QueuedCount() const;
    int ResetCount() const;
    bool IsPaused() const;
    bool IsOpen() const;

private:
    friend class VirtualClock;
    void Play(std::chrono::milliseconds duration);
    void Return(const std::vector<WaveBuffer*>& buffers);

    VirtualClock& clock_;
    const bool refuseOpen_;
    mutable std::mutex mutex_;
    mutable std::condition_variable written_;
    WaveFormat format_;
    DoneCallback onDone_;
    std::deque<WaveBuffer*> queue_;
    std::uint32_t playedOfFront_ = 0;
    std::vector<std::uint32_t> writtenLengths_;
    int resets_ = 0;
    bool paused_ = false;
    bool open_ = false;
};
