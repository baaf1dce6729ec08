#include "audio/adpcm_converter.h"

#include "audio/ima_tables.h"

#include "platform/atomic_file.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>

namespace {

// The RIFF size field must hold the data bytes plus the 52 header bytes after it.
constexpr std::uint64_t kMaxOutputValues = (0xFFFFFFFFull - (kWaveHeaderBytes - 8)) / 2;
// Recordings are decoded and written in runs of whole blocks making about 1 MiB of output: a
// long recording is never held in memory whole, and each run is still in the cache when written.
constexpr std::size_t kRunValues = 512 * 1024;
// Where the format fields begin in the header the converter writes: after "RIFF", its size,
// "WAVE" and the "fmt " chunk's id and size.
constexpr std::size_t kHeaderFormatFieldsAt = 20;

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

// Receives the decoded values run after run, in host order; it may change them in place.
// A failure stops the decoding.
using RunSink = DecodedRuns;

Failure ReadFailure()
{
    return Failure{std::string("the recording cannot be read: ") + std::strerror(errno), errno};
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
    std::ptrdiff_t stepIndex = 0; // index x 16
};

// The entries of a table for one code: since the step index is a multiple of 16, row[stepIndex]
// is table[stepIndex | code]. The empty asm keeps the compiler from folding the row back into
// one index sum, which would put an addition between each step index and the next on the chain
// that bounds the decoder's speed (it runs 13% faster this way).
template <typename Entry>
inline __attribute__((always_inline)) const Entry* RowOf(const Entry* table, std::uint32_t code)
{
    const Entry* row = table + code;
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
        const std::uint32_t code = word & 15;
        p += RowOf(diff, code)[stepIndex];
        stepIndex = RowOf(next, code)[stepIndex];
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
            DecodeGroup<Channels>(ReadLe32(group), state[c], destination + n + c, 8, diff, next);
    }
    if (n >= valueCount)
        return;
    for (std::uint32_t c = 0; c < Channels && group + 4 <= blockEnd; ++c, group += 4) {
        const std::uint32_t first = n + c;
        const std::uint32_t stored = first < valueCount ? std::min(8u, (valueCount - first + Channels - 1) / Channels)
                                                        : 0;
        DecodeGroup<Channels>(ReadLe32(group), state[c], destination + first, stored, diff, next);
    }
}

// Whole mono blocks are decoded kSideBySide at a time. Each block starts afresh from its own
// header, so their chains of step indices (a table look-up each, which bounds the decoder's
// speed) are independent and the processor runs them in parallel.
constexpr std::size_t kSideBySide = 8;

// Decodes kSideBySide whole mono blocks, one after another in blocks, to valuesPerBlock values
// each, one block's values after another's in destination.
void DecodeWholeMonoBlocks(const unsigned char* blocks, std::uint32_t blockBytes, std::int16_t* destination,
                           std::uint32_t valuesPerBlock)
{
    const std::int32_t* diff = DiffTable().data();
    const std::int16_t* next = NextIndexTable().data();
    ChannelState state[kSideBySide];
    for (std::size_t j = 0; j < kSideBySide; ++j) {
        const unsigned char* header = blocks + j * blockBytes;
        state[j].predictor = static_cast<std::int16_t>(ReadLe16(header));
        state[j].stepIndex = std::min<std::int32_t>(ReadLe16(header + 2), kImaMaxStepIndex) * 16;
        destination[j * valuesPerBlock] = static_cast<std::int16_t>(state[j].predictor);
    }
    for (std::uint32_t n = 1, at = 4; n < valuesPerBlock; n += 8, at += 4) {
#pragma GCC unroll 4
        for (std::size_t j = 0; j < kSideBySide; ++j)
            DecodeGroup<1>(ReadLe32(blocks + j * blockBytes + at), state[j], destination + j * valuesPerBlock + n, 8,
                           diff, next);
    }
}

