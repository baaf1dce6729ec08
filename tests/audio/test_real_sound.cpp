#include "audio/adpcm_converter.h"
#include "audio/wave_player.h"
#include "platform/wave_out_sdl.h"
#include "support/audio_files.h"
#include "support/pulse_sound.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <thread>

// Plays a recording through the SDL2 output into a private PulseAudio server with a null sink,
// records the sink's monitor with parec and finds the decoded samples in what was heard.

using namespace std::chrono_literals;

TEST(RealSound, SdlOutputPlaysTheDecodedSamplesIntoPulseAudio)
{
    TempFolder folder;
    const PrivatePulseServer server(folder);
    if (!server.failure().empty())
        GTEST_SKIP() << server.failure();

    const std::string recording = folder.Path("VOC00001.WAV");
    ASSERT_TRUE(WriteSampleFile(recording, SampleSpecFor(2, 256 * 40)));
    const std::string wave = folder.Path("wave.$$$");
    const Result<void> converted = ConvertToPcmWave(wave, recording);
    ASSERT_TRUE(converted) << converted.error().reason;
    const std::vector<std::int16_t> decoded = ReadWaveSamples(wave);
    ASSERT_EQ(decoded.size(), 40u * 505);

    const std::string heardPath = folder.Path("heard.raw");
    ChildProcess recorder = server.Record(heardPath);

    SetWaveOutVolume(0x7FFF7FFF); // about half, to see the gain applied on the way
    PlayerReports reports;
    {
        WavePlayerSlot slot(MakeSdlWaveOut);
        reports.Listen(slot);
        const Result<void> opened = WaveOpen(slot, wave, false);
        ASSERT_TRUE(opened) << opened.error().reason;
        ASSERT_TRUE(reports.WaitForFinished(20s)) << "the player never reported its end";
        WaveClose(slot);
    }
    SetWaveOutVolume(0xFFFFFFFF);
    std::this_thread::sleep_for(300ms);
    recorder.Stop();
    EXPECT_GE(reports.Count("progress"), 5);

    const std::vector<std::int16_t> heard = SamplesOf(TempFolder::Read(heardPath));
    ASSERT_GT(heard.size(), 8000u) << "parec recorded almost nothing";
    // Two stretches of the recording, half a second each, one second apart: each must be heard,
    // at half level, and at the same distance in what was heard (no buffer lost or repeated).
    const std::vector<std::int16_t> first(decoded.begin() + 4000, decoded.begin() + 8000);
    const std::vector<std::int16_t> second(decoded.begin() + 12000, decoded.begin() + 16000);
    const SegmentMatch early = FindSegment(heard, first);
    const SegmentMatch late = FindSegment(heard, second);
    std::cout << "[ HEARD    ] correlation " << early.correlation << " / " << late.correlation << ", gain "
              << early.gain << ", start-up delay " << static_cast<long>(early.lag) - 4000 << " samples\n";
    EXPECT_GT(early.correlation, 0.95);
    EXPECT_GT(late.correlation, 0.95);
    EXPECT_NEAR(early.gain, 0.5, 0.1);
    EXPECT_NEAR(static_cast<double>(late.lag) - static_cast<double>(early.lag), 8000.0, 2.0);
}
