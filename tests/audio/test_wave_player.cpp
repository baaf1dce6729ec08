#include "audio/Adpcm.h"
#include "audio/Wavelib.h"
#include "platform/wave_out_sdl.h"
#include "platform/wave_out_virtual.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <deque>

using namespace std::chrono_literals;

namespace {

// Collects the player's notifications; they run on the test's thread when it pumps them.
class RecordingListener : public WaveListener {
public:
    void PostToOwnThread(std::function<void()> call) override
    {
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(std::move(call));
        }
        arrived_.notify_all();
    }
    void OnWaveProgress(int percent) override { events.push_back("progress " + std::to_string(percent)); }
    void OnWaveFinished() override { events.push_back("finished"); }
    void OnWaveDisableSlider() override { events.push_back("slider off"); }
    void OnWaveDisablePlay() override { events.push_back("play off"); }

    void RunPending()
    {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(posted_);
        }
        for (const auto& call : calls)
            call();
    }
    // Runs notifications as they arrive until the end is reported (10 s of real time at most,
    // so that a broken player fails the test instead of hanging it).
    bool RunUntilFinished()
    {
        const auto giveUp = std::chrono::steady_clock::now() + 10s;
        for (;;) {
            RunPending();
            if (std::count(events.begin(), events.end(), "finished") > 0)
                return true;
            std::unique_lock lock(mutex_);
            if (!arrived_.wait_until(lock, giveUp, [this] { return !posted_.empty(); }))
                return false;
        }
    }
    long Count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }

    std::vector<std::string> events; // test thread only

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> posted_;
};

std::string DataOf(std::uint32_t bytes)
{
    std::string data(bytes, '\0');
    for (std::uint32_t i = 0; i < bytes; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return data;
}

class WavePlayerTest : public ::testing::Test {
protected:
    void SetUp() override { WaveQuiet.store(false); }
    void TearDown() override
    {
        // The close waits for the worker, which may be in its end-of-data wait on the clock:
        // keep the clock moving until the close is done.
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            WaveClose(slot);
            closed.store(true);
        });
        while (!closed.load()) {
            clock.Advance(1s);
            std::this_thread::yield();
        }
        closer.join();
    }

    std::string WaveFile(std::uint32_t dataBytes)
    {
        const auto header = WaveHeaderBytes(dataBytes);
        return folder.Write("wave" + std::to_string(dataBytes) + ".wav",
                            std::string(header.begin(), header.end()) + DataOf(dataBytes));
    }
    std::vector<std::string> Writes() const
    {
        std::vector<std::string> writes;
        for (const std::string& event : clock.Events()) {
            if (event.starts_with("write"))
                writes.push_back(event);
        }
        return writes;
    }

    TempFolder folder;
    VirtualClock clock;
    RecordingListener listener;
    WavePlayerSlot slot{&listener, clock.DeviceFactory(), [this](std::chrono::milliseconds d) { clock.SleepFor(d); }};
};

