#pragma once

#include "platform/result.h"

#include <chrono>
#include <string>
#include <vector>

// Archived recordings that an upload replaced are not deleted: each is first moved into the
// hidden folder ".replaced" of the upload folder, into a folder for the day it was replaced
// ("2026-12-07"), under its path relative to the upload folder ("2026-12-07/VOC00001.WAV",
// "2026-12-07/2023年01月/VOC00001.WAV"). When that day's folder already holds the path, the next
// free day folder "2026-12-07_2", "2026-12-07_3", ... takes it, so every kept file keeps its
// own name and the place it came from. All moves are renames inside the upload folder's file
// system: a file is always in one place or the other.

inline constexpr char kReplacedFolderName[] = ".replaced";

// The local calendar day.
std::chrono::year_month_day LocalToday();

// uploadPath (ending with "/") + ".replaced/".
std::string ReplacedFolder(const std::string& uploadPath);

// Moves uploadPath + relativePath into the day's folder; returns the kept name relative to
// ReplacedFolder(uploadPath) ("2026-12-07/VOC00001.WAV"). On failure the file stays where it was.
Result<std::string> KeepReplaced(const std::string& uploadPath, const std::string& relativePath,
                                 std::chrono::year_month_day today);

// Moves a kept file back to the place it came from; refuses (error EEXIST) when a file of that
// name is there, and refuses names that do not lie inside ".replaced".
Result<void> RestoreReplaced(const std::string& uploadPath, const std::string& keptName);

struct KeptRecording {
    std::string keptName;     // relative to ReplacedFolder(uploadPath)
    std::string originalPath; // relative to uploadPath
};
// Every kept file, by kept name.
std::vector<KeptRecording> ListReplaced(const std::string& uploadPath);

// Removes the day folders of files replaced more than keepDays days before today; folders
// whose names are not days are left alone. Returns how many day folders went.
int RemoveExpiredReplaced(const std::string& uploadPath, int keepDays, std::chrono::year_month_day today);
