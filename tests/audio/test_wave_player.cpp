#include "audio/adpcm_converter.h"
#include "audio/wave_player.h"
#include "platform/wave_out_sdl.h"
#include "support/wave_out_virtual.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <cstring>

using namespace std::chrono_literals;

// Under ThreadSanitizer: Qt Core is not instrumented, so the lock around its queue of posted
// events is invisible, and an event posted on the worker and deleted on this thread looks raced.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Core.so\n";
}

namespace {

std::string DataOf(std::uint32_t bytes)
{
    std::string data(bytes, '\0');
    for (std::uint32_t i = 0; i < bytes; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return data;
}

std::string WaveImage(std::uint32_t dataBytes)
{
    const auto header = WaveHeaderBytes(dataBytes);
    return std::string(header.begin(), header.end()) + DataOf(dataBytes);
}

// Whether the slot's worker is blocked on its wake event with no wake-up pending.
bool WorkerWaits(const WavePlayerSlot& slot)
{
    return slot.player() && slot.player()->wake.HasWaiter();
}

class WavePlayerTest : public ::testing::Test {
protected:
    WavePlayerTest() { reports.Listen(slot); }
    void TearDown() override { EXPECT_TRUE(CloseWithoutTheClock()); }

    std::string WaveFile(std::uint32_t dataBytes)
    {
        return folder.Write("wave" + std::to_string(dataBytes) + ".wav", WaveImage(dataBytes));
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
    bool Finished() const { return reports.Count("finished") > 0; }
    // Moves the clock on a step at a time until done() holds, letting the worker refill what
    // came back before each step.
    template <typename Done>
    bool PlayUntil(Done done, std::chrono::milliseconds step = 500ms)
    {
        for (int steps = 0; steps < 1000; ++steps) {
            if (!WaitUntil([&] { return done() || WorkerWaits(slot); }))
                return false;
            if (done())
                return true;
            clock.Advance(step);
        }
        return false;
    }
    bool PlayUntilFinished(std::chrono::milliseconds step = 500ms)
    {
        return PlayUntil([this] { return Finished(); }, step);
    }
    // Closes the slot on another thread. A close that does not return by itself gets the clock
    // moving until it does, so that a failing test ends instead of hanging.
    bool CloseWithoutTheClock()
    {
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            WaveClose(slot);
            closed.store(true);
        });
        const bool byItself = WaitUntil([&] { return closed.load(); });
        while (!closed.load()) {
            clock.Advance(500ms);
            std::this_thread::yield();
        }
        closer.join();
        return byItself;
    }
    // Opens a 20000-byte file and plays until its data has ended: all of it is queued, and the
    // worker waits for the last buffers to come back.
    void PlayIntoTheEndWait(WavePlayerSlot& into)
    {
        const std::size_t earlierWrites = clock.CountEvents("write");
        ASSERT_TRUE(WaveOpen(into, WaveFile(20000), false));
        ASSERT_TRUE(clock.WaitForEvents("write", earlierWrites + 8));
        clock.Advance(500ms);
        ASSERT_TRUE(clock.WaitForEvents("write", earlierWrites + 9));
        ASSERT_TRUE(WaitUntil([&] { return WorkerWaits(into); }));
    }

    TempFolder folder;
    VirtualClock clock;
    PlayerReports reports; // made before the slot, so that it outlives the slot's reports
    WavePlayerSlot slot{clock.DeviceFactory()};
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
    ASSERT_TRUE(WaveOpen(slot, WaveFile(100000), false));
    EXPECT_EQ(slot.player()->dataSize, 100000u);
    EXPECT_EQ(slot.player()->playedBytes.load(), 0u);
    ASSERT_TRUE(PlayUntilFinished());
    EXPECT_EQ(Writes(), (Repeat("write 8000", 12) + std::vector<std::string>{"write 4000", "write 0"}));
    EXPECT_EQ(clock.WrittenBytes(), DataOf(100000));
    EXPECT_EQ(clock.CountEvents("reset"), 1u);

    // Every returned buffer counts 8000, the tail and the empty one too: 14 x 8000.
    EXPECT_EQ(slot.player()->playedBytes.load(), 112000u);
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
    EXPECT_EQ(reports.Events(), expected);

    WaveClose(slot);
    EXPECT_FALSE(slot.player());
    EXPECT_EQ(clock.Events().back(), "close");
}

TEST_F(WavePlayerTest, TwentyThousandBytesEndWhenTheFirstBufferReturns)
{
    ASSERT_TRUE(WaveOpen(slot, WaveFile(20000), false));
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(Writes(), (std::vector<std::string>{"write 8000", "write 8000", "write 4000"}) + Repeat("write 0", 5));
    clock.Advance(500ms);
    ASSERT_TRUE(clock.WaitForEvents("write", 9));
    EXPECT_EQ(Writes().back(), "write 0");
    ASSERT_TRUE(PlayUntilFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 1u);
    EXPECT_EQ(clock.CountEvents("write"), 9u);
}

TEST_F(WavePlayerTest, EveryQueuedByteSoundsBeforeTheEndIsReported)
{
    std::atomic<std::uint64_t> playedAtEnd{0};
    QObject::connect(&slot, &WavePlayerSlot::finished, [&] { playedAtEnd.store(clock.PlayedBytes()); });
    const struct {
        std::uint32_t dataBytes;
        int percent;
        std::uint64_t sounding;
    } cases[] = {{100000, 0, 100000}, {20000, 0, 20000}, {123456, 50, 123456 - 60000}, {0, 0, 0}};
    for (const auto& playback : cases) {
        const std::uint64_t before = clock.PlayedBytes();
        ASSERT_TRUE(WaveOpenAt(slot, WaveFile(playback.dataBytes), false, playback.percent));
        ASSERT_TRUE(PlayUntilFinished(300ms)) << playback.dataBytes;
        EXPECT_EQ(playedAtEnd.load() - before, playback.sounding) << playback.dataBytes;
        WaveClose(slot);
        reports.Clear();
    }
}

TEST_F(WavePlayerTest, EmptyDataChunkEndsOnTheFirstReturnedBufferAtZeroPercent)
{
    ASSERT_TRUE(WaveOpen(slot, WaveFile(0), false));
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(Writes(), Repeat("write 0", 8));
    ASSERT_TRUE(PlayUntilFinished(1ms));
    EXPECT_EQ(reports.Events().front(), "progress 0");
    EXPECT_EQ(reports.Events().back(), "finished");
}

TEST_F(WavePlayerTest, StartOffsetsAndPercentagesStayExactForLargeSizes)
{
    ASSERT_TRUE(WaveOpenAt(slot, WaveFile(100000), false, 50));
    EXPECT_EQ(slot.player()->playedBytes.load(), 50000u);
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(Writes(), (Repeat("write 8000", 6) + std::vector<std::string>{"write 2000", "write 0"}));
    EXPECT_EQ(clock.WrittenBytes(), DataOf(100000).substr(50000));

    ASSERT_TRUE(WaveOpenAt(slot, WaveFile(123456), false, 50));
    EXPECT_EQ(slot.player()->playedBytes.load(), 60000u);
    EXPECT_EQ(slot.player()->dataSize, 123456u);

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
    ASSERT_TRUE(WaveOpen(slot, WaveFile(20000), false));
    slot.setQuiet(true);
    ASSERT_TRUE(PlayUntil([&] { return clock.CountEvents("reset") > 0; }));
    EXPECT_EQ(clock.CountEvents("write"), 9u);
    EXPECT_EQ(slot.player()->playedBytes.load(), 9u * 8000);
    WaveClose(slot);
    EXPECT_TRUE(reports.Events().empty());

    ASSERT_TRUE(WaveOpen(slot, WaveFile(20000), false));
    EXPECT_FALSE(slot.isQuiet()) << "a new playback is reported again";
}

TEST_F(WavePlayerTest, StopEndsThePlaybackOnceWhetherPlayingOrPaused)
{
    // Playing: the stop wakes the worker, and the output is reset without waiting for a buffer.
    ASSERT_TRUE(WaveOpen(slot, WaveFile(100000), false));
    ASSERT_TRUE(WaitUntil([&] { return WorkerWaits(slot); }));
    WaveRequestStop(slot);
    ASSERT_TRUE(reports.WaitForFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 1u);
    WaveClose(slot);
    EXPECT_EQ(reports.Count("finished"), 1);

    // Paused: no buffer comes back, yet the stop still ends the playback. The worker already
    // waits when the stop is asked for, so only a wake-up can end it.
    reports.Clear();
    const std::size_t earlierWrites = clock.CountEvents("write");
    ASSERT_TRUE(WaveOpen(slot, WaveFile(100000), false));
    ASSERT_TRUE(clock.WaitForEvents("write", earlierWrites + 8));
    WaveSetPaused(slot, true);
    clock.Advance(1000ms);
    EXPECT_TRUE(reports.Events().empty()) << "a paused output returned a buffer";
    ASSERT_TRUE(WaitUntil([&] { return WorkerWaits(slot); }));
    WaveRequestStop(slot);
    ASSERT_TRUE(reports.WaitForFinished());
    EXPECT_EQ(clock.CountEvents("reset"), 2u);
    WaveClose(slot);
    EXPECT_EQ(reports.Count("finished"), 1);
}

TEST_F(WavePlayerTest, StopOrCloseEndsTheWaitForTheLastBuffersWithoutTheClockMoving)
{
    PlayIntoTheEndWait(slot);
    WaveRequestStop(slot);
    ASSERT_TRUE(reports.WaitForFinished());
    EXPECT_LT(clock.PlayedBytes(), 20000u) << "the stop came before the queued audio had played";
    WaveClose(slot);

    PlayIntoTheEndWait(slot);
    EXPECT_TRUE(CloseWithoutTheClock());
}

TEST_F(WavePlayerTest, NoProgressIsReportedAfterTheEnd)
{
    ASSERT_TRUE(WaveOpen(slot, WaveFile(100000), false));
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    VirtualWaveOut* device = clock.LatestDevice();
    // The stop is asked for while the output is handing a played buffer back: the worker's
    // reset must come wholly after that hand-back, so that the buffer is not reported late.
    bool stopped = false;
    clock.SetHandBackHook([&] {
        if (std::exchange(stopped, true))
            return;
        WaveRequestStop(slot);
        EXPECT_TRUE(WaitUntil([&] { return device->ResetWaiting() || Finished(); }));
    });
    clock.Advance(500ms);
    ASSERT_TRUE(reports.WaitForFinished());
    EXPECT_EQ(reports.Events().back(), "finished");
    EXPECT_EQ(reports.Count("progress"), 8) << "one played buffer and seven handed back by the reset";
}

TEST_F(WavePlayerTest, NothingIsReportedOnceTheSlotIsBeingDestroyed)
{
    PlayerReports late;
    auto doomed = std::make_unique<WavePlayerSlot>(clock.DeviceFactory());
    late.Listen(*doomed);
    PlayIntoTheEndWait(*doomed);
    // Destroying the slot wakes the waiting worker, whose reset hands seven buffers back.
    const std::vector<std::string> before = late.Events();
    doomed.reset();
    EXPECT_EQ(clock.CountEvents("reset"), 1u);
    EXPECT_EQ(late.Events(), before);
}

TEST_F(WavePlayerTest, SignalsReachAWindowQueuedOnItsOwnThread)
{
    int argc = 1;
    char name[] = "audio_test_wave_player";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    QObject window;
    std::vector<std::string> arrived;
    bool onWindowThread = true;
    const auto note = [&](std::string event) {
        arrived.push_back(std::move(event));
        onWindowThread = onWindowThread && QThread::currentThread() == window.thread();
    };
    QObject::connect(&slot, &WavePlayerSlot::progress, &window,
                     [&](int percent) { note("progress " + std::to_string(percent)); });
    QObject::connect(&slot, &WavePlayerSlot::sliderDisabled, &window, [&] { note("slider off"); });
    QObject::connect(&slot, &WavePlayerSlot::playDisabled, &window, [&] { note("play off"); });
    QObject::connect(&slot, &WavePlayerSlot::finished, &window, [&] { note("finished"); });

    ASSERT_TRUE(WaveOpen(slot, WaveFile(20000), false));
    bool finished = false;
    std::thread output([&] { finished = PlayUntilFinished(); }); // an output plays on a thread of its own
    output.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(arrived.empty()) << "a report reached the window outside its event loop";
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(arrived, reports.Events());
    EXPECT_TRUE(onWindowThread);
}

TEST_F(WavePlayerTest, PlayerOpenedPausedWaitsForTheRestart)
{
    ASSERT_TRUE(WaveOpen(slot, WaveFile(100000), true));
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    EXPECT_EQ(clock.Events()[0], "open");
    EXPECT_EQ(clock.Events()[1], "pause");
    clock.Advance(1000ms);
    EXPECT_EQ(clock.CountEvents("write"), 8u);
    WaveSetPaused(slot, false);
    clock.Advance(500ms);
    ASSERT_TRUE(clock.WaitForEvents("write", 9));
    EXPECT_EQ(reports.Events(), (std::vector<std::string>{"progress 8"}));
}

TEST_F(WavePlayerTest, FailedOpensLeaveTheSlotEmptyAndSayWhy)
{
    WaveRequestStop(slot);
    WaveSetPaused(slot, true);
    WaveClose(slot);
    EXPECT_FALSE(slot.player());

    const auto reason = [&](const Result<void>& opened) {
        EXPECT_FALSE(slot.player());
        return opened ? std::string("opened") : opened.error().reason;
    };
    const std::string missing = folder.Path("missing.wav");
    const Result<void> notThere = WaveOpen(slot, missing, false);
    EXPECT_EQ(reason(notThere), "cannot open " + missing + ": " + std::strerror(ENOENT));
    EXPECT_EQ(notThere.error().error, ENOENT);
    const auto header = WaveHeaderBytes(100);
    const std::string noData = folder.Write("nodata.wav", std::string(header.begin(), header.begin() + 52));
    EXPECT_EQ(reason(WaveOpen(slot, noData, false)), "cannot load " + noData + ": no \"data\" chunk");
    const std::string shortFormat =
        folder.Write("short_fmt.wav", "RIFF" + std::string(4, '\0') + "WAVE"
                                          + Chunk("fmt ", std::string("\x01\0\x01\0", 4)) + Chunk("data", "ab"));
    EXPECT_EQ(reason(WaveOpen(slot, shortFormat, false)),
              "cannot load " + shortFormat + ": the format chunk is cut short");
    ImaFileSpec adpcm;
    EXPECT_EQ(
        reason(WaveOpen(slot, folder.Write("adpcm.wav", MakeWaveFile(adpcm, std::string(256, '\0'))), false)),
        "cannot open the sound output: the sound output does not play format 0x0011 (channels 1, bits 4, rate 8000)");
    clock.SetRefuseOpen(true);
    EXPECT_EQ(reason(WaveOpen(slot, WaveFile(20000), false)),
              "cannot open the sound output: the virtual output refuses to open");

    EXPECT_EQ(clock.CountEvents("open"), 0u);
    EXPECT_TRUE(reports.Events().empty());
}

TEST_F(WavePlayerTest, OpeningAgainClosesThePlayerStillInTheSlotWithoutReportingIt)
{
    ASSERT_TRUE(WaveOpen(slot, WaveFile(100000), false));
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    ASSERT_TRUE(WaveOpen(slot, WaveFile(20000), false));
    const std::vector<std::string> events = clock.Events();
    const auto secondOpen = std::find(events.begin() + 1, events.end(), "open");
    ASSERT_NE(secondOpen, events.end());
    EXPECT_NE(std::find(events.begin(), secondOpen, "close"), secondOpen);
    EXPECT_EQ(slot.player()->dataSize, 20000u);
    EXPECT_EQ(reports.Count("finished"), 0);
}

TEST_F(WavePlayerTest, RecordingsPlayAsTheWholeFileDecoderDecodesThemUpToWhereTheyAreCut)
{
    // 600 blocks of 505 samples, ten of them in the middle with a step index past the table.
    std::string audio = DataOf(600 * 256);
    for (std::size_t block = 100; block < 110; ++block)
        audio.replace(block * 256 + 2, 2, "\xFF\x7F");
    const std::string file = MakeWaveFile(ImaFileSpec{}, audio);
    const std::size_t dataStart = file.size() - audio.size();
    const std::string path = folder.Write("recording.wav", file);
    const Result<LoadedWave> decoded = DecodeToPcmWave(path);
    ASSERT_TRUE(decoded) << decoded.error().reason;
    const std::string whole(decoded->data.begin(), decoded->data.end());
    ASSERT_EQ(whole.size(), 600u * 505 * 2);

    ASSERT_TRUE(WaveOpenRecording(slot, path, 0));
    ASSERT_TRUE(PlayUntilFinished());
    EXPECT_TRUE(clock.WrittenBytes() == whole) << "the whole recording, its damaged blocks included";
    WaveClose(slot);
    reports.Clear();

    for (const int percent : {0, 15, 40, 70}) {
        const std::size_t writtenBefore = clock.WrittenBytes().size();
        const std::size_t writesBefore = clock.CountEvents("write");
        ASSERT_TRUE(WaveOpenRecording(slot, path, percent));
        ASSERT_TRUE(clock.WaitForEvents("write", writesBefore + 8));
        // Cut short while it plays, 100 bytes into the block that holds the sound 150000 bytes on:
        // the sound of that block's first 96 code bytes still plays, then the data ends.
        const std::uint32_t start = WaveStartOffset(static_cast<std::uint32_t>(whole.size()), percent);
        const std::size_t block = (start + 150000) / 2 / 505;
        std::filesystem::resize_file(path, dataStart + block * 256 + 100);
        const std::size_t damage = (block * 505 + 1 + 2 * 96) * 2;
        ASSERT_TRUE(PlayUntilFinished()) << percent;
        EXPECT_TRUE(clock.WrittenBytes().substr(writtenBefore) == whole.substr(start, damage - start)) << percent;
        EXPECT_EQ(Writes().back(), "write 0") << percent;
        WaveClose(slot);
        reports.Clear();
        folder.Write("recording.wav", file);
    }

    // A recording that cannot be decoded ends its start with the reason in the player.
    ASSERT_TRUE(WaveOpenRecording(slot, folder.Write("riff.wav", "RIFF"), 0));
    ASSERT_TRUE(reports.WaitForFinished());
    ASSERT_TRUE(slot.player()->refusal);
    EXPECT_EQ(slot.player()->refusal->reason, "not a RIFF file");
}

TEST(WaveLoader, ReadErrorIsRefusedWhileAShortFileLoadsWhatItHolds)
{
    const std::string file = WaveImage(30000);
    const auto load = [](BrokenSource source, std::uint64_t fileSize) {
        std::FILE* stream = OpenBrokenSource(source);
        Result<LoadedWave> wave = LoadWaveStream(stream, fileSize);
        std::fclose(stream);
        return wave;
    };
    // The file shrank after its size was taken: what it still holds loads, the rest is silence.
    const Result<LoadedWave> shrunk = load({&file, 0, kWaveHeaderBytes + 10000, false}, file.size());
    ASSERT_TRUE(shrunk) << shrunk.error().reason;
    const std::string data(shrunk->data.begin(), shrunk->data.end());
    EXPECT_EQ(data, DataOf(10000) + std::string(20000, '\0'));

    // A data chunk claiming more than the file holds is cut to what it holds.
    const std::string boastful = file.substr(0, kWaveHeaderBytes + 5000);
    const Result<LoadedWave> cut = load({&boastful, 0, boastful.size(), false}, boastful.size());
    ASSERT_TRUE(cut) << cut.error().reason;
    EXPECT_EQ(cut->data.size(), 5000u);

    // A read error (a card pulled part way) is not silence: the load is refused.
    const Result<LoadedWave> failed = load({&file, 0, kWaveHeaderBytes + 10000, true}, file.size());
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().error, EIO);
    EXPECT_EQ(failed.error().reason, std::string("the wave data cannot be read: ") + std::strerror(EIO));
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