std::vector<std::string> Repeat(const std::string& event, int times)
{
    return std::vector<std::string>(times, event);
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(WavePlayerTest, HundredThousandBytesGoOutAsTwelveFullBuffersATailAndAnEmptyEnd)
{
    WaveOpen(slot, WaveFile(100000), false);
    ASSERT_TRUE(slot.player);
    EXPECT_EQ(WaveTotalBytes.load(), 100000u);
    EXPECT_EQ(WavePlayedBytes.load(), 0u);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    for (std::size_t writes = 9; writes <= 14; ++writes) {
        clock.Advance(500ms); // one buffer's worth at 16000 bytes per second
        ASSERT_TRUE(clock.WaitForEvents("write", writes));
    }
    EXPECT_EQ(Writes(), (Repeat("write 8000", 12) + std::vector<std::string>{"write 4000", "write 0"}));
    EXPECT_EQ(clock.WrittenBytes(), DataOf(100000));

    // The end is held back for 2000 ms of the clock before the output is reset.
    ASSERT_TRUE(clock.WaitForSleepers(1));
    EXPECT_EQ(clock.CountEvents("reset"), 0u);
    clock.Advance(2000ms);
    ASSERT_TRUE(listener.RunUntilFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 1u);

    // Every returned buffer counts 8000, the tail and the empty one too: 14 x 8000.
    EXPECT_EQ(WavePlayedBytes.load(), 112000u);
    std::vector<std::string> expected;
    for (int returned = 1; returned <= 14; ++returned) {
        const int played = returned * 8000;
        expected.push_back("progress " + std::to_string(played * 100 / 100000));
        if (100000 - played < 50000)
            expected.push_back("slider off");
        if (100000 - played < 40000)
            expected.push_back("play off");
    }
    expected.push_back("finished");
    EXPECT_EQ(listener.events, expected);

    WaveClose(slot);
    EXPECT_FALSE(slot.player);
    EXPECT_EQ(clock.Events().back(), "close");
}

TEST_F(WavePlayerTest, TwentyThousandBytesEndWhenTheFirstBufferReturns)
{
    WaveOpen(slot, WaveFile(20000), false);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(Writes(), (std::vector<std::string>{"write 8000", "write 8000", "write 4000"}) + Repeat("write 0", 5));
    clock.Advance(500ms);
    ASSERT_TRUE(clock.WaitForEvents("write", 9));
    EXPECT_EQ(Writes().back(), "write 0");
    ASSERT_TRUE(clock.WaitForSleepers(1));
    EXPECT_EQ(clock.CountEvents("reset"), 0u);
    clock.Advance(2000ms);
    ASSERT_TRUE(listener.RunUntilFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 1u);
    EXPECT_EQ(clock.CountEvents("write"), 9u);
}

TEST_F(WavePlayerTest, EmptyDataChunkEndsOnTheFirstReturnedBufferAtZeroPercent)
{
    WaveOpen(slot, WaveFile(0), false);
    ASSERT_TRUE(slot.player);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(Writes(), Repeat("write 0", 8));
    clock.Advance(1ms);
    ASSERT_TRUE(clock.WaitForSleepers(1));
    clock.Advance(2000ms);
    ASSERT_TRUE(listener.RunUntilFinished());
    EXPECT_EQ(listener.events.front(), "progress 0");
    EXPECT_EQ(listener.events.back(), "finished");
}

TEST_F(WavePlayerTest, StartOffsetsAndPercentagesStayExactForLargeSizes)
{
    WaveOpenAt(slot, WaveFile(100000), false, 50);
    ASSERT_TRUE(slot.player);
    EXPECT_EQ(WavePlayedBytes.load(), 50000u);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(Writes(), (Repeat("write 8000", 6) + std::vector<std::string>{"write 2000", "write 0"}));
    EXPECT_EQ(clock.WrittenBytes(), DataOf(100000).substr(50000));

    WaveOpenAt(slot, WaveFile(123456), false, 50);
    EXPECT_EQ(WavePlayedBytes.load(), 60000u);
    EXPECT_EQ(WaveTotalBytes.load(), 123456u);

    EXPECT_EQ(WaveStartOffset(4'000'000'000u, 50), 2'000'000'000u);
    EXPECT_EQ(WaveStartOffset(4'294'967'295u, 100), 4'294'966'000u);
    EXPECT_EQ(WaveStartOffset(123456, 250), 122000u);
    EXPECT_EQ(WaveStartOffset(123456, -5), 0u);
    EXPECT_EQ(WavePercent(3'000'000'000u, 4'000'000'000u), 75);
    EXPECT_EQ(WavePercent(4'100'000'000u, 50'000'000u), 8200);
    EXPECT_EQ(WavePercent(8000, 0), 0);
}

TEST_F(WavePlayerTest, QuietPlayerStillPlaysToTheEndButTellsNothing)
{
    WaveOpen(slot, WaveFile(20000), false);
    WaveQuiet.store(true);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    clock.Advance(500ms);
    ASSERT_TRUE(clock.WaitForEvents("write", 9));
    ASSERT_TRUE(clock.WaitForSleepers(1));
    clock.Advance(2000ms);
    ASSERT_TRUE(clock.WaitForEvents("reset", 1));
    WaveClose(slot);
    listener.RunPending();
    EXPECT_TRUE(listener.events.empty());
    EXPECT_GE(WavePlayedBytes.load(), 8000u);
}

TEST_F(WavePlayerTest, StopEndsThePlaybackOnceWhetherPlayingOrPaused)
{
    // Playing: the flag is seen when the next buffer comes back; no end-of-data wait.
    WaveOpen(slot, WaveFile(100000), false);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    WaveRequestStop(slot);
    clock.Advance(500ms);
    ASSERT_TRUE(listener.RunUntilFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 1u);
    WaveClose(slot);
    listener.RunPending();
    EXPECT_EQ(listener.Count("finished"), 1);

    // Paused: no buffer comes back, yet the stop still ends the playback.
    listener.events.clear();
    const std::size_t earlierWrites = clock.CountEvents("write");
    WaveOpen(slot, WaveFile(100000), false);
    ASSERT_TRUE(clock.WaitForEvents("write", earlierWrites + 8));
    WaveSetPaused(slot, true);
    clock.Advance(1000ms);
    listener.RunPending();
    EXPECT_TRUE(listener.events.empty()) << "a paused output returned a buffer";
    WaveRequestStop(slot);
    ASSERT_TRUE(listener.RunUntilFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 2u);
    WaveClose(slot);
    listener.RunPending();
    EXPECT_EQ(listener.Count("finished"), 1);
}

TEST_F(WavePlayerTest, PlayerOpenedPausedWaitsForTheRestart)
{
    WaveOpen(slot, WaveFile(100000), true);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(clock.Events()[0], "open");
    EXPECT_EQ(clock.Events()[1], "pause");
    clock.Advance(1000ms);
    EXPECT_EQ(clock.CountEvents("write"), 8u);
    WaveSetPaused(slot, false);
    clock.Advance(500ms);
    ASSERT_TRUE(clock.WaitForEvents("write", 9));
    listener.RunPending();
    EXPECT_EQ(listener.events, (std::vector<std::string>{"progress 8"}));
}

TEST_F(WavePlayerTest, EmptySlotAndFailedOpensDoNothing)
{
    WaveRequestStop(slot);
    WaveSetPaused(slot, true);
    WaveClose(slot);
    EXPECT_FALSE(slot.player);

    WaveOpen(slot, folder.Path("missing.wav"), false);
    EXPECT_FALSE(slot.player);
    const auto header = WaveHeaderBytes(100);
    WaveOpen(slot, folder.Write("nodata.wav", std::string(header.begin(), header.begin() + 52)), false);
    EXPECT_FALSE(slot.player);
    const std::string shortFormat = "RIFF" + std::string(4, '\0') + "WAVE" +
                                    Chunk("fmt ", std::string("\x01\0\x01\0", 4)) + Chunk("data", "ab");
    WaveOpen(slot, folder.Write("short_fmt.wav", shortFormat), false);
    EXPECT_FALSE(slot.player);
    ImaFileSpec adpcm;
    WaveOpen(slot, folder.Write("adpcm.wav", MakeWaveFile(adpcm, std::string(256, '\0'))), false);
    EXPECT_FALSE(slot.player) << "an output accepted IMA ADPCM";
    clock.SetRefuseOpen(true);
    WaveOpen(slot, WaveFile(20000), false);
    EXPECT_FALSE(slot.player);

    EXPECT_EQ(clock.CountEvents("open"), 0u);
    listener.RunPending();
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(WavePlayerTest, OpeningAgainClosesThePlayerStillInTheSlotWithoutReportingIt)
{
    WaveOpen(slot, WaveFile(100000), false);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    WaveOpen(slot, WaveFile(20000), false);
    ASSERT_TRUE(slot.player);
    const std::vector<std::string> events = clock.Events();
    const auto secondOpen = std::find(events.begin() + 1, events.end(), "open");
    ASSERT_NE(secondOpen, events.end());
    EXPECT_NE(std::find(events.begin(), secondOpen, "close"), secondOpen);
    EXPECT_EQ(WaveTotalBytes.load(), 20000u);
    listener.RunPending();
    EXPECT_EQ(listener.Count("finished"), 0);
}

TEST(WaveOutVolume, VolumeWordScalesEachChannel)
{
    EXPECT_EQ(GetWaveOutVolume(), 0xFFFFFFFFu);
    WaveFormat stereo16{1, 2, 8000, 32000, 4, 16, 0};
    std::string bytes("\x10\x27\x10\x27\xF0\xD8\xF0\xD8", 8); // 10000, 10000, -10000, -10000
    auto* raw = reinterpret_cast<unsigned char*>(bytes.data());
    ApplyVolume(raw, bytes.size(), stereo16, 0xFFFFFFFFu);
    EXPECT_EQ(SamplesOf(bytes), (std::vector<std::int16_t>{10000, 10000, -10000, -10000}));
    ApplyVolume(raw, bytes.size(), stereo16, 0x7FFFFFFFu); // left full, right about half
    EXPECT_EQ(SamplesOf(bytes), (std::vector<std::int16_t>{10000, 4999, -10000, -4999}));
    ApplyVolume(raw, bytes.size(), stereo16, 0);
    EXPECT_EQ(SamplesOf(bytes), (std::vector<std::int16_t>{0, 0, 0, 0}));

    WaveFormat mono8{1, 1, 8000, 8000, 1, 8, 0};
    unsigned char narrow[3] = {0, 128, 255};
    ApplyVolume(narrow, 3, mono8, 0xFFFF7FFFu); // mono follows the low half
    EXPECT_EQ(narrow[0], 128 - 63);
    EXPECT_EQ(narrow[1], 128);
    EXPECT_EQ(narrow[2], 128 + 63);
}
