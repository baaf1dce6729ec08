#pragma once

#include "platform/result.h"

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

// Archived recordings that an upload replaced are not deleted: each is first kept in the
// hidden folder ".replaced" of the upload folder, in a folder for the day it was replaced
// ("2026-12-07"), under its path relative to the upload folder ("2026-12-07/VOC00001.WAV",
// "2026-12-07/2023年01月/VOC00001.WAV"). When that day's folder already holds the path, the next
// free day folder "2026-12-07_2", "2026-12-07_3", ... takes it, so every kept file keeps its
// own name and the place it came from. The kept entry is a hard link made while the name still
// holds the file, so the recording is never missing from the folder; the new copy then replaces
// the name in one rename.

inline constexpr char kReplacedFolderName[] = ".replaced";

// The local calendar day.
std::chrono::year_month_day LocalToday();

// uploadPath (ending with "/") + ".replaced/".
std::string ReplacedFolder(const std::string& uploadPath);

// Keeps uploadPath + relativePath in the day's folder, leaving the name as it is: a hard link, or
// where the file system has none (FAT, exFAT) a copy flushed to disk. Returns the kept name
// relative to ReplacedFolder(uploadPath) ("2026-12-07/VOC00001.WAV"). A day folder that already
// holds this very file (kept by a run that ended before it replaced the name) keeps it once. A
// link is durable only once its folder is synced (SyncFolder): the caller does that, for many
// files at once, before the name is replaced.
Result<std::string> KeepReplaced(const std::string& uploadPath, const std::string& relativePath,
                                 std::chrono::year_month_day today);

// Puts a kept file back into the folder it came from, making that folder again when it is gone,
// under its own file name or, given a fileName, under that one (a name the lists show, see
// IsListedRecordingName). A recording that holds the name is first kept as an upload keeps the
// file it replaces (KeepReplaced, on day today), so the two exchange places and nothing is
// overwritten; when it is this very recording the kept entry just goes. Returns the kept name of
// the recording that gave the name up, empty when the name was free. A name that is not a kept
// recording's is refused with EINVAL, a kept file that is gone (restored already) with ENOENT.
Result<std::string> RestoreReplaced(const std::string& uploadPath, const std::string& keptName,
                                    const std::string& fileName = {}, std::chrono::year_month_day today = LocalToday());

// The kept name that name stands for: a kept name as it is, or the path a recording was kept
// from ("VOC00003.WAV", "2023年01月/VOC00003.WAV") when exactly one kept file came from there.
// A path kept more than once is refused (EEXIST) with the kept names to choose from, a path never
// kept with ENOENT.
Result<std::string> FindKeptName(const std::string& uploadPath, const std::string& name);
// The kept names of the files kept from originalPath, by kept name.
std::vector<std::string> KeptNamesOf(const std::string& uploadPath, const std::string& originalPath);

struct KeptRecording {
    std::string keptName;     // relative to ReplacedFolder(uploadPath)
    std::string originalPath; // relative to uploadPath
};
// Every kept file, by kept name.
std::vector<KeptRecording> ListReplaced(const std::string& uploadPath);

// One kept recording as the list of replaced recordings shows it.
struct ReplacedRecordingRow {
    KeptRecording kept;
    std::string day;  // the day it was replaced ("2026-12-07")
    std::string mode; // the texts of its recording, empty when its record cannot be read
    std::string phone;
    std::string startTime;
    std::string size;
    bool nameTaken = false; // a file holds the name it was kept from
};
// Every kept file with the texts of its recording, by kept name. Reading stops, with the rows
// read so far, once stop is set.
std::vector<ReplacedRecordingRow> ListReplacedRows(const std::string& uploadPath,
                                                   const std::atomic<bool>* stop = nullptr);

// The full path of a kept file, to play it.
std::string KeptPath(const std::string& uploadPath, const std::string& keptName);

// Where a kept file goes back to under fileName: the folder it came from + fileName.
std::string RestoreTarget(const std::string& uploadPath, const std::string& originalPath, const std::string& fileName);

// Removes the day folders of files replaced more than keepDays days before today; folders
// whose names are not days are left alone. Returns how many day folders went.
int RemoveExpiredReplaced(const std::string& uploadPath, int keepDays, std::chrono::year_month_day today);