// Decodes the blocks in `blocks`, of which only the first `got` bytes came from the file, into
// `values` interleaved values (the last block may be cut short by the count). Values whose codes
// the file did not hold stay silent.
void DecodeImaBlocks(const unsigned char* blocks, std::size_t got, const ImaLayout& layout, std::int16_t* out,
                     std::size_t values)
{
    const std::uint32_t valuesPerBlock = layout.samplesPerBlock * layout.channels;
    const std::size_t blockCount = (values + valuesPerBlock - 1) / valuesPerBlock;
    for (std::size_t b = 0; b < blockCount;) {
        if (layout.channels == 1 && (b + kSideBySide) * layout.blockBytes <= got
            && (b + kSideBySide) * valuesPerBlock <= values) {
            DecodeWholeMonoBlocks(blocks + b * layout.blockBytes, layout.blockBytes, out + b * valuesPerBlock,
                                  valuesPerBlock);
            b += kSideBySide;
            continue;
        }
        const std::size_t offset = b * layout.blockBytes;
        const auto present =
            static_cast<std::uint32_t>(std::min<std::size_t>(got - std::min(got, offset), layout.blockBytes));
        const auto valueCount =
            static_cast<std::uint32_t>(std::min<std::size_t>(valuesPerBlock, values - b * valuesPerBlock));
        DecodeImaBlock(blocks + offset, layout.blockBytes, present, out + b * valuesPerBlock, layout.channels,
                       valueCount);
        ++b;
    }
}

// How many of the first values of a run of blocks came whole from the `got` bytes read of it.
std::size_t ValuesPresent(std::size_t got, const ImaLayout& layout, std::size_t values)
{
    const std::uint32_t valuesPerBlock = layout.samplesPerBlock * layout.channels;
    std::size_t present = got / layout.blockBytes * valuesPerBlock;
    const auto partial = static_cast<std::uint32_t>(got % layout.blockBytes);
    for (std::uint32_t p = 0; present < values && SourceByteOfValue(p, layout.channels) < partial; ++p)
        ++present;
    return std::min(present, values);
}

// Reads the blocks a run at a time and decodes each run into one buffer. Values whose codes
// the file turns out not to hold (it shrank while being read) stay silent.
Result<void> DecodeImaRuns(std::FILE* input, const RecordingData& data, const RunSink& sink)
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
        const std::size_t runBytes = (runValues + valuesPerBlock - 1) / valuesPerBlock * layout.blockBytes;
        const std::size_t wanted = std::min<std::size_t>(runBytes, unread);
        const std::size_t got = std::fread(blocks.data(), 1, wanted, input);
        if (std::ferror(input))
            return ReadFailure();
        unread -= static_cast<std::uint32_t>(wanted);
        std::fill(blocks.begin() + static_cast<std::ptrdiff_t>(got),
                  blocks.begin() + static_cast<std::ptrdiff_t>(runBytes), 0);
        DecodeImaBlocks(blocks.data(), got, layout, run.data(), runValues);
        if (Result<void> taken = sink(run.data(), runValues); !taken)
            return taken;
        done += runValues;
    }
    return {};
}

// 8-bit samples are unsigned around 128; 16-bit ones signed little-endian.
void ValuesOfPcm(const unsigned char* bytes, bool wide, std::int16_t* out, std::size_t count)
{
    if (wide) {
        std::memcpy(out, bytes, count * sizeof(std::int16_t));
        SwapToOrFromLittleEndian(out, count);
    } else {
        std::transform(bytes, bytes + count, out,
                       [](unsigned char sample) { return static_cast<std::int16_t>((sample - 128) * 256); });
    }
}

// Reads 8- or 16-bit PCM a run at a time; samples the file turns out not to hold stay silent.
Result<void> ReadPcmRuns(std::FILE* input, const RecordingData& data, const RunSink& sink)
{
    const std::size_t sampleBytes = data.format.bitsPerSample / 8;
    std::vector<std::int16_t> run(static_cast<std::size_t>(std::min<std::uint64_t>(kRunValues, data.values)));
    std::vector<unsigned char> samples(run.size() * sampleBytes);
    for (std::uint64_t done = 0; done < data.values;) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(run.size(), data.values - done));
        const std::size_t got = std::fread(samples.data(), sampleBytes, count, input);
        if (std::ferror(input))
            return ReadFailure();
        ValuesOfPcm(samples.data(), sampleBytes == 2, run.data(), got);
        std::fill(run.begin() + static_cast<std::ptrdiff_t>(got), run.begin() + static_cast<std::ptrdiff_t>(count), 0);
        if (Result<void> taken = sink(run.data(), count); !taken)
            return taken;
        done += count;
    }
    return {};
}

