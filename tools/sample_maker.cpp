#include "tools/sample_maker.h"

#include "audio/ima_tables.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::uint32_t kSampleRate = 8000;
constexpr int kBlockBytes = 256;
constexpr int kSamplesPerBlock = (kBlockBytes - 4) * 2 + 1; // 505

void PutU16(std::vector<unsigned char>& out, std::uint16_t value)
{
    out.resize(out.size() + 2);
    WriteLe16(out.data() + out.size() - 2, value);
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t value)
{
    out.resize(out.size() + 4);
    WriteLe32(out.data() + out.size() - 4, value);
}

void PutId(std::vector<unsigned char>& out, const char (&id)[5])
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(id[i]));
}

// Encodes one sample against the running predictor, as the IMA ADPCM reference encoder does.
unsigned char EncodeNibble(int sample, int& predictor, int& index)
{
    const int step = kImaStepTable[index];
    int diff = sample - predictor;
    unsigned char code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int delta = step >> 3;
    if (diff >= step) {
        code |= 4;
        diff -= step;
        delta += step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
        delta += step >> 1;
    }
    if (diff >= step >> 2) {
        code |= 1;
        delta += step >> 2;
    }
    predictor += (code & 8) ? -delta : delta;
    predictor = std::clamp(predictor, -32768, 32767);
    index = std::clamp(index + kImaIndexAdjust[code & 7], 0, kImaMaxStepIndex);
    return code;
}

std::uint32_t NextRandom(std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

} // namespace

std::vector<unsigned char> EncodeImaAdpcm(const std::vector<std::int16_t>& samples, int blockBytes)
{
    const int samplesPerBlock = (blockBytes - 4) * 2 + 1;
    std::vector<unsigned char> out;
    int predictor = 0;
    int index = 0;
    for (std::size_t start = 0; start < samples.size(); start += samplesPerBlock) {
        const std::size_t end = std::min(samples.size(), start + samplesPerBlock);
        predictor = samples[start];
        PutU16(out, static_cast<std::uint16_t>(predictor));
        out.push_back(static_cast<unsigned char>(index));
        out.push_back(0);
        std::array<unsigned char, 8> codes{};
        std::size_t pending = 0;
        for (std::size_t i = start + 1; i < start + samplesPerBlock; ++i) {
            // Past the last sample the block is padded with silence-holding codes.
            const int sample = i < end ? samples[i] : predictor;
            codes[pending++] = EncodeNibble(sample, predictor, index);
            if (pending == 8) {
                for (int b = 0; b < 4; ++b)
                    out.push_back(static_cast<unsigned char>(codes[2 * b] | (codes[2 * b + 1] << 4)));
                pending = 0;
            }
        }
    }
    return out;
}

