#include "search/folder_tree.h"

#include "platform/file_attributes.h"
#include "platform/file_attributes_at.h"
#include "platform/locations.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <functional>
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

void SortByName(std::vector<std::string>& names)
{
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names)
        keyed.emplace_back(QString::fromUtf8(name), std::move(name));
    // Names the collation counts equal (only their case differs) keep a fixed order.
    std::ranges::sort(keyed, [&](const auto& one, const auto& other) {
        const int order = collator.compare(one.first, other.first);
        return order != 0 ? order < 0 : one.second < other.second;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        names[i] = std::move(keyed[i].second);
}

// Calls visit with the name of every entry of folder that the tree shows, in directory order,
// until it returns false.
void VisitSubfolders(const std::string& folder, const std::function<bool(const char* name)>& visit)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir.get());
    const bool onFatVolume = IsFatVolume(dirFd);
    while (const dirent* entry = ::readdir(dir.get())) {
        // Only a folder can be shown; a plain file's attributes need not be read.
        if (IsDotName(entry->d_name) || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN))
            continue;
        const std::uint32_t attributes = FileAttributesAt(dirFd, entry->d_name, onFatVolume);
        if (attributes != kInvalidAttributes && (attributes & kSubfolderMask) == attributes && !visit(entry->d_name))
            return;
    }
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
    VisitSubfolders(folder, [&](const char* name) {
        names.emplace_back(name);
        return true;
    });
    SortByName(names);
    return names;
}

std::vector<Subfolder> ReadSubfolders(const std::string& folder)
{
    std::vector<Subfolder> subfolders;
    for (std::string& name : ListSubfolders(folder)) {
        bool hasSubfolders = false;
        VisitSubfolders(folder + name + "/", [&](const char*) {
            hasSubfolders = true;
            return false; // one is enough
        });
        subfolders.push_back({std::move(name), hasSubfolders});
    }
    return subfolders;
}
