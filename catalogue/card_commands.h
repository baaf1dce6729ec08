#pragma once

#include <string>
#include <vector>

// Deletes one recording file; false when it is still there or could not be reached (a
// write-protected card, a read-only folder or mount, a card pulled out).
bool DeleteRecordingFile(const std::string& path);

// Deletes devicePath + name for each name, in the given order, and returns, in the same order,
// the names whose file could not be deleted; the walk goes on after a failure. Names that are
// empty or hold a "/", and every name when devicePath is empty, delete nothing and are
// returned, so that a damaged row can never reach outside the card's folder.
std::vector<std::string> DeleteRecordingFiles(const std::vector<std::string>& names, const std::string& devicePath);

// The one message after a deletion that left files in place: the files, one a line.
std::string UndeletedFilesMessage(const std::vector<std::string>& files);
