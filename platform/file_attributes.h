#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The Windows attribute word of a file, which the listing rules test.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFF;

// On FAT volumes of the kernel's driver: the real DOS attribute byte. Elsewhere made up:
// directory 0x10, regular file 0x20, read-only 0x01 when the owner write bit is clear,
// hidden 0x02 for names starting with ".", symbolic link 0x400. kInvalidAttributes when
// the path does not exist.
std::uint32_t FileAttributes(const std::string& path);

// Which folder a path names: the same pair means the same folder on the same mounted volume,
// so a card put in the place of another one (or a folder put in place of another) differs.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FolderIdentity&) const = default;
};
// Nothing when path cannot be examined.
std::optional<FolderIdentity> IdentityOfFolder(const std::string& path);
