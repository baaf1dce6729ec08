#include "platform/locations.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            saved_ = old;
        Apply(value);
    }
    ~ScopedEnv() { Apply(saved_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Apply(const std::optional<std::string>& value)
    {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(Locations, XdgVariablesPlaceConfiguration)
{
    ScopedEnv home("HOME", "/home/alice");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/srv/config/");
        EXPECT_EQ(ConfigDir(), "/srv/config/sdvoice");
    }
    // Unset, empty or relative values fall back to the defaults below home.
    for (const std::optional<std::string>& value : {std::optional<std::string>(), std::optional<std::string>(""),
                                                    std::optional<std::string>("relative/dir")}) {
        ScopedEnv config("XDG_CONFIG_HOME", value);
        EXPECT_EQ(ConfigDir(), "/home/alice/.config/sdvoice");
    }
}

TEST(Locations, HomeGivesUploadAndExportPaths)
{
    {
        ScopedEnv home("HOME", "/home/alice/");
        EXPECT_EQ(HomeDir(), "/home/alice");
        EXPECT_EQ(DefaultUploadPath(), "/home/alice/");
        EXPECT_EQ(ExportFilePath(), "/home/alice/vrxexcel.xlsx");
    }
    {
        ScopedEnv home("HOME", "/");
        EXPECT_EQ(HomeDir(), "/");
        EXPECT_EQ(DefaultUploadPath(), "/");
        EXPECT_EQ(ConfigDir(), "/.config/sdvoice");
        EXPECT_EQ(ExportFilePath(), "/vrxexcel.xlsx");
    }
    // Without HOME the account's home folder from the password database counts.
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    std::string expected = account->pw_dir;
    while (expected.size() > 1 && expected.back() == '/')
        expected.pop_back();
    for (const std::optional<std::string>& value : {std::optional<std::string>(), std::optional<std::string>("")}) {
        ScopedEnv home("HOME", value);
        EXPECT_EQ(HomeDir(), expected.empty() ? "/" : expected);
    }
}

} // namespace

// The program's own folders are made the user's alone, but the folder of a file given in a shared
// place (an access log in /tmp) is left as it is: /tmp made 0700 locks every other user out.
TEST(Locations, MakeOwnFolderTightensOwnFoldersAndLeavesSharedOnes)
{
    TempFolder folder;
    const auto modeOf = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0U;
    };
    const std::string made = folder.Path("config/sdvoice");
    const std::string loose = folder.Path("loose");
    const std::string shared = folder.Path("shared");
    const std::string open = folder.Path("open");
    for (const auto& [path, mode] : {std::pair{loose, 0755}, std::pair{shared, 01777}, std::pair{open, 0777}}) {
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    for (const std::string& path : {made, loose, shared, open})
        EXPECT_TRUE(MakeOwnFolder(path)) << path;
    EXPECT_EQ(modeOf(made), 0700U);
    EXPECT_EQ(modeOf(loose), 0700U);
    EXPECT_EQ(modeOf(shared), 01777U);
    EXPECT_EQ(modeOf(open), 0777U);
}
