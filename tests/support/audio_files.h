#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class WavePlayerSlot;

// Builders and readers of wave files for the audio tests.

struct ImaFileSpec {
    std::uint16_t formatTag = 0x0011;
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSecond = 8000;
    std::uint16_t bitsPerSample = 4;
    std::uint16_t samplesPerBlock = 505;
    std::string formType = "WAVE";
    std::string chunksBeforeFormat; // whole chunks, headers included
    std::string chunksBeforeData;
    std::uint32_t formatBodyBytes = 20; // the fields take 20; more bytes follow as zeros
};

// A RIFF chunk: id, little-endian size, body; no pad byte after an odd body.
std::string Chunk(const std::string& id, const std::string& body);
std::string Chunk(const std::string& id, std::uint32_t declaredSize, const std::string& body);
// A RIFF file of the format chunk described by layout and a "data" chunk holding data.
std::string MakeWaveFile(const ImaFileSpec& layout, const std::string& data);
// The same with a "data" chunk that declares declaredDataBytes but holds data.
std::string MakeWaveFile(const ImaFileSpec& layout, std::uint32_t declaredDataBytes, const std::string& data);

// The body of the first chunk with id in a RIFF file image (odd bodies padded, as the
// reference tools write them); empty when there is none.
std::string ChunkBody(const std::string& file, const std::string& id);

// The samples of the first "data" chunk of a wave file (16-bit little-endian); empty when
// the file cannot be read or has no such chunk.
std::vector<std::int16_t> ReadWaveSamples(const std::string& path);
std::vector<std::int16_t> SamplesOf(const std::string& bytes);
// Little-endian fields of a file image.
std::uint16_t U16At(const std::string& bytes, std::size_t at);
std::uint32_t U32At(const std::string& bytes, std::size_t at);

// A read-only stream over bytes that ends, or fails with EIO when fails is set, once `end`
// bytes have been read: a file that shrank, or a card pulled part way.
struct BrokenSource {
    const std::string* bytes = nullptr;
    std::size_t position = 0;
    std::size_t end = 0;
    bool fails = false;
};
std::FILE* OpenBrokenSource(BrokenSource& source);

// Records what a player slot reports, in order: "progress 8", "slider off", "play off",
// "finished". Connected directly, so each report is recorded on the thread that emits it.
class PlayerReports {
public:
    void Listen(WavePlayerSlot& slot);
    std::vector<std::string> Events() const;
    // How many events start with text.
    long Count(const std::string& text) const;
    void Clear();
    // Waits (at most safetyLimit of real time) until the end has been reported.
    bool WaitForFinished(std::chrono::milliseconds safetyLimit = std::chrono::seconds(10)) const;

private:
    void Record(std::string event);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> events_;
};

// Waits (at most safetyLimit of real time) until condition holds.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds safetyLimit = std::chrono::seconds(10))
{
    const auto giveUp = std::chrono::steady_clock::now() + safetyLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Starts a program found on PATH with arguments, its standard output and error written to the
// files named; its process id, or -1 when it cannot start.
int SpawnProgram(const std::vector<std::string>& argv, const std::string& outputPath, const std::string& errorPath);
// Runs a program with arguments, its output thrown away; true when it exits 0.
bool RunProgram(const std::vector<std::string>& argv);
// True when name is an executable on PATH.
bool HaveProgram(const std::string& name);
