#include "search/folder_tree.h"

#include "platform/file_attributes.h"
#include "platform/file_attributes_at.h"
#include "platform/locations.h"
#include "platform/text_codec.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <utility>

namespace {

constexpr std::uint32_t kSubfolderMask = kAttrReadOnly | kAttrDirectory;

int RootImage(VolumeKind kind)
{
    return kind == VolumeKind::CdRom ? kImageCdDrive : kImageDisk;
}

void AddRoot(std::vector<FolderRoot>& roots, const std::string& path, int image)
{
    const bool known =
        std::any_of(roots.begin(), roots.end(), [&](const FolderRoot& root) { return root.path == path; });
    if (!known)
        roots.push_back(FolderRoot{path, image});
}

bool IsDotName(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// The key a folder is listed by: its GBK bytes with the letters in upper case, so that names
// differing only in case stand together, as Windows lists a folder.
std::string NameKey(const std::string& name)
{
    std::string key = Utf8ToGb18030(name);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

void SortByName(std::vector<std::string>& names)
{
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names)
        keyed.emplace_back(NameKey(name), std::move(name));
    std::ranges::sort(keyed);
    for (std::size_t i = 0; i < keyed.size(); ++i)
        names[i] = std::move(keyed[i].second);
}

} // namespace

std::vector<FolderRoot> FolderRoots(const std::vector<Volume>& volumes, const std::string& homeFolder)
{
    std::vector<FolderRoot> roots;
    AddRoot(roots, homeFolder.ends_with('/') ? homeFolder : homeFolder + "/", kImageDisk);
    const auto system =
        std::find_if(volumes.begin(), volumes.end(), [](const Volume& v) { return v.mountPoint == "/"; });
    AddRoot(roots, "/", system == volumes.end() ? kImageDisk : RootImage(system->kind));
    for (const Volume& volume : volumes)
        AddRoot(roots, volume.mountPoint, RootImage(volume.kind));
    return roots;
}

std::vector<FolderRoot> MachineFolderRoots()
{
    return FolderRoots(ReadVolumes(), HomeDir());
}

std::vector<std::string> ListSubfolders(const std::string& folder)
{
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir)
        return names;
    const int dirFd = ::dirfd(dir.get());
    const bool onFatVolume = IsFatVolume(dirFd);
    while (const dirent* entry = ::readdir(dir.get())) {
        if (IsDotName(entry->d_name))
            continue;
        const std::uint32_t attributes = FileAttributesAt(dirFd, entry->d_name, onFatVolume);
        if (attributes != kInvalidAttributes && (attributes & kSubfolderMask) == attributes)
            names.emplace_back(entry->d_name);
    }
    SortByName(names);
    return names;
}
