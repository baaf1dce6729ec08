#pragma once

#include "index/note_store.h"

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QPlainTextEdit;

// The dialog "录音说明": what the user writes about a recording, "录音说明：" in several lines,
// and "用户类型：", an editable drop-down of the user types already in use. exec() answers
// DialogResult::Ok ("确定") or Cancel ("取消", Esc, the close box); note() is the edited note.
class NoteDialog : public QDialog {
    Q_OBJECT

public:
    NoteDialog(const RecordingNote& note, const std::vector<std::string>& userTypes, QWidget* parent = nullptr);

    // Both texts without their surrounding blanks and control characters.
    RecordingNote note() const;

private:
    QPlainTextEdit* descriptionEdit_ = nullptr;
    QComboBox* userTypeBox_ = nullptr;
};

// Shows the dialog modally: the edited note after "确定", nothing otherwise.
std::optional<RecordingNote> EditNoteInDialog(const RecordingNote& note, const std::vector<std::string>& userTypes,
                                              QWidget* owner);
