#include "audio/riff_file.h"

#include "platform/byte_order.h"
#include "platform/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

Result<OpenedFile> OpenRegularFile(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return Failure{"cannot open " + path + ": " + std::strerror(errno), errno, path};
    Result<OpenedFile> opened = OpenRegularFile(fd.get());
    if (!opened)
        return Failure{path + ": " + opened.error().reason, opened.error().error, path};
    return opened;
}

Result<OpenedFile> OpenRegularFile(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return Failure{"not a regular file"};
    // A stream of its own over the same open file: the caller keeps its descriptor.
    UniqueFd own(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    FileStream stream(own.valid() ? ::fdopen(own.get(), "rb") : nullptr);
    if (!stream)
        return Failure{std::string("cannot read: ") + std::strerror(errno), errno};
    own.release(); // the stream owns it now
    if (::fseeko(stream.get(), 0, SEEK_SET) != 0)
        return Failure{std::string("cannot read: ") + std::strerror(errno), errno};
    return OpenedFile{std::move(stream), static_cast<std::uint64_t>(info.st_size)};
}

WaveFormat ParseWaveFormat(const unsigned char* fields)
{
    WaveFormat format;
    format.formatTag = ReadLe16(fields);
    format.channels = ReadLe16(fields + 2);
    format.samplesPerSecond = ReadLe32(fields + 4);
    format.averageBytesPerSecond = ReadLe32(fields + 8);
    format.blockAlign = ReadLe16(fields + 12);
    format.bitsPerSample = ReadLe16(fields + 14);
    return format;
}

bool SkipForward(std::FILE* stream, std::uint32_t bytes)
{
    return bytes == 0 || ::fseeko(stream, static_cast<off_t>(bytes), SEEK_CUR) == 0;
}

std::optional<std::uint32_t> FindChunk(std::FILE* stream, const char (&id)[5])
{
    for (;;) {
        unsigned char header[8];
        if (std::fread(header, 1, sizeof header, stream) != sizeof header)
            return std::nullopt;
        const std::uint32_t size = ReadLe32(header + 4);
        if (std::memcmp(header, id, 4) == 0)
            return size;
        if (!SkipForward(stream, size))
            return std::nullopt;
    }
}

std::uint64_t BytesAfterPosition(std::FILE* stream, std::uint64_t fileSize)
{
    const off_t position = ::ftello(stream);
    return position >= 0 && fileSize > static_cast<std::uint64_t>(position) ? fileSize - position : 0;
}
