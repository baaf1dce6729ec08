#include "audio/Adpcm.h"

#include "audio/ima_tables.h"

#include "platform/atomic_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {


// The RIFF size field must hold the data bytes plus the 52 header bytes after it.
constexpr std::uint64_t kMaxOutputValues = (0xFFFFFFFFull - (kWaveHeaderBytes - 8)) / 2;
constexpr std::size_t kInputBufferBytes = 256 * 1024;

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
void SwapToOrFromLittleEndian(std::vector<std::int16_t>& samples)
{
    if constexpr (std::endian::native == std::endian::big) {
        for (std::int16_t& sample : samples)
        {
            const auto bits = static_cast<std::uint16_t>(sample);
            sample = static_cast<std::int16_t>((bits >> 8) | (bits << 8));
        }
    }
}

std::optional<std::vector<std::int16_t>> ReserveSamples(std::uint64_t values, std::string& refusal)
{
    if (values > kMaxOutputValues) {
        refusal = "the recording is too long for a wave file";
        return std::nullopt;
    }
    try {
        return std::vector<std::int16_t>(static_cast<std::size_t>(values));
    } catch (const std::bad_alloc&) {
        refusal = "not enough memory for the decoded recording";
        return std::nullopt;
    }
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
    std::int32_t stepIndex = 0; // index x 8
};

// Decodes the 8 codes of one 4-byte group, low nibble first, keeping the first `stored` values
// at out[0], out[Channels], ... The difference comes from the step in force before each code.
template <std::uint32_t Channels>
inline __attribute__((always_inline)) void DecodeGroup(std::uint32_t word, ChannelState& state, std::int16_t* out,
                                                       std::uint32_t stored, const std::int32_t* diff,
                                                       const std::int16_t* next)
{
    std::int32_t p = state.predictor;
    std::int32_t stepIndex = state.stepIndex;
    for (std::uint32_t k = 0; k < 8; ++k, word >>= 4) {
        const std::uint32_t code = word & 0xF;
        const std::uint32_t i = static_cast<std::uint32_t>(stepIndex) | (code & 7);
        stepIndex = next[i];
        p += (code & 8) ? -diff[i] : diff[i];
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

std::optional<std::vector<std::int16_t>> DecodeImaData(std::FILE* input, const FormatRecord& format,
                                                       std::uint32_t dataBytes, std::string& refusal)
{
    const std::optional<ImaLayout> layout = ImaLayoutFor(format, dataBytes, refusal);
    if (!layout)
        return std::nullopt;
    const std::uint64_t totalValues = layout->samplesPerChannel * layout->channels;
    std::optional<std::vector<std::int16_t>> samples = ReserveSamples(totalValues, refusal);
    if (!samples)
        return std::nullopt;

    const std::uint32_t valuesPerBlock = layout->samplesPerBlock * layout->channels;
    std::vector<unsigned char> block(layout->blockBytes);
    std::uint32_t unread = dataBytes;
    for (std::uint64_t start = 0; start < totalValues; start += valuesPerBlock) {
        const std::uint32_t wanted = std::min(layout->blockBytes, unread);
        const std::size_t got = std::fread(block.data(), 1, wanted, input);
        unread -= wanted;
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.end(), 0);
        const auto valueCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(valuesPerBlock, totalValues - start));
        DecodeImaBlock(block.data(), layout->blockBytes, static_cast<std::uint32_t>(got),
                       samples->data() + start, layout->channels, valueCount);
    }
    return samples;
}

std::optional<std::vector<std::int16_t>> ReadPcmData(std::FILE* input, const FormatRecord& format,
                                                     std::uint32_t dataBytes, std::string& refusal)
{
    if (format.channels == 0 || format.channels > 2) {
        refusal = "PCM with " + std::to_string(format.channels) + " channels cannot be played";
        return std::nullopt;
    }
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
        refusal = "PCM with " + std::to_string(format.bitsPerSample) + " bits per sample cannot be played";
        return std::nullopt;
    }
    const std::uint64_t samplesPerChannel = std::uint64_t{dataBytes} * 8 / format.bitsPerSample / format.channels;
    const std::uint64_t values = samplesPerChannel * format.channels;
    std::optional<std::vector<std::int16_t>> samples = ReserveSamples(values, refusal);
    if (!samples)
        return std::nullopt;
    if (format.bitsPerSample == 16) {
        // Samples the file does not hold stay silent.
        std::fread(samples->data(), sizeof(std::int16_t), samples->size(), input);
        SwapToOrFromLittleEndian(*samples);
        return samples;
    }
    std::vector<unsigned char> chunk(kInputBufferBytes);
    for (std::size_t done = 0; done < samples->size();) {
        const std::size_t got = std::fread(chunk.data(), 1, std::min(chunk.size(), samples->size() - done), input);
        if (got == 0)
            break;
        for (std::size_t i = 0; i < got; ++i)
            (*samples)[done + i] = static_cast<std::int16_t>((chunk[i] - 128) * 256);
        done += got;
    }
    return samples;
}

bool Refuse(std::string* refusal, const std::string& why)
{
    if (refusal)
        *refusal = why;
    return false;
}

bool WriteOutput(const std::string& outputPath, std::vector<std::int16_t>& samples, std::string* refusal)
{
    TempFile temp = CreateTempFileBeside(outputPath, 0644);
    if (temp.fd < 0)
        return Refuse(refusal, "cannot create a file beside " + outputPath + ": " + std::strerror(errno));
    SwapToOrFromLittleEndian(samples);
    const std::size_t bytes = samples.size() * sizeof(std::int16_t);
    if (!WriteWaveHeader(temp.fd, static_cast<std::uint32_t>(bytes)) || !WriteAllBytes(temp.fd, samples.data(), bytes)) {
        const int error = errno;
        DiscardTempFile(temp);
        return Refuse(refusal, "cannot write " + outputPath + ": " + std::strerror(error));
    }
    // The output is made again from its recording whenever it is needed.
    const FileError committed = CommitTempFile(temp, outputPath, Flush::LeaveToSystem);
    if (!committed)
        return Refuse(refusal, committed.message);
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
    // A short format chunk leaves the fields it lacks at zero, which the checks below refuse.
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
    const auto dataBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(*claimedDataBytes, available));

    const FormatRecord format = ParseFormatRecord(record);
    switch (format.formatTag) {
    case kFormatImaAdpcm:
        return DecodeImaData(input, format, dataBytes, refusal);
    case kFormatPcm:
        return ReadPcmData(input, format, dataBytes, refusal);
    default: {
        char tag[8];
        std::snprintf(tag, sizeof tag, "0x%04X", format.formatTag);
        refusal = std::string("format ") + tag + " is neither PCM nor IMA ADPCM";
        return std::nullopt;
    }
    }
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
    std::vector<char> inputBuffer(kInputBufferBytes);
    std::setvbuf(input, inputBuffer.data(), _IOFBF, inputBuffer.size());
    std::string why;
    std::optional<std::vector<std::int16_t>> samples = DecodeRecording(input, static_cast<std::uint64_t>(info.st_size), why);
    std::fclose(input);
    if (!samples)
        return Refuse(refusal, why);
    return WriteOutput(outputPath, *samples, refusal);
}
