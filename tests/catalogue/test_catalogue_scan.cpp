#include "catalogue/catalogue_scan.h"
#include "support/model_columns.h"
#include "catalogue/recording_model.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace {

Volume MakeVolume(const std::string& mountPoint, VolumeKind kind)
{
    return Volume{mountPoint + "/", kind, "vfat", "/dev/sdz1"};
}

void MakeCard(const TempFolder& temp, const std::string& volume, bool withVoice)
{
    std::filesystem::create_directories(temp.Path(volume));
    if (withVoice)
        std::filesystem::create_directories(temp.Path(volume + "/VOICE"));
}

void WriteRecording(const std::string& path, std::uint32_t index)
{
    ASSERT_TRUE(WriteSampleFile(path, SampleSpecFor(index, 3500)));
}

RecordingEntry Row(int number, const std::string& name)
{
    RecordingEntry entry;
    entry.texts[kColNumber] = std::to_string(number);
    entry.texts[kColFileName] = name;
    return entry;
}

// The main window's side of the detection cycle, played by a test: a card that can be
// attached and removed, and a record of the states the window was asked to show.
class FakeWindow {
public:
    explicit FakeWindow(const std::string& deviceFolder) : cardFolder(deviceFolder) {}

    DeviceCheckHooks Hooks()
    {
        return DeviceCheckHooks{
            [this]() -> std::optional<std::string> {
                ++scans;
                if (!attached)
                    return std::nullopt;
                return cardFolder;
            },
            [this](const std::string& folder) { devicePath = folder; },
            [this](const std::string& folder) {
                ++listings;
                if (insideListing)
                    insideListing();
                ListRecordings(folder, [this](std::optional<RecordingEntry> entry) {
                    if (entry)
                        model.Append(std::move(*entry));
                });
                check->ListingEnded(true);
            },
            [this](DeviceState state) { shown.push_back(state); },
        };
    }

    RecordingModel model;
    bool attached = false;
    int scans = 0;
    int listings = 0;
    std::string devicePath;
    std::vector<DeviceState> shown;
    std::function<void()> insideListing;
    std::string cardFolder;       // the folder a scan finds while attached
    DeviceCheck* check = nullptr; // told when a listing has ended
};

class DetectionCycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        deviceFolder = temp.Path("VOICE") + "/";
        std::filesystem::create_directories(deviceFolder);
        for (std::uint32_t i = 0; i < 3; ++i)
            WriteRecording(deviceFolder + "VOC0000" + std::to_string(i + 1) + ".WAV", i);
    }

    TempFolder temp;
    std::string deviceFolder;
};

} // namespace

TEST(FindRecorderDrive, TakesTheFirstRemovableVolumeWithAVoiceFolder)
{
    TempFolder temp;
    MakeCard(temp, "a-card", true);
    MakeCard(temp, "b-card", true);
    MakeCard(temp, "no-voice", false);
    MakeCard(temp, "fixed", true);
    std::filesystem::create_directories(temp.Path("file-card"));
    temp.Write("file-card/VOICE", "a file, not a folder");

    EXPECT_EQ(FindRecorderDrive({MakeVolume(temp.Path("a-card"), VolumeKind::Removable),
                                 MakeVolume(temp.Path("b-card"), VolumeKind::Removable)}),
              temp.Path("a-card") + "/VOICE/");
    EXPECT_EQ(FindRecorderDrive({MakeVolume(temp.Path("no-voice"), VolumeKind::Removable),
                                 MakeVolume(temp.Path("fixed"), VolumeKind::Fixed)}),
              std::nullopt);
    // Volumes of other kinds are never looked at, whatever they hold.
    for (VolumeKind kind : {VolumeKind::Fixed, VolumeKind::Remote, VolumeKind::CdRom, VolumeKind::RamDisk})
        EXPECT_EQ(FindRecorderDrive({MakeVolume(temp.Path("fixed"), kind)}), std::nullopt);
    // A vanished mount point or a VOICE that is a file is passed over, not the end of the search.
    EXPECT_EQ(FindRecorderDrive({MakeVolume(temp.Path("gone"), VolumeKind::Removable),
                                 MakeVolume(temp.Path("file-card"), VolumeKind::Removable),
                                 MakeVolume(temp.Path("b-card"), VolumeKind::Removable)}),
              temp.Path("b-card") + "/VOICE/");
    EXPECT_EQ(FindRecorderDrive(std::vector<Volume>{}), std::nullopt);
}

