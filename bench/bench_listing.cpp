// Listing a card of 20,000 recordings: the bare ListRecordings against the least the
// operating system must do (bench/baseline_list), and the whole listing into the main
// window (model, view, events processed after every file) against the bare ListRecordings,
// and that listing with the window's flat look on against the same with it off (best of three
// alternating runs each).
//
//   bench_listing [COUNT [FOLDER]]   (default 20000 recordings in a fresh folder under /tmp,
//                                     removed at the end; a FOLDER given is filled once and kept)

#include "app/main_window.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "bench/sample_folder.h"
#include "styling/flat_styler.h"
#include "tools/sample_maker.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int kFlatLookRounds = 3;

double MillisecondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Runs the C baseline over folder; its own figure excludes the start of the process.
double BaselineMilliseconds(const std::string& folder, long* records)
{
    const std::string command =
        QCoreApplication::applicationDirPath().toStdString() + "/baseline_list '" + folder + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    double microseconds = -1;
    if (pipe == nullptr || std::fscanf(pipe, "%lf %ld", &microseconds, records) != 2) {
        std::fprintf(stderr, "cannot run %s\n", command.c_str());
        std::exit(1);
    }
    ::pclose(pipe);
    return microseconds / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    const BenchFolder samples(argc, argv);
    const std::string folder = samples.recordings();

    // Warm the cache: every file's inode and header page is read once before timing.
    long baselineRecords = 0;
    BaselineMilliseconds(folder, &baselineRecords);
    std::size_t rows = ListRecordings(folder).size();

    const double baselineMs = BaselineMilliseconds(folder, &baselineRecords);
    const double listMs = MillisecondsOf([&] { rows = ListRecordings(folder).size(); });

    int windowRows = 0;
    const auto listIntoWindow = [&](bool flatLook) {
        MainWindow window;
        window.findChild<FlatStyler*>(QStringLiteral("FlatStyler1"))->setActive(flatLook);
        window.SetDriveFinder([&folder] { return std::optional<std::string>(folder); });
        window.show();
        QCoreApplication::processEvents();
        const double ms = MillisecondsOf([&] {
            window.ScanDevice();
            while (window.deviceState() == DeviceState::Listing)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        });
        windowRows = window.recordingModel().rowCount();
        return ms;
    };
    double plainWindowMs = listIntoWindow(false);
    double windowMs = listIntoWindow(true);
    for (int round = 1; round < kFlatLookRounds; ++round) {
        plainWindowMs = std::min(plainWindowMs, listIntoWindow(false));
        windowMs = std::min(windowMs, listIntoWindow(true));
    }

    std::printf("baseline_list:        %8.1f ms  (%ld records)\n", baselineMs, baselineRecords);
    std::printf("ListRecordings:       %8.1f ms  (%zu rows)\n", listMs, rows);
    std::printf("listing into window:  %8.1f ms  (%d rows)\n", windowMs, windowRows);
    std::printf("  flat look off:      %8.1f ms\n", plainWindowMs);
    std::printf("ListRecordings / baseline:        %.2fx  (target <= 1.5x)\n", listMs / baselineMs);
    std::printf("window listing / ListRecordings:  %.2fx  (target <= 3x)\n", windowMs / listMs);
    std::printf("flat look on / off:               %.2fx  (target: not slower)\n", windowMs / plainWindowMs);

    return 0;
}
