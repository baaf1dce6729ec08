#include "audio/adpcm_converter.h"
#include "audio/wave_player.h"
#include "search/search_window.h"
#include "support/audio_files.h"
#include "support/find_child.h"
#include "support/pulse_sound.h"
#include "support/slider_press.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <thread>

// Plays a recording from the search window through its real (SDL2) output into a private
// PulseAudio server with a null sink, records the sink's monitor with parec, and finds the
// decoded samples in what was heard: first from the start, then from the middle after a seek.

using namespace std::chrono_literals;

namespace {

// Processes the window's events (Timer1 among them) until condition holds.
template <typename Condition>
bool ProcessEventsUntil(Condition condition)
{
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        30s);
}

std::vector<std::int16_t> Stretch(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t count)
{
    return {samples.begin() + static_cast<std::ptrdiff_t>(from),
            samples.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

} // namespace

TEST(SearchRealSound, PlayAndASeekToTheMiddleAreHeardThroughPulseAudio)
{
    TempFolder folder;
    const PrivatePulseServer server(folder);
    if (!server.failure().empty())
        GTEST_SKIP() << server.failure();

    // About five seconds of sound, added by hand to a window without folder roots.
    const std::string recording = folder.Path("VOC00001.WAV");
    ASSERT_TRUE(WriteSampleFile(recording, SampleSpecFor(2, 256 * 80)));
    PlayerReports reports; // outlives the window, whose player reports its end when it goes
    SearchWindow window(nullptr, [] { return std::vector<FolderRoot>{}; });
    window.SetFileChooser([&](QWidget*) { return QString::fromStdString(recording); });
    Child<QPushButton>(window, "btnAdd")->click();
    window.show();
    auto* slider = Child<QSlider>(window, "positionSlider");
    reports.Listen(*Child<WavePlayerSlot>(window, "playerSlot"));

    const std::string heardPath = folder.Path("heard.raw");
    ChildProcess recorder = server.Record(heardPath);
    Child<QTableView>(window, "ListViewPlay")->selectRow(0);
    Child<QPushButton>(window, "btnplay")->click();
    Result<LoadedWave> wave = DecodeToPcmWave(recording);
    ASSERT_TRUE(wave) << wave.error().reason;
    const std::vector<std::int16_t> decoded = SamplesOf(std::string(wave->data.begin(), wave->data.end()));
    ASSERT_EQ(decoded.size(), 80u * 505);

    // A second into the sound, the slider is pressed at its middle and released: the player
    // stops, reports its end, and Timer1 starts it again from the middle, to the end.
    ASSERT_TRUE(ProcessEventsUntil([&] { return slider->value() >= 20; })) << "the slider never moved";
    PressAndReleaseSlider(slider, 50);
    ASSERT_TRUE(ProcessEventsUntil([&] { return reports.Count("finished") >= 2; })) << "the restart never ended";
    std::this_thread::sleep_for(300ms);
    recorder.Stop();

    const std::vector<std::int16_t> heard = SamplesOf(TempFolder::Read(heardPath));
    ASSERT_GT(heard.size(), 8000u) << "parec recorded almost nothing";
    const std::size_t middle = WaveStartOffset(static_cast<std::uint32_t>(decoded.size() * 2), 50) / 2;
    const SegmentMatch start = FindSegment(heard, Stretch(decoded, 800, 3200));
    const SegmentMatch fromMiddle = FindSegment(heard, Stretch(decoded, middle + 800, 3200));
    std::cout << "[ HEARD    ] correlation " << start.correlation << " / " << fromMiddle.correlation << "\n";
    EXPECT_GT(start.correlation, 0.95) << "the start of the recording";
    EXPECT_GT(fromMiddle.correlation, 0.95) << "the middle of the recording, after the seek";
}
