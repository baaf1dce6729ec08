#pragma once

#include "platform/result.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// A sound output that plays a queue of caller-owned buffers and hands each one back through a
// callback once it has sounded (or been discarded by Reset). The caller refills a returned
// buffer and writes it again, so a few buffers keep the output busy.

struct WaveFormat {
    std::uint16_t formatTag = 0; // 1 = PCM, the only tag an output accepts
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSecond = 0;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0; // 8 (unsigned) or 16 (signed little-endian)
    std::uint16_t extraSize = 0;
};

// One queued buffer. The writer owns data and length until it writes the buffer; the output
// owns them until it sets done, which it does before calling the done callback.
struct WaveBuffer {
    const unsigned char* data = nullptr;
    std::uint32_t length = 0;
    std::atomic<bool> done{false};
};

class WaveOut {
public:
    // Called once per returned buffer, on the output's own thread (or inside Reset).
    using DoneCallback = std::function<void(WaveBuffer&)>;

    virtual ~WaveOut() = default;
    // Opens the default output for format; fails when the format or the device is refused.
    virtual Result<void> Open(const WaveFormat& format, DoneCallback onDone) = 0;
    // Queues buffer behind those already queued; plays at once unless paused.
    virtual void Write(WaveBuffer& buffer) = 0;
    // Stops and resumes the output, keeping its position.
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    // Returns every queued buffer at once, unplayed, through the done callback. A buffer the
    // output is handing back meanwhile is handed back before Reset returns: none comes back
    // after it.
    virtual void Reset() = 0;
    // Closes the device; no callback is made after Close returns.
    virtual void Close() = 0;
};

using WaveOutFactory = std::function<std::unique_ptr<WaveOut>()>;

// The process-wide output volume: left channel in the low 16 bits, right in the high 16 bits,
// 0xFFFF being full level. Applied as a gain to everything the outputs play.
inline std::atomic<std::uint32_t>& WaveOutVolumeWord()
{
    static std::atomic<std::uint32_t> word{0xFFFFFFFFu};
    return word;
}
inline std::uint32_t GetWaveOutVolume()
{
    return WaveOutVolumeWord().load();
}
inline void SetWaveOutVolume(std::uint32_t volume)
{
    WaveOutVolumeWord().store(volume);
}

// Accepts the PCM layouts every output plays: 1 or 2 channels of 8 or 16 bits, a rate, and a
// block align that matches them.
inline Result<void> CheckPlayableFormat(const WaveFormat& format)
{
    if (format.formatTag == 1 && (format.channels == 1 || format.channels == 2)
        && (format.bitsPerSample == 8 || format.bitsPerSample == 16) && format.samplesPerSecond > 0
        && format.samplesPerSecond <= 384000 && format.blockAlign == format.channels * format.bitsPerSample / 8)
        return {};
    char description[120];
    std::snprintf(description, sizeof description,
                  "the sound output does not play format 0x%04X (channels %u, bits %u, rate %u)",
                  unsigned{format.formatTag}, unsigned{format.channels}, unsigned{format.bitsPerSample},
                  unsigned{format.samplesPerSecond});
    return Failure{description};
}

// The queue of an output: the buffers written and not yet handed back, the front one played
// in part. The owning output guards it with its own lock.
class WaveBufferQueue {
public:
    void Push(WaveBuffer& buffer) { queue_.push_back(&buffer); }

    // Plays up to bytes from the front, handing each piece to play(data, length); the buffers
    // played to their end are appended to finished. Returns the bytes played.
    template <typename Play>
    std::size_t Take(std::size_t bytes, Play&& play, std::vector<WaveBuffer*>& finished)
    {
        std::size_t taken = 0;
        while (!queue_.empty()) {
            WaveBuffer* front = queue_.front();
            const std::size_t piece = std::min<std::size_t>(front->length - playedOfFront_, bytes - taken);
            play(front->data + playedOfFront_, piece);
            taken += piece;
            playedOfFront_ += static_cast<std::uint32_t>(piece);
            if (playedOfFront_ < front->length)
                break;
            queue_.pop_front();
            playedOfFront_ = 0;
            finished.push_back(front);
        }
        return taken;
    }

    // Empties the queue, returning what it held.
    std::vector<WaveBuffer*> TakeAll()
    {
        std::vector<WaveBuffer*> all(queue_.begin(), queue_.end());
        queue_.clear();
        playedOfFront_ = 0;
        return all;
    }

private:
    std::deque<WaveBuffer*> queue_;
    std::uint32_t playedOfFront_ = 0;
};

// Marks each buffer done, then tells the writer through onDone.
inline void HandBack(const std::vector<WaveBuffer*>& buffers, const WaveOut::DoneCallback& onDone)
{
    for (WaveBuffer* buffer : buffers) {
        buffer->done.store(true);
        if (onDone)
            onDone(*buffer);
    }
}
