#include "audio/Adpcm.h"

#include "audio/ima_tables.h"

#include "platform/atomic_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The RIFF size field must hold the data bytes plus the 52 header bytes after it.
constexpr std::uint64_t kMaxOutputValues = (0xFFFFFFFFull - (kWaveHeaderBytes - 8)) / 2;
// Recordings are decoded and written in runs of whole blocks making about 1 MiB of output: a
// long recording is never held in memory whole, and each run is still in the cache when written.
constexpr std::size_t kRunValues = 512 * 1024;

std::uint16_t ReadU16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadU32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void PutU16(unsigned char* out, std::uint32_t value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
}

void PutU32(unsigned char* out, std::uint32_t value)
{
    PutU16(out, value & 0xFFFF);
    PutU16(out + 2, value >> 16);
}

bool SkipForward(std::FILE* stream, std::uint32_t bytes)
{
    return bytes == 0 || ::fseeko(stream, static_cast<off_t>(bytes), SEEK_CUR) == 0;
}

// Samples are kept in host order while decoding; files hold them little-endian.
void SwapToOrFromLittleEndian(std::int16_t* samples, std::size_t count)
{
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto bits = static_cast<std::uint16_t>(samples[i]);
            samples[i] = static_cast<std::int16_t>((bits >> 8) | (bits << 8));
        }
    }
}

// What the chunks of a recording say about its samples, known before the first one is decoded.
struct RecordingData {
    FormatRecord format;
    std::uint32_t bytes = 0;       // what the file really holds of the claimed data
    std::optional<ImaLayout> ima;  // set for IMA ADPCM
    std::uint64_t values = 0;      // interleaved output values
};

// Receives the decoded values run after run, in host order; it may change them in place.
// Returning false stops the decoding.
using RunSink = std::function<bool(std::int16_t* values, std::size_t count)>;

bool ReadFailed(std::string& refusal)
{
    refusal = std::string("the recording cannot be read: ") + std::strerror(errno);
    return false;
}

// Byte offset inside a block of the code (or header) that produced interleaved value p.
std::uint32_t SourceByteOfValue(std::uint32_t p, std::uint32_t channels)
{
    if (p < channels)
        return p * 4 + 3;
    const std::uint32_t q = p - channels;
    const std::uint32_t pass = q / (8 * channels);
    const std::uint32_t channel = q % channels;
    const std::uint32_t k = (q / channels) % 8;
    return 4 * channels + pass * 4 * channels + channel * 4 + k / 2;
}

struct ChannelState {
    std::int32_t predictor = 0;
    std::ptrdiff_t stepIndex = 0; // index x 8
};

// The entries of a table for one code's magnitude bits: since the step index is a multiple of
// 8, row[stepIndex] is table[stepIndex | magnitude]. The empty asm keeps the compiler from
// folding the row back into one index sum, which would put an addition between each step index
// and the next on the chain that bounds the decoder's speed (it runs 13% faster this way).
template <typename Entry>
inline __attribute__((always_inline)) const Entry* RowOf(const Entry* table, std::uint32_t magnitude)
{
    const Entry* row = table + magnitude;
    asm("" : "+r"(row));
    return row;
}

// Decodes the 8 codes of one 4-byte group, low nibble first, keeping the first `stored` values
// at out[0], out[Channels], ... The difference comes from the step in force before each code.
template <std::uint32_t Channels>
inline __attribute__((always_inline)) void DecodeGroup(std::uint32_t word, ChannelState& state, std::int16_t* out,
                                                       std::uint32_t stored, const std::int32_t* diff,
                                                       const std::int16_t* next)
{
    std::int32_t p = state.predictor;
    std::ptrdiff_t stepIndex = state.stepIndex;
#pragma GCC unroll 8
    for (std::uint32_t k = 0; k < 8; ++k, word >>= 4) {
        const std::uint32_t magnitude = word & 7;
        const std::int32_t difference = RowOf(diff, magnitude)[stepIndex];
        stepIndex = RowOf(next, magnitude)[stepIndex];
        p += (word & 8) ? -difference : difference;
        p = std::min(std::max(p, -32768), 32767);
        if (k < stored)
            out[k * Channels] = static_cast<std::int16_t>(p);
    }
    state.predictor = p;
    state.stepIndex = stepIndex;
}

