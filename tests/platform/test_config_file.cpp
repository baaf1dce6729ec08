#include "platform/config_file.h"
#include "platform/locations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// GB18030 bytes of "E:\录音".
const std::string kRecordingFolderBytes = "E:\\\xC2\xBC\xD2\xF4";
const std::string kRecordingFolder = "E:\\录音";

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/sdvoice-config-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        path_ = root_ + "/sdvoice/qzacfg.cfg";
    }
    void TearDown() override { fs::remove_all(root_); }

    void PutBytes(const std::string& bytes)
    {
        fs::create_directories(fs::path(path_).parent_path());
        std::ofstream(path_, std::ios::binary) << bytes;
    }
    std::string Bytes() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    template <typename T>
    static std::string ErrorOf(const Result<T>& result)
    {
        return result ? "no error" : result.error().reason;
    }

    std::string root_;
    std::string path_;
};

TEST(ConfigFilePathTest, LiesInTheXdgConfigFolderAndIsWorkedOutOnce)
{
    const std::string longFolder = "/tmp/" + std::string(80, 'c');
    ::setenv("XDG_CONFIG_HOME", longFolder.c_str(), 1);
    EXPECT_EQ(ConfigFilePath(), longFolder + "/sdvoice/qzacfg.cfg");
    ::setenv("XDG_CONFIG_HOME", "/elsewhere", 1);
    EXPECT_EQ(ConfigFilePath(), longFolder + "/sdvoice/qzacfg.cfg");
}

