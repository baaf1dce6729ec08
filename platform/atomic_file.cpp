#include "platform/atomic_file.h"

#include "platform/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <utility>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

Failure SystemFailure(int error, const std::string& what, const std::string& path = {})
{
    return Failure{what + ": " + std::strerror(error), error, path};
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

DiskFlushCalls& FlushCalls()
{
    static DiskFlushCalls calls;
    return calls;
}

constexpr std::string_view kTempMarker = ".sdvoice-";

// The process that made a temporary file of ours, from its name
// ".NAME.sdvoice-PID.XXXXXX"; 0 when the name is not one of ours.
pid_t TempFileOwner(std::string_view name)
{
    if (name.size() < 2 || name.front() != '.')
        return 0;
    const std::size_t marker = name.rfind(kTempMarker);
    if (marker == std::string_view::npos || marker == 0)
        return 0;
    const std::string_view rest = name.substr(marker + kTempMarker.size());
    const std::size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos || rest.size() - dot - 1 != 6)
        return 0;
    pid_t pid = 0;
    for (const char digit : rest.substr(0, dot)) {
        if (digit < '0' || digit > '9' || pid > 10000000)
            return 0;
        pid = pid * 10 + (digit - '0');
    }
    return pid;
}

// Reads exactly size bytes; false on an error or an early end of the file.
bool ReadAllBytes(int fd, char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool ProcessIsGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

void TightenToPrivate(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 07777) != kPrivateFileMode
        && info.st_uid == ::getuid())
        ::chmod(path.c_str(), kPrivateFileMode);
}

void MakePrivateFile(const std::string& path)
{
    const UniqueFd made(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
    if (!made.valid())
        TightenToPrivate(path);
}

mode_t SharedFileMode()
{
    // Reading the umask through umask() would change it for a moment under every other thread.
    unsigned int mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        }
        std::fclose(status);
    }
    return static_cast<mode_t>(0666 & ~mask);
}

void SetDiskFlushCalls(DiskFlushCalls calls)
{
    FlushCalls() = std::move(calls);
}

void SyncFolder(const std::string& folder)
{
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        FlushCalls().flushFolder(fd.get());
}

TempFile CreateTempFileBeside(const std::string& path, mode_t mode)
{
    TempFile temp;
    std::string pattern =
        FolderOf(path) + "/." + NameOf(path) + std::string(kTempMarker) + std::to_string(::getpid()) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    temp.fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (temp.fd < 0)
        return temp;
    temp.path = buffer.data();
    ::fchmod(temp.fd, mode);
    return temp;
}

TempFile CreateTempFileForSave(const std::string& path, mode_t mode)
{
    RemoveLeftoverTempFiles(FolderOf(path));
    return CreateTempFileBeside(path, mode);
}

void DiscardTempFile(TempFile& temp)
{
    if (temp.fd >= 0)
        ::close(temp.fd);
    if (!temp.path.empty())
        ::unlink(temp.path.c_str());
    temp = TempFile{};
}

Result<void> CommitTempFile(TempFile& temp, const std::string& target)
{
    if (FlushCalls().flushFile(temp.fd) != 0) {
        const int error = errno;
        DiscardTempFile(temp);
        return SystemFailure(error, "cannot flush " + target, target);
    }
    const int fd = temp.fd;
    temp.fd = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        DiscardTempFile(temp);
        return SystemFailure(error, "cannot write " + target, target);
    }
    if (::rename(temp.path.c_str(), target.c_str()) != 0) {
        const int error = errno;
        DiscardTempFile(temp);
        return SystemFailure(error, "cannot replace " + target, target);
    }
    temp = TempFile{};
    SyncFolder(FolderOf(target));
    return {};
}

Result<void> WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode, bool forceMode)
{
    struct stat existing {};
    if (!forceMode && ::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;
    TempFile temp = CreateTempFileForSave(path, mode);
    if (temp.fd < 0)
        return SystemFailure(errno, "cannot create " + path, path);
    if (!WriteAllBytes(temp.fd, bytes.data(), bytes.size())) {
        const int error = errno;
        DiscardTempFile(temp);
        return SystemFailure(error, "cannot write " + path, path);
    }
    return CommitTempFile(temp, path);
}

Result<void> CopyFileAtomically(const std::string& source, const std::string& target)
{
    return CopyFileAtomicallyWith(source, target, ::read);
}

Result<void> CopyFileAtomicallyWith(const std::string& source, const std::string& target, const ReadCall& readCall)
{
    TempFile temp;
    Result<void> copied = CopyToTempFile(source, target, temp, readCall);
    if (!copied)
        return copied;
    return CommitTempFile(temp, target);
}

Result<void> CopyToTempFile(const std::string& source, const std::string& target, TempFile& temp,
                            const ReadCall& readCall, Sha256* digest)
{
    // Not blocking: a pipe named like a recording must fail here, not wait for a writer.
    const UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!in.valid())
        return SystemFailure(errno, "cannot open " + source);
    struct stat info {};
    const int statError = ::fstat(in.get(), &info) != 0 ? errno : 0;
    if (statError != 0 || !S_ISREG(info.st_mode)) {
        const int error = statError != 0 ? statError : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return SystemFailure(error, "cannot read " + source);
    }
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    temp = CreateTempFileBeside(target, info.st_mode & 0777);
    if (temp.fd < 0) {
        const int error = errno;
        return SystemFailure(error, "cannot create a file in the folder of " + target);
    }
    static constexpr std::size_t kBlock = 1 << 20;
    std::vector<char> buffer(kBlock);
    for (;;) {
        const ssize_t got = readCall(in.get(), buffer.data(), kBlock);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || (got > 0 && !WriteAllBytes(temp.fd, buffer.data(), static_cast<std::size_t>(got)))) {
            const int error = errno;
            DiscardTempFile(temp);
            return SystemFailure(error, "cannot copy " + source + " to " + target);
        }
        if (got == 0)
            break;
        if (digest != nullptr)
            digest->Add(buffer.data(), static_cast<std::size_t>(got));
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(temp.fd, times);
    return {};
}

