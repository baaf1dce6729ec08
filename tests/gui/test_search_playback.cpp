#include "audio/adpcm_converter.h"
#include "audio/player.h"
#include "audio/wave_player.h"
#include "platform/message_box.h"
#include "support/wave_out_virtual.h"
#include "search/search_window.h"
#include "support/audio_files.h"
#include "support/find_child.h"
#include "support/slider_press.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kUntouchedVolume = 0x12345678;

std::uint32_t BothChannels(std::uint32_t level)
{
    return level | (level << 16);
}

// A search window listing three recordings of about nineteen seconds each, playing on the virtual
// output: time passes only when a test moves the clock, and Timer1 fires when a test fires it.
// Each start decodes its recording in a worker; Click() and FireTimer1() wait until a start
// they cause has succeeded or failed.
class SearchPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1), 0);
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request); });
        SetWaveOutVolume(kUntouchedVolume);
        window = std::make_unique<SearchWindow>(
            nullptr, [] { return std::vector<FolderRoot>{}; }, clock.DeviceFactory());
        std::string chosen;
        window->SetFileChooser([&](QWidget*) { return QString::fromStdString(chosen); });
        for (std::uint32_t i = 1; i <= 3; ++i) {
            chosen = Recording(i);
            ASSERT_TRUE(WriteSampleFile(chosen, SampleSpec{.phone = "1380000", .dataBytes = 256 * 300, .seed = i}));
            Button("btnAdd")->click();
        }
        window->show();
        list = Child<QTableView>(*window, "ListViewPlay");
        slider = Child<QSlider>(*window, "positionSlider");
        slot = Child<WavePlayerSlot>(*window, "playerSlot");
        player = Child<Player>(*window, "player");
        timer = Child<QTimer>(*window, "Timer1");
    }

    void TearDown() override
    {
        window.reset();
        SetMessageHandler({});
    }

    std::string Recording(std::uint32_t number) const
    {
        return calls.Path("VOC0000" + std::to_string(number) + ".WAV");
    }
    QPushButton* Button(const char* name) const { return Child<QPushButton>(*window, name); }
    // Processes the window's events until no start is on its way.
    void SettleStart()
    {
        ASSERT_TRUE(WaitUntil([this] {
            QCoreApplication::processEvents();
            return player->state() != Player::State::Starting;
        })) << "the recording was never decoded";
    }
    void Click(const char* name)
    {
        Button(name)->click();
        SettleStart();
    }
    int SelectedRow() const
    {
        const QModelIndexList rows = list->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.front().row();
    }
    bool WindowNames(std::uint32_t number) const
    {
        return window->windowTitle().endsWith(QString::fromStdString(Recording(number)));
    }
    // The PCM data the player plays for a recording.
    std::string PlaybackData(std::uint32_t number) const
    {
        Result<LoadedWave> wave = DecodeToPcmWave(Recording(number));
        return wave ? std::string(wave->data.begin(), wave->data.end()) : std::string();
    }

    // Whether the player's worker waits for a buffer, or has ended, or there is none.
    bool WorkerSettled() const
    {
        const WavePlayer* player = slot->player();
        return !player || player->ended.load() || player->wake.HasWaiter();
    }
    bool PlayerEnded() const { return slot->player() && slot->player()->ended.load(); }
    // Plays steps of 500 ms, letting the worker refill before each, then hands the window
    // what the player reported.
    void Play(int steps)
    {
        for (int step = 0; step < steps; ++step) {
            ASSERT_TRUE(WaitUntil([this] { return WorkerSettled(); }));
            clock.Advance(500ms);
        }
        ASSERT_TRUE(WaitUntil([this] { return WorkerSettled(); }));
        QCoreApplication::processEvents();
    }
    void PlayFirstRow()
    {
        list->selectRow(0);
        Click("btnplay");
        Play(1);
    }
    void PlayToTheEnd()
    {
        for (int step = 0; step < 100 && !PlayerEnded(); ++step)
            Play(1);
        ASSERT_TRUE(PlayerEnded());
    }
    // Processes the window's events until the end report has started Timer1.
    void WaitForTheEnd()
    {
        ASSERT_TRUE(WaitUntil([this] {
            QCoreApplication::processEvents();
            return timer->isActive();
        }));
    }
    // Fires Timer1 as its 500 ms would.
    void FireTimer1()
    {
        ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
        SettleStart();
    }
    void PressAndReleaseSlider(int value) { ::PressAndReleaseSlider(slider, value); }
    void ExpectOneWarning(const QString& text)
    {
        ASSERT_EQ(messages.size(), 1u) << text.toStdString();
        EXPECT_EQ(messages[0].text, text);
        EXPECT_EQ(messages[0].caption, QStringLiteral("提示"));
        EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
        messages.clear();
    }

    TempFolder calls;
    TempFolder cache;
    VirtualClock clock;
    std::vector<MessageRequest> messages;
    std::unique_ptr<SearchWindow> window;
    QTableView* list = nullptr;
    QSlider* slider = nullptr;
    WavePlayerSlot* slot = nullptr;
    Player* player = nullptr;
    QTimer* timer = nullptr;
};

} // namespace

