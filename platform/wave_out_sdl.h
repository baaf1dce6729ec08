#pragma once

#include "platform/wave_out.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The sound output through SDL2 audio (PulseAudio, PipeWire or ALSA; SDL_AUDIODRIVER=dummy
// where there is no sound card). SDL pulls samples from its own thread, holding the device
// lock; buffers are handed back from there once their last byte has been passed on.
// libSDL2 is loaded when the first output is opened, so that starting the programs does not
// pay for it and for the sound and window-system libraries it pulls in.
class SdlWaveOut : public WaveOut {
public:
    ~SdlWaveOut() override;

    Result<void> Open(const WaveFormat& format, DoneCallback onDone) override;
    void Write(WaveBuffer& buffer) override;
    void Pause() override;
    void Restart() override;
    void Reset() override;
    void Close() override;

private:
    static void PullSamples(void* self, unsigned char* stream, int length);
    void Fill(unsigned char* stream, std::size_t length);

    std::uint32_t device_ = 0; // SDL's device id, 0 while closed
    WaveFormat format_;
    DoneCallback onDone_;
    std::mutex mutex_; // guards queue_ between the writer and SDL's thread
    WaveBufferQueue queue_;
    std::vector<WaveBuffer*> finished_; // reused by the SDL thread, so it does not allocate there
};

std::unique_ptr<WaveOut> MakeSdlWaveOut();

// Scales interleaved PCM samples by the volume word: left channel (and mono) by the low
// 16 bits, right channel by the high 16 bits, 0xFFFF leaving them unchanged.
void ApplyVolume(unsigned char* bytes, std::size_t length, const WaveFormat& format, std::uint32_t volume);