TEST(ListRecordings, NumbersTheReadableRecordingsInWalkOrderAndReportsEveryAcceptedFile)
{
    TempFolder temp;
    const std::string folder = temp.path() + "/";
    WriteRecording(folder + "VOC00001.WAV", 0);
    WriteRecording(folder + "voc00002.wav", 1);
    temp.Write("VOC00003.WAV", std::string(278, 'x')); // too short for a header: no row
    WriteRecording(folder + "VOC000004.WAV", 3);       // 13 bytes: not a recording
    WriteRecording(folder + "NOTE0001.WAV", 4);

    int reported = 0;
    std::vector<std::string> names;
    std::vector<std::string> numbers;
    EXPECT_TRUE(ListRecordings(folder, [&](std::optional<RecordingEntry> entry) {
        ++reported;
        if (entry) {
            names.push_back(entry->fileName());
            numbers.push_back(entry->number());
            EXPECT_EQ(entry->path(), folder + entry->fileName());
        }
    }));
    EXPECT_EQ(reported, 3);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"VOC00001.WAV", "voc00002.wav"}));
    EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2"}));

    EXPECT_EQ(ListRecordings(folder).size(), 2u);
    EXPECT_FALSE(ListRecordings(temp.Path("missing") + "/", {}));
    EXPECT_TRUE(ListRecordings(temp.Path("missing") + "/").empty());
}

