#pragma once

#include "index/index_host.h"
#include "search/archive_search.h"

#include <QPoint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

// The notes of the rows the search window lists, and how the user sees and edits them: the
// row's tooltip, and the dialog "录音说明". The notes are read and written by the index's host
// on its own thread; the results come back to the window's thread. Without an index the rows
// have no notes and editing says why.
class ResultNotes {
public:
    // Edits a recording's note: the edited note, or nothing when the user cancels.
    using NoteEditor = std::function<std::optional<RecordingNote>(
        const RecordingNote& note, const std::vector<std::string>& userTypes, QWidget* owner)>;
    using UserTypesReceiver = std::function<void(std::vector<std::string> userTypes)>;

    ResultNotes(IndexHost* index, QWidget* window);

    void SetEditor(NoteEditor editor) { editNote_ = std::move(editor); }

    void Clear() { notes_.clear(); }
    // Takes the notes of rows just listed or found.
    void Add(NotesByPath& notes) { notes_.merge(notes); }
    // Looks up the note of a row added by hand.
    void Remember(const std::string& path);
    // The description of the recording's note; empty when it has none.
    std::string Description(const std::string& path) const;
    // The note of the recording at path; nothing when it has none.
    std::optional<RecordingNote> NoteOf(const std::string& path) const;
    // The user types of all notes, in byte order, handed to receive.
    void ReadUserTypes(UserTypesReceiver receive);

    // The note of the recording at path as a tooltip at global; none when it has no note.
    void ShowToolTip(const std::string& path, QPoint global, QWidget* over) const;
    // Edits the note of the recording at path; saved follows when a changed note was stored.
    void Edit(const std::string& path, std::function<void()> saved);

private:
    void EditNote(const std::string& path, const RecordingIdentity& identity, const RecordingNote& note,
                  const std::vector<std::string>& userTypes, const std::function<void()>& saved);
    void SayIndexUnusable() const;

    IndexHost* index_;
    QWidget* window_;
    NoteEditor editNote_;
    NotesByPath notes_;
};
