#include "platform/config_file.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"
#include "platform/text_codec.h"
#include "platform/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lines as they are stored: GB18030 bytes without their line endings. Writers keep the
// lines they do not own byte for byte, even where the bytes would not decode.
using RawLines = std::vector<std::string>;

Failure CannotOpen(const std::string& path)
{
    return Failure{"Cannot open file " + path};
}

Failure CannotCreate(const std::string& path)
{
    return Failure{"Cannot create file " + path};
}

bool ReadAll(int fd, std::string& bytes)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

// A missing file (or a missing folder on the way to it) has no lines. Anything that is not a
// plain readable file is refused; O_NONBLOCK keeps a FIFO in its place from blocking the start.
Result<RawLines> ReadRawLines(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            return RawLines{};
        return CannotOpen(path);
    }
    struct stat info {};
    std::string bytes;
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || !ReadAll(fd.get(), bytes))
        return CannotOpen(path);
    return SplitConfigLines(bytes);
}

bool HoldsLineEnding(std::string_view line)
{
    return line.find_first_of("\r\n") != std::string_view::npos;
}

Result<void> WriteRawLines(const RawLines& lines, const std::string& path)
{
    std::string bytes;
    for (const std::string& line : lines) {
        // A line ending inside a line would shift the password into another line on the next read.
        if (HoldsLineEnding(line))
            return CannotCreate(path);
        bytes += line;
        bytes += "\r\n";
    }
    const std::string folder = std::filesystem::path(path).parent_path();
    if ((!folder.empty() && !MakeOwnFolder(folder)) || !WriteFileAtomically(path, bytes, kPrivateFileMode, true))
        return CannotCreate(path);
    return {};
}

ConfigLines Decoded(const RawLines& lines)
{
    ConfigLines decoded;
    decoded.reserve(lines.size());
    for (const std::string& line : lines)
        decoded.push_back(Gb18030ToUtf8(line));
    return decoded;
}

// Every writer reads the file afresh, changes its own line and writes all lines back.
Result<ConfigLines> RewriteLines(const std::string& path, const std::function<void(RawLines&)>& change)
{
    Result<RawLines> lines = ReadRawLines(path);
    if (!lines)
        return lines.error();
    change(*lines);
    if (Result<void> written = WriteRawLines(*lines, path); !written)
        return written.error();
    return Decoded(*lines);
}

} // namespace

const std::string& ConfigFilePath()
{
    static const std::string path = ConfigDir() + "/qzacfg.cfg";
    return path;
}

std::vector<std::string> SplitConfigLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(bytes.substr(start));
            break;
        }
        lines.emplace_back(bytes.substr(start, end - start));
        const bool crLf = bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
        start = end + (crLf ? 2 : 1);
    }
    return lines;
}

Result<ConfigLines> ReadConfigLines(const std::string& path)
{
    Result<RawLines> lines = ReadRawLines(path);
    if (!lines)
        return lines.error();
    return Decoded(*lines);
}

Result<void> WriteConfigLines(const ConfigLines& lines, const std::string& path)
{
    RawLines raw;
    raw.reserve(lines.size());
    for (const std::string& line : lines)
        raw.push_back(Utf8ToGb18030(line));
    return WriteRawLines(raw, path);
}

Result<ConfigLines> StorePassword(const std::string& password, const std::string& path)
{
    return RewriteLines(path, [&](RawLines& lines) {
        if (lines.empty())
            lines.push_back(Utf8ToGb18030(DefaultUploadPath()));
        if (lines.size() == 1)
            lines.push_back(Utf8ToGb18030(password));
        else
            lines[1] = Utf8ToGb18030(password);
    });
}

Result<ConfigLines> SaveUploadPath(const std::string& uploadPath, const std::string& path)
{
    return RewriteLines(path, [&](RawLines& lines) {
        if (lines.empty())
            lines.push_back(Utf8ToGb18030(uploadPath));
        else
            lines[0] = Utf8ToGb18030(uploadPath);
    });
}

Result<std::string> StoredPassword(const std::string& path)
{
    const Result<RawLines> lines = ReadRawLines(path);
    if (!lines)
        return lines.error();
    return lines->size() >= 2 ? Gb18030ToUtf8((*lines)[1]) : std::string();
}

Result<bool> NeedLogin(const std::string& path)
{
    const Result<std::string> password = StoredPassword(path);
    if (!password)
        return password.error();
    return !password->empty();
}