TEST_F(DetectionCycle, AttachingListsOnceAndLaterScansChangeNothing)
{
    FakeWindow window(deviceFolder);
    DeviceCheck check(window.model, window.Hooks());
    window.check = &check;
    EXPECT_EQ(check.state(), DeviceState::Waiting);

    window.attached = true;
    check.Run();
    EXPECT_EQ(check.state(), DeviceState::Listed);
    EXPECT_TRUE(check.listed());
    EXPECT_EQ(window.devicePath, deviceFolder);
    EXPECT_EQ(window.shown, (std::vector<DeviceState>{DeviceState::Listing, DeviceState::Listed}));
    EXPECT_EQ(Column(window.model, kColNumber), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Column(window.model, kColFileName),
              (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV"}));
    // After the listing's own sort the flag is clear, so a first click sorts text ascending.
    EXPECT_EQ(window.model.sortState().column, kColFileName);
    EXPECT_FALSE(window.model.sortState().flag);

    // A notification while the card stays attached: no new listing, even with a new file.
    WriteRecording(deviceFolder + "VOC00004.WAV", 3);
    window.model.SortByColumnClick(kColNumber);
    check.Run();
    EXPECT_EQ(window.listings, 1);
    EXPECT_EQ(window.model.rowCount(), 3);
    EXPECT_EQ(Column(window.model, kColNumber), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(window.shown.size(), 2u);
}

TEST_F(DetectionCycle, RemovalEmptiesTheListAndReattachingListsAnewFromOne)
{
    FakeWindow window(deviceFolder);
    DeviceCheck check(window.model, window.Hooks());
    window.check = &check;
    window.attached = true;
    check.Run();
    window.model.RemoveRows({0});

    window.attached = false;
    check.Run();
    EXPECT_EQ(check.state(), DeviceState::NotConnected);
    EXPECT_FALSE(check.listed());
    EXPECT_EQ(window.model.rowCount(), 0);
    EXPECT_EQ(window.shown.back(), DeviceState::NotConnected);
    EXPECT_EQ(window.devicePath, deviceFolder); // keeps its last value

    WriteRecording(deviceFolder + "VOC00004.WAV", 3);
    window.attached = true;
    check.Run();
    EXPECT_EQ(window.listings, 2);
    EXPECT_EQ(check.state(), DeviceState::Listed);
    EXPECT_EQ(Column(window.model, kColNumber), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(window.model.entry(3).fileName(), "VOC00004.WAV");
}

TEST_F(DetectionCycle, AnotherCardFoundAfterTheListedOneWentIsListedInItsPlace)
{
    const std::string secondCard = temp.Path("second/VOICE") + "/";
    std::filesystem::create_directories(secondCard);
    WriteRecording(secondCard + "VOC00009.WAV", 9);
    FakeWindow window(deviceFolder);
    DeviceCheck check(window.model, window.Hooks());
    window.check = &check;
    window.attached = true;
    check.Run();
    ASSERT_EQ(window.model.rowCount(), 3);

    window.cardFolder = secondCard; // the first card unmounted, the second one still mounted
    check.Run();
    EXPECT_EQ(window.listings, 2);
    EXPECT_EQ(window.devicePath, secondCard);
    ASSERT_EQ(window.model.rowCount(), 1);
    EXPECT_EQ(window.model.entry(0).path(), secondCard + "VOC00009.WAV");
    check.Run();
    EXPECT_EQ(window.listings, 2) << "the second card stays listed";
}

TEST_F(DetectionCycle, AScanDueDuringAListingRunsOnceAfterIt)
{
    FakeWindow window(deviceFolder);
    DeviceCheck check(window.model, window.Hooks());
    window.check = &check;
    window.attached = true;
    // The timer ticks twice while the listing processes events, and the card is pulled.
    window.insideListing = [&] {
        check.Run();
        check.Run();
        EXPECT_EQ(check.state(), DeviceState::Listing);
        window.attached = false;
    };

    check.Run();

    EXPECT_EQ(window.listings, 1);
    EXPECT_EQ(window.scans, 2);
    EXPECT_EQ(window.shown,
              (std::vector<DeviceState>{DeviceState::Listing, DeviceState::Listed, DeviceState::NotConnected}));
    EXPECT_EQ(check.state(), DeviceState::NotConnected);
    EXPECT_EQ(window.model.rowCount(), 0);
}

TEST_F(DetectionCycle, RowsFoundOutOfOrderEndSortedByNameAndRenumbered)
{
    RecordingModel model;
    DeviceCheck check(model, DeviceCheckHooks{
                                 [this] { return std::optional<std::string>(deviceFolder); },
                                 {},
                                 [&model](const std::string&) {
                                     model.Append(Row(1, "VOC00003.WAV"));
                                     model.Append(Row(2, "VOC00001.WAV"));
                                     model.Append(Row(3, "VOC00002.WAV"));
                                 },
                                 {},
                             });
    check.Run();
    check.ListingEnded(true);
    EXPECT_EQ(Column(model, kColFileName), (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV"}));
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(DetectionCycle, AFailingListingKeepsItsRowsUnsortedAndCountsAsListed)
{
    RecordingModel model;
    std::vector<DeviceState> shown;
    int listings = 0;
    DeviceCheck check(model, DeviceCheckHooks{
                                 [this] { return std::optional<std::string>(deviceFolder); },
                                 {},
                                 [&](const std::string&) {
                                     ++listings;
                                     model.Append(Row(1, "VOC00009.WAV"));
                                     model.Append(Row(2, "VOC00001.WAV"));
                                 },
                                 [&shown](DeviceState state) { shown.push_back(state); },
                             });
    check.Run();
    EXPECT_EQ(shown.back(), DeviceState::Listing);
    check.ListingEnded(false); // the card was pulled part way
    EXPECT_EQ(Column(model, kColFileName), (std::vector<std::string>{"VOC00009.WAV", "VOC00001.WAV"}));
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(check.listed());
    EXPECT_EQ(shown.back(), DeviceState::Listed);
    check.Run();
    EXPECT_EQ(listings, 1);
}
