#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The directory walk over one folder (not its subfolders) for recorder files: names that
// match "VOC*.WAV" ignoring case. Directory order, as readdir returns it.
struct WalkEntry {
    std::string name;          // the file name as the file system returned it
    std::uint32_t attributes;  // FileAttributes of the entry
    bool twelveBytes;          // the name is exactly 12 bytes long in GB18030
    std::uint64_t size = 0;    // as the walk found the file
    std::int64_t modified = 0; // modification time, nanoseconds since the epoch
    std::int64_t changed = 0;  // status-change time, which no copy can set back
};

// Calls visit for every name matching the pattern whose attribute word has no bit other
// than the archive bit (the rule both lists use); visit returns false to stop the walk.
// Returns false when the folder cannot be opened.
bool WalkRecordings(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit);
// The same walk over names that RecordingNames read from folder before, for a caller that
// needs the names first: the directory is read once.
bool WalkRecordingNames(const std::string& folder, const std::vector<std::string>& names,
                        const std::function<bool(const WalkEntry&)>& visit);

// The names in folder that match the pattern, in directory order, without looking at the
// files: what a walk would meet, read at the cost of the directory alone. Empty when the folder
// cannot be opened.
std::vector<std::string> RecordingNames(const std::string& folder);

// Case-insensitive match of "VOC*.WAV" (ASCII letters only fold).
bool MatchesRecordingPattern(const std::string& name);
// Whether the lists show a file of this name: a plain name matching the pattern that is 12 bytes
// long in GB18030 ("VOC00001.WAV").
bool IsListedRecordingName(const std::string& name);
