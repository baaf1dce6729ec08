#include "audio/call_file.h"

#include "audio/adpcm_converter.h"
#include "platform/atomic_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Samples handed to libsndfile at a time; a stop is seen between two runs.
constexpr std::size_t kRunFrames = 16384;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

int SndfileFormat(CallFormat format)
{
    switch (format) {
    case CallFormat::Wav:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case CallFormat::Flac:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case CallFormat::Mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case CallFormat::Opus:
        break;
    }
    return SF_FORMAT_OGG | SF_FORMAT_OPUS;
}

Failure WriteFailure(const std::string& outputPath, const std::string& what, int error)
{
    std::string reason = "cannot write " + outputPath + ": " + what;
    if (error != 0)
        reason += std::string(": ") + std::strerror(error);
    return Failure{std::move(reason), error, outputPath};
}

// An ID3v2.4 frame size, and the tag's: 7 bits a byte, the highest first.
void AppendSynchsafe(std::string& bytes, std::size_t size)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        bytes.push_back(static_cast<char>((size >> shift) & 0x7f));
}

void AppendId3Frame(std::string& tag, const char (&id)[5], const std::string& body)
{
    tag.append(id, 4);
    AppendSynchsafe(tag, body.size());
    tag.append(2, '\0');
    tag += body;
}

// An ID3v2.4 tag with UTF-8 text frames. LAME, which libsndfile writes MP3 with, writes its
// texts as Latin-1 only, so the Chinese details would arrive garbled; the tag is written here
// instead, ahead of the MPEG stream.
std::string Id3Tag(const CallTags& tags)
{
    constexpr char kUtf8 = 3;
    std::string frames;
    const std::pair<const char (*)[5], const std::string*> texts[] = {
        {&"TIT2", &tags.title}, {&"TCON", &tags.genre}, {&"TALB", &tags.album}, {&"TDRC", &tags.date}};
    for (const auto& [id, text] : texts) {
        if (!text->empty())
            AppendId3Frame(frames, *id, kUtf8 + *text);
    }
    if (!tags.comment.empty())
        AppendId3Frame(frames, "COMM", std::string(1, kUtf8) + "zho" + '\0' + tags.comment);
    if (frames.empty())
        return {};
    std::string tag("ID3\x04\x00\x00", 6);
    AppendSynchsafe(tag, frames.size());
    return tag + frames;
}

// The tags go in before any sample.
Result<void> SetTags(SNDFILE* file, const CallTags& tags, const std::string& outputPath)
{
    const std::pair<int, const std::string*> fields[] = {{SF_STR_TITLE, &tags.title},
                                                         {SF_STR_COMMENT, &tags.comment},
                                                         {SF_STR_GENRE, &tags.genre},
                                                         {SF_STR_ALBUM, &tags.album},
                                                         {SF_STR_DATE, &tags.date}};
    for (const auto& [field, text] : fields) {
        if (!text->empty() && sf_set_string(file, field, text->c_str()) != 0)
            return WriteFailure(outputPath, sf_strerror(file), 0);
    }
    return {};
}

// The encoder's output file. libsndfile's MPEG encoder notes a short write only in its log, and
// its close writes the last frames and headers without looking at the outcome, so a full disk
// would pass as a written file: every byte goes through these calls, which keep the first
// failure. Positions are counted from base, where the encoder's stream starts (after the ID3 tag
// written ahead of it).
struct EncoderOutput {
    int fd = -1;
    off_t base = 0;
    int error = 0; // errno of the first failed write or seek
};

EncoderOutput& OutputOf(void* data)
{
    return *static_cast<EncoderOutput*>(data);
}

sf_count_t OutputLength(void* data)
{
    struct stat info {};
    return ::fstat(OutputOf(data).fd, &info) == 0 ? info.st_size - OutputOf(data).base : -1;
}

sf_count_t OutputSeek(sf_count_t offset, int whence, void* data)
{
    EncoderOutput& output = OutputOf(data);
    const off_t from = whence == SEEK_SET ? output.base : 0;
    const off_t position = ::lseek(output.fd, from + offset, whence);
    if (position < 0) {
        output.error = output.error != 0 ? output.error : errno;
        return -1;
    }
    return position - output.base;
}

sf_count_t OutputRead(void* buffer, sf_count_t count, void* data)
{
    const ssize_t got = ::read(OutputOf(data).fd, buffer, static_cast<std::size_t>(count));
    return got < 0 ? 0 : got;
}

sf_count_t OutputWrite(const void* bytes, sf_count_t count, void* data)
{
    EncoderOutput& output = OutputOf(data);
    if (output.error != 0)
        return 0;
    if (!WriteAllBytes(output.fd, bytes, static_cast<std::size_t>(count))) {
        output.error = errno != 0 ? errno : EIO;
        return 0;
    }
    return count;
}

sf_count_t OutputTell(void* data)
{
    return OutputSeek(0, SEEK_CUR, data);
}

