#pragma once

#include "search/archive_search.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// Checking an archive folder against the SHA256SUMS files its folders hold (see platform/folder_sums.h).

enum class FingerprintState {
    Whole,      // its bytes give the recorded fingerprint
    Changed,    // they give another (for SHA256SUMS itself: it is not a list of fingerprints)
    Missing,    // recorded, but no longer in its folder
    Unrecorded, // a recording the folder's SHA256SUMS does not list
    Unreadable, // it cannot be read
};

struct VerifiedRecording {
    std::string folder; // relative to the folder verified: "" or such as "2023年01月/"
    std::string name;
    FingerprintState state = FingerprintState::Whole;
    std::uint64_t bytes = 0; // read to check it, for a rate and the time left
};

// Whether a state means the archive no longer holds what was recorded.
bool IsDamage(FingerprintState state);

// Checks folder and, with subfolders, every subfolder the folder tree shows (hidden ones such as
// .replaced never): in each folder first the recordings its SHA256SUMS lists, in its order (Whole,
// Changed, Missing, Unreadable), then those it does not list (Unrecorded). visit gets each; its false
// stops the check. Returns false when folder itself cannot be opened.
bool VerifyArchive(const std::string& folder, FolderScope scope,
                   const std::function<bool(const VerifiedRecording&)>& visit);

// What a check of folder will read, for its progress: the recordings in the folders it visits and
// their bytes, counted from the directories alone. stop, when set, cuts the count short.
struct ArchiveExtent {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};
ArchiveExtent MeasureArchive(const std::string& folder, FolderScope scope, const std::atomic<bool>* stop = nullptr);