// The groups after the block headers: whole passes (one group per channel) first, then the
// pass that the value count cuts short.
template <std::uint32_t Channels>
void DecodeGroups(const unsigned char* group, const unsigned char* blockEnd, ChannelState (&state)[2],
                  std::int16_t* destination, std::uint32_t valueCount)
{
    const std::int32_t* diff = DiffTable().data();
    const std::int16_t* next = NextIndexTable().data();
    constexpr std::uint32_t kPass = 8 * Channels;
    std::uint32_t n = Channels;
    for (; n + kPass <= valueCount && group + 4 * Channels <= blockEnd; n += kPass) {
        for (std::uint32_t c = 0; c < Channels; ++c, group += 4)
            DecodeGroup<Channels>(ReadU32(group), state[c], destination + n + c, 8, diff, next);
    }
    if (n >= valueCount)
        return;
    for (std::uint32_t c = 0; c < Channels && group + 4 <= blockEnd; ++c, group += 4) {
        const std::uint32_t first = n + c;
        const std::uint32_t stored = first < valueCount ? std::min(8u, (valueCount - first + Channels - 1) / Channels) : 0;
        DecodeGroup<Channels>(ReadU32(group), state[c], destination + first, stored, diff, next);
    }
}

// Reads the blocks a run at a time and decodes each run into one buffer. Values whose codes
// the file turns out not to hold (it shrank while being read) stay silent.
bool DecodeImaRuns(std::FILE* input, const RecordingData& data, const RunSink& sink, std::string& refusal)
{
    const ImaLayout& layout = *data.ima;
    const std::uint32_t valuesPerBlock = layout.samplesPerBlock * layout.channels;
    const std::uint64_t blocksWithValues = (data.values + valuesPerBlock - 1) / valuesPerBlock;
    const auto blocksPerRun = static_cast<std::size_t>(
        std::min<std::uint64_t>(blocksWithValues, std::max<std::size_t>(1, kRunValues / valuesPerBlock)));
    std::vector<unsigned char> blocks(blocksPerRun * layout.blockBytes);
    std::vector<std::int16_t> run(blocksPerRun * valuesPerBlock);
    std::uint32_t unread = data.bytes;
    for (std::uint64_t done = 0; done < data.values;) {
        const auto runValues = static_cast<std::size_t>(std::min<std::uint64_t>(run.size(), data.values - done));
        const std::size_t runBlocks = (runValues + valuesPerBlock - 1) / valuesPerBlock;
        const std::size_t runBytes = runBlocks * layout.blockBytes;
        const std::size_t wanted = std::min<std::size_t>(runBytes, unread);
        const std::size_t got = std::fread(blocks.data(), 1, wanted, input);
        if (std::ferror(input))
            return ReadFailed(refusal);
        unread -= static_cast<std::uint32_t>(wanted);
        std::fill(blocks.begin() + static_cast<std::ptrdiff_t>(got), blocks.begin() + static_cast<std::ptrdiff_t>(runBytes), 0);
        for (std::size_t b = 0; b < runBlocks; ++b) {
            const std::size_t offset = b * layout.blockBytes;
            const auto present = static_cast<std::uint32_t>(std::min<std::size_t>(got - std::min(got, offset), layout.blockBytes));
            const auto valueCount = static_cast<std::uint32_t>(std::min<std::size_t>(valuesPerBlock, runValues - b * valuesPerBlock));
            DecodeImaBlock(blocks.data() + offset, layout.blockBytes, present, run.data() + b * valuesPerBlock,
                           layout.channels, valueCount);
        }
        if (!sink(run.data(), runValues))
            return false;
        done += runValues;
    }
    return true;
}

// Reads 8- or 16-bit PCM a run at a time; samples the file turns out not to hold stay silent.
bool ReadPcmRuns(std::FILE* input, const RecordingData& data, const RunSink& sink, std::string& refusal)
{
    const bool wide = data.format.bitsPerSample == 16;
    std::vector<std::int16_t> run(static_cast<std::size_t>(std::min<std::uint64_t>(kRunValues, data.values)));
    std::vector<unsigned char> narrowSamples(wide ? 0 : run.size());
    for (std::uint64_t done = 0; done < data.values;) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(run.size(), data.values - done));
        const std::size_t got = wide ? std::fread(run.data(), sizeof(std::int16_t), count, input)
                                     : std::fread(narrowSamples.data(), 1, count, input);
        if (std::ferror(input))
            return ReadFailed(refusal);
        if (wide)
            SwapToOrFromLittleEndian(run.data(), got);
        else
            std::transform(narrowSamples.begin(), narrowSamples.begin() + static_cast<std::ptrdiff_t>(got), run.begin(),
                           [](unsigned char sample) { return static_cast<std::int16_t>((sample - 128) * 256); });
        std::fill(run.begin() + static_cast<std::ptrdiff_t>(got), run.begin() + static_cast<std::ptrdiff_t>(count), 0);
        if (!sink(run.data(), count))
            return false;
        done += count;
    }
    return true;
}