std::vector<std::int16_t> MakeSampleAudio(std::uint32_t sampleCount, std::uint32_t seed)
{
    std::vector<std::int16_t> samples(sampleCount);
    std::uint32_t noise = seed * 2654435761u + 12345u;
    const double basePitch = 110.0 + (seed % 7) * 15.0;
    double phase = 0.0;
    for (std::uint32_t n = 0; n < sampleCount; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        // Syllables of about a fifth of a second, separated by short pauses.
        const double syllable = std::fmod(t * 3.3 + seed * 0.17, 1.0);
        const double envelope = syllable < 0.7 ? std::sin(M_PI * syllable / 0.7) : 0.0;
        const double pitch = basePitch * (1.0 + 0.15 * std::sin(2.0 * M_PI * 0.7 * t + seed));
        phase += 2.0 * M_PI * pitch / kSampleRate;
        double voiced = 0.0;
        for (int harmonic = 1; harmonic <= 6; ++harmonic)
            voiced += std::sin(harmonic * phase) / harmonic;
        const double hiss = (static_cast<double>(NextRandom(noise) % 2001) - 1000.0) / 1000.0;
        const double value = 7000.0 * envelope * voiced + 300.0 * hiss;
        samples[n] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    return samples;
}

std::vector<unsigned char> MakeSampleRecording(const SampleSpec& sample)
{
    // Whole blocks first, then the bytes of a partial last block when dataBytes asks for one.
    const std::uint32_t blocks = (sample.dataBytes + kBlockBytes - 1) / kBlockBytes;
    std::vector<unsigned char> data =
        EncodeImaAdpcm(MakeSampleAudio(blocks * kSamplesPerBlock, sample.seed), kBlockBytes);
    data.resize(sample.dataBytes);

    std::vector<unsigned char> file;
    file.reserve(300 + data.size());
    PutId(file, "RIFF");
    PutU32(file, 0); // patched below
    PutId(file, "WAVE");

    PutId(file, "fmt ");
    PutU32(file, 20);
    PutU16(file, 0x0011);
    PutU16(file, 1);
    PutU32(file, kSampleRate);
    PutU32(file, kSampleRate * kBlockBytes / kSamplesPerBlock);
    PutU16(file, kBlockBytes);
    PutU16(file, 4);
    PutU16(file, 2);
    PutU16(file, kSamplesPerBlock);

    // The recorder's own chunk: its body holds the 23-byte record at file offset 256.
    PutId(file, "vrec");
    const std::uint32_t recordChunkSize = 232;
    PutU32(file, recordChunkSize);
    const std::size_t bodyStart = file.size();
    file.resize(bodyStart + recordChunkSize, 0);
    unsigned char* record = file.data() + 256;
    record[0] = static_cast<unsigned char>(sample.mode);
    std::memcpy(record + 1, sample.phone.data(), std::min<std::size_t>(sample.phone.size(), 17));
    const int times[5] = {sample.year, sample.month, sample.day, sample.hour, sample.minute};
    for (int i = 0; i < 5; ++i)
        record[18 + i] = static_cast<unsigned char>(times[i]);

    PutId(file, "fact");
    PutU32(file, 4);
    PutU32(file, blocks * kSamplesPerBlock);

    PutId(file, "data");
    PutU32(file, sample.dataBytes);
    file.insert(file.end(), data.begin(), data.end());

    WriteLe32(file.data() + 4, static_cast<std::uint32_t>(file.size() - 8));
    return file;
}

SampleSpec SampleSpecFor(std::uint32_t index, std::uint32_t dataBytes)
{
    static const char kModes[] = {'Z', 'B', 'B', 'Z', 'L', 'X', 'B', 'Z', 'Q'};
    static const char* const kPhones[] = {"13800138000", "02161234567", "13912345678", "4008208820",
                                          "075583765566", "18612345678", "010-87654321", "95588"};
    SampleSpec sample;
    sample.mode = kModes[index % std::size(kModes)];
    if (sample.mode != 'X')
        sample.phone = kPhones[(index * 5 + index / 7) % std::size(kPhones)];

    using namespace std::chrono;
    const sys_days firstDay = year{2023} / January / 2;
    const auto start = sys_time<minutes>(firstDay) + hours(8) + minutes(index * 97 + (index % 13) * 3);
    const sys_days day = floor<days>(start);
    const year_month_day date(day);
    const hh_mm_ss<minutes> time(start - day);
    sample.year = static_cast<int>(date.year()) - 2000;
    sample.month = static_cast<int>(static_cast<unsigned>(date.month()));
    sample.day = static_cast<int>(static_cast<unsigned>(date.day()));
    sample.hour = static_cast<int>(time.hours().count());
    sample.minute = static_cast<int>(time.minutes().count());

    sample.dataBytes = dataBytes != 0 ? dataBytes : 3500 * (4 + (index * 37) % 180);
    sample.seed = index + 1;
    return sample;
}

bool WriteSampleFile(const std::string& path, const SampleSpec& sample)
{
    const std::vector<unsigned char> bytes = MakeSampleRecording(sample);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool WriteSampleFolder(const std::string& dir, std::uint32_t count, std::uint32_t dataBytes,
                       std::uint32_t firstNumber)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    for (std::uint32_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "VOC%05u.WAV", firstNumber + i);
        if (!WriteSampleFile(dir + "/" + name, SampleSpecFor(firstNumber - 1 + i, dataBytes)))
            return false;
    }
    return true;
}
