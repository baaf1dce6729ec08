#include "audio/adpcm_converter.h"
#include "audio/wave_player.h"
#include "platform/locations.h"
#include "platform/wave_out_sdl.h"
#include "tools/voctool_commands.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the Ctrl-C flag is set from a signal handler");

void OnInterrupt(int)
{
    interrupted.store(true);
}

void CatchInterrupt()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

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

// Plays wavePath to its end, printing the progress, or until Ctrl-C; the exit status.
int PlayToTheEnd(const std::string& wavePath, std::optional<int> percent)
{
    int argc = 1;
    char name[] = "voctool";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    WavePlayerSlot slot(MakeSdlWaveOut);
    // The player counts every buffer handed back as a whole one, the shorter last one too: at
    // the end it reports more than 100.
    QObject::connect(&slot, &WavePlayerSlot::progress, &application, [](int played) {
        std::printf("%d%%\n", std::min(played, 100));
        std::fflush(stdout);
    });
    QObject::connect(&slot, &WavePlayerSlot::finished, &application, &QCoreApplication::quit);
    // The signal handler only sets the flag; the stop is asked for here, on the main thread.
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, &application, [&] {
        if (interrupted.load()) {
            interruptWatch.stop();
            WaveRequestStop(slot);
        }
    });
    CatchInterrupt();

    const Result<void> opened = percent ? WaveOpenAt(slot, wavePath, false, *percent) : WaveOpen(slot, wavePath, false);
    if (!opened) {
        std::fprintf(stderr, "voctool: %s\n", opened.error().reason.c_str());
        return 1;
    }
    interruptWatch.start(50);
    QCoreApplication::exec();
    WaveClose(slot);
    return interrupted.load() ? 130 : 0;
}

} // namespace

int RunConvert(const CommandArgs& args)
{
    if (args.size() != 2) {
        std::fputs("usage: voctool convert INPUT OUTPUT\n", stderr);
        return 2;
    }
    if (const Result<void> converted = ConvertToPcmWave(args[1], args[0]); !converted) {
        std::fprintf(stderr, "voctool: cannot convert '%s': %s\n", args[0].c_str(), converted.error().reason.c_str());
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
    if (const Result<void> converted = ConvertToPcmWave(wavePath, args[0]); !converted) {
        std::fprintf(stderr, "voctool: cannot play '%s': %s\n", args[0].c_str(), converted.error().reason.c_str());
        return 1;
    }
    return PlayToTheEnd(wavePath, percent);
}
