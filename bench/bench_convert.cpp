// Converts a one-hour recording (12.6 MB of IMA ADPCM) to 16-bit PCM with `voctool convert`,
// `sndfile-convert -pcm16` and `sox -e signed-integer -b 16`, each as a whole process, one run,
// and prints wall time and peak memory (from /usr/bin/time -v) of each.
// Target: voctool faster than both, with a peak of at most input + output + 16 MB.
// Usage: bench_convert [VOCTOOL [FOLDER]]   (default: the voctool of this build, a new /tmp folder)

#include "tools/sample_maker.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kOneHourDataBytes = 12'600'000;

struct Run {
    std::string name;
    double seconds = -1;
    long peakKiB = -1;
    std::uintmax_t outputBytes = 0;
};

// Runs argv under /usr/bin/time -v; the report goes to reportPath.
double TimedRun(std::vector<std::string> argv, const std::string& reportPath)
{
    argv.insert(argv.begin(), {"/usr/bin/time", "-v", "-o", reportPath});
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        return -1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

long PeakKiB(const std::string& reportPath)
{
    std::ifstream report(reportPath);
    const std::string key = "Maximum resident set size (kbytes): ";
    for (std::string line; std::getline(report, line);) {
        const std::size_t at = line.find(key);
        if (at != std::string::npos)
            return std::stol(line.substr(at + key.size()));
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path self = fs::canonical("/proc/self/exe");
    const std::string voctool = argc > 1 ? argv[1] : (self.parent_path().parent_path() / "tools" / "voctool").string();
    const bool ownFolder = argc <= 2;
    const fs::path folder = ownFolder ? fs::temp_directory_path() / ("bench_convert." + std::to_string(::getpid())) : fs::path(argv[2]);
    fs::create_directories(folder);

    const std::string input = (folder / "VOC00001.WAV").string();
    if (!WriteSampleFile(input, SampleSpecFor(0, kOneHourDataBytes))) {
        std::fprintf(stderr, "cannot write %s\n", input.c_str());
        return 1;
    }
    const std::uintmax_t inputBytes = fs::file_size(input);
    { // read once, so that every run finds the input in the page cache
        std::ifstream warm(input, std::ios::binary);
        std::vector<char> block(1 << 20);
        while (warm.read(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }

    const struct {
        const char* name;
        std::vector<std::string> argv;
    } commands[] = {
        {"voctool convert", {voctool, "convert", input, (folder / "voctool.wav").string()}},
        {"sndfile-convert -pcm16", {"sndfile-convert", "-pcm16", input, (folder / "sndfile.wav").string()}},
        {"sox -e signed-integer -b 16", {"sox", input, "-e", "signed-integer", "-b", "16", (folder / "sox.wav").string()}},
    };
    std::vector<Run> runs;
    for (const auto& command : commands) {
        Run run;
        run.name = command.name;
        const std::string report = (folder / "time.txt").string();
        run.seconds = TimedRun(command.argv, report);
        run.peakKiB = PeakKiB(report);
        std::error_code error;
        run.outputBytes = fs::file_size(command.argv.back(), error);
        runs.push_back(run);
    }

    std::printf("input: %s, %.1f MB (%u data bytes, one hour at 3500 bytes per second)\n", input.c_str(),
                inputBytes / 1e6, kOneHourDataBytes);
    std::printf("%-30s %10s %12s %12s\n", "command", "seconds", "peak MB", "output MB");
    for (const Run& run : runs)
        std::printf("%-30s %10.3f %12.1f %12.1f\n", run.name.c_str(), run.seconds, run.peakKiB / 1024.0, run.outputBytes / 1e6);
    const Run& ours = runs[0];
    if (ours.seconds > 0) {
        for (std::size_t i = 1; i < runs.size(); ++i) {
            if (runs[i].seconds > 0)
                std::printf("%s takes %.2f times as long as voctool convert\n", runs[i].name.c_str(), runs[i].seconds / ours.seconds);
        }
        const double budgetMB = (inputBytes + ours.outputBytes) / 1048576.0 + 16;
        std::printf("voctool peak %.1f MB, budget input + output + 16 MB = %.1f MB: %s\n", ours.peakKiB / 1024.0, budgetMB,
                    ours.peakKiB / 1024.0 <= budgetMB ? "within" : "OVER");
    }
    if (ownFolder)
        fs::remove_all(folder);
    return 0;
}
