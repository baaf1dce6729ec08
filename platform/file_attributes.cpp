#include "platform/file_attributes.h"
#include "platform/file_attributes_at.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// The DOS attribute byte as the kernel's FAT driver keeps it, or nothing when the
// driver does not answer. Windows reports a file without any bit as "normal" (0x80).
bool ReadFatAttributes(int dirFd, const char* name, std::uint32_t& attributes)
{
    const UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid())
        return false;
    __u32 dosAttributes = 0;
    if (::ioctl(fd.get(), FAT_IOCTL_GET_ATTRIBUTES, &dosAttributes) != 0)
        return false;
    attributes = dosAttributes == 0 ? kAttrNormal : dosAttributes;
    return true;
}

bool IsDotName(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The word made up from the file's type, its owner write bit and its name.
// Special files (pipes, sockets, devices) get the system bit, so that no listing
// rule takes them: opening a pipe to read a header would block.
std::uint32_t MadeUpAttributes(const struct stat& info, const char* name)
{
    std::uint32_t attributes = 0;
    if (S_ISLNK(info.st_mode))
        attributes = kAttrReparsePoint;
    else if (S_ISDIR(info.st_mode))
        attributes = kAttrDirectory;
    else if (S_ISREG(info.st_mode))
        attributes = kAttrArchive;
    else
        attributes = kAttrSystem;
    if ((info.st_mode & S_IWUSR) == 0 && !S_ISLNK(info.st_mode))
        attributes |= kAttrReadOnly;
    if (name[0] == '.' && !IsDotName(name))
        attributes |= kAttrHidden;
    return attributes;
}

// Splits a path into the folder that holds the entry and the entry's name; trailing
// slashes name the entry itself. "/" is the entry "." of the folder "/".
void SplitPath(const std::string& path, std::string& folder, std::string& name)
{
    const std::size_t last = path.find_last_not_of('/');
    if (last == std::string::npos) {
        folder = "/";
        name = ".";
        return;
    }
    const std::string trimmed = path.substr(0, last + 1);
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = trimmed;
    } else {
        folder = slash == 0 ? std::string("/") : trimmed.substr(0, slash);
        name = trimmed.substr(slash + 1);
    }
}

} // namespace

bool IsFatVolume(int fd)
{
    struct statfs info {};
    return ::fstatfs(fd, &info) == 0 && info.f_type == MSDOS_SUPER_MAGIC;
}

std::uint32_t FileAttributesAt(int dirFd, const char* name, bool onFatVolume, struct stat* status)
{
    struct stat own {};
    struct stat& info = status ? *status : own;
    if (::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return kInvalidAttributes;
    std::uint32_t attributes = 0;
    if (onFatVolume && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
        && ReadFatAttributes(dirFd, name, attributes))
        return attributes;
    return MadeUpAttributes(info, name);
}

std::uint32_t FileAttributes(const std::string& path)
{
    if (path.empty())
        return kInvalidAttributes;
    // The FAT test asks the folder that holds the entry: a symbolic link's own volume.
    std::string folder;
    std::string name;
    SplitPath(path, folder, name);
    const UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.valid())
        return kInvalidAttributes;
    return FileAttributesAt(dirFd.get(), name.c_str(), IsFatVolume(dirFd.get()));
}

std::optional<FolderIdentity> IdentityOfFolder(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FolderIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}
