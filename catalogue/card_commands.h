#pragma once

#include <string>
#include <vector>

// Deletes devicePath + name for each name, in the given order. A file that cannot be deleted
// (card pulled, write protected) is silently kept. Names that are empty or hold a "/" and an
// empty devicePath delete nothing, so that a damaged row can never reach outside the card's
// folder.
void DeleteRecordingFiles(const std::vector<std::string>& names, const std::string& devicePath);
