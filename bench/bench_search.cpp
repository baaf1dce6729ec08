// The search window on a folder of 20,000 recordings and on a one-hour recording, one run each:
//  1. selecting the folder in the tree (listed, sorted and renumbered into the window) against
//     the bare ListRecordings walk of the same folder (target: at most 3 times);
//  2. "查  找" over the same folder with all three filters set against that walk (at most 3 times);
//  3. from the "播放" click to the first buffer handed to the output, for a one-hour recording,
//     against `voctool convert` of that recording as a whole process (at most 2 times);
//  4. steps 1 and 2 with the window's flat look on against a second window with it off (best
//     of three alternating runs each; not slower).
//
//   bench_search [COUNT [FOLDER]]   (default 20000 recordings in a fresh folder under /tmp,
//                                    removed at the end; a FOLDER given is filled once and kept)

#include "catalogue/catalogue_scan.h"
#include "platform/wave_out.h"
#include "bench/voctool_timing.h"
#include "search/archive_search.h"
#include "index/index_host.h"
#include "search/search_window.h"
#include "bench/sample_folder.h"
#include "bench/window_driving.h"
#include "styling/flat_styler.h"
#include "tools/sample_maker.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kOneHourDataBytes = 12'600'000;
constexpr int kFlatLookRounds = 3;

// A silent output that notes when the first buffer reaches it and keeps what it is given until
// a Reset hands everything back.
class FirstWriteOut : public WaveOut {
public:
    explicit FirstWriteOut(std::atomic<Clock::rep>& firstWrite) : firstWrite_(firstWrite) {}

    Result<void> Open(const WaveFormat& format, DoneCallback onDone) override
    {
        onDone_ = std::move(onDone);
        return CheckPlayableFormat(format);
    }
    void Write(WaveBuffer& buffer) override
    {
        Clock::rep unset = 0;
        firstWrite_.compare_exchange_strong(unset, Clock::now().time_since_epoch().count());
        const std::lock_guard lock(mutex_);
        queued_.push_back(&buffer);
    }
    void Pause() override {}
    void Restart() override {}
    void Reset() override
    {
        std::vector<WaveBuffer*> returned;
        {
            const std::lock_guard lock(mutex_);
            returned.swap(queued_);
        }
        for (WaveBuffer* buffer : returned) {
            buffer->done = true;
            onDone_(*buffer);
        }
    }
    void Close() override {}

private:
    std::atomic<Clock::rep>& firstWrite_;
    DoneCallback onDone_;
    std::mutex mutex_;
    std::vector<WaveBuffer*> queued_;
};


} // namespace

