#pragma once

#include "platform/result.h"
#include "platform/sha256_digest.h"

#include <string>
#include <vector>

// The SHA256SUMS file of an archive folder: one "HASH  NAME" line per recording, as coreutils'
// sha256sum writes them, so that `sha256sum -c SHA256SUMS` in the folder checks it without this program.

inline constexpr char kFolderSumsName[] = "SHA256SUMS";

// The lines of folder's SHA256SUMS: none when it has no such file; a failure when it cannot be
// read or is not such a file (its error is then EBADMSG).
Result<std::vector<SumsLine>> ReadFolderSums(const std::string& folder);

// Records fingerprints in folder's SHA256SUMS: each line replaces the one of the same name, the
// others stay, all in name order. Written through the safe write path (an existing file keeps its
// mode, a new one is made as archive copies are) under the folder's lock, so that uploads into one
// folder at once keep each other's lines. A SHA256SUMS that is not one is refused, never overwritten.
Result<void> RecordFolderSums(const std::string& folder, const std::vector<SumsLine>& lines);
// Removes, in the same way, the line of each name in lines whose recorded fingerprint differs from
// the one given there: done before a file of that name is replaced, so that no line outlives its
// file. The file is not written when no line goes.
Result<void> ForgetStaleFolderSums(const std::string& folder, const std::vector<SumsLine>& lines);