TEST_F(SearchPlaybackTest, PlayPauseResumeAndAStopWhilePausedEndsThroughTimer1)
{
    Button("btnplay")->click();
    ExpectOneWarning(QStringLiteral("请先选择一条要播放的语音！"));

    list->selectRow(0);
    Click("btnplay");
    EXPECT_EQ(clock.CountEvents("open"), 1u);
    EXPECT_TRUE(WindowNames(1));
    EXPECT_EQ(GetWaveOutVolume(), BothChannels(32767)) << "the volume slider's middle";
    Play(3);
    EXPECT_GT(slider->value(), 0);
    Button("btnplay")->click(); // the row that plays: nothing changes
    Play(1);
    EXPECT_EQ(clock.CountEvents("open"), 1u);
    EXPECT_EQ(clock.CountEvents("reset"), 0u);
    EXPECT_TRUE(slider->isEnabled());

    Button("btnpause")->click();
    const std::uint64_t playedWhenPaused = clock.PlayedBytes();
    Play(2);
    EXPECT_EQ(clock.PlayedBytes(), playedWhenPaused);
    Click("btnplay"); // resumes
    Play(1);
    EXPECT_GT(clock.PlayedBytes(), playedWhenPaused);
    Button("btnpause")->click();
    Button("btnpause")->click();
    EXPECT_EQ(clock.CountEvents("restart"), 2u);

    Button("btnpause")->click();
    Button("btnstop")->click();
    EXPECT_EQ(slider->value(), 0);
    WaitForTheEnd();
    EXPECT_TRUE(slot->player()) << "closed by Timer1, not before";
    FireTimer1();
    EXPECT_FALSE(slot->player());
    EXPECT_EQ(clock.CountEvents("close"), 1u);
    EXPECT_TRUE(messages.empty());

    Button("btnpause")->click();
    ExpectOneWarning(QStringLiteral("没有正在播放的语音！"));
}

TEST_F(SearchPlaybackTest, ARecordingPlayedToItsEndMovesTheSliderThenDisablesItAndIsClosedByTimer1)
{
    list->selectRow(0);
    Click("btnplay");
    int lastValue = 0;
    bool sliderMovedForward = true;
    for (int step = 0; step < 100 && slider->isEnabled(); ++step) {
        Play(1);
        sliderMovedForward = sliderMovedForward && slider->value() >= lastValue;
        lastValue = slider->value();
    }
    EXPECT_TRUE(sliderMovedForward);
    EXPECT_GT(lastValue, 30);
    PlayToTheEnd();
    EXPECT_EQ(clock.PlayedBytes(), PlaybackData(1).size());
    WaitForTheEnd();
    EXPECT_FALSE(Button("btnplay")->isEnabled()) << "near the end";
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(slider->maximum(), 99) << "100 % was reported";
    FireTimer1();
    EXPECT_FALSE(slot->player());
    EXPECT_TRUE(Button("btnplay")->isEnabled());
    EXPECT_TRUE(slider->isEnabled());
    EXPECT_TRUE(WindowNames(1)) << "the caption keeps the last recording";
    EXPECT_EQ(clock.CountEvents("open"), 1u);
}

