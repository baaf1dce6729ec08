#include "tools/sample_maker.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <cstdio>
#include <string>

int RunMakeSample(const CommandArgs& args)
{
    if (args.empty() || args.size() > 2) {
        return SayUsage("make-sample DIR [COUNT]");
    }
    unsigned long count = 20;
    if (args.size() == 2) {
        try {
            count = std::stoul(args[1]);
        } catch (const std::exception&) {
            Say(Voctool::tr("COUNT must be a whole number, not '%1'"), {args[1]});
            return 2;
        }
    }
    if (count > 99999) {
        Say(Voctool::tr("COUNT is at most 99999 (file names have five digits)"));
        return 2;
    }
    if (!WriteSampleFolder(args[0], static_cast<std::uint32_t>(count), 0)) {
        Say(Voctool::tr("cannot write the recordings into '%1'"), {args[0]});
        return 1;
    }
    Tell(Voctool::tr("wrote %1 recordings into %2"), {std::to_string(count), args[0]});
    return 0;
}