TEST(SplitConfigLinesTest, EveryKindOfLineEndingEndsALine)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitConfigLines(""), Lines{});
    EXPECT_EQ(SplitConfigLines("a"), Lines{"a"});
    EXPECT_EQ(SplitConfigLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(SplitConfigLines("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitConfigLines("a\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitConfigLines("a\rb\r"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitConfigLines("a\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitConfigLines("a\r\rb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitConfigLines("a\r\n\r\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitConfigLines("\n"), Lines{""});
    EXPECT_EQ(SplitConfigLines("a\n\rb"), (Lines{"a", "", "b"}));
}

TEST_F(ConfigFileTest, ReadingDecodesGb18030AndTreatsAMissingFileAsEmpty)
{
    EXPECT_TRUE(ReadConfigLines(path_).value().empty());
    EXPECT_TRUE(ReadConfigLines(root_ + "/no/such/folder/qzacfg.cfg").value().empty());

    PutBytes(kRecordingFolderBytes + "\nsecret\rthird");
    EXPECT_EQ(ReadConfigLines(path_).value(), (ConfigLines{kRecordingFolder, "secret", "third"}));

    PutBytes("");
    EXPECT_TRUE(ReadConfigLines(path_).value().empty());
}

TEST_F(ConfigFileTest, WritingEndsEveryLineWithCrLfInGb18030)
{
    ASSERT_TRUE(WriteConfigLines({kRecordingFolder, "密码", ""}, path_));
    EXPECT_EQ(Bytes(), kRecordingFolderBytes + "\r\n\xC3\xDC\xC2\xEB\r\n\r\n");
    EXPECT_EQ(ReadConfigLines(path_).value(), (ConfigLines{kRecordingFolder, "密码", ""}));

    // Characters outside GBK survive through the four-byte GB18030 sequences.
    ASSERT_TRUE(WriteConfigLines({"/home/归档/€ 😀"}, path_));
    EXPECT_EQ(ReadConfigLines(path_).value(), ConfigLines{"/home/归档/€ 😀"});

    ASSERT_TRUE(WriteConfigLines({}, path_));
    EXPECT_EQ(Bytes(), "");
}

TEST_F(ConfigFileTest, PasswordWriterReplacesOnlyLineTwo)
{
    EXPECT_EQ(StorePassword("pw1", path_).value(), (ConfigLines{DefaultUploadPath(), "pw1"}));
    EXPECT_EQ(Bytes(), DefaultUploadPath() + "\r\npw1\r\n");

    PutBytes("");
    ASSERT_TRUE(StorePassword("pw2", path_));
    EXPECT_EQ(ReadConfigLines(path_).value(), (ConfigLines{DefaultUploadPath(), "pw2"}));

    PutBytes(kRecordingFolderBytes);
    ASSERT_TRUE(StorePassword("pw3", path_));
    EXPECT_EQ(Bytes(), kRecordingFolderBytes + "\r\npw3\r\n");

    PutBytes("line1\nold\nline3\nline4\n");
    ASSERT_TRUE(StorePassword("new", path_));
    EXPECT_EQ(Bytes(), "line1\r\nnew\r\nline3\r\nline4\r\n");
}

TEST_F(ConfigFileTest, UploadPathWriterReplacesOnlyLineOne)
{
    EXPECT_EQ(SaveUploadPath(kRecordingFolder, path_).value(), ConfigLines{kRecordingFolder});
    EXPECT_EQ(Bytes(), kRecordingFolderBytes + "\r\n");

    PutBytes("D:\\\r\nsecret\r\nthird");
    EXPECT_EQ(SaveUploadPath("/srv/archive", path_).value(), (ConfigLines{"/srv/archive", "secret", "third"}));
    EXPECT_EQ(Bytes(), "/srv/archive\r\nsecret\r\nthird\r\n");

    PutBytes("");
    ASSERT_TRUE(SaveUploadPath("/srv/a", path_));
    EXPECT_EQ(Bytes(), "/srv/a\r\n");

    // A password set first survives a later choice of the upload folder.
    fs::remove(path_);
    ASSERT_TRUE(StorePassword("secret", path_));
    ASSERT_TRUE(SaveUploadPath(kRecordingFolder, path_));
    EXPECT_EQ(ReadConfigLines(path_).value(), (ConfigLines{kRecordingFolder, "secret"}));
}

TEST_F(ConfigFileTest, WritersKeepTheOtherLinesByteForByte)
{
    // Bytes that are no valid GB18030 must come back unchanged, not as their visible escapes.
    const std::string oddPath = "E:\\\x80\xFF";
    PutBytes(oddPath + "\r\nold\r\n\xFE\r\n");
    ASSERT_TRUE(StorePassword("new", path_));
    EXPECT_EQ(Bytes(), oddPath + "\r\nnew\r\n\xFE\r\n");

    PutBytes("D:\\\r\n\x81\r\n");
    ASSERT_TRUE(SaveUploadPath("/srv", path_));
    EXPECT_EQ(Bytes(), "/srv\r\n\x81\r\n");
}

TEST_F(ConfigFileTest, LoginIsNeededOnlyForANonEmptySecondLine)
{
    EXPECT_FALSE(NeedLogin(path_).value());
    PutBytes(kRecordingFolderBytes + "\r\n");
    EXPECT_FALSE(NeedLogin(path_).value());
    PutBytes(kRecordingFolderBytes + "\r\n\r\nthird\r\n");
    EXPECT_FALSE(NeedLogin(path_).value());
    PutBytes("D:\\\n Pass \n");
    EXPECT_TRUE(NeedLogin(path_).value());
    EXPECT_EQ(StoredPassword(path_).value(), " Pass ");
    PutBytes("D:\\\r\n\xC3\xDC\xC2\xEB");
    EXPECT_EQ(StoredPassword(path_).value(), "密码");
}

TEST_F(ConfigFileTest, WrittenFileIsPrivateAndReplacedAsAWhole)
{
    PutBytes("D:\\\r\nold\r\n");
    ::chmod(path_.c_str(), 0644);
    const std::string witness = root_ + "/witness";
    fs::create_hard_link(path_, witness);

    ASSERT_TRUE(StorePassword("new", path_));

    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // The old file was replaced by a new one, not rewritten in place.
    std::ifstream old(witness, std::ios::binary);
    std::string oldText((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
    EXPECT_EQ(oldText, "D:\\\r\nold\r\n");
    EXPECT_EQ(Bytes(), "D:\\\r\nnew\r\n");
    // No temporary file is left beside it.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(path_).parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(ConfigFileTest, FirstWriterCreatesTheFolderWithItsParents)
{
    const std::string deep = root_ + "/a/b/c/sdvoice/qzacfg.cfg";
    ASSERT_TRUE(SaveUploadPath("/srv", deep));
    EXPECT_EQ(ReadConfigLines(deep).value(), ConfigLines{"/srv"});
    struct stat info {};
    ASSERT_EQ(::stat(deep.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ConfigFileTest, UnreadableFileReportsCannotOpenWithItsPath)
{
    fs::create_directories(path_);  // a folder where the file should be
    const std::string expected = "Cannot open file " + path_;
    EXPECT_EQ(ErrorOf(ReadConfigLines(path_)), expected);
    EXPECT_EQ(ErrorOf(NeedLogin(path_)), expected);
    EXPECT_EQ(ErrorOf(StorePassword("pw", path_)), expected);
    EXPECT_EQ(ErrorOf(SaveUploadPath("/srv", path_)), expected);
    EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(ConfigFileTest, FifoInPlaceOfTheFileIsRefusedWithoutBlocking)
{
    fs::create_directories(fs::path(path_).parent_path());
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(ErrorOf(NeedLogin(path_)), "Cannot open file " + path_);
}

TEST_F(ConfigFileTest, UnwritableFileReportsCannotCreateAndKeepsTheOldContent)
{
    // The folder of the file cannot be made: a plain file stands where it should be.
    std::ofstream(root_ + "/blocker") << "x";
    const std::string underFile = root_ + "/blocker/sdvoice/qzacfg.cfg";
    EXPECT_EQ(ErrorOf(StorePassword("pw", underFile)), "Cannot create file " + underFile);
    EXPECT_EQ(ErrorOf(SaveUploadPath("/srv", underFile)), "Cannot create file " + underFile);

    // A line ending inside a value would move the password to another line: refused, file kept.
    PutBytes("D:\\\r\nsecret\r\n");
    EXPECT_EQ(ErrorOf(SaveUploadPath("/srv/a\nb", path_)), "Cannot create file " + path_);
    EXPECT_EQ(ErrorOf(StorePassword("a\rb", path_)), "Cannot create file " + path_);
    EXPECT_EQ(Bytes(), "D:\\\r\nsecret\r\n");
}

} // namespace
