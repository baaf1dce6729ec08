#include "support/pulse_sound.h"

#include "support/audio_files.h"
#include "support/temp_folder.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace std::chrono_literals;

// Under ThreadSanitizer: libpulse, which SDL2 drives from its hot-plug and audio threads, is not
// instrumented, so its own locking is invisible and its buffers look raced. Our code is checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}

namespace {

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

// Points this process's sound libraries at a server under runtime; returns runtime's socket.
std::string UsePrivateServer(const TempFolder& folder, const std::string& runtime)
{
    ::mkdir(runtime.c_str(), 0700);
    const std::string socket = runtime + "/native";
    ::setenv("PULSE_RUNTIME_PATH", runtime.c_str(), 1);
    ::setenv("PULSE_STATE_PATH", runtime.c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    ::setenv("HOME", folder.path().c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    return socket;
}

std::vector<std::string> ServerCommand(const TempFolder& folder)
{
    if (!HaveProgram("pulseaudio") || !HaveProgram("parec") || !HaveProgram("pactl"))
        return {};
    const std::string socket = UsePrivateServer(folder, folder.Path("pulse"));
    return {"pulseaudio",
            "--daemonize=no",
            "--exit-idle-time=-1",
            "--system=false",
            "-n",
            "--disallow-exit",
            "--disable-shm=yes",
            "--log-target=stderr",
            "-L",
            "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
            "-L",
            "module-null-sink sink_name=testsink rate=48000"};
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputPath)
    : pid_(SpawnProgram(argv, outputPath, outputPath + ".err"))
{
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1))
{
}

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Running() const
{
    return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

void ChildProcess::Stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

PrivatePulseServer::PrivatePulseServer(const TempFolder& folder)
    : server_(ServerCommand(folder), folder.Path("server.log"))
{
    if (!HaveProgram("pulseaudio") || !HaveProgram("parec") || !HaveProgram("pactl")) {
        failure_ = "pulseaudio, parec or pactl is not installed: no sound server to play into";
        return;
    }
    if (!WaitForFile(folder.Path("pulse/native"), 5s) || !server_.Running() || !RunProgram({"pactl", "info"})
        || !RunProgram({"pactl", "set-default-sink", "testsink"}))
        failure_ = "PulseAudio cannot start here (see its log in " + folder.Path("server.log.err") + ")";
}

ChildProcess PrivatePulseServer::Record(const std::string& path) const
{
    ChildProcess recorder({"parec", "--device=testsink.monitor", "--rate=8000", "--channels=1", "--format=s16le",
                           "--raw", "--latency-msec=20"},
                          path);
    std::this_thread::sleep_for(500ms); // let the recorder connect before the sound starts
    return recorder;
}

SegmentMatch FindSegment(const std::vector<std::int16_t>& heard, const std::vector<std::int16_t>& segment)
{
    double segmentEnergy = 0;
    for (std::int16_t s : segment)
        segmentEnergy += double(s) * s;
    SegmentMatch best;
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
