#include "catalogue/replaced_recordings.h"
#include "catalogue/upload.h"
#include "platform/recording_walk.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr const char* kReplacedUsage = "replaced DIR [--restore NAME [--as NEWNAME]]";

struct ReplacedArguments {
    std::string folder;
    std::string restore; // the kept recording to put back; empty: list them
    std::string newName; // --as
};

// The words as arguments, or the exit status after a usage message.
int ParseReplacedArguments(const CommandArgs& args, ReplacedArguments& parsed)
{
    const bool restoring = (args.size() == 3 || args.size() == 5) && args[1] == "--restore";
    if ((args.size() != 1 && !restoring) || (args.size() == 5 && args[3] != "--as"))
        return SayUsage(kReplacedUsage);
    parsed.folder = args[0];
    parsed.restore = restoring ? args[2] : std::string();
    parsed.newName = args.size() == 5 ? args[4] : std::string();
    // Under any other name the recording would vanish from every list of the program.
    if (args.size() == 5 && !IsListedRecordingName(parsed.newName)) {
        Say(Voctool::tr("--as takes a file name as the lists show it, VOC and 5 characters then .WAV "
                        "(such as VOC00001.WAV), not '%1'"),
            {parsed.newName});
        return 2;
    }
    return 0;
}

// An upload folder to list or restore into; a missing one or a file is refused with the reason.
bool IsFolder(const std::string& path)
{
    struct stat info {};
    const int error = ::stat(path.c_str(), &info) != 0 ? errno : S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (error != 0)
        Say(Voctool::tr("cannot open the upload folder %1: %2"), {path, SystemReason(error)});
    return error == 0;
}

int ListKept(const std::string& folder)
{
    const std::vector<KeptRecording> kept = ListReplaced(folder);
    if (kept.empty())
        Say(Voctool::tr("no replaced recording is kept in %1"), {folder});
    for (const KeptRecording& recording : kept)
        PrintLine({recording.keptName, recording.originalPath});
    return FinishOutput();
}

// Why the name names no kept recording, with what to do.
void SayNotKept(const std::string& folder, const std::string& name, const Failure& failure)
{
    if (failure.error == EEXIST) {
        std::string choices;
        for (const std::string& kept : KeptNamesOf(folder, name))
            choices += "\n  " + kept;
        Say(Voctool::tr("%1 was kept more than once; name one of:%2"), {name, choices});
    } else {
        Say(Voctool::tr("%1 is not among the kept recordings of %2 (restored already?); 'voctool replaced %2' "
                        "lists them"),
            {name, folder});
    }
}

int Restore(const ReplacedArguments& parsed, const std::string& folder)
{
    const Result<std::string> keptName = FindKeptName(folder, parsed.restore);
    if (!keptName) {
        SayNotKept(folder, parsed.restore, keptName.error());
        return 1;
    }
    const Result<std::string> restored = RestoreReplaced(folder, *keptName, parsed.newName);
    if (!restored) {
        if (restored.error().error == ENOENT && restored.error().path == KeptPath(folder, *keptName))
            SayNotKept(folder, parsed.restore, restored.error());
        else
            Say(Voctool::tr("cannot restore %1: %2"), {parsed.restore, FailureText(restored.error())});
        return 1;
    }
    const std::string original = keptName->substr(keptName->find('/') + 1);
    if (parsed.newName.empty())
        Tell(Voctool::tr("restored %1"), {original});
    else
        Tell(Voctool::tr("restored %1 as %2"), {original, parsed.newName});
    if (!restored->empty())
        Tell(Voctool::tr("the recording that held the name is kept as %1/%2"), {kReplacedFolderName, *restored});
    return FinishOutput();
}

} // namespace

int RunReplaced(const CommandArgs& args)
{
    ReplacedArguments parsed;
    if (const int usage = ParseReplacedArguments(args, parsed); usage != 0)
        return usage;
    if (!IsFolder(parsed.folder))
        return 1;
    std::string folder = parsed.folder;
    EnsureTrailingSeparator(folder);
    return parsed.restore.empty() ? ListKept(folder) : Restore(parsed, folder);
}
