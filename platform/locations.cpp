#include "platform/locations.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string EnvOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Joins a folder and a name without doubling the "/" when the folder is the root.
std::string JoinBelow(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// An XDG base folder: the variable when it holds an absolute path, else the default below home.
std::string XdgDir(const char* variable, const char* defaultBelowHome)
{
    const std::string value = EnvOrEmpty(variable);
    if (!value.empty() && value.front() == '/')
        return WithoutTrailingSlash(value);
    return JoinBelow(HomeDir(), defaultBelowHome);
}

} // namespace

std::string HomeDir()
{
    std::string home = EnvOrEmpty("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()))
            home = entry->pw_dir;
    }
    return home.empty() ? std::string("/") : WithoutTrailingSlash(home);
}

std::string ConfigDir()
{
    return XdgDir("XDG_CONFIG_HOME", ".config") + "/sdvoice";
}

std::string DataDir()
{
    return XdgDir("XDG_DATA_HOME", ".local/share") + "/sdvoice";
}

std::string SettingsFilePath()
{
    return ConfigDir() + "/sdvoice.conf";
}

std::string ExportFilePath()
{
    return JoinBelow(HomeDir(), "vrxexcel.xlsx");
}

std::string StatisticsExportFilePath()
{
    return JoinBelow(HomeDir(), "vrxstat.xlsx");
}

std::string DefaultUploadPath()
{
    const std::string home = HomeDir();
    return home == "/" ? home : home + "/";
}
