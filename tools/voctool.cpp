#include "tools/voctool_commands.h"

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
};

const Command kCommands[] = {
    {"make-sample", RunMakeSample, "make-sample DIR [COUNT]",
     "writes COUNT (default 20) recorder files VOC00001.WAV ... into DIR"},
    {"list", RunList, "list DIR",
     "prints the recordings of the card folder DIR in directory order, numbered in that order, one tab-separated row "
     "each"},
    {"search", RunSearch, "search DIR --from YYYY-MM-DD --to YYYY-MM-DD [--mode NAME] [--phone TEXT]",
     "prints the recordings of the archive folder DIR that started on those days, in start-time order"},
    {"convert", RunConvert, "convert INPUT OUTPUT", "converts a recording into a 16-bit PCM wave file"},
    {"play", RunPlay, "play FILE [--from PERCENT]",
     "converts a recording and plays it to the sound output, from PERCENT (0 to 100) of it; Ctrl-C stops it"},
};

constexpr const char* kExitStatus = "exit status: 0 done, 1 failed, 2 wrong usage, 130 play stopped by Ctrl-C";

void PrintUsage(std::FILE* out)
{
    std::fputs("usage: voctool COMMAND ...\n", out);
    for (const Command& command : kCommands)
        std::fprintf(out, "  voctool %s\n      %s\n", command.usage, command.summary);
    std::fprintf(out, "'voctool COMMAND --help' describes one command; %s\n", kExitStatus);
}

bool AsksForHelp(std::string_view word)
{
    return word == "--help" || word == "-h";
}

int PrintCommandHelp(const Command& command)
{
    std::printf("usage: voctool %s\n%s\n%s\n", command.usage, command.summary, kExitStatus);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (AsksForHelp(argv[1])) {
        PrintUsage(stdout);
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
    std::fprintf(stderr, "voctool: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
