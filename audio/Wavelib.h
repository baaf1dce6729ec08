#pragma once

#include "platform/wave_out.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Streams one PCM wave file to the sound output: the whole data chunk is loaded into memory
// and a worker thread keeps eight 8000-byte buffers queued, refilling each as the output hands
// it back. The owner hears of progress and of the end through a WaveListener, on its own thread.

inline constexpr int kWaveBufferCount = 8;
inline constexpr std::uint32_t kWaveBufferBytes = 8000;
inline constexpr std::uint32_t kStartOffsetStep = 2000;
inline constexpr std::chrono::milliseconds kEndOfDataWait{2000};
inline constexpr std::int64_t kSliderCutoffBytes = 50000;
inline constexpr std::int64_t kPlayCutoffBytes = 40000;

// Shared with the notification code; one player at a time, so one set per process.
extern std::atomic<std::uint32_t> WaveTotalBytes;  // data size of the last loaded file
extern std::atomic<std::uint32_t> WavePlayedBytes; // bytes counted as played
extern std::atomic<bool> WaveQuiet;                // while set, the listener hears nothing

// Receives the player's notifications. They arise on the worker and on the output's thread;
// the player hands each one to PostToOwnThread, which must run it later on the listener's thread.
class WaveListener {
public:
    virtual ~WaveListener() = default;
    virtual void PostToOwnThread(std::function<void()> call) = 0;
    virtual void OnWaveProgress(int percent) = 0;
    virtual void OnWaveFinished() = 0;
    // Fewer than 50000 bytes are left: a seek makes no sense any more.
    virtual void OnWaveDisableSlider() = 0;
    // Fewer than 40000 bytes are left: a new start is no longer offered.
    virtual void OnWaveDisablePlay() = 0;
};

// Waits for a duration; the real one sleeps, tests pass a clock they advance themselves.
using WaveSleeper = std::function<void(std::chrono::milliseconds)>;
void SleepForReal(std::chrono::milliseconds duration);

// A wake-up signal that resets itself when a waiter takes it.
class AutoResetEvent {
public:
    void Set();
    void Wait();

private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
};

struct LoadedWave {
    WaveFormat format;
    std::vector<unsigned char> data;
};

// Reads the format and the whole "data" body of a wave file as the converter writes it:
// the first chunk after the 12-byte RIFF header is taken as the format, then chunks are
// skipped up to "data". A data size beyond the file's end is cut to what the file holds.
std::optional<LoadedWave> LoadWaveFile(const std::string& path);
std::optional<LoadedWave> LoadWaveStream(std::FILE* stream, std::uint64_t fileSize);

struct WavePlayer {
    std::unique_ptr<WaveOut> device;
    AutoResetEvent wake;
    std::thread worker;
    WaveFormat format;
    std::vector<unsigned char> data;
    std::uint32_t position = 0; // touched by the worker only once it runs
    std::uint32_t dataSize = 0;
    std::atomic<bool> stop{false};
    std::array<WaveBuffer, kWaveBufferCount> headers;
    std::array<std::array<unsigned char, kWaveBufferBytes>, kWaveBufferCount> buffers{};
    std::atomic<bool> paused{false};
    std::atomic<WaveListener*> listener{nullptr}; // cleared when a new playback replaces this one
    WaveSleeper sleep;
};

// The cell that holds the current player or nothing, with what every player of its owner uses:
// the listener, the maker of output devices and the sleeper of the end-of-data wait.
struct WavePlayerSlot {
    WavePlayerSlot(WaveListener* listener, WaveOutFactory makeDevice, WaveSleeper sleep = SleepForReal);
    ~WavePlayerSlot();
    WavePlayerSlot(const WavePlayerSlot&) = delete;
    WavePlayerSlot& operator=(const WavePlayerSlot&) = delete;

    std::unique_ptr<WavePlayer> player;
    WaveListener* listener;
    WaveOutFactory makeDevice;
    WaveSleeper sleep;
};

// Play path from its beginning, or from percent (0 to 100) of its data, rounded down to a
// multiple of 2000 bytes. A player still in the slot is closed first. On any failure the slot
// is left empty and nothing is reported.
void WaveOpen(WavePlayerSlot& slot, const std::string& path, bool startPaused);
void WaveOpenAt(WavePlayerSlot& slot, const std::string& path, bool startPaused, int percent);
void WaveSetPaused(WavePlayerSlot& slot, bool paused);
// Asks the player to end; it reports OnWaveFinished once it has. A paused player is woken for it.
void WaveRequestStop(WavePlayerSlot& slot);
// Ends the worker, closes the output and empties the slot; nothing on an empty slot. It waits
// for the worker (which may be in its end-of-data wait), so it never runs on the worker itself.
void WaveClose(WavePlayerSlot& slot);

// The steps of the worker, exposed for the tests.
bool FillBuffer(WavePlayer& player, int k);
void PrimeBuffers(WavePlayer& player);
void WaveWorker(WavePlayer& player);
void WaveOutDone(WavePlayer& player);
// WavePlayedBytes x 100 / WaveTotalBytes without overflow; 0 for an empty data chunk.
int WavePercent(std::uint32_t played, std::uint32_t total);
std::uint32_t WaveStartOffset(std::uint32_t dataSize, int percent);