// Checks the format and works out how many values the data decodes to.
bool PlanSamples(RecordingData& data, std::string& refusal)
{
    const FormatRecord& format = data.format;
    switch (format.formatTag) {
    case kFormatImaAdpcm:
        data.ima = ImaLayoutFor(format, data.bytes, refusal);
        if (!data.ima)
            return false;
        data.values = data.ima->samplesPerChannel * data.ima->channels;
        break;
    case kFormatPcm:
        if (format.channels == 0 || format.channels > 2) {
            refusal = "PCM with " + std::to_string(format.channels) + " channels cannot be played";
            return false;
        }
        if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
            refusal = "PCM with " + std::to_string(format.bitsPerSample) + " bits per sample cannot be played";
            return false;
        }
        data.values = std::uint64_t{data.bytes} * 8 / format.bitsPerSample / format.channels * format.channels;
        break;
    default: {
        char tag[8];
        std::snprintf(tag, sizeof tag, "0x%04X", format.formatTag);
        refusal = std::string("format ") + tag + " is neither PCM nor IMA ADPCM";
        return false;
    }
    }
    if (data.values > kMaxOutputValues) {
        refusal = "the recording is too long for a wave file";
        return false;
    }
    return true;
}

// Walks the chunks of the recording (stream at its start) up to its first data byte.
std::optional<RecordingData> ReadRecordingChunks(std::FILE* input, std::uint64_t fileSize, std::string& refusal)
{
    unsigned char riff[12];
    if (std::fread(riff, 1, 8, input) != 8 || std::memcmp(riff, "RIFF", 4) != 0) {
        refusal = "not a RIFF file";
        return std::nullopt;
    }
    std::fread(riff + 8, 1, 4, input); // the form type is not checked

    const std::optional<std::uint32_t> formatSize = FindChunk(input, "fmt ");
    if (!formatSize) {
        refusal = "no \"fmt \" chunk";
        return std::nullopt;
    }
    // A short format chunk leaves the fields it lacks at zero, which the checks refuse.
    unsigned char record[kFormatRecordBytes] = {};
    const std::uint32_t kept = std::min(*formatSize, kFormatRecordBytes);
    if (std::fread(record, 1, kept, input) != kept || (*formatSize > kept && !SkipForward(input, *formatSize - kept))) {
        refusal = "the \"fmt \" chunk is cut short";
        return std::nullopt;
    }
    const std::optional<std::uint32_t> claimedDataBytes = FindChunk(input, "data");
    if (!claimedDataBytes) {
        refusal = "no \"data\" chunk";
        return std::nullopt;
    }
    const off_t dataStart = ::ftello(input);
    const std::uint64_t available =
        dataStart >= 0 && fileSize > static_cast<std::uint64_t>(dataStart) ? fileSize - dataStart : 0;

    RecordingData data;
    data.format = ParseFormatRecord(record);
    data.bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(*claimedDataBytes, available));
    if (!PlanSamples(data, refusal))
        return std::nullopt;
    return data;
}

bool DecodeRecordingData(std::FILE* input, const RecordingData& data, const RunSink& sink, std::string& refusal)
{
    return data.ima ? DecodeImaRuns(input, data, sink, refusal) : ReadPcmRuns(input, data, sink, refusal);
}

bool Refuse(std::string* refusal, const std::string& why)
{
    if (refusal)
        *refusal = why;
    return false;
}