// Checks the format and works out how many values the data decodes to.
Result<void> PlanSamples(RecordingData& data)
{
    const FormatRecord& format = data.format;
    switch (format.formatTag) {
    case kFormatImaAdpcm: {
        Result<ImaLayout> layout = ImaLayoutFor(format, data.bytes);
        if (!layout)
            return layout.error();
        data.ima = *layout;
        data.values = data.ima->samplesPerChannel * data.ima->channels;
        break;
    }
    case kFormatPcm:
        if (format.channels == 0 || format.channels > 2)
            return Failure{"PCM with " + std::to_string(format.channels) + " channels cannot be played"};
        if (format.bitsPerSample != 8 && format.bitsPerSample != 16)
            return Failure{"PCM with " + std::to_string(format.bitsPerSample) + " bits per sample cannot be played"};
        data.values = std::uint64_t{data.bytes} * 8 / format.bitsPerSample / format.channels * format.channels;
        break;
    default: {
        char tag[8];
        std::snprintf(tag, sizeof tag, "0x%04X", format.formatTag);
        return Failure{std::string("format ") + tag + " is neither PCM nor IMA ADPCM"};
    }
    }
    if (data.values > kMaxOutputValues)
        return Failure{"the recording is too long for a wave file"};
    return {};
}

// Walks the chunks of the recording (stream at its start) up to its first data byte.
Result<RecordingData> ReadRecordingChunks(std::FILE* input, std::uint64_t fileSize)
{
    unsigned char riff[12];
    // The form type is read past but not checked.
    if (std::fread(riff, 1, 12, input) != 12 || std::memcmp(riff, "RIFF", 4) != 0)
        return Failure{"not a RIFF file"};

    const std::optional<std::uint32_t> formatSize = FindChunk(input, "fmt ");
    if (!formatSize)
        return Failure{"no \"fmt \" chunk"};
    // A short format chunk leaves the fields it lacks at zero, which the checks refuse.
    unsigned char record[kFormatRecordBytes] = {};
    const std::uint32_t kept = std::min(*formatSize, kFormatRecordBytes);
    if (std::fread(record, 1, kept, input) != kept || (*formatSize > kept && !SkipForward(input, *formatSize - kept)))
        return Failure{"the \"fmt \" chunk is cut short"};
    const std::optional<std::uint32_t> claimedDataBytes = FindChunk(input, "data");
    if (!claimedDataBytes)
        return Failure{"no \"data\" chunk"};

    RecordingData data;
    data.format = ParseFormatRecord(record);
    data.bytes =
        static_cast<std::uint32_t>(std::min(std::uint64_t{*claimedDataBytes}, BytesAfterPosition(input, fileSize)));
    if (Result<void> planned = PlanSamples(data); !planned)
        return planned.error();
    return data;
}

Result<void> DecodeRecordingData(std::FILE* input, const RecordingData& data, const RunSink& sink)
{
    return data.ima ? DecodeImaRuns(input, data, sink) : ReadPcmRuns(input, data, sink);
}

