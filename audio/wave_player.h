#pragma once

#include "audio/riff_file.h"
#include "platform/result.h"
#include "platform/wave_out.h"

#include <QObject>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

// Streams 16-bit PCM to the sound output: a worker thread keeps eight 8000-byte buffers queued,
// refilling each as the output hands it back. The sound comes from a PCM wave file loaded into
// memory whole, or from a recording decoded a buffer at a time just before it is queued. The
// slot that holds the player reports progress and the end through Qt signals.

inline constexpr int kWaveBufferCount = 8;
inline constexpr std::uint32_t kWaveBufferBytes = 8000;
inline constexpr std::uint32_t kStartOffsetStep = 2000;
inline constexpr std::int64_t kSliderCutoffBytes = 50000;
inline constexpr std::int64_t kPlayCutoffBytes = 40000;

// A wake-up signal that resets itself when a waiter takes it.
class AutoResetEvent {
public:
    void Set();
    void Wait();
    // Whether a thread is blocked in Wait with no wake-up on its way, so that a test can act
    // once the worker waits.
    bool HasWaiter() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
    int waiters_ = 0;
};

// Reads the format and the whole "data" body of a wave file as the converter writes it:
// the first chunk after the 12-byte RIFF header is taken as the format, then chunks are
// skipped up to "data". A data size beyond the file's end is cut to what the file holds; a
// read error is refused.
Result<LoadedWave> LoadWaveFile(const std::string& path);
Result<LoadedWave> LoadWaveStream(std::FILE* stream, std::uint64_t fileSize);

// Where a player's PCM bytes come from.
struct SoundSource {
    std::uint32_t size = 0;
    // Copies up to count bytes from offset into out and returns how many: fewer only where the
    // data ends or can be read no further.
    std::function<std::size_t(std::uint32_t offset, unsigned char* out, std::size_t count)> read;
};
SoundSource MemorySource(std::vector<unsigned char> data);

class WavePlayerSlot;

struct WavePlayer {
    std::unique_ptr<WaveOut> device;
    AutoResetEvent wake;
    std::thread worker;
    WaveFormat format;
    // A recording is opened by the worker; a wave file's source is set before the worker starts.
    std::function<Result<SoundSource>()> openSource;
    int startPercent = 0;
    std::optional<Failure> refusal; // why openSource failed; set before ended
    SoundSource source;
    std::uint32_t position = 0; // touched by the worker only once it runs
    std::uint32_t dataSize = 0; // set before the first buffer is queued, then only read
    // Where the data ends: dataSize, or where the source could be read no further.
    std::uint32_t dataEnd = 0;
    std::atomic<bool> stop{false};
    std::array<WaveBuffer, kWaveBufferCount> headers;
    std::array<std::array<unsigned char, kWaveBufferBytes>, kWaveBufferCount> buffers{};
    std::atomic<std::uint32_t> playedBytes{0}; // 8000 per returned buffer, from the start offset
    // Set by the worker once it has ended, just before it reports the end: tells an end report
    // of this player from one of a player it replaced.
    std::atomic<bool> ended{false};
    // Set by the worker once the first buffers are queued, just before it reports the start.
    std::atomic<bool> started{false};
    // The slot whose signals report this playback; cleared when a new playback replaces it.
    std::atomic<WavePlayerSlot*> reportTo{nullptr};
};

// The operations, called on the slot owner's thread.
// WaveOpen plays path from its beginning, WaveOpenAt from percent (0 to 100) of its data,
// rounded down to a multiple of 2000 bytes. A player still in the slot is closed first, without
// reporting its end. They fail, with the slot left empty and nothing reported, when the file
// cannot be loaded, the output refuses its format or cannot be opened, or the worker cannot
// start.
Result<void> WaveOpen(WavePlayerSlot& slot, const std::string& path, bool startPaused);
Result<void> WaveOpenAt(WavePlayerSlot& slot, const std::string& path, bool startPaused, int percent);
// Plays a recording from percent of its decoded sound, decoding each buffer just before it is
// queued. The output is opened here; the worker opens the recording and reports started(), or
// finished() with the refusal in the player when the recording cannot be decoded.
Result<void> WaveOpenRecording(WavePlayerSlot& slot, const std::string& path, int percent);
// Pauses or resumes the output, keeping its position; nothing on an empty slot.
void WaveSetPaused(WavePlayerSlot& slot, bool paused);
// Asks the player to end and wakes the worker, paused or not; finished() follows once it has.
void WaveRequestStop(WavePlayerSlot& slot);
// Ends the worker, closes the output and empties the slot; nothing on an empty slot.
void WaveClose(WavePlayerSlot& slot);

// The worker thread and the output's callback, and their steps, exposed for the tests.
void WaveWorker(WavePlayer& player);
void WaveOutDone(WavePlayer& player);
bool FillBuffer(WavePlayer& player, int k);
void PrimeBuffers(WavePlayer& player);
// played x 100 / total without overflow; 0 for an empty data chunk.
int WavePercent(std::uint32_t played, std::uint32_t total);
std::uint32_t WaveStartOffset(std::uint32_t dataSize, int percent);

// The cell that holds the current player or nothing, and reports its playback. The signals
// are emitted on the player's worker thread and on the output's thread; Player (audio/player.h)
// owns one slot and is what windows use.
class WavePlayerSlot : public QObject {
    Q_OBJECT

public:
    explicit WavePlayerSlot(WaveOutFactory makeDevice, QObject* parent = nullptr);
    // Stops the signals first, then closes the player: a worker that ends meanwhile reports nothing.
    ~WavePlayerSlot() override;

    // The current player, or null.
    const WavePlayer* player() const { return player_.get(); }
    // While quiet, no signal is emitted; once setQuiet(true) has returned, none is being
    // emitted either. Opening a player makes the slot speak again.
    void setQuiet(bool quiet);
    bool isQuiet() const { return quiet_.load(); }

signals:
    // The recording opened and the first buffers are queued.
    void started();
    void progress(int percent);
    // Fewer than 50000 bytes are left: a seek makes no sense any more.
    void sliderDisabled();
    // Fewer than 40000 bytes are left: a new start is no longer offered.
    void playDisabled();
    void finished();

private:
    friend Result<void> WaveOpen(WavePlayerSlot& slot, const std::string& path, bool startPaused);
    friend Result<void> WaveOpenAt(WavePlayerSlot& slot, const std::string& path, bool startPaused, int percent);
    friend Result<void> WaveOpenRecording(WavePlayerSlot& slot, const std::string& path, int percent);
    friend void WaveSetPaused(WavePlayerSlot& slot, bool paused);
    friend void WaveRequestStop(WavePlayerSlot& slot);
    friend void WaveClose(WavePlayerSlot& slot);
    friend void WaveWorker(WavePlayer& player);
    friend void WaveOutDone(WavePlayer& player);

    Result<void> Open(const std::string& path, bool startPaused, std::optional<int> percent);
    // Opens the output for format and starts the worker on player.
    Result<void> Open(std::unique_ptr<WavePlayer> player, const WaveFormat& format, bool startPaused);
    // Closes the player a new one replaces, without reporting its end.
    void CloseReplaced();
    void ReportProgress(std::uint32_t played, std::uint32_t total);
    void ReportStarted();
    void ReportFinished();

    std::unique_ptr<WavePlayer> player_;
    WaveOutFactory makeDevice_;
    std::atomic<bool> quiet_{false};
    // Held shared while a signal is emitted, exclusively while the quiet flag changes.
    std::shared_mutex emitting_;
};
