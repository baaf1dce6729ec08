#include "catalogue/card_commands.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(DeleteRecordingFiles, DeletesExactlyTheNamedFilesInTheCardFolder)
{
    TempFolder root;
    fs::create_directories(root.Path("VOICE"));
    for (const char* name : {"VOICE/VOC00001.WAV", "VOICE/VOC00002.WAV", "VOICE/VOC00003.WAV", "outside.WAV",
                             "VOC00001.WAV"})
        root.Write(name, "x");
    const std::string device = root.Path("VOICE") + "/";

    EXPECT_EQ(DeleteRecordingFiles({"VOC00003.WAV", "VOC00009.WAV", "VOC00001.WAV", "../outside.WAV", ""}, device),
              (std::vector<std::string>{"VOC00009.WAV", "../outside.WAV", ""}))
        << "the names whose file was not deleted, in their order";
    EXPECT_FALSE(fs::exists(device + "VOC00001.WAV"));
    EXPECT_TRUE(fs::exists(device + "VOC00002.WAV"));
    EXPECT_FALSE(fs::exists(device + "VOC00003.WAV"));
    EXPECT_TRUE(fs::exists(root.Path("outside.WAV")));
    EXPECT_TRUE(fs::is_directory(device));

    // No card folder known yet: nothing is deleted, not even in the working folder.
    const fs::path before = fs::current_path();
    fs::current_path(root.path());
    EXPECT_EQ(DeleteRecordingFiles({"VOC00001.WAV"}, ""), std::vector<std::string>{"VOC00001.WAV"});
    fs::current_path(before);
    EXPECT_TRUE(fs::exists(root.Path("VOC00001.WAV")));
}