// The little-endian samples of data, frame by frame, a run at a time.
Result<void> WriteSamples(SNDFILE* file, const EncoderOutput& output, const LoadedWave& wave,
                          const std::string& outputPath, const std::atomic<bool>* stopRequested)
{
    const std::size_t channels = std::max<std::size_t>(wave.format.channels, 1);
    const std::size_t totalFrames = wave.data.size() / (2 * channels);
    std::vector<short> run(kRunFrames * channels);
    for (std::size_t done = 0; done < totalFrames;) {
        if (stopRequested && stopRequested->load())
            return Failure{"stopped", 0, outputPath};
        const std::size_t frames = std::min(kRunFrames, totalFrames - done);
        const unsigned char* bytes = wave.data.data() + done * channels * 2;
        for (std::size_t i = 0; i < frames * channels; ++i)
            run[i] = static_cast<short>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        const sf_count_t written = sf_writef_short(file, run.data(), static_cast<sf_count_t>(frames));
        if (output.error != 0)
            return WriteFailure(outputPath, "cannot write the samples", output.error);
        if (written != static_cast<sf_count_t>(frames))
            return WriteFailure(outputPath, sf_strerror(file), 0);
        done += frames;
    }
    return {};
}

Result<void> EncodeInto(int fd, const LoadedWave& wave, CallFormat format, const CallTags& tags,
                        const std::string& outputPath, const std::atomic<bool>* stopRequested)
{
    EncoderOutput output{fd};
    if (format == CallFormat::Mp3) {
        const std::string id3 = Id3Tag(tags);
        if (!WriteAllBytes(fd, id3.data(), id3.size()))
            return WriteFailure(outputPath, "cannot write the tags", errno);
        output.base = static_cast<off_t>(id3.size());
    }
    SF_VIRTUAL_IO calls{OutputLength, OutputSeek, OutputRead, OutputWrite, OutputTell};
    SF_INFO info{};
    info.samplerate = static_cast<int>(wave.format.samplesPerSecond);
    info.channels = std::max<int>(wave.format.channels, 1);
    info.format = SndfileFormat(format);
    SndfileHandle file(sf_open_virtual(&calls, SFM_WRITE, &info, &output));
    if (!file)
        return WriteFailure(outputPath, sf_strerror(nullptr), output.error);
    if (Result<void> tagged = format == CallFormat::Mp3 ? Result<void>() : SetTags(file.get(), tags, outputPath);
        !tagged)
        return tagged;
    if (Result<void> written = WriteSamples(file.get(), output, wave, outputPath, stopRequested); !written)
        return written;
    // Closing writes what the encoder still holds and the final header.
    const int closed = sf_close(file.release());
    if (output.error != 0)
        return WriteFailure(outputPath, "cannot write the end of the file", output.error);
    if (closed != 0)
        return WriteFailure(outputPath, sf_error_number(closed), 0);
    return {};
}

} // namespace

std::optional<CallFormat> CallFormatOfPath(std::string_view path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
        return std::nullopt;
    std::string extension(path.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    for (const CallFormat format : {CallFormat::Wav, CallFormat::Flac, CallFormat::Mp3, CallFormat::Opus}) {
        if (extension == CallFormatExtension(format))
            return format;
    }
    // Players take an .ogg file for Ogg, which is where the Opus stream is carried.
    if (extension == "ogg")
        return CallFormat::Opus;
    return std::nullopt;
}

std::string_view CallFormatExtension(CallFormat format)
{
    switch (format) {
    case CallFormat::Wav:
        return "wav";
    case CallFormat::Flac:
        return "flac";
    case CallFormat::Mp3:
        return "mp3";
    case CallFormat::Opus:
        break;
    }
    return "opus";
}

Result<void> WriteCallFile(const LoadedWave& wave, CallFormat format, const CallTags& tags,
                           const std::string& outputPath, const std::atomic<bool>* stopRequested)
{
    TempFile temp = CreateTempFileForSave(outputPath, SharedFileMode());
    if (temp.fd < 0)
        return WriteFailure(outputPath, "cannot create the file", errno);
    if (Result<void> encoded = EncodeInto(temp.fd, wave, format, tags, outputPath, stopRequested); !encoded) {
        DiscardTempFile(temp);
        return encoded;
    }
    if (Result<void> committed = CommitTempFile(temp, outputPath); !committed)
        return Failure{committed.error().reason, committed.error().error, outputPath};
    return {};
}

Result<void> SaveRecordingAs(const std::string& recordingPath, CallFormat format, const CallTags& tags,
                             const std::string& outputPath, const std::atomic<bool>* stopRequested)
{
    const Result<LoadedWave> decoded = DecodeToPcmWave(OpenRegularFile(recordingPath));
    if (!decoded)
        return Failure{decoded.error().reason, decoded.error().error, recordingPath};
    return WriteCallFile(*decoded, format, tags, outputPath, stopRequested);
}

Result<void> SaveRecordingAs(int recordingFd, CallFormat format, const CallTags& tags, const std::string& outputPath,
                             const std::atomic<bool>* stopRequested)
{
    const Result<LoadedWave> decoded = DecodeToPcmWave(OpenRegularFile(recordingFd));
    if (!decoded)
        return decoded.error();
    return WriteCallFile(*decoded, format, tags, outputPath, stopRequested);
}
