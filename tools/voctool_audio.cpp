#include "audio/Adpcm.h"
#include "audio/Wavelib.h"
#include "platform/locations.h"
#include "platform/wave_out_sdl.h"
#include "tools/voctool_commands.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the Ctrl-C flag is set from a signal handler");

void OnInterrupt(int)
{
    interrupted.store(true);
}

// Runs the player's notifications on the main thread, which prints the progress.
class ConsoleListener : public WaveListener {
public:
    void PostToOwnThread(std::function<void()> call) override
    {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        posted_.notify_one();
    }
    void OnWaveProgress(int percent) override { std::printf("%d%%\n", percent); std::fflush(stdout); }
    void OnWaveFinished() override { finished_ = true; }
    void OnWaveDisableSlider() override {}
    void OnWaveDisablePlay() override {}

    // Runs what has arrived, waiting a little when nothing has; true once the end was reported.
    bool RunPending()
    {
        std::deque<std::function<void()>> calls;
        {
            std::unique_lock lock(mutex_);
            posted_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !calls_.empty(); });
            calls.swap(calls_);
        }
        for (const std::function<void()>& call : calls)
            call();
        return finished_;
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> calls_;
    bool finished_ = false; // main thread only
};

std::optional<int> ParsePercent(const std::string& text)
{
    try {
        std::size_t used = 0;
        const int percent = std::stoi(text, &used);
        if (used == text.size() && percent >= 0 && percent <= 100)
            return percent;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace

int RunConvert(const CommandArgs& args)
{
    if (args.size() != 2) {
        std::fputs("usage: voctool convert INPUT OUTPUT\n", stderr);
        return 2;
    }
    std::string why;
    if (!ConvertToPcmWave(args[1], args[0], &why)) {
        std::fprintf(stderr, "voctool: cannot convert '%s': %s\n", args[0].c_str(), why.c_str());
        return 1;
    }
    return 0;
}

int RunPlay(const CommandArgs& args)
{
    std::optional<int> percent;
    if (args.size() == 3 && args[1] == "--from")
        percent = ParsePercent(args[2]);
    if ((args.size() != 1 && args.size() != 3) || (args.size() == 3 && !percent)) {
        std::fputs("usage: voctool play FILE [--from PERCENT]   (PERCENT 0 to 100)\n", stderr);
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(CacheDir(), error);
    const std::string wavePath = TempWavePath();
    std::string why;
    if (!ConvertToPcmWave(wavePath, args[0], &why)) {
        std::fprintf(stderr, "voctool: cannot play '%s': %s\n", args[0].c_str(), why.c_str());
        return 1;
    }

    ConsoleListener listener;
    WavePlayerSlot slot(&listener, MakeSdlWaveOut);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    if (percent)
        WaveOpenAt(slot, wavePath, false, *percent);
    else
        WaveOpen(slot, wavePath, false);
    if (!slot.player) {
        std::fprintf(stderr, "voctool: cannot open the sound output: %s\n", SDL_GetError());
        return 1;
    }
    bool stopRequested = false;
    while (!listener.RunPending()) {
        if (interrupted.load() && !stopRequested) {
            WaveRequestStop(slot);
            stopRequested = true;
        }
    }
    WaveClose(slot);
    return interrupted.load() ? 130 : 0;
}
