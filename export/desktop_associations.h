#pragma once

#include <string>
#include <vector>

// Whether the desktop has a program for a kind of file, from the association lists that desktop
// launchers read: "mimeapps.list" (defaults and added associations) in the configuration folders
// and the applications folders, and "mimeinfo.cache" in the applications folders. A file opened
// without such a program opens nowhere, however the opening call answers.

// The association lists of this user's desktop, in the folders the XDG variables name.
std::vector<std::string> DesktopAssociationFiles();

// True when one of files names a program for mimeType ("application/vnd.openxmlformats-...").
// Missing and unreadable files name none.
bool HasProgramFor(const std::string& mimeType, const std::vector<std::string>& files);
