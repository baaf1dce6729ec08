#pragma once

#include <cstdint>

struct stat;

// The attribute word of the entry name inside the open folder dirFd. onFatVolume says
// whether the folder lies on a FAT volume of the kernel's driver (see IsFatVolume), so
// that a walk over many files asks the file system type once, not once per file.
// info, when given, receives the entry's own status (not that of a link's target).
std::uint32_t FileAttributesAt(int dirFd, const char* name, bool onFatVolume, struct stat* info = nullptr);

// True when the open file or folder fd lies on a FAT volume of the kernel's driver.
bool IsFatVolume(int fd);
