#include "index/archive_index.h"
#include "index/note_exchange.h"
#include "platform/text_codec.h"
#include "tools/voctool_commands.h"

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
        std::fprintf(stderr, "voctool: %s\n", opened.message.c_str());
    return std::move(opened.index);
}

int NoteUsage(const std::string& problem)
{
    std::fprintf(stderr, "voctool: %s\nusage: voctool note PATH [--desc TEXT] [--user-type TEXT]\n", problem.c_str());
    return 2;
}

int ExportNotes(ArchiveIndex& index, const std::string& file)
{
    const Result<std::vector<NotedRecording>> notes = index.AllNotes();
    if (!notes) {
        std::fprintf(stderr, "voctool: cannot read the notes: %s\n", notes.error().reason.c_str());
        return 1;
    }
    if (const Result<void> written = WriteNotesFile(file, *notes); !written) {
        std::fprintf(stderr, "voctool: cannot write %s: %s\n", file.c_str(), written.error().reason.c_str());
        return 1;
    }
    std::fprintf(stderr, "voctool: %zu notes written to %s\n", notes->size(), file.c_str());
    return 0;
}

// Nothing is imported from a file with a line that is not a note.
int ImportNotes(ArchiveIndex& index, const std::string& file)
{
    const Result<std::vector<NotedRecording>> notes = ReadNotesFile(file);
    if (!notes) {
        std::fprintf(stderr, "voctool: %s; nothing was imported\n", notes.error().reason.c_str());
        return 1;
    }
    if (const Result<void> stored = index.ImportNotes(*notes); !stored) {
        std::fprintf(stderr, "voctool: cannot store the notes: %s\n", stored.error().reason.c_str());
        return 1;
    }
    std::fprintf(stderr, "voctool: %zu notes imported from %s\n", notes->size(), file.c_str());
    return 0;
}

} // namespace

int RunNote(const CommandArgs& args)
{
    if (args.empty() || args[0].starts_with("--"))
        return NoteUsage("the recording PATH is missing");
    std::optional<std::string> description;
    std::optional<std::string> userType;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::optional<std::string>* target = args[i] == "--desc"        ? &description
                                             : args[i] == "--user-type" ? &userType
                                                                        : nullptr;
        if (target == nullptr)
            return NoteUsage("unknown word " + args[i]);
        if (i + 1 == args.size())
            return NoteUsage(args[i] + " needs a value");
        if (target->has_value())
            return NoteUsage(args[i] + " is given twice");
        *target = TrimBlanksAndControls(args[++i]);
    }
    const std::optional<RecordingHead> head = ReadRecordingHead(args[0]);
    if (!head) {
        std::fprintf(stderr, "voctool: cannot read the recording %s\n", args[0].c_str());
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
        std::fprintf(stderr, "voctool: the note was not saved: %s\n", saved.error().reason.c_str());
        return 1;
    }
    // A search of every known folder finds the note at once.
    static_cast<void>(index->KnowFolderOf(args[0]));
    return 0;
}

int RunNotes(const CommandArgs& args)
{
    if (args.size() != 2 || (args[0] != "export" && args[0] != "import")) {
        std::fputs("usage: voctool notes export FILE | voctool notes import FILE\n", stderr);
        return 2;
    }
    const std::unique_ptr<ArchiveIndex> index = OpenIndexOrSay();
    if (!index)
        return 1;
    return args[0] == "export" ? ExportNotes(*index, args[1]) : ImportNotes(*index, args[1]);
}
