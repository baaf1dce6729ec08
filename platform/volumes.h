#pragma once

#include <string>
#include <vector>

// The machine's volumes, read from the mount table and sysfs: what stands in for the
// drive letters and drive types of Windows.

enum class VolumeKind { Removable, Fixed, Remote, CdRom, RamDisk };

struct Volume {
    std::string mountPoint; // with a trailing "/", for example "/media/alice/CARD/"
    VolumeKind kind = VolumeKind::Fixed;
    std::string fsType;     // as mountinfo names it, for example "vfat" or "fuse.fusefat"
    std::string source;     // the mount source, for example "/dev/sdb1"
};

// Where the volume table is read from; tests point both at made-up trees.
struct VolumeSources {
    std::string mountInfoPath = "/proc/self/mountinfo";
    std::string sysfsRoot = "/sys";
};

// Every volume of the mount table (pseudo file systems left out), ordered by mount point
// bytes. A mount point mounted over several times counts once, with its topmost mount.
std::vector<Volume> ReadVolumes(const VolumeSources& sources = {});
