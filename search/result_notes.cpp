#include "search/result_notes.h"

#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "search/note_dialog.h"

#include <QToolTip>
#include <filesystem>

namespace {

const QString kWarningCaption = QStringLiteral("提示");

std::optional<RecordingIdentity> IdentityOfFile(const std::string& path)
{
    const std::optional<RecordingHead> head = ReadRecordingHead(path);
    if (!head)
        return std::nullopt;
    return IdentityOf(std::filesystem::path(path).filename().string(), *head);
}

} // namespace

ResultNotes::ResultNotes(IndexHost* index, QWidget* window)
    : index_(index), window_(window), editNote_(EditNoteInDialog)
{
}

void ResultNotes::Remember(const std::string& path)
{
    const std::optional<RecordingIdentity> identity = IdentityOfFile(path);
    if (!index_ || !identity)
        return;
    index_->Request<RecordingNote>(
        window_,
        [identity = *identity](ArchiveIndex* index) { return index ? index->NoteOf(identity) : RecordingNote{}; },
        [this, path](RecordingNote note) {
            if (note.empty())
                notes_.erase(path);
            else
                notes_[path] = std::move(note);
        });
}

std::string ResultNotes::Description(const std::string& path) const
{
    const std::optional<RecordingNote> note = NoteOf(path);
    return note ? note->description : std::string();
}

std::optional<RecordingNote> ResultNotes::NoteOf(const std::string& path) const
{
    const auto note = notes_.find(path);
    return note == notes_.end() ? std::nullopt : std::optional(note->second);
}

void ResultNotes::ReadUserTypes(UserTypesReceiver receive)
{
    if (!index_)
        return;
    index_->Request<std::vector<std::string>>(
        window_, [](ArchiveIndex* index) { return index ? index->UserTypes() : std::vector<std::string>{}; },
        std::move(receive));
}

void ResultNotes::ShowToolTip(const std::string& path, QPoint global, QWidget* over) const
{
    const auto note = notes_.find(path);
    if (note == notes_.end()) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(global,
                       QStringLiteral("录音说明：") + ToQString(note->second.description)
                           + QStringLiteral("\n用户类型：") + ToQString(note->second.userType),
                       over);
}

void ResultNotes::SayIndexUnusable() const
{
    ShowMessage(window_, QStringLiteral("归档索引无法使用，录音说明暂时无法编辑。"), kWarningCaption,
                MessageIcon::Warning);
}

// The note belongs to the recording (name, size, header record), wherever its file lies. The
// note and the user types are read first, then the dialog shows them.
void ResultNotes::Edit(const std::string& path, std::function<void()> saved)
{
    if (!index_ || index_->state() == IndexHost::State::Failed) {
        SayIndexUnusable();
        return;
    }
    const std::optional<RecordingIdentity> identity = IdentityOfFile(path);
    if (!identity) {
        ShowMessage(window_, QStringLiteral("无法读取这条录音：") + ToQString(path), kWarningCaption,
                    MessageIcon::Warning);
        return;
    }
    struct Known {
        bool usable = false;
        RecordingNote note;
        std::vector<std::string> userTypes;
    };
    index_->Request<Known>(
        window_,
        [identity = *identity](ArchiveIndex* index) {
            return index ? Known{true, index->NoteOf(identity), index->UserTypes()} : Known{};
        },
        [this, path, identity = *identity, saved = std::move(saved)](Known known) {
            if (!known.usable)
                SayIndexUnusable();
            else
                EditNote(path, identity, known.note, known.userTypes, saved);
        });
}

void ResultNotes::EditNote(const std::string& path, const RecordingIdentity& identity, const RecordingNote& note,
                           const std::vector<std::string>& userTypes, const std::function<void()>& saved)
{
    const std::optional<RecordingNote> edited = editNote_(note, userTypes, window_);
    if (!edited)
        return;
    // The note is stored by the host even when the window closes meanwhile.
    index_->Request<Result<void>>(
        window_,
        [identity, path, note = *edited](ArchiveIndex* index) -> Result<void> {
            if (!index)
                return Failure{"归档索引无法使用"};
            Result<void> stored = index->SetNote(identity, note);
            if (stored) // a search of every known folder finds the note at once
                static_cast<void>(index->KnowFolderOf(path));
            return stored;
        },
        [this, path, note = *edited, saved](const Result<void>& stored) {
            if (!stored) {
                ShowMessage(window_, QStringLiteral("录音说明没有保存：") + ToQString(stored.error().reason),
                            kWarningCaption, MessageIcon::Error);
                return;
            }
            if (note.empty())
                notes_.erase(path);
            else
                notes_[path] = note;
            saved();
        });
}
