#pragma once

#include "audio/riff_file.h"
#include "platform/result.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Turns a recorder file (RIFF WAVE holding IMA ADPCM, or plain PCM) into a 16-bit PCM wave
// file that the player streams. Every size read from the input is treated as untrusted: it
// is checked against what the file really holds before anything is reserved or read.

inline constexpr std::uint16_t kFormatPcm = 1;
inline constexpr std::uint16_t kFormatImaAdpcm = 0x0011;
inline constexpr std::uint32_t kWaveHeaderBytes = 60;
inline constexpr std::uint32_t kFormatRecordBytes = 64;
inline constexpr int kImaTableSize = 89 * 16;

// Indexed by step index x 16 + a 4-bit code: the difference the code adds to the predictor,
// negative when its sign bit is set. The differences reach 61,436 at the top of the step
// table, so they are held in 32 bits.
const std::array<std::int32_t, kImaTableSize>& DiffTable();
// The next step index for the same position, already multiplied by 16.
const std::array<std::int16_t, kImaTableSize>& NextIndexTable();

// The first fields of a "fmt " body, and the IMA ADPCM block size after them; missing fields
// read as zero.
struct FormatRecord : WaveFormat {
    std::uint16_t samplesPerBlock = 0;
};
FormatRecord ParseFormatRecord(const unsigned char (&bytes)[kFormatRecordBytes]);

// How the "data" body of an IMA ADPCM input splits into blocks and samples.
struct ImaLayout {
    std::uint32_t channels = 0;
    std::uint32_t samplesPerBlock = 0;
    std::uint32_t blockBytes = 0;
    std::uint32_t blocks = 0; // a final partial block counts as a block
    std::uint64_t samplesPerChannel = 0;
};
// Refuses channel counts other than 1 and 2 and block sizes whose groups would not line up
// with the block's end.
Result<ImaLayout> ImaLayoutFor(const FormatRecord& format, std::uint32_t dataBytes);

// What the chunks of a recording say about its samples, known before the first one is decoded.
struct RecordingData {
    FormatRecord format;
    std::uint32_t bytes = 0;      // what the file really holds of the claimed data
    std::optional<ImaLayout> ima; // set for IMA ADPCM
    std::uint64_t values = 0;     // interleaved output values
};

// Writes the 60-byte header: 1 channel, 8000 samples per second, 16 bits, whatever the input was.
bool WriteWaveHeader(int fd, std::uint32_t outputDataBytes);
std::array<unsigned char, kWaveHeaderBytes> WaveHeaderBytes(std::uint32_t outputDataBytes);

// Decodes one block into valueCount interleaved samples. block holds blockBytes bytes, of
// which only presentBytes came from the file: values whose codes lie beyond them stay silent.
void DecodeImaBlock(const unsigned char* block, std::uint32_t blockBytes, std::uint32_t presentBytes,
                    std::int16_t* destination, std::uint32_t channels, std::uint32_t valueCount);

// Decodes a whole recording from the stream (positioned at its start); fileSize is the real
// size of what the stream holds. Fails with the reason when the recording is refused or a read fails.
Result<std::vector<std::int16_t>> DecodeRecording(std::FILE* input, std::uint64_t fileSize);

// Converts inputPath into a PCM wave file at outputPath, written beside it under a temporary
// name and renamed into place (a symbolic link at outputPath is replaced, not followed). The
// recording is decoded and written a run of blocks at a time, so memory stays small however long
// it is. Fails when the input is refused or cannot be read, or the output cannot be written;
// outputPath is then untouched.
Result<void> ConvertToPcmWave(const std::string& outputPath, const std::string& inputPath);

// Decodes inputPath a run of blocks at a time without keeping its sound, for work that needs
// each value once: begin learns how many interleaved values will come, then sink gets each run
// of them in order (a failure from sink ends the decoding with it).
using DecodedRuns = std::function<Result<void>(std::int16_t* values, std::size_t count)>;
Result<void> DecodeRecordingRuns(const std::string& inputPath, const std::function<void(std::uint64_t values)>& begin,
                                 const DecodedRuns& sink);
// The same over a recording already opened (OpenRegularFile).
Result<void> DecodeRecordingRuns(Result<OpenedFile> input, const std::function<void(std::uint64_t values)>& begin,
                                 const DecodedRuns& sink);

// A recording opened to be decoded a part at a time: any range of its 16-bit PCM output is
// decoded from the blocks that cover it alone, since every IMA ADPCM block starts afresh from
// its own header. The player decodes each buffer this way just before it is queued.
class RecordingDecoder {
public:
    // Fails as ConvertToPcmWave does when the recording is refused or cannot be read.
    static Result<RecordingDecoder> Open(const std::string& path);
    // The same over a descriptor the caller keeps open (see OpenRegularFile(int)).
    static Result<RecordingDecoder> Open(int fd);
    // The same over a stream at the start of a recording of fileSize bytes.
    static Result<RecordingDecoder> Open(FileStream stream, std::uint64_t fileSize);

    // The bytes of 16-bit PCM the whole recording decodes to, as ConvertToPcmWave writes them.
    std::uint32_t OutputBytes() const { return static_cast<std::uint32_t>(data_.values * sizeof(std::int16_t)); }
    // The format of those bytes: 1 channel, 8000 samples per second, 16 bits.
    static WaveFormat OutputFormat();
    // Copies the output bytes from offset on into out, each as ConvertToPcmWave writes it, and
    // returns how many: fewer than count where the output ends, or where the file holds no more
    // (cut short or unreadable since it was opened), and the output with it.
    std::size_t DecodeBytes(std::uint64_t offset, unsigned char* out, std::size_t count);

private:
    static Result<RecordingDecoder> Open(Result<OpenedFile> input);
    RecordingDecoder(FileStream stream, const RecordingData& data, std::uint64_t dataStart);
    // Reads the values from first up to end into values_; how many of them the file held.
    std::size_t DecodeValues(std::uint64_t first, std::uint64_t end);

    FileStream stream_;
    RecordingData data_;
    std::uint64_t dataStart_ = 0; // file offset of the first data byte
    std::vector<unsigned char> read_;
    std::vector<std::int16_t> values_;
};

// Decodes inputPath into memory as the PCM wave ConvertToPcmWave would write: the decoded sound
// stays private to the process. Fails as ConvertToPcmWave does when the input is refused or
// cannot be read, or when there is not enough memory for it.
Result<LoadedWave> DecodeToPcmWave(const std::string& inputPath);
// The same over a recording already opened (OpenRegularFile).
Result<LoadedWave> DecodeToPcmWave(Result<OpenedFile> input);
// The same for a recording of fileSize bytes read from the stream (positioned at its start).
Result<LoadedWave> DecodeToPcmWave(std::FILE* input, std::uint64_t fileSize);
