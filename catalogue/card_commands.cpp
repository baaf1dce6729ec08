#include "catalogue/card_commands.h"

#include <unistd.h>

bool DeleteRecordingFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::vector<std::string> DeleteRecordingFiles(const std::vector<std::string>& names, const std::string& devicePath)
{
    std::vector<std::string> kept;
    for (const std::string& name : names) {
        const bool safeName = !devicePath.empty() && !name.empty() && name.find('/') == std::string::npos;
        if (!safeName || !DeleteRecordingFile(devicePath + name))
            kept.push_back(name);
    }
    return kept;
}

std::string UndeletedFilesMessage(const std::vector<std::string>& files)
{
    std::string text = "以下录音文件无法删除，仍保留在列表中：";
    for (const std::string& file : files)
        text += "\n" + file;
    return text;
}
