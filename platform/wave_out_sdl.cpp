#include "platform/wave_out_sdl.h"

// Only SDL's types and constants come from the header: its functions are taken from the library
// loaded at run time.
#include <SDL2/SDL.h>

#include <dlfcn.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <type_traits>

static_assert(std::is_same_v<SDL_AudioDeviceID, std::uint32_t>, "the header keeps SDL's device id as std::uint32_t");

namespace {

constexpr char kSdlLibrary[] = "libSDL2-2.0.so.0";

// The SDL functions the output calls.
struct SdlFunctions {
    decltype(&SDL_SetHint) setHint = nullptr;
    decltype(&SDL_InitSubSystem) initSubSystem = nullptr;
    decltype(&SDL_GetError) getError = nullptr;
    decltype(&SDL_OpenAudioDevice) openAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) pauseAudioDevice = nullptr;
    decltype(&SDL_LockAudioDevice) lockAudioDevice = nullptr;
    decltype(&SDL_UnlockAudioDevice) unlockAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) closeAudioDevice = nullptr;
};

Failure LoadFailure()
{
    const char* reason = ::dlerror();
    return Failure{std::string("cannot load ") + kSdlLibrary + ": " + (reason ? reason : "unknown error")};
}

template <typename Function>
bool Resolve(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

Result<SdlFunctions> LoadSdl()
{
    void* library = ::dlopen(kSdlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return LoadFailure();
    SdlFunctions sdl;
    if (Resolve(library, "SDL_SetHint", sdl.setHint) && Resolve(library, "SDL_InitSubSystem", sdl.initSubSystem)
        && Resolve(library, "SDL_GetError", sdl.getError)
        && Resolve(library, "SDL_OpenAudioDevice", sdl.openAudioDevice)
        && Resolve(library, "SDL_PauseAudioDevice", sdl.pauseAudioDevice)
        && Resolve(library, "SDL_LockAudioDevice", sdl.lockAudioDevice)
        && Resolve(library, "SDL_UnlockAudioDevice", sdl.unlockAudioDevice)
        && Resolve(library, "SDL_CloseAudioDevice", sdl.closeAudioDevice))
        return sdl; // the library stays loaded for the rest of the run
    Failure failure = LoadFailure();
    ::dlclose(library);
    return failure;
}

// Loads the library on the first call, from whichever thread; a failed load is not tried again.
const Result<SdlFunctions>& Sdl()
{
    static const Result<SdlFunctions> sdl = LoadSdl();
    return sdl;
}

// SDL would otherwise take SIGINT and SIGTERM for its own quit event, which nothing here reads:
// the programs could no longer be ended by them once a sound has played.
bool AudioSubsystemReady(const SdlFunctions& sdl)
{
    static const bool ready = [&sdl] {
        sdl.setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        return sdl.initSubSystem(SDL_INIT_AUDIO) == 0;
    }();
    return ready;
}

// The sound server plays what the device buffer holds while SDL's thread waits to be run again:
// a quarter of a second rides out a busy machine (512 frames, 64 ms at 8000 Hz, underran there and
// cut silence into the sound). The sound starts once the buffer is full, and a pause or a stop can
// lag the click by as much.
Uint16 DeviceBufferFrames(std::uint32_t samplesPerSecond)
{
    constexpr std::uint32_t kMostFrames = 16384;
    return static_cast<Uint16>(std::min(std::bit_ceil(std::max(samplesPerSecond / 4, 1u)), kMostFrames));
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
    const Result<SdlFunctions>& sdl = Sdl();
    if (!sdl)
        return sdl.error();
    if (!AudioSubsystemReady(*sdl))
        return Failure{sdl->getError()};
    format_ = format;
    onDone_ = std::move(onDone);
    finished_.reserve(64);
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(format.samplesPerSecond);
    wanted.format = format.bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    wanted.channels = static_cast<Uint8>(format.channels);
    wanted.samples = DeviceBufferFrames(format.samplesPerSecond);
    wanted.callback = &SdlWaveOut::PullSamples;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the sound server wants.
    device_ = sdl->openAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_ == 0)
        return Failure{sdl->getError()};
    sdl->pauseAudioDevice(device_, 0);
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
        Sdl()->pauseAudioDevice(device_, 1);
}

void SdlWaveOut::Restart()
{
    if (device_ != 0)
        Sdl()->pauseAudioDevice(device_, 0);
}

void SdlWaveOut::Reset()
{
    if (device_ == 0)
        return;
    // SDL pulls samples with the device lock held, and hands the buffers it finished back
    // before it lets go: holding the lock, the reset comes wholly before or after such a pull.
    Sdl()->lockAudioDevice(device_);
    std::vector<WaveBuffer*> returned;
    {
        std::lock_guard lock(mutex_);
        returned = queue_.TakeAll();
    }
    HandBack(returned, onDone_);
    Sdl()->unlockAudioDevice(device_);
}

void SdlWaveOut::Close()
{
    if (device_ == 0)
        return;
    Sdl()->closeAudioDevice(device_); // waits for a running pull to finish
    device_ = 0;
    std::lock_guard lock(mutex_);
    queue_.TakeAll();
}

void SdlWaveOut::PullSamples(void* self, unsigned char* stream, int length)
{
    static_cast<SdlWaveOut*>(self)->Fill(stream, static_cast<std::size_t>(std::max(length, 0)));
}

void SdlWaveOut::Fill(unsigned char* stream, std::size_t length)
{
    const unsigned char silence = format_.bitsPerSample == 8 ? 0x80 : 0x00;
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
