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

ResultNotes::ResultNotes(std::unique_ptr<ArchiveIndex> index, QWidget* window)
    : index_(std::move(index)), window_(window), editNote_(EditNoteInDialog)
{
}

void ResultNotes::Remember(const std::string& path)
{
    const std::optional<RecordingIdentity> identity = IdentityOfFile(path);
    if (!index_ || !identity)
        return;
    const RecordingNote note = index_->NoteOf(*identity);
    if (note.empty())
        notes_.erase(path);
    else
        notes_[path] = note;
}

std::string ResultNotes::Description(const std::string& path) const
{
    const auto note = notes_.find(path);
    return note == notes_.end() ? std::string() : note->second.description;
}

std::vector<std::string> ResultNotes::UserTypes()
{
    return index_ ? index_->UserTypes() : std::vector<std::string>{};
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

// The note belongs to the recording (name, size, header record), wherever its file lies.
bool ResultNotes::Edit(const std::string& path)
{
    if (!index_) {
        ShowMessage(window_, QStringLiteral("归档索引无法使用，录音说明暂时无法编辑。"), kWarningCaption,
                    MessageIcon::Warning);
        return false;
    }
    const std::optional<RecordingIdentity> identity = IdentityOfFile(path);
    if (!identity) {
        ShowMessage(window_, QStringLiteral("无法读取这条录音：") + ToQString(path), kWarningCaption,
                    MessageIcon::Warning);
        return false;
    }
    const std::optional<RecordingNote> edited = editNote_(index_->NoteOf(*identity), index_->UserTypes(), window_);
    if (!edited)
        return false;
    if (const Result<void> saved = index_->SetNote(*identity, *edited); !saved) {
        ShowMessage(window_, QStringLiteral("录音说明没有保存：") + ToQString(saved.error().reason), kWarningCaption,
                    MessageIcon::Error);
        return false;
    }
    Remember(path);
    return true;
}
