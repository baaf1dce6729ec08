#include "tools/voctool_commands.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct Command {
    const char* name;
    int (*run)(const CommandArgs&);
    const char* usage;
};

const Command kCommands[] = {
    {"make-sample", RunMakeSample, "make-sample DIR [COUNT]"},
    {"list", RunList, "list DIR"},
    {"search", RunSearch, "search DIR --from YYYY-MM-DD --to YYYY-MM-DD [--mode NAME] [--phone TEXT]"},
    {"convert", RunConvert, "convert INPUT OUTPUT"},
    {"play", RunPlay, "play FILE [--from PERCENT]"},
};

int PrintUsage()
{
    std::fputs("usage: voctool COMMAND ...\n", stderr);
    for (const Command& command : kCommands)
        std::fprintf(stderr, "  voctool %s\n", command.usage);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return PrintUsage();
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(CommandArgs(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "voctool: unknown command '%s'\n", argv[1]);
    return PrintUsage();
}