TEST_F(SearchPlaybackTest, NextPreviousAndAnotherRowSwitchOnceThePlayerHasEnded)
{
    // At either end of the list the button neither moves the selection nor stops the player.
    const auto nothingOn = [this](const char* button, int row) {
        const std::size_t resets = clock.CountEvents("reset");
        Button(button)->click();
        Play(1);
        EXPECT_EQ(SelectedRow(), row) << button;
        EXPECT_EQ(clock.CountEvents("reset"), resets) << button;
    };
    // The stopped player ends, then Timer1 closes it and starts the selected row.
    const auto switchesTo = [this](std::uint32_t number, std::size_t opens) {
        WaitForTheEnd();
        FireTimer1();
        EXPECT_EQ(clock.CountEvents("open"), opens);
        EXPECT_TRUE(WindowNames(number));
    };
    PlayFirstRow();
    nothingOn("btnlast", 0);
    Button("btnnext")->click();
    EXPECT_EQ(SelectedRow(), 1);
    switchesTo(2, 2);

    list->selectRow(2);
    Button("btnplay")->click();
    EXPECT_TRUE(WindowNames(2)) << "switches only after the end";
    switchesTo(3, 3);
    nothingOn("btnnext", 2);

    Button("btnpause")->click();
    Button("btnlast")->click(); // paused: the stop ends it all the same
    switchesTo(2, 4);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, AStartBeforeTheEndReportOrTimer1KeepsTheNewPlayer)
{
    PlayFirstRow();
    // The end of the stopped player is reported only after the new start.
    Button("btnstop")->click();
    ASSERT_TRUE(WaitUntil([this] { return PlayerEnded(); }));
    Click("btnplay");
    QCoreApplication::processEvents();
    EXPECT_FALSE(timer->isActive());
    Button("btnpause")->click();
    EXPECT_EQ(clock.CountEvents("pause"), 1u) << "the window plays on";
    Button("btnpause")->click();

    // The end is reported, then a start comes before Timer1.
    Button("btnstop")->click();
    WaitForTheEnd();
    Button("btnplay")->click();
    FireTimer1();
    ASSERT_TRUE(slot->player());
    EXPECT_EQ(clock.CountEvents("close"), 2u) << "only the players that ended";
    const std::uint64_t played = clock.PlayedBytes();
    Play(1);
    EXPECT_GT(clock.PlayedBytes(), played);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, PressingAndReleasingThePositionSliderRestartsAtItsPercentage)
{
    list->selectRow(0);
    slider->setValue(100);
    Click("btnplay");
    EXPECT_EQ(clock.CountEvents("open"), 0u) << "a slider at its end only returns to 0";
    EXPECT_EQ(slider->value(), 0);
    PressAndReleaseSlider(30); // while stopped the slider chooses no start point
    Click("btnplay");
    ASSERT_TRUE(clock.WaitForEvents("write", 8));
    const std::string data = PlaybackData(1);
    EXPECT_EQ(clock.WrittenBytes().substr(0, 8000), data.substr(0, 8000));

    Play(1);
    PressAndReleaseSlider(50);
    WaitForTheEnd();
    EXPECT_EQ(slider->value(), 50) << "the player's last reports leave the slider alone";
    const std::size_t writtenBefore = clock.WrittenBytes().size();
    const std::size_t writesBefore = clock.CountEvents("write");
    FireTimer1();
    ASSERT_TRUE(clock.WaitForEvents("write", writesBefore + 8));
    const std::size_t offset = WaveStartOffset(static_cast<std::uint32_t>(data.size()), 50);
    EXPECT_EQ(clock.WrittenBytes().substr(writtenBefore, 8000), data.substr(offset, 8000));
    EXPECT_EQ(clock.CountEvents("open"), 2u);
    EXPECT_TRUE(messages.empty());

    // Started there, the slider follows the sound again, and after "停止" the next "播放" starts
    // at the beginning.
    Play(2);
    EXPECT_GT(slider->value(), 50);
    Button("btnstop")->click();
    EXPECT_EQ(slider->value(), 0);
    WaitForTheEnd();
    FireTimer1();
    const std::size_t writtenAtStop = clock.WrittenBytes().size();
    const std::size_t writesAtStop = clock.CountEvents("write");
    Click("btnplay");
    ASSERT_TRUE(clock.WaitForEvents("write", writesAtStop + 8));
    EXPECT_EQ(clock.WrittenBytes().substr(writtenAtStop, 8000), data.substr(0, 8000));
}

TEST_F(SearchPlaybackTest, MuteAndTheVolumeSliderSetTheOutputVolume)
{
    QSlider* volume = Child<QSlider>(*window, "TrackBar2");
    QPushButton* mute = Button("btnjiny");
    mute->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("没有正在播放语音！"));
    EXPECT_EQ(messages[0].icon, MessageIcon::None);
    volume->setValue(1);
    EXPECT_EQ(GetWaveOutVolume(), kUntouchedVolume) << "applied at the next start";

    list->selectRow(0);
    Click("btnplay");
    EXPECT_EQ(GetWaveOutVolume(), BothChannels(58981));
    for (auto [step, level] : {std::pair{0, 65535u}, {3, 45874u}, {10, 0u}, {5, 32767u}}) {
        volume->setValue(step);
        EXPECT_EQ(GetWaveOutVolume(), BothChannels(level)) << step;
    }

    mute->click();
    EXPECT_EQ(GetWaveOutVolume(), 0u);
    volume->setValue(2);
    EXPECT_EQ(GetWaveOutVolume(), BothChannels(52428)) << "the volume follows the slider";
    EXPECT_EQ(mute->text(), QStringLiteral("取消静音"));
    mute->click();
    EXPECT_EQ(GetWaveOutVolume(), BothChannels(32767)) << "the volume saved when muting";
    EXPECT_EQ(mute->text(), QStringLiteral("静音"));

    mute->click();
    Button("btnstop")->click();
    EXPECT_EQ(GetWaveOutVolume(), BothChannels(32767));
    EXPECT_EQ(mute->text(), QStringLiteral("静音"));
}

