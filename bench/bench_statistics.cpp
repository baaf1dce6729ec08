// The call statistics of a card's recordings: counting the rows against listing them from the
// card, and opening the window "通话统计" (counting in its worker and showing the figures and
// charts) against counting. One run each; the ratios are printed.
//
//   bench_statistics [COUNT]     (default 100000 recordings; see bench/README.md)
//
// The recordings are written into a fresh folder under /tmp, removed at the end: the head of one
// sample recording with the header record of the index-th sample of a realistic card, the rest of
// each file a hole (the statistics read only the header and the size), so that 100,000 files take
// seconds to write.

#include "bench/sample_folder.h"
#include "tools/sample_maker.h"
#include "catalogue/catalogue_scan.h"
#include "statistics/call_statistics.h"
#include "statistics/statistics_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

double Milliseconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// From the window's creation until it shows the counted figures, laid out: the layouts their
// changes ask for run too, not only the changes. The rows come as the lists hand them over: a
// snapshot of their rows, taken without a copy.
double OpenWindow(const RowsSnapshot& rows)
{
    QElapsedTimer timer;
    timer.start();
    StatisticsWindow window(rows, nullptr);
    QEventLoop loop;
    double opened = 0;
    QObject::connect(&window, &StatisticsWindow::figuresShown, &loop, [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        opened = Milliseconds(timer); // before the loop ends: it draws the window first
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    window.show();
    loop.exec();
    return opened;
}

// Writes count recordings VOC00001.WAV ... into folder, each with its own header record.
bool WriteRecordings(const std::string& folder, std::uint32_t count)
{
    std::vector<unsigned char> file = MakeSampleRecording(SampleSpecFor(0, 3500 * 20));
    constexpr std::streamsize kWrittenHead = 4096;
    for (std::uint32_t i = 0; i < count; ++i) {
        const SampleSpec sample = SampleSpecFor(i, 0);
        unsigned char* record = file.data() + kHeaderOffset;
        std::fill_n(record, kHeaderSize, 0);
        record[0] = static_cast<unsigned char>(sample.mode);
        std::copy_n(sample.phone.begin(), std::min<std::size_t>(sample.phone.size(), 17), record + 1);
        const int time[] = {sample.year, sample.month, sample.day, sample.hour, sample.minute};
        std::copy(std::begin(time), std::end(time), record + 18);
        char name[16];
        std::snprintf(name, sizeof name, "VOC%05u.WAV", i % 100000);
        // All of the audio would be seven gigabytes, written back to the disk through the timing.
        std::ofstream out(folder + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), kWrittenHead);
        out.close();
        std::error_code error;
        std::filesystem::resize_file(folder + name, file.size(), error);
        if (!out || error)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    const auto count = static_cast<std::uint32_t>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000);
    char root[] = "/tmp/sdvoice-bench-XXXXXX";
    if (::mkdtemp(root) == nullptr || !WriteRecordings(std::string(root) + "/", count)) {
        std::fprintf(stderr, "cannot write the sample recordings\n");
        return 1;
    }
    ::sync(); // their writing back to the disk is done before the timing

    QElapsedTimer timer;
    timer.start();
    const auto listed = std::make_shared<const std::vector<RecordingEntry>>(ListRecordings(std::string(root) + "/"));
    const double listing = Milliseconds(timer);
    const std::vector<RecordingEntry>& rows = *listed;

    timer.restart();
    const CallStatistics statistics = CountCalls(rows);
    const double counting = Milliseconds(timer);

    // The program shows and draws its main window before any statistics: the fonts and the
    // window system's first costs are paid by then. A window without rows stands in for it (it
    // builds no charts).
    {
        StatisticsWindow first({}, nullptr);
        first.show();
        first.grab();
    }
    const double window = OpenWindow(listed);
    std::printf("%zu rows (%llu calls counted)\n", rows.size(), static_cast<unsigned long long>(statistics.totals.all.calls));
    std::printf("listing the card   %9.1f ms\n", listing);
    std::printf("counting the rows  %9.1f ms  = %.3f x listing (target <= 0.2)\n", counting, counting / listing);
    std::printf("opening the window %9.1f ms  = %.2f x counting (target <= 1.2)\n", window, window / counting);
    std::filesystem::remove_all(root);
    return 0;
}
