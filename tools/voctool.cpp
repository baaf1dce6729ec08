#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct Command {
    const char* name;
    int (*run)(const CommandArgs&);
    const char* usage;
    const char* summary;
    const char* details = ""; // one line per argument and option: "  WORD  what it means\n"
};

const Command kCommands[] = {
    {"make-sample", RunMakeSample, "make-sample DIR [COUNT]",
     QT_TRANSLATE_NOOP("Voctool", "writes COUNT (default 20) recorder files VOC00001.WAV ... into DIR"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  DIR    the folder to write into; it is made when missing, files of the same name are replaced\n"
         "  COUNT  how many recordings, 0 to 99999\n")},
    {"list", RunList, "list DIR",
     QT_TRANSLATE_NOOP("Voctool",
                       "prints the recordings of the card folder DIR in directory order, numbered in that order, "
                       "one tab-separated row each"),
     QT_TRANSLATE_NOOP("Voctool",
                       "  DIR  a folder of recordings, such as the VOICE folder of the recorder's card\n"
                       "  Each row holds the eight texts of the main window's list: number, file name, phone number,\n"
                       "  recording mode, start time, duration, size, full path.\n")},
    {"search", RunSearch,
     "search DIR|--all --from YYYY-MM-DD --to YYYY-MM-DD [--recursive] [--mode NAME] [--phone TEXT] [--desc TEXT] "
     "[--user-type TEXT]",
     QT_TRANSLATE_NOOP(
         "Voctool",
         "prints the recordings of the archive folder DIR that started on those days, in directory order as the search "
         "window finds them"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  DIR                the archive folder\n"
         "  --all              instead of DIR: every folder the archive index knows, in path order\n"
         "  --recursive        the subfolders of DIR too, at any depth (hidden ones such as .replaced never),\n"
         "                     each folder after the one above it, subfolders in name order\n"
         "  --from YYYY-MM-DD  the first day (required)\n"
         "  --to YYYY-MM-DD    the last day, included (required); it may not lie before the first\n"
         "  --mode NAME        only this recording mode: "
         "所有类型 (every mode, the default), 留言, 被叫, 主叫, 现场, 其他\n"
         "  --phone TEXT       only phone numbers that contain TEXT\n"
         "  --desc TEXT        only recordings whose note's description contains TEXT (Latin letters in any case)\n"
         "  --user-type TEXT   only recordings whose note has exactly this user type\n"
         "  The rows have the same eight texts as those of 'voctool list'; the full path tells the folder.\n")},
    {"export", RunExport,
     "export DIR [--search --from YYYY-MM-DD --to YYYY-MM-DD [--recursive] [--mode NAME] [--phone TEXT]] OUT.xlsx",
     QT_TRANSLATE_NOOP("Voctool",
                       "writes the recordings of DIR to the spreadsheet OUT.xlsx as the windows' \"导出Excel\" does"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  DIR       without --search a card folder, exported as the main window's list (sorted by file name,\n"
         "            the full path left out of the item rows); with --search an archive folder, exported as\n"
         "            the search window's results (every column)\n"
         "  --search  search DIR with the options of 'voctool search' (--from and --to are required); with\n"
         "            --recursive the sheet has the search window's column 文件夹 after the eight\n"
         "  OUT.xlsx  the workbook to write; an existing one is replaced only by a complete new one, never\n"
         "            while a spreadsheet program holds it open, never through a symbolic link\n")},
    {"stats", RunStats,
     "stats DIR|--all [--recursive] [--from YYYY-MM-DD --to YYYY-MM-DD [--mode NAME] [--phone TEXT] [--desc TEXT] "
     "[--user-type TEXT]] [--by day|week|month] [--png OUT.png [--width PIXELS]]",
     QT_TRANSLATE_NOOP("Voctool",
                       "prints the call statistics of the archive folder DIR as the window \"通话统计\" counts them, "
                       "one tab-separated line per figure"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  DIR                the archive folder\n"
         "  --all              instead of DIR: every folder the archive index knows\n"
         "  --recursive        the subfolders of DIR too, as 'voctool search --recursive' reads them\n"
         "  --from YYYY-MM-DD  only the recordings of these days, as 'voctool search' finds them (with --to)\n"
         "  --to YYYY-MM-DD    the last day, included\n"
         "  --mode, --phone, --desc, --user-type  with --from and --to: only the recordings that 'voctool search'\n"
         "                     finds with them\n"
         "  --by PERIOD        day, week or month; by default chosen from the span of the calls\n"
         "  --png OUT.png      also write the charts as a PNG picture\n"
         "  --width PIXELS     the picture's width, 300 to 1600 (default 1600, 600 high); narrower than 1000 the\n"
         "                     charts lie one above the other\n"
         "  Every option's value may be joined to it, --phone=TEXT, as one that begins with -- must be; after --\n"
         "  every word is DIR.\n"
         "  Each line: part (合计, 按日/按周/按月, 通话次数前十, 通话时长前十), name, calls, talk time, average,\n"
         "  the calls of 留言, 被叫, 主叫, 现场 and 其他, first call, last call, user type. Rows without a number\n"
         "  count under （无号码）, rows without a valid start time under the period （时间无效）.\n")},
    {"note", RunNote, "note PATH [--desc TEXT] [--user-type TEXT]",
     QT_TRANSLATE_NOOP("Voctool", "shows the note of the recording PATH, or sets its description and user type"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  PATH              a recording; its note is found by file name, size and header record, in any folder\n"
         "  --desc TEXT       the new description (\"\" removes it)\n"
         "  --user-type TEXT  the new user type (\"\" removes it)\n"
         "  The notes are kept in $XDG_DATA_HOME/sdvoice/archive.db (default ~/.local/share/sdvoice/), or on the\n"
         "  PostgreSQL server named in $XDG_CONFIG_HOME/sdvoice/sdvoice.conf.\n")},
    {"notes", RunNotes, "notes export FILE | notes import FILE",
     QT_TRANSLATE_NOOP("Voctool", "writes every note into FILE, or stores every note of FILE, one JSON object a line"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  export FILE  replaces FILE with all notes: name, size, record (hex), description, user_type\n"
         "  import FILE  stores the notes of FILE, replacing those of the same recordings; a file with a line\n"
         "               that is not a note imports nothing\n")},
    {"upload", RunUpload, "upload CARD_FOLDER ARCHIVE_FOLDER [--skip-identical] [--month-folders] [--replace]",
     QT_TRANSLATE_NOOP("Voctool",
                       "copies every recording of CARD_FOLDER into ARCHIVE_FOLDER as the main window's \"全部上传\" "
                       "does, asking nothing"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  CARD_FOLDER       a folder of recordings, such as the VOICE folder of the recorder's card\n"
         "  ARCHIVE_FOLDER    the upload folder; made when missing\n"
         "  --skip-identical  leave an archived file with the same size, header record and modification time\n"
         "                    without asking; one with the card's bytes is never replaced\n"
         "  --month-folders   put each recording into the folder of its start month (\"2023年01月\")\n"
         "  --replace         replace an archived file that differs; the archived one first goes into\n"
         "                    ARCHIVE_FOLDER/.replaced/ (see 'voctool replaced'). Without it such a file stays\n"
         "                    as it is, is named at the end, and the exit status is 1.\n"
         "  One line per file (copied, replaced, identical, left), then a summary. Kept replaced files older\n"
         "  than keep_replaced_days of $XDG_CONFIG_HOME/sdvoice/sdvoice.conf [upload] (default 30) are removed.\n")},
    {"replaced", RunReplaced, "replaced DIR [--restore NAME [--as NEWNAME]]",
     QT_TRANSLATE_NOOP("Voctool", "lists the archived recordings that uploads into DIR replaced, or puts one back"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  DIR             an upload folder\n"
         "  --restore NAME  moves the kept file NAME (the first column of the list, or the second when that\n"
         "                  path is kept only once) back under its own name; a recording holding the name is\n"
         "                  kept in DIR/.replaced/ in its turn, so nothing is overwritten\n"
         "  --as NEWNAME    puts it back into the same folder under the file name NEWNAME instead, a name\n"
         "                  the lists show: VOC, 5 characters, .WAV (such as VOC00001.WAV)\n"
         "  Each line holds the kept name and, after a tab, the path it came from, relative to DIR.\n")},
    {"evidence", RunEvidence, "evidence FILE OUT.zip",
     QT_TRANSLATE_NOOP("Voctool",
                       "writes a signed evidence package of the recording FILE: the recording byte for byte, a "
                       "decoded wave file, a manifest of their SHA-256 fingerprints, the desk key's signature and "
                       "how to check them"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  FILE     the recording\n"
         "  OUT.zip  the package to write; an existing one is replaced only by a complete new one\n"
         "  The manifest holds the header's fields, the note when the archive index has one and, when the web\n"
         "  access log exists, the hash of the export's own entry in it. The desk's signing key is made at the\n"
         "  first export: $XDG_DATA_HOME/sdvoice/evidence-key (default ~/.local/share/sdvoice/; keep a backup of\n"
         "  it, it is private), its public half evidence-key.pem beside it.\n")},
    {"verify-evidence", RunVerifyEvidence, "verify-evidence FILE.zip [--key PUBLIC_KEY.pem]",
     QT_TRANSLATE_NOOP("Voctool",
                       "checks every part of an evidence package against its fingerprints and the signature, and "
                       "names each part that fails"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  FILE.zip  a package that 'voctool evidence' wrote\n"
         "  --key     the public key of the desk that exported it (its evidence-key.pem); by default this desk's\n"
         "            own key when it has one, else the package's own key, whose fingerprint must then be\n"
         "            compared by hand with the one the exporting desk shows\n"
         "  One line per part with its state, then the key the signature was checked with. Exit status 0 when\n"
         "  every part is whole, 1 when any was changed, is missing or was added, or the signature fails.\n")},
    {"verify", RunVerify, "verify DIR [--recursive]",
     QT_TRANSLATE_NOOP("Voctool",
                       "checks the recordings of the archive folder DIR against the SHA-256 fingerprints its "
                       "SHA256SUMS file holds"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  DIR          the archive folder\n"
         "  --recursive  its subfolders too, as 'voctool search --recursive' reads them\n"
         "  One line per recording: its path below DIR and whole, changed, missing (recorded but gone), cannot be\n"
         "  read, or no fingerprint recorded (not in its folder's SHA256SUMS); then the counts. Exit status 1\n"
         "  when any recording was changed, is missing or cannot be read. The same files can be checked without\n"
         "  this program: sha256sum -c SHA256SUMS in each folder.\n")},
    {"convert", RunConvert, "convert INPUT OUTPUT [--title TEXT] [--comment TEXT]",
     QT_TRANSLATE_NOOP("Voctool", "converts a recording into a wave, FLAC, MP3 or Opus file"),
     QT_TRANSLATE_NOOP(
         "Voctool",
         "  INPUT           a recording (IMA ADPCM)\n"
         "  OUTPUT          the file to write, replaced when it exists; its extension chooses the format:\n"
         "                  .wav a 16-bit PCM wave file, mono, 8000 samples a second; .flac; .mp3;\n"
         "                  .opus or .ogg (Ogg Opus); any other extension is refused\n"
         "  --title TEXT    the title tag (default: the phone number and the start time)\n"
         "  --comment TEXT  the comment tag (default: none)\n"
         "  FLAC, MP3 and Opus files, and a wave file given a --title or a --comment, carry the recording's\n"
         "  details as tags: title, comment, genre and album (the mode), date (the start day).\n")},
    {"play", RunPlay, "play FILE [--from PERCENT]",
     QT_TRANSLATE_NOOP("Voctool",
                       "converts a recording and plays it to the sound output, from PERCENT (0 to 100) of it; Ctrl-C "
                       "or SIGTERM stops it"),
     QT_TRANSLATE_NOOP("Voctool",
                       "  FILE            the recording to play\n"
                       "  --from PERCENT  start at PERCENT of the recording, 0 to 100 (default 0)\n"
                       "  The progress in percent is printed a line at a time. The recording is converted in memory\n"
                       "  first; SDL_AUDIODRIVER chooses the sound output (dummy plays without a sound card).\n"
                       "  Ctrl-C ends it with status 130, SIGTERM with 143.\n")},
};

