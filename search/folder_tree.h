#pragma once

#include "platform/volumes.h"

#include <string>
#include <vector>

// What the archive folder tree shows, without the window: its roots and the subfolders of a
// folder. The tree reads a folder only when the user opens it.

// The images of the tree's nodes.
enum FolderImage : int {
    kImageComputer = 0,
    kImageDisk = 1,
    kImageFolderClosed = 2,
    kImageFolderOpen = 3,
    kImageDocument = 4,
    kImageCdDrive = 5,
};

struct FolderRoot {
    std::string path; // with a trailing "/"; also the root's text
    int image = kImageDisk;
};

// The roots: the home folder, "/" and every other volume in table order, each once; optical
// discs get the CD image, every other volume the disk image.
std::vector<FolderRoot> FolderRoots(const std::vector<Volume>& volumes, const std::string& homeFolder);
// The same over the machine's volume table and the user's home folder.
std::vector<FolderRoot> MachineFolderRoots();

// The names of the entries of folder (ending with "/") that the tree shows, in natural name order
// (Chinese collation, letters of either case together, numbers by their value: 第2批 before
// 第10批, 2023年1月 before 2023年10月): those whose attribute word lies within read-only |
// directory, so that hidden folders, symbolic links and plain files are left out. A folder that
// cannot be read has none.
std::vector<std::string> ListSubfolders(const std::string& folder);

struct Subfolder {
    std::string name;
    bool hasSubfolders = false; // whether the tree gives it an expand button
};
// ListSubfolders with, for each, whether it holds a folder the tree would show. Reads every
// subfolder: a worker's call.
std::vector<Subfolder> ReadSubfolders(const std::string& folder);
