#include "catalogue/card_commands.h"

#include <unistd.h>

void DeleteRecordingFiles(const std::vector<std::string>& names, const std::string& devicePath)
{
    if (devicePath.empty())
        return;
    for (const std::string& name : names) {
        if (name.empty() || name.find('/') != std::string::npos)
            continue;
        ::unlink((devicePath + name).c_str());
    }
}
