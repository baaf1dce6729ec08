// How long the window's thread goes without answering while the program works: a 10 ms timer
// on that thread notes every tick, and the longest gap between two ticks (or between the
// command and the first tick, or the last tick and the end of the work) is the figure. One run:
//  a. the main window lists a card of COUNT recordings;
//  b. the search window lists a folder of COUNT recordings, then searches it with three filters;
//  c. the main window uploads 300 recordings ("全部上传");
//  d. "播放" on a one-hour recording, until the position slider moves.
// Target: at most 50 ms in each.
//
//   bench_responsiveness [COUNT [FOLDER]]   (default 20000 recordings in a fresh folder under
//                                            /tmp, removed at the end; a FOLDER given is kept)

#include "app/main_window.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "platform/message_box.h"
#include "platform/unique_fd.h"
#include "tests/support/silent_server.h"
#include "bench/sample_folder.h"
#include "bench/window_driving.h"
#include "search/archive_search.h"
#include "search/folder_tree.h"
#include "index/index_host.h"
#include "search/search_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kOneHourDataBytes = 12'600'000;
constexpr std::uint32_t kUploadCount = 300;

// Starts the work with command, lets the window's events run until done() holds, and returns
// the longest time in milliseconds that the window's thread went without a timer tick.
double LongestGap(const std::function<void()>& command, const std::function<bool()>& done)
{
    QTimer ticker;
    ticker.setInterval(10);
    ticker.setTimerType(Qt::PreciseTimer);
    Clock::time_point last = Clock::now();
    double longest = 0;
    const auto tick = [&] {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    };
    QObject::connect(&ticker, &QTimer::timeout, tick);
    ticker.start();
    last = Clock::now();
    command();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tick();
    return longest;
}

