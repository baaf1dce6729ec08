#include "audio/adpcm_converter.h"
#include "audio/wave_player.h"
#include "platform/wave_out_sdl.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Plays a recording through the SDL2 output into a private PulseAudio server with a null sink,
// records the sink's monitor with parec and finds the decoded samples in what was heard.

extern char** environ;
using namespace std::chrono_literals;

// Under ThreadSanitizer: libpulse, which SDL2 drives from its hot-plug and audio threads, is not
// instrumented, so its own locking is invisible and its buffers look raced. Our code is checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}

namespace {

// A child process ended (SIGTERM, then waited for) when the object goes.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& outputPath)
    {
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (outputPath + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { Stop(); }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    void Stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

struct Match {
    double correlation = 0;
    std::size_t lag = 0;
    double gain = 0;
};

// The position in heard where segment fits best, by normalised cross-correlation.
Match FindSegment(const std::vector<std::int16_t>& heard, const std::vector<std::int16_t>& segment)
{
    double segmentEnergy = 0;
    for (std::int16_t s : segment)
        segmentEnergy += double(s) * s;
    Match best;
    for (std::size_t lag = 0; lag + segment.size() <= heard.size(); ++lag) {
        double product = 0, heardEnergy = 0;
        for (std::size_t i = 0; i < segment.size(); ++i) {
            product += double(segment[i]) * heard[lag + i];
            heardEnergy += double(heard[lag + i]) * heard[lag + i];
        }
        if (heardEnergy <= 0)
            continue;
        const double correlation = product / std::sqrt(segmentEnergy * heardEnergy);
        if (correlation > best.correlation)
            best = {correlation, lag, product / segmentEnergy};
    }
    return best;
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit)
{
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    struct stat info {};
    while (::stat(path.c_str(), &info) != 0) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

} // namespace

TEST(RealSound, SdlOutputPlaysTheDecodedSamplesIntoPulseAudio)
{
    if (!HaveProgram("pulseaudio") || !HaveProgram("parec") || !HaveProgram("pactl"))
        GTEST_SKIP() << "pulseaudio, parec or pactl is not installed: no sound server to play into";

    TempFolder folder;
    const std::string runtime = folder.Path("pulse");
    ::mkdir(runtime.c_str(), 0700);
    const std::string socket = runtime + "/native";
    ::setenv("PULSE_RUNTIME_PATH", runtime.c_str(), 1);
    ::setenv("PULSE_STATE_PATH", runtime.c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    ::setenv("HOME", folder.path().c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);

    Child server({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "-n", "--disallow-exit",
                  "--disable-shm=yes", "--log-target=stderr", "-L",
                  "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
                  "module-null-sink sink_name=testsink rate=48000"},
                 folder.Path("server.log"));
    if (!WaitForFile(socket, 5s) || !server.Running() || !RunProgram({"pactl", "info"}))
        GTEST_SKIP() << "PulseAudio cannot start here (see its log in " << folder.Path("server.log.err") << ")";
    ASSERT_TRUE(RunProgram({"pactl", "set-default-sink", "testsink"}));

    const std::string recording = folder.Path("VOC00001.WAV");
    ASSERT_TRUE(WriteSampleFile(recording, SampleSpecFor(2, 256 * 40)));
    const std::string wave = folder.Path("wave.$$$");
    const Result<void> converted = ConvertToPcmWave(wave, recording);
    ASSERT_TRUE(converted) << converted.error().reason;
    const std::vector<std::int16_t> decoded = ReadWaveSamples(wave);
    ASSERT_EQ(decoded.size(), 40u * 505);

    const std::string heardPath = folder.Path("heard.raw");
    Child recorder({"parec", "--device=testsink.monitor", "--rate=8000", "--channels=1", "--format=s16le", "--raw",
                    "--latency-msec=20"},
                   heardPath);
    std::this_thread::sleep_for(500ms); // let the recorder connect before the sound starts

    SetWaveOutVolume(0x7FFF7FFF); // about half, to see the gain applied on the way
    PlayerReports reports;
    {
        WavePlayerSlot slot(MakeSdlWaveOut);
        reports.Listen(slot);
        const Result<void> opened = WaveOpen(slot, wave, false);
        ASSERT_TRUE(opened) << opened.error().reason;
        ASSERT_TRUE(reports.WaitForFinished(20s)) << "the player never reported its end";
        WaveClose(slot);
    }
    SetWaveOutVolume(0xFFFFFFFF);
    std::this_thread::sleep_for(300ms);
    recorder.Stop();
    EXPECT_GE(reports.Count("progress"), 5);

    const std::vector<std::int16_t> heard = SamplesOf(TempFolder::Read(heardPath));
    ASSERT_GT(heard.size(), 8000u) << "parec recorded almost nothing";
    // Two stretches of the recording, half a second each, one second apart: each must be heard,
    // at half level, and at the same distance in what was heard (no buffer lost or repeated).
    const std::vector<std::int16_t> first(decoded.begin() + 4000, decoded.begin() + 8000);
    const std::vector<std::int16_t> second(decoded.begin() + 12000, decoded.begin() + 16000);
    const Match early = FindSegment(heard, first);
    const Match late = FindSegment(heard, second);
    std::cout << "[ HEARD    ] correlation " << early.correlation << " / " << late.correlation << ", gain "
              << early.gain << ", start-up delay " << static_cast<long>(early.lag) - 4000 << " samples\n";
    EXPECT_GT(early.correlation, 0.95);
    EXPECT_GT(late.correlation, 0.95);
    EXPECT_NEAR(early.gain, 0.5, 0.1);
    EXPECT_NEAR(static_cast<double>(late.lag) - static_cast<double>(early.lag), 8000.0, 2.0);
}
