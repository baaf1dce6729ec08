#include "audio/adpcm_converter.h"
#include "audio/call_file.h"
#include "catalogue/call_details.h"
#include "support/call_reader.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

constexpr std::size_t kBlockSamples = 505;
// More than 127 bytes: an ID3 tag must write its sizes 7 bits a byte for it to be read back.
constexpr char kLongNote[] =
    "客户说三月二日订的货到现在还没有收到，快递单号查不到任何记录，要求全额退款；答应明天上午十点前回电话说明处理结果";

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
        tags = CallTagsOf(header, kLongNote);
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
                                                  {"comment", kLongNote},
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

// A damaged recording is refused with its own path; a stop leaves nothing. (Full and read-only
// disks: tests/writers.)
TEST(SavedCallFailure, RefusesADamagedRecordingAndAStopLeavesNothing)
{
    SavedCallFixture fixture;
    const std::string broken = fixture.folder.Write("VOC00002.WAV", "RIFF\x10\0\0\0WAVEjunk");
    const Result<void> refused = SaveRecordingAs(broken, CallFormat::Mp3, {}, fixture.folder.Path("x.mp3"));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().path, broken);

    const std::atomic<bool> stop{true};
    const Result<void> stopped =
        SaveRecordingAs(fixture.recording, CallFormat::Flac, {}, fixture.folder.Path("x.flac"), &stop);
    ASSERT_FALSE(stopped.has_value());
    EXPECT_FALSE(std::filesystem::exists(fixture.folder.Path("x.flac")));
}

// A stop asked for while a long call is encoded ends the save then, not after the whole encoding
// (closing the window during a long MP3 save), and leaves nothing behind.
TEST(SavedCallFailure, StopsWhileTheSamplesAreEncoded)
{
    SavedCallFixture fixture(3500 * 60 * 10);
    const std::string target = fixture.folder.Path("long.mp3");
    std::atomic<bool> stop{false};
    std::atomic<bool> saving{true};
    // The stop comes once the encoder has written a good part of a minute.
    std::thread stopper([&] {
        while (saving.load() && !stop.load()) {
            for (const auto& entry : std::filesystem::directory_iterator(fixture.folder.path())) {
                std::error_code ignored;
                if (entry.path().filename().string().starts_with(".long.mp3") && entry.file_size(ignored) > 64 * 1024)
                    stop = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const Result<void> saved = SaveRecordingAs(fixture.recording, CallFormat::Mp3, fixture.tags, target, &stop);
    saving = false;
    stopper.join();
    ASSERT_TRUE(stop.load()) << "the encoder never wrote 64 KiB";
    ASSERT_FALSE(saved.has_value()) << "the whole call was encoded after the stop";
    EXPECT_EQ(saved.error().reason, "stopped");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fixture.folder.path()), {}), 1);
}

} // namespace