void WaitUntilOpened(const IndexHost& index)
{
    while (index.state() == IndexHost::State::Opening)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::size_t FilesIn(const std::string& folder)
{
    std::error_code ignored;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder, ignored), fs::directory_iterator()));
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenWithoutDisplay();
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication application(argc, argv);
    BenchFolder samples(argc, argv);
    const std::string root = samples.root();
    const std::string folder = samples.recordings();
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, QByteArray::fromStdString(root + "/" + variable));
    SetMessageHandler([](const MessageRequest& request) {
        std::printf("message: %s\n", request.text.toStdString().c_str());
    });
    const std::string card = root + "/card/VOICE/";
    const std::string uploaded = root + "/uploaded/";
    const std::string hourFolder = root + "/hour/";
    if (FilesIn(card) != kUploadCount && !WriteSampleFolder(card, kUploadCount, 60000)) {
        std::fprintf(stderr, "cannot write %s\n", card.c_str());
        return 1;
    }
    fs::create_directories(hourFolder);
    if (FilesIn(hourFolder) != 1 && !WriteSampleFile(hourFolder + "VOC00001.WAV", SampleSpecFor(0, kOneHourDataBytes))) {
        std::fprintf(stderr, "cannot write the one-hour recording\n");
        return 1;
    }
    ListRecordings(folder); // the file system's caches warm for every figure alike

    // a. The main window lists the card.
    double cardListing = 0;
    {
        MainWindow window;
        window.SetDriveFinder([&folder] { return std::optional<std::string>(folder); });
        window.show();
        cardListing = LongestGap([&] { window.ScanDevice(); },
                                 [&] { return window.deviceState() == DeviceState::Listed; });
        std::printf("rows listed: %d\n", window.recordingModel().rowCount());
    }

    // b. The search window lists the folder, then searches it.
    double folderListing = 0;
    double search = 0;
    {
        IndexHost index(ConfiguredIndexLocation());
        WaitUntilOpened(index);
        SearchWindow window(
            nullptr,
            [&] {
                return std::vector<FolderRoot>{{folder, kImageDisk}, {hourFolder, kImageDisk}};
            },
            {}, &index);
        window.show();
        auto* tree = Control<QTreeView>(window, "TVSpeakPath");
        auto* list = Control<QTableView>(window, "ListViewPlay");
        const int count = static_cast<int>(ListRecordings(folder).size());
        folderListing = LongestGap([&] { ClickNode(tree, tree->model()->index(0, 0)); },
                                   [&] { return list->model()->rowCount() == count && window.isEnabled(); });
        SearchCriteria criteria;
        criteria.firstDay = QDate(2023, 1, 1);
        criteria.lastDay = QDate(2030, 12, 31);
        criteria.mode = "被叫";
        criteria.phone = "138";
        const int found = static_cast<int>(SearchArchiveFolder(folder, criteria).rows.size());
        Control<QDateEdit>(window, "DateTimePicker01")->setDate(criteria.firstDay);
        Control<QDateEdit>(window, "DateTimePicker11")->setDate(criteria.lastDay);
        Control<QComboBox>(window, "cbVoicetype")->setCurrentText(QString::fromStdString(criteria.mode));
        Control<QLineEdit>(window, "edtPhone")->setText(QString::fromStdString(criteria.phone));
        auto* panel = Control<QLabel>(window, "PanelShow");
        search = LongestGap([&] { Control<QPushButton>(window, "btnSearch")->click(); },
                            [&] { return list->model()->rowCount() == found && panel->isHidden(); });
        std::printf("rows listed: %d, found: %d\n", count, found);

        // d. "播放" on the one-hour recording.
        ClickNode(tree, tree->model()->index(1, 0));
        while (list->model()->rowCount() != 1 || !window.isEnabled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        list->selectRow(0);
        auto* position = Control<QSlider>(window, "positionSlider");
        const double play = LongestGap([&] { Control<QPushButton>(window, "btnplay")->click(); },
                                       [&] { return position->value() > 0; });
        Control<QPushButton>(window, "btnstop")->click();
        window.close();

        // c. The main window uploads 300 recordings.
        fs::remove_all(uploaded);
        MainWindow main;
        main.SetDriveFinder([&card] { return std::optional<std::string>(card); });
        main.SetUploadPath(uploaded);
        main.show();
        main.ScanDevice();
        while (main.deviceState() != DeviceState::Listed)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        auto* progress = Control<QProgressBar>(main, "Pbarup");
        const double upload = LongestGap([&] { Control<QPushButton>(main, "btnupall")->click(); },
                                         [&] { return FilesIn(uploaded) == kUploadCount && progress->isHidden(); });

        // e. The search window opens with the index on a server that does not answer.
        int port = 0;
        const UniqueFd server = SilentServer(port);
        const IndexLocation silent = PostgresIndexAt(port);
        std::unique_ptr<IndexHost> silentIndex;
        std::unique_ptr<SearchWindow> silentWindow;
        const double silentOpening = LongestGap(
            [&] {
                silentIndex = std::make_unique<IndexHost>(silent);
                silentWindow = std::make_unique<SearchWindow>(
                    nullptr,
                    [&] {
                        return std::vector<FolderRoot>{{folder, kImageDisk}};
                    },
                    WaveOutFactory(), silentIndex.get());
                silentWindow->show();
            },
            [&] { return silentIndex->state() != IndexHost::State::Opening; });
        silentWindow.reset();

        std::printf("longest gap between two 10 ms ticks of the window's thread (target <= 50 ms):\n");
        std::printf("  a. main window lists %d recordings: %8.1f ms\n", count, cardListing);
        std::printf("  b. search window lists them:         %8.1f ms\n", folderListing);
        std::printf("     and searches them:                %8.1f ms\n", search);
        std::printf("  c. upload of %u recordings:          %8.1f ms\n", kUploadCount, upload);
        std::printf("  d. play start, one-hour recording:   %8.1f ms\n", play);
        std::printf("  e. search window opens, index server silent: %8.1f ms\n", silentOpening);
    }
    SetMessageHandler({});
    return 0;
}
