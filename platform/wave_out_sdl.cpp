#include "platform/wave_out_sdl.h"

#include <algorithm>
#include <cstring>

namespace {

bool AudioSubsystemReady()
{
    static const bool ready = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return ready;
}

int Scale(int sample, std::uint32_t gain)
{
    return static_cast<int>((static_cast<std::int64_t>(sample) * gain) / 0xFFFF);
}

} // namespace

void ApplyVolume(unsigned char* bytes, std::size_t length, const WaveFormat& format, std::uint32_t volume)
{
    const std::uint32_t gains[2] = {volume & 0xFFFF, volume >> 16};
    if (format.channels == 0 || (gains[0] == 0xFFFF && (format.channels == 1 || gains[1] == 0xFFFF)))
        return;
    if (format.bitsPerSample == 8) {
        for (std::size_t i = 0; i < length; ++i)
            bytes[i] = static_cast<unsigned char>(Scale(bytes[i] - 128, gains[i % format.channels]) + 128);
        return;
    }
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const auto sample = static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8));
        const auto scaled = static_cast<std::uint16_t>(Scale(sample, gains[(i / 2) % format.channels]));
        bytes[i] = static_cast<unsigned char>(scaled & 0xFF);
        bytes[i + 1] = static_cast<unsigned char>(scaled >> 8);
    }
}

SdlWaveOut::~SdlWaveOut()
{
    Close();
}

Result<void> SdlWaveOut::Open(const WaveFormat& format, DoneCallback onDone)
{
    if (device_ != 0)
        return Failure{"the sound output is already open"};
    if (Result<void> playable = CheckPlayableFormat(format); !playable)
        return playable;
    if (!AudioSubsystemReady())
        return Failure{SDL_GetError()};
    format_ = format;
    onDone_ = std::move(onDone);
    finished_.reserve(64);
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(format.samplesPerSecond);
    wanted.format = format.bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    wanted.channels = static_cast<Uint8>(format.channels);
    wanted.samples = 512;
    wanted.callback = &SdlWaveOut::PullSamples;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the sound server wants.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_ == 0)
        return Failure{SDL_GetError()};
    SDL_PauseAudioDevice(device_, 0);
    return {};
}

void SdlWaveOut::Write(WaveBuffer& buffer)
{
    std::lock_guard lock(mutex_);
    queue_.Push(buffer);
}

void SdlWaveOut::Pause()
{
    if (device_ != 0)
        SDL_PauseAudioDevice(device_, 1);
}

void SdlWaveOut::Restart()
{
    if (device_ != 0)
        SDL_PauseAudioDevice(device_, 0);
}

void SdlWaveOut::Reset()
{
    if (device_ == 0)
        return;
    // SDL pulls samples with the device lock held, and hands the buffers it finished back
    // before it lets go: holding the lock, the reset comes wholly before or after such a pull.
    SDL_LockAudioDevice(device_);
    std::vector<WaveBuffer*> returned;
    {
        std::lock_guard lock(mutex_);
        returned = queue_.TakeAll();
    }
    HandBack(returned, onDone_);
    SDL_UnlockAudioDevice(device_);
}

void SdlWaveOut::Close()
{
    if (device_ == 0)
        return;
    SDL_CloseAudioDevice(device_); // waits for a running pull to finish
    device_ = 0;
    std::lock_guard lock(mutex_);
    queue_.TakeAll();
}

void SdlWaveOut::PullSamples(void* self, Uint8* stream, int length)
{
    static_cast<SdlWaveOut*>(self)->Fill(stream, static_cast<std::size_t>(std::max(length, 0)));
}

void SdlWaveOut::Fill(Uint8* stream, std::size_t length)
{
    const Uint8 silence = format_.bitsPerSample == 8 ? 0x80 : 0x00;
    finished_.clear();
    std::size_t filled = 0;
    {
        std::lock_guard lock(mutex_);
        const auto copy = [&](const unsigned char* piece, std::size_t bytes) {
            std::memcpy(stream + filled, piece, bytes);
            filled += bytes;
        };
        queue_.Take(length, copy, finished_);
    }
    std::memset(stream + filled, silence, length - filled);
    ApplyVolume(stream, filled, format_, GetWaveOutVolume());
    HandBack(finished_, onDone_);
}

std::unique_ptr<WaveOut> MakeSdlWaveOut()
{
    return std::make_unique<SdlWaveOut>();
}
