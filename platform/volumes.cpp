#include "platform/volumes.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

namespace {

// One line of the mount table.
struct MountEntry {
    int id = 0;
    int parentId = 0;
    std::string device;     // "major:minor"
    std::string mountPoint; // decoded, without a trailing "/" (except "/")
    std::string fsType;
    std::string source;
};

constexpr std::array kPseudoTypes = {
    "proc",      "sysfs",      "cgroup",     "cgroup2",  "devpts",     "devtmpfs",    "debugfs",
    "tracefs",   "securityfs", "sockfs",     "bpf",      "pipefs",     "hugetlbfs",   "mqueue",
    "pstore",    "binfmt_misc", "configfs",  "fusectl",  "autofs",     "efivarfs",    "rpc_pipefs",
    "nfsd",      "selinuxfs",  "nsfs",       "cpuset",     "functionfs", "fuse.gvfsd-fuse", "fuse.portal",
    "fuse.lxcfs",
};
constexpr std::array kRemoteTypes = {
    "nfs",        "nfs4",        "cifs",       "smb3",       "smbfs",     "ncpfs",     "afs",
    "9p",         "ceph",        "glusterfs",  "lustre",     "davfs",     "coda",      "fuse.sshfs",
    "fuse.rclone", "fuse.s3fs",  "fuse.gcsfuse", "fuse.curlftpfs", "fuse.davfs2", "fuse.glusterfs",
    "fuse.cephfs", "fuse.smbnetfs",
};
constexpr std::array kCdRomTypes = {"iso9660", "udf"};
constexpr std::array kRamDiskTypes = {"tmpfs", "ramfs"};
// Path components of a sysfs device that sit on a bus of plug-in media.
constexpr std::array kPlugInBusPrefixes = {"usb", "ieee1394", "firewire", "mmc", "memstick"};

template <std::size_t N>
bool IsOneOf(std::string_view value, const std::array<const char*, N>& list)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool IsOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

// The kernel writes space, tab, newline and backslash in paths as \040, \011, \012, \134.
std::string DecodeOctalEscapes(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && IsOctalDigit(text[i + 1]) && IsOctalDigit(text[i + 2])
            && IsOctalDigit(text[i + 3])) {
            const int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            if (value <= 0xFF) {
                decoded += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

// "id parent major:minor root mountpoint options [optional fields] - fstype source superoptions"
bool ParseMountLine(const std::string& line, MountEntry& entry)
{
    std::istringstream fields(line);
    std::string root;
    std::string mountPoint;
    std::string options;
    if (!(fields >> entry.id >> entry.parentId >> entry.device >> root >> mountPoint >> options))
        return false;
    std::string field;
    while (fields >> field && field != "-") {
    }
    if (field != "-" || !(fields >> entry.fsType))
        return false;
    fields >> entry.source;  // may be missing on odd tables
    entry.mountPoint = DecodeOctalEscapes(mountPoint);
    entry.source = DecodeOctalEscapes(entry.source);
    return !entry.mountPoint.empty() && entry.mountPoint.front() == '/';
}

std::vector<MountEntry> ReadMountTable(const std::string& path)
{
    std::vector<MountEntry> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        MountEntry entry;
        if (ParseMountLine(line, entry))
            entries.push_back(std::move(entry));
    }
    return entries;
}

bool IsPseudo(const MountEntry& entry)
{
    return IsOneOf(entry.fsType, kPseudoTypes);
}

// A mount that hangs inside a pseudo file system (the tmpfs at /sys/fs/cgroup, the one at
// /dev/shm) is part of the kernel's own tree, not a volume of the user.
bool LiesInsidePseudoTree(const MountEntry& entry, const std::map<int, const MountEntry*>& byId)
{
    int parentId = entry.parentId;
    for (std::size_t depth = 0; depth < byId.size(); ++depth) {
        const auto parent = byId.find(parentId);
        if (parent == byId.end() || parent->second->id == parent->second->parentId)
            return false;
        if (IsPseudo(*parent->second))
            return true;
        parentId = parent->second->parentId;
    }
    return false;
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool FileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

std::string ResolvedPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// The sysfs folder of the mount's block device, resolved through /sys/dev/block/MAJ:MIN,
// or through /sys/class/block/NAME for a /dev/NAME source. Empty when there is none.
std::string BlockDeviceFolder(const MountEntry& entry, const std::string& sysfsRoot)
{
    std::vector<std::string> candidates{sysfsRoot + "/dev/block/" + entry.device};
    if (StartsWith(entry.source, "/dev/"))
        candidates.push_back(sysfsRoot + "/class/block/" + entry.source.substr(entry.source.rfind('/') + 1));
    for (const std::string& candidate : candidates) {
        std::string folder = ResolvedPath(candidate);
        if (!folder.empty())
            return folder;
    }
    return {};
}

std::string LastComponent(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

std::string ParentFolder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// A partition's folder lies inside its disk's folder, which holds "removable".
std::string DiskFolder(const std::string& blockFolder)
{
    return FileExists(blockFolder + "/partition") ? ParentFolder(blockFolder) : blockFolder;
}

// deviceFolder lies below the resolved sysfs root; only the part below it names buses.
bool RunsThroughPlugInBus(const std::string& deviceFolder, const std::string& resolvedSysfsRoot)
{
    std::istringstream components(deviceFolder.substr(std::min(resolvedSysfsRoot.size(), deviceFolder.size())));
    std::string component;
    while (std::getline(components, component, '/')) {
        for (const char* prefix : kPlugInBusPrefixes)
            if (StartsWith(component, prefix))
                return true;
    }
    return false;
}

// The kernel names optical drives sr0, sr1, ...
bool IsOpticalDriveName(const std::string& name)
{
    return name.size() > 2 && StartsWith(name, "sr") && name[2] >= '0' && name[2] <= '9';
}

bool IsUnderDesktopMediaFolder(const std::string& mountPoint)
{
    return StartsWith(mountPoint, "/media/") || StartsWith(mountPoint, "/run/media/");
}

VolumeKind KindOf(const MountEntry& entry, const std::string& sysfsRoot, const std::string& resolvedSysfsRoot)
{
    const std::string blockFolder = BlockDeviceFolder(entry, sysfsRoot);
    const std::string diskFolder = blockFolder.empty() ? std::string() : DiskFolder(blockFolder);
    const std::string deviceName = !diskFolder.empty()             ? LastComponent(diskFolder)
                                   : StartsWith(entry.source, "/dev/") ? LastComponent(entry.source)
                                                                       : std::string();
    if (IsOneOf(entry.fsType, kCdRomTypes) || IsOpticalDriveName(deviceName))
        return VolumeKind::CdRom;
    if (IsOneOf(entry.fsType, kRemoteTypes))
        return VolumeKind::Remote;
    if (IsUnderDesktopMediaFolder(entry.mountPoint))
        return VolumeKind::Removable;
    if (IsOneOf(entry.fsType, kRamDiskTypes))
        return VolumeKind::RamDisk;
    if (!diskFolder.empty()
        && (ReadFirstLine(diskFolder + "/removable") == "1" || RunsThroughPlugInBus(blockFolder, resolvedSysfsRoot)))
        return VolumeKind::Removable;
    return VolumeKind::Fixed;
}

} // namespace

std::vector<Volume> ReadVolumes(const VolumeSources& sources)
{
    const std::vector<MountEntry> entries = ReadMountTable(sources.mountInfoPath);
    std::map<int, const MountEntry*> byId;
    // Later lines are mounted on top of earlier ones at the same mount point.
    std::map<std::string, const MountEntry*> topmostByMountPoint;
    for (const MountEntry& entry : entries) {
        byId[entry.id] = &entry;
        topmostByMountPoint[entry.mountPoint] = &entry;
    }
    const std::string resolvedSysfsRoot = ResolvedPath(sources.sysfsRoot);
    std::vector<Volume> volumes;
    for (const auto& [mountPoint, entry] : topmostByMountPoint) {
        if (IsPseudo(*entry) || LiesInsidePseudoTree(*entry, byId))
            continue;
        Volume volume;
        volume.mountPoint = mountPoint == "/" ? mountPoint : mountPoint + "/";
        volume.kind = KindOf(*entry, sources.sysfsRoot, resolvedSysfsRoot);
        volume.fsType = entry->fsType;
        volume.source = entry->source;
        volumes.push_back(std::move(volume));
    }
    return volumes;
}
