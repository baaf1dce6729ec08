#include "audio/adpcm_converter.h"
#include "audio/call_details.h"
#include "audio/call_file.h"
#include "support/call_reader.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBlockSamples = 505;

// A recording of a "留言" from 075583765566, and its details with a note.
struct SavedCallFixture {
    TempFolder folder;
    std::string recording = folder.Path("VOC00001.WAV");
    RecordingHeader header;
    CallTags tags;

    explicit SavedCallFixture(std::uint32_t dataBytes = 3500 * 6)
    {
        SampleSpec sample{'L', "075583765566", 23, 1, 2, 14, 40, dataBytes, 7};
        EXPECT_TRUE(WriteSampleFile(recording, sample));
        header = *ReadRecordingHeader(recording);
        tags = CallTagsOf(header, "客户说货没到，要求退款");
    }

    std::vector<std::int16_t> Decoded() const
    {
        const Result<LoadedWave> wave = DecodeToPcmWave(recording);
        EXPECT_TRUE(wave.has_value());
        std::vector<std::int16_t> samples(wave->data.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(wave->data[2 * i] | (wave->data[2 * i + 1] << 8));
        return samples;
    }
};

class SavedCall : public ::testing::TestWithParam<CallFormat> {};

// Read back by ffprobe and ffmpeg: the rate, one channel, the length of the decoded recording
// to within one block, every tag; WAV and FLAC hold our decoder's samples exactly.
TEST_P(SavedCall, PlaysElsewhereWithTheRecordingsLengthAndDetails)
{
    const CallFormat format = GetParam();
    SavedCallFixture fixture;
    const std::string name = SuggestedCallFileName(fixture.header, format);
    EXPECT_EQ(name, "2023-01-02 14时40分 075583765566 留言." + std::string(CallFormatExtension(format)));
    const std::string output = fixture.folder.Path(name);
    const Result<void> saved = SaveRecordingAs(fixture.recording, format, fixture.tags, output);
    ASSERT_TRUE(saved.has_value()) << saved.error().reason;

    const CallReadBack call = ReadCallBack(output);
    ASSERT_EQ(call.error, "");
    EXPECT_EQ(call.sampleRate, format == CallFormat::Opus ? 48000 : 8000);
    EXPECT_EQ(call.channels, 1);
    const std::vector<std::int16_t> decoded = fixture.Decoded();
    EXPECT_NEAR(static_cast<double>(call.samples.size()), static_cast<double>(decoded.size()), kBlockSamples);
    if (format == CallFormat::Wav || format == CallFormat::Flac) {
        EXPECT_EQ(call.samples, decoded);
    }
    const std::map<std::string, std::string> tags{{"title", "075583765566 2023年01月02日14时40分"},
                                                  {"comment", "客户说货没到，要求退款"},
                                                  {"genre", "留言"},
                                                  {"album", "留言"},
                                                  {"date", "2023-01-02"}};
    for (const auto& [key, value] : tags)
        EXPECT_EQ(call.tags.count(key) ? call.tags.at(key) : "(none)", value) << key;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fixture.folder.path()), {}), 2)
        << "no temporary file is left beside the saved call";
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, SavedCall,
                         ::testing::Values(CallFormat::Wav, CallFormat::Flac, CallFormat::Mp3, CallFormat::Opus),
                         [](const auto& info) { return std::string(CallFormatExtension(info.param)); });

// A full disk and a read-only folder fail with their errno, leave no partial file and an
// existing file as it was; a damaged recording is refused with its own path; a stop leaves nothing.
TEST(SavedCallFailure, LeavesNoPartialFileAndTheOldFileAsItWas)
{
    SavedCallFixture fixture(3500 * 120);
    const std::string broken = fixture.folder.Write("VOC00002.WAV", "RIFF\x10\0\0\0WAVEjunk");
    const Result<void> refused = SaveRecordingAs(broken, CallFormat::Mp3, {}, fixture.folder.Path("x.mp3"));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().path, broken);

    const std::atomic<bool> stop{true};
    const Result<void> stopped = SaveRecordingAs(fixture.recording, CallFormat::Flac, {}, fixture.folder.Path("x.flac"), &stop);
    ASSERT_FALSE(stopped.has_value());
    EXPECT_FALSE(std::filesystem::exists(fixture.folder.Path("x.flac")));

    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (const std::string why = EnterPrivateMountNamespace(); !why.empty())
        GTEST_SKIP() << "no private mount namespace here: " << why;
    const std::string disk = fixture.folder.Path("disk");
    std::filesystem::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=96k") != 0)
        GTEST_SKIP() << "this machine refuses a tmpfs mount: " << std::strerror(errno);
    const std::string target = disk + "/call.wav";
    TempFolder::WriteFile(target, "old");
    for (const CallFormat format : {CallFormat::Wav, CallFormat::Flac}) {
        const Result<void> full = SaveRecordingAs(fixture.recording, format, fixture.tags, target);
        ASSERT_FALSE(full.has_value()) << "a recording of two minutes does not fit into 96 KiB";
        EXPECT_EQ(full.error().error, ENOSPC) << full.error().reason;
        EXPECT_EQ(full.error().path, target);
    }
    ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    const Result<void> readOnly = SaveRecordingAs(fixture.recording, CallFormat::Opus, fixture.tags, disk + "/call.opus");
    ASSERT_FALSE(readOnly.has_value());
    EXPECT_EQ(readOnly.error().error, EROFS) << readOnly.error().reason;
    EXPECT_EQ(TempFolder::Read(target), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk), {}), 1);
}

} // namespace
