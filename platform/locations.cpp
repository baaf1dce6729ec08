#include "platform/locations.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
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

std::string UserName()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? std::string(entry->pw_name) : std::to_string(::getuid());
}

std::string ConfigDir()
{
    return XdgDir("XDG_CONFIG_HOME", ".config") + "/sdvoice";
}

std::string DataDir()
{
    return XdgDir("XDG_DATA_HOME", ".local/share") + "/sdvoice";
}

bool MakeOwnFolder(const std::string& folder)
{
    constexpr mode_t kOwnFolderMode = 0700;
    std::error_code ignored; // a folder above that cannot be made fails the mkdir below
    std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
    if (::mkdir(folder.c_str(), kOwnFolderMode) == 0)
        return true;
    struct stat info {};
    if (errno != EEXIST || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    // A folder others may write into (such as /tmp, given as the folder of a file) is shared,
    // never the program's own: tightening it would lock every other user out.
    const bool shared = (info.st_mode & (S_ISVTX | S_IWOTH)) != 0;
    if ((info.st_mode & 07777) != kOwnFolderMode && info.st_uid == ::getuid() && !shared)
        ::chmod(folder.c_str(), kOwnFolderMode);
    return true;
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
