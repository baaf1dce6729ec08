#include "index/archive_index.h"
#include "index/note_exchange.h"
#include "platform/text_codec.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace {

// The index, or nothing after telling the user why; a damaged file set aside is told too.
std::unique_ptr<ArchiveIndex> OpenIndexOrSay()
{
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    if (!opened.message.empty())
        Say(opened.message);
    return std::move(opened.index);
}

int NoteUsage(const std::string& problem)
{
    Say(problem);
    return SayUsage("note PATH [--desc TEXT] [--user-type TEXT]");
}

int ExportNotes(ArchiveIndex& index, const std::string& file)
{
    const Result<std::vector<NotedRecording>> notes = index.AllNotes();
    if (!notes) {
        Say(Voctool::tr("cannot read the notes: %1"), {notes.error().reason});
        return 1;
    }
    if (const Result<void> written = WriteNotesFile(file, *notes); !written) {
        Say(Voctool::tr("cannot write %1: %2"), {file, written.error().reason});
        return 1;
    }
    Say(Voctool::tr("%1 notes written to %2"), {std::to_string(notes->size()), file});
    return 0;
}

// Nothing is imported from a file with a line that is not a note.
int ImportNotes(ArchiveIndex& index, const std::string& file)
{
    const Result<std::vector<NotedRecording>> notes = ReadNotesFile(file);
    if (!notes) {
        Say(Voctool::tr("%1; nothing was imported"), {FailureText(notes.error())});
        return 1;
    }
    if (const Result<void> stored = index.ImportNotes(*notes); !stored) {
        Say(Voctool::tr("cannot store the notes: %1"), {stored.error().reason});
        return 1;
    }
    Say(Voctool::tr("%1 notes imported from %2"), {std::to_string(notes->size()), file});
    return 0;
}

} // namespace

int RunNote(const CommandArgs& args)
{
    if (args.empty() || args[0].starts_with("--"))
        return NoteUsage(Voctool::tr("the recording PATH is missing").toStdString());
    std::optional<std::string> description;
    std::optional<std::string> userType;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::optional<std::string>* target = args[i] == "--desc"        ? &description
                                             : args[i] == "--user-type" ? &userType
                                                                        : nullptr;
        if (target == nullptr)
            return NoteUsage(Filled(Voctool::tr("unknown word %1"), {args[i]}));
        if (i + 1 == args.size())
            return NoteUsage(Filled(Voctool::tr("%1 needs a value"), {args[i]}));
        if (target->has_value())
            return NoteUsage(Filled(Voctool::tr("%1 is given twice"), {args[i]}));
        *target = TrimBlanksAndControls(args[++i]);
    }
    const std::optional<RecordingHead> head = ReadRecordingHead(args[0]);
    if (!head) {
        Say(Voctool::tr("cannot read the recording %1"), {args[0]});
        return 1;
    }
    const std::unique_ptr<ArchiveIndex> index = OpenIndexOrSay();
    if (!index)
        return 1;
    const RecordingIdentity identity = IdentityOf(std::filesystem::path(args[0]).filename().string(), *head);
    RecordingNote note = index->NoteOf(identity);
    if (!description && !userType) {
        std::printf("录音说明：%s\n用户类型：%s\n", note.description.c_str(), note.userType.c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    note.description = description.value_or(note.description);
    note.userType = userType.value_or(note.userType);
    if (const Result<void> saved = index->SetNote(identity, note); !saved) {
        Say(Voctool::tr("the note was not saved: %1"), {saved.error().reason});
        return 1;
    }
    // A search of every known folder finds the note at once.
    static_cast<void>(index->KnowFolderOf(args[0]));
    return 0;
}

int RunNotes(const CommandArgs& args)
{
    if (args.size() != 2 || (args[0] != "export" && args[0] != "import")) {
        return SayUsage("notes export FILE | voctool notes import FILE");
    }
    const std::unique_ptr<ArchiveIndex> index = OpenIndexOrSay();
    if (!index)
        return 1;
    return args[0] == "export" ? ExportNotes(*index, args[1]) : ImportNotes(*index, args[1]);
}