constexpr const char* kExitStatus = QT_TRANSLATE_NOOP("Voctool",
                                                      "exit status:\n"
                                                      "  0    done\n"
                                                      "  1    failed; the message on standard error says why\n"
                                                      "  2    wrong usage\n"
                                                      "  130  play stopped by Ctrl-C\n");

void Write(std::FILE* out, const QString& text)
{
    std::fputs(text.toStdString().c_str(), out);
}

void PrintUsage(std::FILE* out)
{
    Write(out, Voctool::tr("usage: voctool COMMAND ...\n"));
    for (const Command& command : kCommands)
        Write(out, QString("  voctool %1\n      %2\n").arg(command.usage, Voctool::tr(command.summary)));
    Write(out, Voctool::tr("  voctool --version\n      prints the version\n"
                           "'voctool COMMAND --help' describes one command and its options.\n"));
    Write(out, Voctool::tr(kExitStatus));
}

bool AsksForHelp(std::string_view word)
{
    return word == "--help" || word == "-h";
}

int PrintCommandHelp(const Command& command)
{
    Write(stdout, Voctool::tr("usage: voctool %1").arg(command.usage) + "\n" + Voctool::tr(command.summary) + "\n"
                      + Voctool::tr(command.details) + Voctool::tr(kExitStatus));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Voctool::ChooseLanguage();
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (AsksForHelp(argv[1])) {
        PrintUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::puts("voctool " SDVOICE_VERSION);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) != 0)
            continue;
        const CommandArgs args(argv + 2, argv + argc);
        if (std::any_of(args.begin(), args.end(), AsksForHelp))
            return PrintCommandHelp(command);
        return command.run(args);
    }
    Say(Voctool::tr("unknown command '%1'"), {argv[1]});
    PrintUsage(stderr);
    return 2;
}