// Streams the decoded recording into a temporary file beside outputPath and renames that
// into place; on any failure the temporary file is removed and outputPath stays as it was.
bool WriteOutput(std::FILE* input, const RecordingData& data, const std::string& outputPath, std::string& why)
{
    TempFile temp = CreateTempFileBeside(outputPath, 0644);
    if (temp.fd < 0) {
        why = "cannot create a file beside " + outputPath + ": " + std::strerror(errno);
        return false;
    }
    const auto writeFailed = [&] {
        why = "cannot write " + outputPath + ": " + std::strerror(errno);
        return false;
    };
    const RunSink writeRun = [&](std::int16_t* values, std::size_t count) {
        SwapToOrFromLittleEndian(values, count);
        return WriteAllBytes(temp.fd, values, count * sizeof(std::int16_t)) || writeFailed();
    };
    const auto outputBytes = static_cast<std::uint32_t>(data.values * sizeof(std::int16_t));
    const bool written = (WriteWaveHeader(temp.fd, outputBytes) || writeFailed()) &&
                         DecodeRecordingData(input, data, writeRun, why);
    if (!written) {
        DiscardTempFile(temp);
        return false;
    }
    // The output is made again from its recording whenever it is needed.
    const FileError committed = CommitTempFile(temp, outputPath, Flush::LeaveToSystem);
    if (!committed) {
        why = committed.message;
        return false;
    }
    return true;
}

} // namespace

const std::array<std::int32_t, kImaTableSize>& DiffTable()
{
    static const std::array<std::int32_t, kImaTableSize> table = [] {
        std::array<std::int32_t, kImaTableSize> built{};
        for (int i = 0; i < kImaTableSize; ++i) {
            const std::int32_t step = kImaStepTable[i >> 3];
            std::int32_t diff = step >> 3;
            if (i & 1)
                diff += step >> 2;
            if (i & 2)
                diff += step >> 1;
            if (i & 4)
                diff += step;
            built[i] = diff;
        }
        return built;
    }();
    return table;
}

const std::array<std::int16_t, kImaTableSize>& NextIndexTable()
{
    static const std::array<std::int16_t, kImaTableSize> table = [] {
        std::array<std::int16_t, kImaTableSize> built{};
        for (int i = 0; i < kImaTableSize; ++i)
            built[i] = static_cast<std::int16_t>(std::clamp((i >> 3) + kImaIndexAdjust[i & 7], 0, kImaMaxStepIndex) * 8);
        return built;
    }();
    return table;
}

FormatRecord ParseFormatRecord(const unsigned char (&bytes)[kFormatRecordBytes])
{
    FormatRecord format;
    format.formatTag = ReadU16(bytes);
    format.channels = ReadU16(bytes + 2);
    format.samplesPerSecond = ReadU32(bytes + 4);
    format.bitsPerSample = ReadU16(bytes + 14);
    format.samplesPerBlock = ReadU16(bytes + 18);
    return format;
}

std::optional<ImaLayout> ImaLayoutFor(const FormatRecord& format, std::uint32_t dataBytes, std::string& refusal)
{
    if (format.channels == 0 || format.channels > 2) {
        refusal = "IMA ADPCM with " + std::to_string(format.channels) + " channels cannot be played";
        return std::nullopt;
    }
    // Each channel's codes come in groups of 8, so a block ends on a whole group only when
    // the samples after the header sample are a multiple of 8.
    if (format.samplesPerBlock == 0 || (format.samplesPerBlock - 1) % 8 != 0) {
        refusal = "IMA ADPCM blocks of " + std::to_string(format.samplesPerBlock) + " samples are malformed";
        return std::nullopt;
    }
    ImaLayout layout;
    layout.channels = format.channels;
    layout.samplesPerBlock = format.samplesPerBlock;
    layout.blockBytes = ((layout.samplesPerBlock - 1) * layout.channels) / 2 + 4 * layout.channels;
    const std::uint32_t wholeBlocks = dataBytes / layout.blockBytes;
    const std::uint32_t tailBytes = dataBytes % layout.blockBytes;
    layout.blocks = wholeBlocks + (tailBytes > 0 ? 1 : 0);
    // Every data byte carries two samples and every 4-byte block header one; a tail too short
    // for its headers carries none.
    const std::uint32_t tailSamples =
        tailBytes >= 4 * layout.channels ? (2 * tailBytes - 7 * layout.channels) / layout.channels : 0;
    layout.samplesPerChannel = std::uint64_t{wholeBlocks} * layout.samplesPerBlock + tailSamples;
    return layout;
}