Result<void> CommitTempFiles(std::vector<PendingCopy>& pending)
{
    Result<void> result;
    // One sync of the file system writes every copy back at once and reports any write-back
    // error since the copies were made; only when it fails is each copy flushed on its own.
    const bool allFlushed = !pending.empty() && FlushCalls().flushFileSystem(pending.front().temp.fd) == 0;
    std::size_t committed = 0;
    for (; committed < pending.size(); ++committed) {
        PendingCopy& copy = pending[committed];
        if ((!allFlushed && FlushCalls().flushFile(copy.temp.fd) != 0) || ::close(copy.temp.fd) != 0) {
            const int error = errno;
            copy.temp.fd = -1;
            DiscardTempFile(copy.temp);
            result = SystemFailure(error, "cannot write " + copy.target, copy.target);
            break;
        }
        copy.temp.fd = -1;
        if (::rename(copy.temp.path.c_str(), copy.target.c_str()) != 0) {
            const int error = errno;
            DiscardTempFile(copy.temp);
            result = SystemFailure(error, "cannot replace " + copy.target, copy.target);
            break;
        }
    }
    for (std::size_t rest = committed; rest < pending.size(); ++rest)
        DiscardTempFile(pending[rest].temp);
    std::set<std::string> folders;
    for (std::size_t i = 0; i < committed; ++i)
        folders.insert(FolderOf(pending[i].target));
    for (const std::string& folder : folders)
        SyncFolder(folder);
    pending.clear();
    return result;
}

Result<void> RenameWithoutReplacing(const std::string& from, const std::string& to)
{
    int status = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (status != 0 && (errno == EINVAL || errno == ENOSYS)) {
        struct stat existing {};
        if (::lstat(to.c_str(), &existing) == 0)
            errno = EEXIST;
        else
            status = ::rename(from.c_str(), to.c_str());
    }
    if (status != 0) {
        const int error = errno;
        return SystemFailure(error, "cannot move " + from + " to " + to, to);
    }
    SyncFolder(FolderOf(to));
    SyncFolder(FolderOf(from));
    return {};
}

Result<void> RenameReplacing(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        return SystemFailure(error, "cannot move " + from + " to " + to, to);
    }
    SyncFolder(FolderOf(to));
    SyncFolder(FolderOf(from));
    return {};
}

Result<void> CopyFileWithoutReplacing(const std::string& source, const std::string& target)
{
    TempFile temp;
    if (Result<void> copied = CopyToTempFile(source, target, temp); !copied)
        return copied;
    if (FlushCalls().flushFile(temp.fd) != 0 || ::close(std::exchange(temp.fd, -1)) != 0) {
        const int error = errno;
        DiscardTempFile(temp);
        return SystemFailure(error, "cannot write " + target, target);
    }
    Result<void> renamed = RenameWithoutReplacing(temp.path, target);
    if (!renamed)
        DiscardTempFile(temp);
    return renamed;
}

bool SameSizeAndBytes(const std::string& first, const std::string& second)
{
    const UniqueFd one(::open(first.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const UniqueFd other(::open(second.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat oneInfo {};
    struct stat otherInfo {};
    if (!one.valid() || !other.valid() || ::fstat(one.get(), &oneInfo) != 0 || ::fstat(other.get(), &otherInfo) != 0
        || !S_ISREG(oneInfo.st_mode) || !S_ISREG(otherInfo.st_mode) || oneInfo.st_size != otherInfo.st_size)
        return false;
    static constexpr std::size_t kBlock = 1 << 18;
    std::vector<char> oneBytes(kBlock);
    std::vector<char> otherBytes(kBlock);
    for (off_t left = oneInfo.st_size; left > 0;) {
        const std::size_t size = static_cast<std::size_t>(std::min<off_t>(left, kBlock));
        if (!ReadAllBytes(one.get(), oneBytes.data(), size) || !ReadAllBytes(other.get(), otherBytes.data(), size)
            || std::memcmp(oneBytes.data(), otherBytes.data(), size) != 0)
            return false;
        left -= static_cast<off_t>(size);
    }
    return true;
}

int RemoveLeftoverTempFiles(const std::string& folder)
{
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr)
        return 0;
    int removed = 0;
    const int folderFd = ::dirfd(directory);
    while (const dirent* entry = ::readdir(directory)) {
        const pid_t owner = TempFileOwner(entry->d_name);
        if (owner <= 0 || owner == ::getpid() || !ProcessIsGone(owner))
            continue;
        struct stat info {};
        if (::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
            && ::unlinkat(folderFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(directory);
    return removed;
}

bool WriteAllBytes(int fd, const void* bytes, std::size_t size)
{
    const char* data = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

UniqueFd LockFolder(const std::string& folder)
{
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid() && ::flock(fd.get(), LOCK_EX) != 0) {
        const int error = errno;
        fd.reset();
        errno = error;
    }
    return fd;
}
