#pragma once

#include "catalogue/recording.h"
#include "platform/unique_fd.h"

#include <QString>
#include <optional>
#include <string>

class ArchiveIndex;

// A recording a request named by its id, opened once: every later read of the request (its
// header, decoding, encoding, outline, download) reads this descriptor, so a name swapped after
// the open cannot make the request read another file.
struct OpenedRecording {
    std::string folder; // a known folder, ending with "/"
    std::string name;
    UniqueFd file;
    RecordingHead head;
};

// The recording of id: the name must be a recording's name in a folder the index knows, opened
// relative to the folder without following a symbolic link (which could lead out of the
// archive), and a regular file with a whole header; nothing otherwise.
std::optional<OpenedRecording> OpenRecordingOfId(ArchiveIndex& index, const QString& id);
