#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TempFolder;

// A private PulseAudio server with a null sink, for tests that play real sound and record what
// the sink heard with parec; and the search for decoded samples in what was heard.

// A child process, its output written to a file, ended (SIGTERM, then waited for) when the
// object goes.
class ChildProcess {
public:
    // Standard output goes to outputPath, standard error to outputPath + ".err".
    ChildProcess(const std::vector<std::string>& argv, const std::string& outputPath);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Running() const;
    void Stop();

private:
    int pid_ = -1;
};

// A PulseAudio server of its own, under folder, with the null sink "testsink" as its default
// sink. The environment (PULSE_*, HOME, SDL_AUDIODRIVER) is pointed at it, so that libpulse and
// SDL2 in this process play into it.
class PrivatePulseServer {
public:
    explicit PrivatePulseServer(const TempFolder& folder);

    // Why the server is not there (a program missing, or it did not start); empty when it runs.
    const std::string& failure() const { return failure_; }
    // Records the sink's monitor (8000 Hz, mono, s16le) into path until the object goes;
    // waits a moment so that the recorder is connected before sound starts.
    ChildProcess Record(const std::string& path) const;

private:
    std::string failure_;
    ChildProcess server_;
};

struct SegmentMatch {
    double correlation = 0;
    std::size_t lag = 0;
    double gain = 0;
};

// The position in heard where segment fits best, by normalised cross-correlation.
SegmentMatch FindSegment(const std::vector<std::int16_t>& heard, const std::vector<std::int16_t>& segment);
