#include "tools/sample_maker.h"
#include "tools/voctool_commands.h"

#include <cstdio>
#include <string>

int RunMakeSample(const CommandArgs& args)
{
    if (args.empty() || args.size() > 2) {
        std::fputs("usage: voctool make-sample DIR [COUNT]\n", stderr);
        return 2;
    }
    unsigned long count = 20;
    if (args.size() == 2) {
        try {
            count = std::stoul(args[1]);
        } catch (const std::exception&) {
            std::fprintf(stderr, "voctool: COUNT must be a whole number, not '%s'\n", args[1].c_str());
            return 2;
        }
    }
    if (count > 99999) {
        std::fputs("voctool: COUNT is at most 99999 (file names have five digits)\n", stderr);
        return 2;
    }
    if (!WriteSampleFolder(args[0], static_cast<std::uint32_t>(count), 0)) {
        std::fprintf(stderr, "voctool: cannot write the recordings into '%s'\n", args[0].c_str());
        return 1;
    }
    std::printf("wrote %lu recordings into %s\n", count, args[0].c_str());
    return 0;
}
