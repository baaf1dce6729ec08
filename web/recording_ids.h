#pragma once

#include "index/index_settings.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

// How the web pages and the access log name a recording: by an id made of its folder's key and
// its file name, never by a path a request could choose.

// The id of the recording fileName in the known folder folder (ending with "/"): the folder's
// FolderKey, "-", then the name's bytes in hexadecimal.
QString RecordingId(const std::string& folder, const std::string& fileName);
// A folder's key in ids and in the folder filter of a search: 16 hexadecimal digits of its SHA-256.
QString FolderKey(const std::string& folder);

struct RecordingIdParts {
    QString folderKey;
    std::string fileName;
};
// The parts of an id; nothing when it is not shaped as one (the name's hexadecimal digits whole).
std::optional<RecordingIdParts> SplitRecordingId(const QString& id);

// The folders the archive index at location knows; none when it cannot be reached. A worker's
// call: the index may be a server that takes its time to answer.
std::vector<std::string> KnownArchiveFolders(const IndexLocation& location);

// What the access log's column 录音 shows for a logged recording: the name of its folder (the last
// part of the known folder with the id's key, "？" when none has it) and the file name
// ("2023年01月/VOC00001.WAV"); a text that is no id (an account's name) as it is.
QString LoggedRecordingText(const QString& recording, const std::vector<std::string>& knownFolders);