// Streams the decoded recording into a temporary file beside outputPath and renames that
// into place; on any failure the temporary file is removed and outputPath stays as it was.
Result<void> WriteOutput(std::FILE* input, const RecordingData& data, const std::string& outputPath)
{
    TempFile temp = CreateTempFileForSave(outputPath, SharedFileMode());
    if (temp.fd < 0)
        return Failure{"cannot create a file beside " + outputPath + ": " + std::strerror(errno), errno, outputPath};
    const auto writeFailure = [&] {
        return Failure{"cannot write " + outputPath + ": " + std::strerror(errno), errno, outputPath};
    };
    const RunSink writeRun = [&](std::int16_t* values, std::size_t count) -> Result<void> {
        SwapToOrFromLittleEndian(values, count);
        if (!WriteAllBytes(temp.fd, values, count * sizeof(std::int16_t)))
            return writeFailure();
        return {};
    };
    const auto outputBytes = static_cast<std::uint32_t>(data.values * sizeof(std::int16_t));
    Result<void> written = WriteWaveHeader(temp.fd, outputBytes) ? DecodeRecordingData(input, data, writeRun)
                                                                 : Result<void>(writeFailure());
    if (!written) {
        DiscardTempFile(temp);
        return written;
    }
    return CommitTempFile(temp, outputPath);
}

} // namespace

