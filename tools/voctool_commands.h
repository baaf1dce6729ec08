#pragma once

#include "catalogue/recording.h"
#include "search/archive_search.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Each voctool command takes the words after its name and returns the process exit code.
// Messages for the user go to stderr, rows to stdout (UTF-8).
using CommandArgs = std::vector<std::string>;

int RunMakeSample(const CommandArgs& args); // make-sample DIR [COUNT]
int RunList(const CommandArgs& args);       // list DIR
int RunSearch(const CommandArgs& args);     // search DIR --from D --to D [--recursive] [--mode NAME] [--phone TEXT]
int RunConvert(const CommandArgs& args);    // convert INPUT OUTPUT [--title TEXT] [--comment TEXT]
int RunPlay(const CommandArgs& args);       // play FILE [--from PERCENT]
int RunNote(const CommandArgs& args);       // note PATH [--desc TEXT] [--user-type TEXT]
int RunNotes(const CommandArgs& args);      // notes export FILE | notes import FILE
int RunExport(const CommandArgs& args);     // export DIR [--search --from D --to D ...] OUT.xlsx
int RunUpload(const CommandArgs& args);     // upload CARD ARCHIVE [--skip-identical] [--month-folders] [--replace]
int RunReplaced(const CommandArgs& args);   // replaced DIR [--restore NAME]
int RunEvidence(const CommandArgs& args);       // evidence FILE OUT.zip
int RunVerifyEvidence(const CommandArgs& args); // verify-evidence FILE.zip [--key PUBLIC_KEY.pem]
int RunVerify(const CommandArgs& args);         // verify DIR [--recursive]
int RunStats(const CommandArgs& args);      // stats DIR|--all [--recursive] [--from D --to D] [--by P] [--png F]

// An option that takes a value, given as "--name=VALUE" or as "--name" and VALUE the next word.
struct OptionValue {
    std::string name;
    std::string value;
};
// The option at args[i] when its name is one of names, with i moved to the last word it takes;
// nothing when args[i] is none of them. The next word is no value when it begins with "--": an
// option would be taken for a value ("--name=--text" gives such a value). The problem, when there
// is no value, is in problem.
std::optional<OptionValue> TakeOption(const CommandArgs& args, std::size_t& i, std::span<const std::string_view> names,
                                      std::string& problem);
// The options of a search that take a value, which stats passes on to its search.
inline constexpr std::string_view kSearchValueOptions[] = {"--from",  "--to",   "--mode",
                                                           "--phone", "--desc", "--user-type"};

// The rows that list and search print, for the commands that write them elsewhere. Each
// returns 0 with rows filled, or the exit code after telling the user why on stderr (usage
// names the command in a usage message). A search of DIR with --recursive sets
// searchedWithSubfolders to DIR, for the folder column of an export.
int CardRows(const std::string& dir, std::vector<RecordingEntry>& rows);
int SearchRows(const CommandArgs& args, std::vector<RecordingEntry>& rows, const char* usage,
               std::string* searchedWithSubfolders = nullptr);
// The recordings of the archive folder dir (with its subfolders when scope says so) as the search
// window lists it, or with an empty dir those of every folder the archive index knows.
int ListedRows(const std::string& dir, std::vector<RecordingEntry>& rows, FolderScope scope = FolderScope::FolderOnly);

// Prints the texts as one TAB-separated line; control characters in them are written "\xNN".
void PrintLine(const std::vector<std::string>& texts);
void PrintRow(const RecordingEntry& row);
// The exit code after the lines: failing to write them (a full disk, a closed pipe) is no success.
int FinishOutput();
