#include "platform/file_attributes.h"
#include "platform/recording_walk.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// name -> twelveBytes of every entry the walk hands out
std::map<std::string, bool> Walk(const std::string& folder)
{
    std::map<std::string, bool> seen;
    const bool opened = WalkRecordings(folder, [&](const WalkEntry& entry) {
        EXPECT_EQ(entry.attributes, kAttrArchive) << entry.name;
        EXPECT_FALSE(seen.count(entry.name)) << entry.name << " visited twice";
        seen[entry.name] = entry.twelveBytes;
        return true;
    });
    EXPECT_TRUE(opened);
    return seen;
}

TEST(RecordingPattern, MatchesVocStarWavIgnoringAsciiCaseOnly)
{
    EXPECT_TRUE(MatchesRecordingPattern("VOC00001.WAV"));
    EXPECT_TRUE(MatchesRecordingPattern("voc00002.wav"));
    EXPECT_TRUE(MatchesRecordingPattern("vOc1.WaV"));
    EXPECT_TRUE(MatchesRecordingPattern("VOC.WAV"));          // the star may be empty
    EXPECT_TRUE(MatchesRecordingPattern("VOC000001.WAV"));    // longer names match; the length rule is separate
    EXPECT_TRUE(MatchesRecordingPattern("VOC a.b.WAV"));
    EXPECT_TRUE(MatchesRecordingPattern("VOC录音1.WAV"));

    EXPECT_FALSE(MatchesRecordingPattern(""));
    EXPECT_FALSE(MatchesRecordingPattern("VOC"));
    EXPECT_FALSE(MatchesRecordingPattern("VOCWAV"));
    EXPECT_FALSE(MatchesRecordingPattern("VO.WAV"));
    EXPECT_FALSE(MatchesRecordingPattern("XVOC0001.WAV"));
    EXPECT_FALSE(MatchesRecordingPattern("VOC00001.WAVX"));
    EXPECT_FALSE(MatchesRecordingPattern("VOC00001.WA"));
    EXPECT_FALSE(MatchesRecordingPattern("VOC00001WAV"));
    EXPECT_FALSE(MatchesRecordingPattern("VOC00001.MP3"));
    EXPECT_FALSE(MatchesRecordingPattern(".VOC0001.WAV"));
    // Only a to z fold: full-width letters are other characters.
    EXPECT_FALSE(MatchesRecordingPattern("ＶＯＣ1.WAV"));
    EXPECT_FALSE(MatchesRecordingPattern("VOC1.ＷＡＶ"));
}

TEST(RecordingWalk, KeepsPlainFilesOfThePatternAndMeasuresNamesInGbkBytes)
{
    TempFolder folder;
    folder.Write("VOC00001.WAV", "a");
    folder.Write("voc00002.wav", "b");
    folder.Write("VOC1.WAV", "c");
    folder.Write("VOC000001.WAV", "d");
    folder.Write("notes.txt", "e");
    folder.Write("VOC00004.MP3", "f");
    // 14 bytes in UTF-8, 12 in GB18030: accepted like a recorder name.
    folder.Write("VOC录音1.WAV", "g");
    // 12 bytes in UTF-8, 14 in GB18030 (ß is not a GBK character): refused.
    folder.Write("VOCß123.WAV", "h");

    const std::map<std::string, bool> expected{
        {"VOC00001.WAV", true}, {"voc00002.wav", true},  {"VOC1.WAV", false},
        {"VOC000001.WAV", false}, {"VOC录音1.WAV", true}, {"VOCß123.WAV", false},
    };
    EXPECT_EQ(Walk(folder.path()), expected);
    EXPECT_EQ(Walk(folder.path() + "/"), expected);
}

TEST(RecordingWalk, PassesOverReadOnlyFilesFoldersLinksAndSpecialFiles)
{
    TempFolder folder;
    folder.Write("VOC00001.WAV", "kept");
    // Read-only is the owner write bit: root may write anyway, so access() would not tell.
    ASSERT_EQ(::chmod(folder.Write("VOC00003.WAV", "ro").c_str(), 0444), 0);
    // Others' write bits do not matter, only the owner's.
    ASSERT_EQ(::chmod(folder.Write("VOC00004.WAV", "rw").c_str(), 0200), 0);
    ASSERT_EQ(::chmod(folder.Write("VOC00005.WAV", "ro").c_str(), 0466), 0);
    ASSERT_EQ(::mkdir(folder.Path("VOC00009.WAV").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("VOC00001.WAV", folder.Path("VOC00010.WAV").c_str()), 0);
    ASSERT_EQ(::symlink("missing", folder.Path("VOC00011.WAV").c_str()), 0);
    // A pipe named like a recording would block whoever opens it to read the header.
    ASSERT_EQ(::mkfifo(folder.Path("VOC00012.WAV").c_str(), 0644), 0);

    const std::map<std::string, bool> expected{{"VOC00001.WAV", true}, {"VOC00004.WAV", true}};
    EXPECT_EQ(Walk(folder.path()), expected);
}

TEST(RecordingWalk, StopsWhenTheVisitorSaysSoAndReportsFoldersItCannotOpen)
{
    TempFolder folder;
    for (const char* name : {"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV"})
        folder.Write(name, "x");
    int visits = 0;
    EXPECT_TRUE(WalkRecordings(folder.path(), [&](const WalkEntry&) { return ++visits < 2; }));
    EXPECT_EQ(visits, 2);

    const auto never = [](const WalkEntry&) {
        ADD_FAILURE() << "nothing to visit";
        return true;
    };
    EXPECT_FALSE(WalkRecordings(folder.Path("missing"), never));
    EXPECT_FALSE(WalkRecordings(folder.Path("VOC00001.WAV"), never));
    EXPECT_FALSE(WalkRecordings("", never));
    TempFolder empty;
    EXPECT_TRUE(WalkRecordings(empty.path(), never));
}

} // namespace