TEST_F(SearchPlaybackTest, AFailedConversionOrSoundOutputLeavesTheWindowStopped)
{
    fs::remove(Recording(1));
    list->selectRow(0);
    slider->setValue(40);
    Click("btnplay");
    ExpectOneWarning(QStringLiteral("播放错误的语音格式！"));
    EXPECT_EQ(slider->value(), 0);
    EXPECT_TRUE(Button("btnplay")->isEnabled());

    clock.SetRefuseOpen(true);
    list->selectRow(1);
    Click("btnplay");
    ExpectOneWarning(QStringLiteral("无法打开声音输出设备！"));
    EXPECT_FALSE(slot->player());
    Button("btnpause")->click();
    ExpectOneWarning(QStringLiteral("没有正在播放的语音！"));

    clock.SetRefuseOpen(false);
    Click("btnplay");
    EXPECT_TRUE(slot->player());
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, ClosingTheWindowEndsAndClosesItsPlayerPlayingOrPaused)
{
    for (const bool paused : {false, true}) {
        window->show();
        list->selectRow(0);
        Click("btnplay");
        Play(1);
        if (paused)
            Button("btnpause")->click();
        window->close();
        EXPECT_FALSE(slot->player()) << paused;
        QCoreApplication::processEvents();
        EXPECT_FALSE(timer->isActive()) << paused;
    }
    EXPECT_EQ(clock.CountEvents("close"), 2u);

    window->show();
    Click("btnplay");
    Play(1);
    window.reset(); // destroyed while playing
    EXPECT_EQ(clock.CountEvents("close"), 3u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, DeletingThePlayingRowRemovesTheFileAndPlaysOn)
{
    const std::string data = PlaybackData(1);
    PlayFirstRow();
    Button("btnDel")->click();
    EXPECT_FALSE(fs::exists(Recording(1)));
    PlayToTheEnd();
    EXPECT_EQ(clock.PlayedBytes(), data.size());
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, APressOnTheDisabledPositionSliderDoesNotSeek)
{
    list->selectRow(0);
    Click("btnplay");
    for (int step = 0; step < 100 && slider->isEnabled(); ++step)
        Play(1);
    ASSERT_FALSE(slider->isEnabled()) << "near the end the slider is disabled";
    PressAndReleaseSlider(10);
    Play(1);
    EXPECT_EQ(clock.CountEvents("reset"), 0u) << "the press stopped the player";
    PlayToTheEnd();
    WaitForTheEnd();
    FireTimer1();
    EXPECT_EQ(clock.CountEvents("open"), 1u) << "the recording was played again from the press";
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, ASeekHeldPastTheEndStartsOnTheReleaseAndTimer1DoesNotWait)
{
    PlayFirstRow();
    SendSliderButton(slider, QEvent::MouseButtonPress);
    slider->setValue(50);
    WaitForTheEnd();
    // Should Timer1 wait for the release itself, this release ends its wait and the test.
    QTimer::singleShot(3000, slider, [this] { SendSliderButton(slider, QEvent::MouseButtonRelease); });
    FireTimer1();
    EXPECT_FALSE(slot->player()) << "closed by Timer1";
    EXPECT_EQ(clock.CountEvents("open"), 1u) << "Timer1 waited for the release and started the recording";

    const std::size_t writtenBefore = clock.WrittenBytes().size();
    SendSliderButton(slider, QEvent::MouseButtonRelease);
    SettleStart();
    EXPECT_EQ(clock.CountEvents("open"), 2u) << "the release starts the recording again";
    ASSERT_TRUE(clock.WaitForEvents("write", 16));
    const std::string data = PlaybackData(1);
    const std::size_t offset = WaveStartOffset(static_cast<std::uint32_t>(data.size()), 50);
    EXPECT_EQ(clock.WrittenBytes().substr(writtenBefore, 8000), data.substr(offset, 8000));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SearchPlaybackTest, PauseAndMuteClickedWhileARecordingStartsActOnceItsSoundRuns)
{
    list->selectRow(0);
    Button("btnplay")->click();
    ASSERT_EQ(player->state(), Player::State::Starting);
    Button("btnpause")->click();
    Button("btnjiny")->click();
    SettleStart();
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    EXPECT_EQ(player->state(), Player::State::Paused);
    EXPECT_EQ(clock.CountEvents("pause"), 1u);
    EXPECT_EQ(Button("btnjiny")->text(), QStringLiteral("取消静音"));
    EXPECT_EQ(GetWaveOutVolume(), 0u);
    EXPECT_TRUE(Button("btnplay")->isEnabled());
    Click("btnplay"); // resumes
    EXPECT_EQ(player->state(), Player::State::Playing);
    Button("btnjiny")->click();
    EXPECT_EQ(GetWaveOutVolume(), BothChannels(32767)) << "the volume the start gave";
}
