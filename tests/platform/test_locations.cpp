#include "platform/locations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <pwd.h>
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