std::optional<std::uint32_t> FindChunk(std::FILE* stream, const char (&id)[5])
{
    for (;;) {
        unsigned char header[8];
        if (std::fread(header, 1, sizeof header, stream) != sizeof header)
            return std::nullopt;
        const std::uint32_t size = ReadU32(header + 4);
        if (std::memcmp(header, id, 4) == 0)
            return size;
        if (!SkipForward(stream, size))
            return std::nullopt;
    }
}

std::array<unsigned char, kWaveHeaderBytes> WaveHeaderBytes(std::uint32_t outputDataBytes)
{
    std::array<unsigned char, kWaveHeaderBytes> header{};
    unsigned char* out = header.data();
    std::memcpy(out, "RIFF", 4);
    PutU32(out + 4, outputDataBytes + (kWaveHeaderBytes - 8));
    std::memcpy(out + 8, "WAVEfmt ", 8);
    PutU32(out + 16, 20);
    PutU16(out + 20, kFormatPcm);
    PutU16(out + 22, 1);
    PutU32(out + 24, 8000);
    PutU32(out + 28, 16000);
    PutU16(out + 32, 2);
    PutU16(out + 34, 16);
    PutU16(out + 36, 0);
    // Bytes 38 and 39 fill the fmt body to its declared 20 bytes and stay zero.
    std::memcpy(out + 40, "fact", 4);
    PutU32(out + 44, 4);
    PutU32(out + 48, outputDataBytes);
    std::memcpy(out + 52, "data", 4);
    PutU32(out + 56, outputDataBytes);
    return header;
}

bool WriteWaveHeader(int fd, std::uint32_t outputDataBytes)
{
    const std::array<unsigned char, kWaveHeaderBytes> header = WaveHeaderBytes(outputDataBytes);
    return WriteAllBytes(fd, header.data(), header.size());
}

void DecodeImaBlock(const unsigned char* block, std::uint32_t blockBytes, std::uint32_t presentBytes,
                    std::int16_t* destination, std::uint32_t channels, std::uint32_t valueCount)
{
    ChannelState state[2];
    for (std::uint32_t c = 0; c < channels && c < valueCount; ++c) {
        const unsigned char* header = block + 4 * c;
        state[c].predictor = static_cast<std::int16_t>(ReadU16(header));
        state[c].stepIndex = std::min<std::int32_t>(ReadU16(header + 2), kImaMaxStepIndex) * 8;
        destination[c] = static_cast<std::int16_t>(state[c].predictor);
    }
    if (channels == 1)
        DecodeGroups<1>(block + 4, block + blockBytes, state, destination, valueCount);
    else if (channels == 2)
        DecodeGroups<2>(block + 8, block + blockBytes, state, destination, valueCount);
    if (presentBytes < blockBytes) {
        for (std::uint32_t p = 0; p < valueCount; ++p) {
            if (SourceByteOfValue(p, channels) >= presentBytes)
                destination[p] = 0;
        }
    }
}

std::optional<std::vector<std::int16_t>> DecodeRecording(std::FILE* input, std::uint64_t fileSize,
                                                         std::string& refusal)
{
    const std::optional<RecordingData> data = ReadRecordingChunks(input, fileSize, refusal);
    if (!data)
        return std::nullopt;
    std::vector<std::int16_t> samples;
    try {
        samples.resize(static_cast<std::size_t>(data->values));
    } catch (const std::bad_alloc&) {
        refusal = "not enough memory for the decoded recording";
        return std::nullopt;
    }
    std::int16_t* filled = samples.data();
    const RunSink keep = [&](std::int16_t* values, std::size_t count) {
        filled = std::copy_n(values, count, filled);
        return true;
    };
    if (!DecodeRecordingData(input, *data, keep, refusal))
        return std::nullopt;
    return samples;
}

bool ConvertToPcmWave(const std::string& outputPath, const std::string& inputPath, std::string* refusal)
{
    // Non-blocking so that a FIFO at the input path cannot hang the open; only regular files pass.
    const int fd = ::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Refuse(refusal, "cannot open " + inputPath + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Refuse(refusal, inputPath + " is not a regular file");
    }
    std::FILE* input = ::fdopen(fd, "rb");
    if (!input) {
        ::close(fd);
        return Refuse(refusal, "cannot read " + inputPath);
    }
    std::string why;
    const std::optional<RecordingData> data = ReadRecordingChunks(input, static_cast<std::uint64_t>(info.st_size), why);
    const bool converted = data && WriteOutput(input, *data, outputPath, why);
    std::fclose(input);
    return converted || Refuse(refusal, why);
}
