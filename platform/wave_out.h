#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

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
    // Opens the default output for format; false when the format or the device is refused.
    virtual bool Open(const WaveFormat& format, DoneCallback onDone) = 0;
    // Queues buffer behind those already queued; plays at once unless paused.
    virtual void Write(WaveBuffer& buffer) = 0;
    // Stops and resumes the output, keeping its position.
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    // Returns every queued buffer at once, unplayed, through the done callback.
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
inline std::uint32_t GetWaveOutVolume() { return WaveOutVolumeWord().load(); }
inline void SetWaveOutVolume(std::uint32_t volume) { WaveOutVolumeWord().store(volume); }

// True for the PCM layouts every output plays: 1 or 2 channels of 8 or 16 bits, a rate,
// and a block align that matches them.
inline bool IsPlayableFormat(const WaveFormat& format)
{
    return format.formatTag == 1 && (format.channels == 1 || format.channels == 2) &&
           (format.bitsPerSample == 8 || format.bitsPerSample == 16) && format.samplesPerSecond > 0 &&
           format.samplesPerSecond <= 384000 && format.blockAlign == format.channels * format.bitsPerSample / 8;
}