const std::array<std::int32_t, kImaTableSize>& DiffTable()
{
    static const std::array<std::int32_t, kImaTableSize> table = [] {
        std::array<std::int32_t, kImaTableSize> built{};
        for (int i = 0; i < kImaTableSize; ++i) {
            const std::int32_t step = kImaStepTable[i >> 4];
            std::int32_t diff = step >> 3;
            if (i & 1)
                diff += step >> 2;
            if (i & 2)
                diff += step >> 1;
            if (i & 4)
                diff += step;
            built[i] = (i & 8) ? -diff : diff;
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
            built[i] =
                static_cast<std::int16_t>(std::clamp((i >> 4) + kImaIndexAdjust[i & 7], 0, kImaMaxStepIndex) * 16);
        return built;
    }();
    return table;
}

FormatRecord ParseFormatRecord(const unsigned char (&bytes)[kFormatRecordBytes])
{
    FormatRecord format;
    static_cast<WaveFormat&>(format) = ParseWaveFormat(bytes);
    format.samplesPerBlock = ReadLe16(bytes + 18);
    return format;
}

Result<ImaLayout> ImaLayoutFor(const FormatRecord& format, std::uint32_t dataBytes)
{
    if (format.channels == 0 || format.channels > 2)
        return Failure{"IMA ADPCM with " + std::to_string(format.channels) + " channels cannot be played"};
    // Each channel's codes come in groups of 8, so a block ends on a whole group only when
    // the samples after the header sample are a multiple of 8.
    if (format.samplesPerBlock == 0 || (format.samplesPerBlock - 1) % 8 != 0)
        return Failure{"IMA ADPCM blocks of " + std::to_string(format.samplesPerBlock) + " samples are malformed"};
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

std::array<unsigned char, kWaveHeaderBytes> WaveHeaderBytes(std::uint32_t outputDataBytes)
{
    std::array<unsigned char, kWaveHeaderBytes> header{};
    unsigned char* out = header.data();
    std::memcpy(out, "RIFF", 4);
    WriteLe32(out + 4, outputDataBytes + (kWaveHeaderBytes - 8));
    std::memcpy(out + 8, "WAVEfmt ", 8);
    WriteLe32(out + 16, 20);
    WriteLe16(out + 20, kFormatPcm);
    WriteLe16(out + 22, 1);
    WriteLe32(out + 24, 8000);
    WriteLe32(out + 28, 16000);
    WriteLe16(out + 32, 2);
    WriteLe16(out + 34, 16);
    WriteLe16(out + 36, 0);
    // Bytes 38 and 39 fill the fmt body to its declared 20 bytes and stay zero.
    std::memcpy(out + 40, "fact", 4);
    WriteLe32(out + 44, 4);
    WriteLe32(out + 48, outputDataBytes);
    std::memcpy(out + 52, "data", 4);
    WriteLe32(out + 56, outputDataBytes);
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
        state[c].predictor = static_cast<std::int16_t>(ReadLe16(header));
        state[c].stepIndex = std::min<std::int32_t>(ReadLe16(header + 2), kImaMaxStepIndex) * 16;
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

Result<std::vector<std::int16_t>> DecodeRecording(std::FILE* input, std::uint64_t fileSize)
{
    const Result<RecordingData> data = ReadRecordingChunks(input, fileSize);
    if (!data)
        return data.error();
    std::vector<std::int16_t> samples;
    try {
        samples.resize(static_cast<std::size_t>(data->values));
    } catch (const std::bad_alloc&) {
        return Failure{"not enough memory for the decoded recording"};
    }
    std::int16_t* filled = samples.data();
    const RunSink keep = [&](std::int16_t* values, std::size_t count) -> Result<void> {
        filled = std::copy_n(values, count, filled);
        return {};
    };
    if (Result<void> decoded = DecodeRecordingData(input, *data, keep); !decoded)
        return decoded.error();
    return samples;
}

namespace {

struct OpenedRecording {
    OpenedFile file;
    RecordingData data;
};

// Reads the chunks that say what the audio of an opened recording is.
Result<OpenedRecording> OpenRecording(Result<OpenedFile> input)
{
    if (!input)
        return input.error();
    const Result<RecordingData> data = ReadRecordingChunks(input->stream.get(), input->size);
    if (!data)
        return data.error();
    return OpenedRecording{std::move(*input), *data};
}

} // namespace

RecordingDecoder::RecordingDecoder(FileStream stream, const RecordingData& data, std::uint64_t dataStart)
    : stream_(std::move(stream)), data_(data), dataStart_(dataStart)
{
}

Result<RecordingDecoder> RecordingDecoder::Open(FileStream stream, std::uint64_t fileSize)
{
    const Result<RecordingData> data = ReadRecordingChunks(stream.get(), fileSize);
    if (!data)
        return data.error();
    const off_t dataStart = ::ftello(stream.get());
    if (dataStart < 0)
        return ReadFailure();
    return RecordingDecoder(std::move(stream), *data, static_cast<std::uint64_t>(dataStart));
}

Result<RecordingDecoder> RecordingDecoder::Open(Result<OpenedFile> input)
{
    if (!input)
        return input.error();
    return Open(std::move(input->stream), input->size);
}

Result<RecordingDecoder> RecordingDecoder::Open(const std::string& path)
{
    return Open(OpenRegularFile(path));
}

Result<RecordingDecoder> RecordingDecoder::Open(int fd)
{
    return Open(OpenRegularFile(fd));
}

WaveFormat RecordingDecoder::OutputFormat()
{
    return ParseWaveFormat(WaveHeaderBytes(0).data() + kHeaderFormatFieldsAt);
}

std::size_t RecordingDecoder::DecodeValues(std::uint64_t first, std::uint64_t end)
{
    if (data_.ima) {
        const ImaLayout& layout = *data_.ima;
        const std::uint32_t valuesPerBlock = layout.samplesPerBlock * layout.channels;
        const std::uint64_t firstBlock = first / valuesPerBlock;
        const std::uint64_t endBlock = (end + valuesPerBlock - 1) / valuesPerBlock;
        const auto runBytes = static_cast<std::size_t>((endBlock - firstBlock) * layout.blockBytes);
        const std::uint64_t skipped = firstBlock * layout.blockBytes;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(runBytes, data_.bytes - skipped));
        read_.resize(runBytes);
        std::size_t got = 0;
        if (::fseeko(stream_.get(), static_cast<off_t>(dataStart_ + skipped), SEEK_SET) == 0)
            got = std::fread(read_.data(), 1, wanted, stream_.get());
        std::fill(read_.begin() + static_cast<std::ptrdiff_t>(got), read_.end(), 0);
        const auto values = static_cast<std::size_t>(end - firstBlock * valuesPerBlock);
        values_.resize(values);
        DecodeImaBlocks(read_.data(), got, layout, values_.data(), values);
        // The values before first were decoded only because their block holds first.
        const auto before = static_cast<std::ptrdiff_t>(first - firstBlock * valuesPerBlock);
        const std::size_t present = got < wanted ? ValuesPresent(got, layout, values) : values;
        values_.erase(values_.begin(), values_.begin() + before);
        return present - std::min<std::size_t>(present, static_cast<std::size_t>(before));
    }
    const std::size_t sampleBytes = data_.format.bitsPerSample / 8;
    const auto count = static_cast<std::size_t>(end - first);
    read_.resize(count * sampleBytes);
    values_.resize(count);
    std::size_t got = 0;
    if (::fseeko(stream_.get(), static_cast<off_t>(dataStart_ + first * sampleBytes), SEEK_SET) == 0)
        got = std::fread(read_.data(), sampleBytes, count, stream_.get());
    ValuesOfPcm(read_.data(), sampleBytes == 2, values_.data(), got);
    return got;
}

std::size_t RecordingDecoder::DecodeBytes(std::uint64_t offset, unsigned char* out, std::size_t count)
{
    const std::uint64_t outputBytes = data_.values * sizeof(std::int16_t);
    if (offset >= outputBytes || count == 0)
        return 0;
    const std::uint64_t end = std::min<std::uint64_t>(outputBytes, offset + count);
    const std::uint64_t firstValue = offset / 2;
    const std::size_t present = DecodeValues(firstValue, (end + 1) / 2);
    SwapToOrFromLittleEndian(values_.data(), present);
    const std::uint64_t presentEnd = std::min<std::uint64_t>(end, (firstValue + present) * 2);
    if (presentEnd <= offset)
        return 0;
    const auto copied = static_cast<std::size_t>(presentEnd - offset);
    std::memcpy(out, reinterpret_cast<const unsigned char*>(values_.data()) + (offset - firstValue * 2), copied);
    return copied;
}

Result<void> ConvertToPcmWave(const std::string& outputPath, const std::string& inputPath)
{
    const Result<OpenedRecording> input = OpenRecording(OpenRegularFile(inputPath));
    if (!input)
        return input.error();
    return WriteOutput(input->file.stream.get(), input->data, outputPath);
}

Result<void> DecodeRecordingRuns(const std::string& inputPath, const std::function<void(std::uint64_t values)>& begin,
                                 const DecodedRuns& sink)
{
    return DecodeRecordingRuns(OpenRegularFile(inputPath), begin, sink);
}

Result<void> DecodeRecordingRuns(Result<OpenedFile> opened, const std::function<void(std::uint64_t values)>& begin,
                                 const DecodedRuns& sink)
{
    const Result<OpenedRecording> input = OpenRecording(std::move(opened));
    if (!input)
        return input.error();
    begin(input->data.values);
    return DecodeRecordingData(input->file.stream.get(), input->data, sink);
}

Result<LoadedWave> DecodeToPcmWave(const std::string& inputPath)
{
    return DecodeToPcmWave(OpenRegularFile(inputPath));
}

Result<LoadedWave> DecodeToPcmWave(Result<OpenedFile> input)
{
    if (!input)
        return input.error();
    return DecodeToPcmWave(input->stream.get(), input->size);
}

Result<LoadedWave> DecodeToPcmWave(std::FILE* input, std::uint64_t fileSize)
{
    const Result<RecordingData> data = ReadRecordingChunks(input, fileSize);
    if (!data)
        return data.error();
    const auto outputBytes = static_cast<std::uint32_t>(data->values * sizeof(std::int16_t));
    LoadedWave wave;
    wave.format = ParseWaveFormat(WaveHeaderBytes(outputBytes).data() + kHeaderFormatFieldsAt);
    try {
        wave.data.resize(outputBytes);
    } catch (const std::bad_alloc&) {
        return Failure{"not enough memory for the decoded recording"};
    }
    unsigned char* filled = wave.data.data();
    const RunSink keep = [&](std::int16_t* values, std::size_t count) -> Result<void> {
        SwapToOrFromLittleEndian(values, count);
        std::memcpy(filled, values, count * sizeof(std::int16_t));
        filled += count * sizeof(std::int16_t);
        return {};
    };
    if (Result<void> decoded = DecodeRecordingData(input, *data, keep); !decoded)
        return decoded.error();
    return wave;
}