int main(int argc, char** argv)
{
    UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    const BenchFolder samples(argc, argv);
    const std::string& root = samples.root();
    const std::string folder = samples.recordings();
    const std::string hourFolder = root + "/hour/";
    const std::string hourRecording = hourFolder + "VOC00001.WAV";
    fs::create_directories(hourFolder);
    if (!fs::exists(hourRecording) && !WriteSampleFile(hourRecording, SampleSpecFor(0, kOneHourDataBytes))) {
        std::fprintf(stderr, "cannot write %s\n", hourRecording.c_str());
        return 1;
    }
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(root + "/cache"));

    // The walk, once to warm the cache and once timed.
    std::size_t walkRows = ListRecordings(folder).size();
    Clock::time_point start = Clock::now();
    walkRows = ListRecordings(folder).size();
    const double walkMs = MillisecondsSince(start);

    std::atomic<Clock::rep> firstWrite{0};
    IndexHost index(ConfiguredIndexLocation());
    while (index.state() == IndexHost::State::Opening)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto openWindow = [&](bool flatLook) {
        auto window = std::make_unique<SearchWindow>(
            nullptr,
            [&] {
                return std::vector<FolderRoot>{{folder, kImageDisk}, {hourFolder, kImageDisk}};
            },
            [&firstWrite] { return std::make_unique<FirstWriteOut>(firstWrite); }, &index);
        Control<FlatStyler>(*window, "FlatStyler1")->setActive(flatLook);
        window->show();
        QCoreApplication::processEvents();
        return window;
    };
    const std::unique_ptr<SearchWindow> plainWindow = openWindow(false);
    const std::unique_ptr<SearchWindow> flatWindow = openWindow(true);
    SearchWindow& window = *flatWindow;
    auto* tree = Control<QTreeView>(window, "TVSpeakPath");
    auto* list = Control<QTableView>(window, "ListViewPlay");

    // 1. Selecting the folder lists it into the window; 2. a search with every filter: the whole
    // span of the samples, one mode, some digits.
    struct Timings {
        double listingMs, searchMs;
        int listedRows, foundRows;
    };
    const auto listAndSearch = [](SearchWindow& searched) {
        auto* folderTree = Control<QTreeView>(searched, "TVSpeakPath");
        auto* results = Control<QTableView>(searched, "ListViewPlay");
        Timings timings{};
        int ended = 0;
        const QMetaObject::Connection counting =
            QObject::connect(&searched, &SearchWindow::listingEnded, [&ended] { ++ended; });
        const auto waitForTheEnd = [&ended] {
            while (ended == 0)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            ended = 0;
        };
        Clock::time_point begin = Clock::now();
        ClickNode(folderTree, folderTree->model()->index(0, 0));
        waitForTheEnd();
        timings.listingMs = MillisecondsSince(begin);
        timings.listedRows = results->model()->rowCount();
        Control<QDateEdit>(searched, "DateTimePicker01")->setDate(QDate(2023, 1, 1));
        Control<QDateEdit>(searched, "DateTimePicker11")->setDate(QDate(2030, 12, 31));
        Control<QComboBox>(searched, "cbVoicetype")->setCurrentIndex(2);
        Control<QLineEdit>(searched, "edtPhone")->setText(QStringLiteral("138"));
        begin = Clock::now();
        Control<QPushButton>(searched, "btnSearch")->click();
        waitForTheEnd();
        timings.searchMs = MillisecondsSince(begin);
        timings.foundRows = results->model()->rowCount();
        QObject::disconnect(counting);
        return timings;
    };
    const auto best = [](Timings a, Timings b) {
        return Timings{std::min(a.listingMs, b.listingMs), std::min(a.searchMs, b.searchMs), a.listedRows, a.foundRows};
    };
    Timings plain = listAndSearch(*plainWindow);
    Timings flat = listAndSearch(window);
    for (int round = 1; round < kFlatLookRounds; ++round) {
        plain = best(plain, listAndSearch(*plainWindow));
        flat = best(flat, listAndSearch(window));
    }
    const double listingMs = flat.listingMs;
    const double searchMs = flat.searchMs;
    const int listedRows = flat.listedRows;
    const int foundRows = flat.foundRows;

    SearchCriteria criteria;
    criteria.firstDay = QDate(2023, 1, 1);
    criteria.lastDay = QDate(2030, 12, 31);
    criteria.mode = Control<QComboBox>(window, "cbVoicetype")->currentText().toStdString();
    criteria.phone = "138";
    start = Clock::now();
    const std::size_t bareRows = SearchArchiveFolder(folder, criteria).rows.size();
    const double bareSearchMs = MillisecondsSince(start);

    // 3. The one-hour recording: voctool convert (once to warm the cache, once timed), then
    //    "播放" on the window's row of the same file until the output is given its first buffer.
    const QString voctool = QCoreApplication::applicationDirPath() + "/../tools/voctool";
    VoctoolMilliseconds(voctool, hourRecording, root + "/voctool.wav");
    const double voctoolMs = VoctoolMilliseconds(voctool, hourRecording, root + "/voctool.wav");
    ClickNode(tree, tree->model()->index(1, 0));
    while (list->model()->rowCount() != 1 || !window.isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    list->selectRow(0);
    start = Clock::now();
    Control<QPushButton>(window, "btnplay")->click();
    while (firstWrite.load() == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double playMs = MillisecondsSince(start, Clock::time_point(Clock::duration(firstWrite.load())));
    window.close();

    std::printf("ListRecordings walk:        %8.1f ms  (%zu rows)\n", walkMs, walkRows);
    std::printf("selecting the folder:       %8.1f ms  (%d rows)\n", listingMs, listedRows);
    std::printf("SearchArchiveFolder alone:  %8.1f ms  (%zu rows)\n", bareSearchMs, bareRows);
    std::printf("search with three filters:  %8.1f ms  (%d rows)\n", searchMs, foundRows);
    std::printf("voctool convert, one hour:  %8.1f ms\n", voctoolMs);
    std::printf("play click to first buffer: %8.1f ms\n", playMs);
    std::printf("window listing / walk:      %.2fx  (target <= 3x)\n", listingMs / walkMs);
    std::printf("search / walk:              %.2fx  (target <= 3x)\n", searchMs / walkMs);
    std::printf("play start / voctool:       %.2fx  (target <= 2x)\n", playMs / voctoolMs);
    std::printf("flat look off: listing %.1f ms, search %.1f ms\n", plain.listingMs, plain.searchMs);
    std::printf("flat look on / off:         listing %.2fx, search %.2fx  (target: not slower)\n",
                listingMs / plain.listingMs, searchMs / plain.searchMs);

    return 0;
}
