#pragma once

#include "index/note_store.h"
#include "platform/result.h"

#include <string>
#include <vector>

// The notes exchange file: one JSON object a line, {"name", "size", "record" (the 23 header
// bytes as 46 hex digits), "description", "user_type"}. Blank lines are skipped.

std::string NoteLine(const NotedRecording& noted);

// Writes every note into path, replacing it whole.
Result<void> WriteNotesFile(const std::string& path, const std::vector<NotedRecording>& notes);

// The notes of path. A path that is not a readable file, or a line that is not a note (its
// name not a plain file name, its size not a whole number from 0 up, its record not 46 hex
// digits), refuses the whole file; the failure names the line.
Result<std::vector<NotedRecording>> ReadNotesFile(const std::string& path);
