#pragma once

#include "catalogue/recording.h"

#include <QString>
#include <optional>
#include <string>

class QWidget;

// The file commands of the search window's result list: "添加" adds a recording file by hand,
// "删除" deletes the selected row's file. Both tell the user what went wrong.

// The file dialog of "添加": an empty text when the user cancels.
QString ChooseRecordingFile(QWidget* owner);

// The row of the chosen recording file, numbered number; nothing when nothing was chosen, the
// name is not one the recorder writes (the user is told) or the file's header cannot be read.
std::optional<RecordingEntry> AddedRecordingRow(QWidget* owner, const QString& chosen, int number);

// Deletes the recording file without asking; false, with the file named to the user, when it
// could not be deleted (a read-only folder or mount).
bool DeleteRowFile(QWidget* owner, const std::string& path);
