// Listing a card of 20,000 recordings: the bare ListRecordings against the least the
// operating system must do (bench/baseline_list), and the whole listing into the main
// window (model, view, events processed after every file) against the bare ListRecordings.
//
//   bench_listing [COUNT [FOLDER]]   (default 20000 recordings in a fresh folder under /tmp,
//                                     removed at the end; a FOLDER given is filled once and kept)

#include "app/main_window.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "tools/sample_maker.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const std::uint32_t count = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 20000;

    const bool keepFolder = argc > 2;
    std::string root;
    if (keepFolder) {
        root = argv[2];
    } else {
        char pattern[] = "/tmp/sdvoice-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        root = pattern;
    }
    const std::string folder = root + "/VOICE/";
    char lastName[16];
    std::snprintf(lastName, sizeof lastName, "VOC%05u.WAV", count);
    if (!std::filesystem::exists(folder + lastName)) {
        std::printf("writing %u sample recordings into %s ...\n", count, folder.c_str());
        if (!WriteSampleFolder(folder, count, 3500)) {
            std::fprintf(stderr, "cannot write the sample folder\n");
            return 1;
        }
    }

    // Warm the cache: every file's inode and header page is read once before timing.
    long baselineRecords = 0;
    BaselineMilliseconds(folder, &baselineRecords);
    std::size_t rows = ListRecordings(folder).size();

    const double baselineMs = BaselineMilliseconds(folder, &baselineRecords);
    const double listMs = MillisecondsOf([&] { rows = ListRecordings(folder).size(); });

    MainWindow window;
    window.SetDriveFinder([&folder] { return std::optional<std::string>(folder); });
    window.show();
    QCoreApplication::processEvents();
    const double windowMs = MillisecondsOf([&] { window.ScanDevice(); });
    const int windowRows = window.recordingModel().rowCount();

    std::printf("baseline_list:        %8.1f ms  (%ld records)\n", baselineMs, baselineRecords);
    std::printf("ListRecordings:       %8.1f ms  (%zu rows)\n", listMs, rows);
    std::printf("listing into window:  %8.1f ms  (%d rows)\n", windowMs, windowRows);
    std::printf("ListRecordings / baseline:        %.2fx  (target <= 1.5x)\n", listMs / baselineMs);
    std::printf("window listing / ListRecordings:  %.2fx  (target <= 3x)\n", windowMs / listMs);

    if (!keepFolder) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    return 0;
}
