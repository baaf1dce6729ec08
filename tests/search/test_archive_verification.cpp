#include "platform/folder_sums.h"
#include "search/archive_verification.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

using Found = std::map<std::string, FingerprintState>;

Found Verified(const std::string& folder, FolderScope scope)
{
    Found found;
    EXPECT_TRUE(VerifyArchive(folder, scope, [&](const VerifiedRecording& recording) {
        found[recording.folder + recording.name] = recording.state;
        return true;
    }));
    return found;
}

// Records the fingerprints of the named files of folder, as an upload does.
void Record(const std::string& folder, std::initializer_list<std::string> names)
{
    std::vector<SumsLine> lines;
    for (const std::string& name : names)
        lines.push_back({*Sha256HexOfFile(folder + "/" + name), name});
    ASSERT_TRUE(RecordFolderSums(folder, lines));
}

TEST(FolderSums, SumsFilesAreWhatSha256sumChecksAndKeepTheLinesOfEarlierUploads)
{
    const TempFolder folder;
    ASSERT_TRUE(WriteSampleFolder(folder.path(), 3, 3500));
    // A name with a backslash and one with a line end are written escaped, as sha256sum writes them.
    const std::string odd = "VOC\\0004.WAV";
    const std::string twoLines = "VOC\n0005.WAV";
    folder.Write(odd, "odd");
    folder.Write(twoLines, "two lines");
    Record(folder.path(), {"VOC00001.WAV", odd});
    Record(folder.path(), {"VOC00002.WAV", "VOC00003.WAV", twoLines});
    const std::vector<SumsLine> lines = *ReadFolderSums(folder.path());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.front().name, "VOC\n0005.WAV");
    folder.Write("VOC00001.WAV", TempFolder::Read(folder.Path("VOC00001.WAV")) + "x");
    Record(folder.path(), {"VOC00001.WAV"}); // recorded again: its line is replaced, not doubled
    EXPECT_EQ(ReadFolderSums(folder.path())->size(), 5u);
    if (HaveProgram("sha256sum")) {
        EXPECT_TRUE(RunProgram({"sh", "-c", "cd '" + folder.path() + "' && sha256sum --quiet --strict -c SHA256SUMS"}));
    }

    // A SHA256SUMS that is not one is refused, never overwritten.
    folder.Write("SHA256SUMS", "not a list\n");
    EXPECT_FALSE(RecordFolderSums(folder.path(), lines));
    EXPECT_EQ(TempFolder::Read(folder.Path("SHA256SUMS")), "not a list\n");
}

TEST(ArchiveVerification, NamesEachRecordingChangedMissingOrUnrecordedInItsFolder)
{
    const TempFolder archive;
    const std::string month = archive.Path("2023年01月");
    ASSERT_TRUE(WriteSampleFolder(archive.path(), 3, 3500));
    ASSERT_TRUE(WriteSampleFolder(month, 2, 3500, 4));
    Record(archive.path(), {"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV"});
    Record(month, {"VOC00004.WAV", "VOC00005.WAV"});
    std::filesystem::create_directory(archive.Path(".replaced"));
    ASSERT_TRUE(WriteSampleFolder(archive.Path(".replaced"), 1, 3500)); // kept files are not the archive's
    const Found whole = {{"VOC00001.WAV", FingerprintState::Whole},
                         {"VOC00002.WAV", FingerprintState::Whole},
                         {"VOC00003.WAV", FingerprintState::Whole},
                         {"2023年01月/VOC00004.WAV", FingerprintState::Whole},
                         {"2023年01月/VOC00005.WAV", FingerprintState::Whole}};
    EXPECT_EQ(Verified(archive.path(), FolderScope::WithSubfolders), whole);
    EXPECT_EQ(Verified(archive.path() + "/", FolderScope::FolderOnly).size(), 3u);

    std::string bytes = TempFolder::Read(archive.Path("VOC00002.WAV"));
    bytes[3000] = static_cast<char>(bytes[3000] ^ 1);
    archive.Write("VOC00002.WAV", bytes);
    std::filesystem::remove(month + "/VOC00005.WAV");
    ASSERT_TRUE(WriteSampleFolder(month, 1, 3500, 6));
    Found damaged = whole;
    damaged["VOC00002.WAV"] = FingerprintState::Changed;
    damaged["2023年01月/VOC00005.WAV"] = FingerprintState::Missing;
    damaged["2023年01月/VOC00006.WAV"] = FingerprintState::Unrecorded;
    EXPECT_EQ(Verified(archive.path(), FolderScope::WithSubfolders), damaged);

    // A SHA256SUMS that is no list is itself named; its folder's recordings have no fingerprint.
    TempFolder::WriteFile(month + "/SHA256SUMS", "0123  VOC00004.WAV\n");
    const Found broken = Verified(archive.path(), FolderScope::WithSubfolders);
    EXPECT_EQ(broken.at("2023年01月/SHA256SUMS"), FingerprintState::Changed);
    EXPECT_EQ(broken.at("2023年01月/VOC00004.WAV"), FingerprintState::Unrecorded);
    EXPECT_FALSE(VerifyArchive(archive.Path("missing"), FolderScope::FolderOnly, [](const auto&) { return true; }));
}

} // namespace
