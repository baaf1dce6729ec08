// The web page's content against the desktop, in one run:
//  1. the first page (100 rows) of a search over COUNT recordings (default 100,000) through the
//     web's search route, against "查  找" with the same filters in the search window (target: at
//     most the window's time); best of three each, after a listing that fills the index;
//  2. a 64 KiB range at 75 % of a one-hour recording through the audio route, read to its end,
//     against decoding the whole recording (target: at most 0.01 times); best of five each.
//
//   bench_web [COUNT [FOLDER]]   (default 100000 recordings in a fresh folder under /tmp,
//                                 removed at the end; a FOLDER given is filled once and kept)

#include "audio/adpcm_converter.h"
#include "bench/sample_folder.h"
#include "bench/voctool_timing.h"
#include "bench/window_driving.h"
#include "index/archive_index.h"
#include "index/index_host.h"
#include "platform/wave_out.h"
#include "search/search_window.h"
#include "web/content_routes.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kOneHourDataBytes = 12'600'000;
constexpr qint64 kRangeBytes = 64 * 1024;

// A silent output: the window plays nothing here.
class SilentOut : public WaveOut {
public:
    Result<void> Open(const WaveFormat& format, DoneCallback) override { return CheckPlayableFormat(format); }
    void Write(WaveBuffer&) override {}
    void Pause() override {}
    void Restart() override {}
    void Reset() override {}
    void Close() override {}
};

WebResponse Ask(const QList<WebRoute>& routes, const QString& path, const QList<QPair<QString, QString>>& query,
                const QByteArray& range = {})
{
    WebRequest request;
    request.method = "GET";
    request.path = path;
    request.query = query;
    request.range = range;
    request.account = QStringLiteral("bench");
    for (const WebRoute& route : routes)
        if (route.method == "GET" && route.path == path)
            return route.handle(request);
    std::fprintf(stderr, "no route %s\n", qPrintable(path));
    std::exit(1);
}

// Reads the whole body as the server does, in pieces of 32 KiB; its size.
qint64 ReadBody(const WebResponse& response)
{
    if (!response.source)
        return response.body.size();
    std::vector<char> piece(32 * 1024);
    qint64 read = 0;
    while (read < response.sourceSize) {
        const qint64 got = response.source->Read(read, piece.data(), qint64(piece.size()));
        if (got <= 0)
            break;
        read += got;
    }
    return read;
}

template <typename Work>
double BestMilliseconds(int rounds, const Work& work)
{
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const Clock::time_point start = Clock::now();
        work();
        best = std::min(best, MillisecondsSince(start));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    if (argc < 2) {
        static char count[] = "100000";
        static char* arguments[] = {argv[0], count, nullptr};
        argv = arguments;
        argc = 2;
    }
    const BenchFolder samples(argc, argv);
    const std::string folder = samples.recordings();
    const std::string hourFolder = samples.root() + "/hour/";
    const std::string hourRecording = hourFolder + "VOC00001.WAV";
    std::filesystem::create_directories(hourFolder);
    if (!std::filesystem::exists(hourRecording)
        && !WriteSampleFile(hourRecording, SampleSpecFor(0, kOneHourDataBytes))) {
        std::fprintf(stderr, "cannot write %s\n", hourRecording.c_str());
        return 1;
    }
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(samples.root() + "/data"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(samples.root() + "/config"));

    IndexHost index(ConfiguredIndexLocation());
    while (index.state() == IndexHost::State::Opening)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    SearchWindow window(
        nullptr,
        [&] {
            return std::vector<FolderRoot>{{folder, kImageDisk}};
        },
        [] { return std::make_unique<SilentOut>(); }, &index);
    window.show();
    QCoreApplication::processEvents();
    int ended = 0;
    QObject::connect(&window, &SearchWindow::listingEnded, [&ended] { ++ended; });
    const auto waitForTheEnd = [&ended] {
        while (ended == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ended = 0;
    };
    auto* tree = Control<QTreeView>(window, "TVSpeakPath");
    ClickNode(tree, tree->model()->index(0, 0)); // lists the folder into the index
    waitForTheEnd();

    Control<QDateEdit>(window, "DateTimePicker01")->setDate(QDate(2023, 1, 1));
    Control<QDateEdit>(window, "DateTimePicker11")->setDate(QDate(2030, 12, 31));
    Control<QComboBox>(window, "cbVoicetype")->setCurrentIndex(2);
    Control<QLineEdit>(window, "edtPhone")->setText(QStringLiteral("138"));
    const double windowMs = BestMilliseconds(3, [&] {
        Control<QPushButton>(window, "btnSearch")->click();
        waitForTheEnd();
    });
    const int windowRows = Control<QTableView>(window, "ListViewPlay")->model()->rowCount();

    {
        Result<std::unique_ptr<ArchiveIndex>> connection = ArchiveIndex::Connect(*index.WorkerLocation());
        if (!connection || !(*connection)->KnowFolder(hourFolder)) {
            std::fprintf(stderr, "cannot reach the index\n");
            return 1;
        }
    }
    AccessLog log(QString::fromStdString(samples.root() + "/access.log"));
    const QList<WebRoute> routes = ContentRoutes(log, *index.WorkerLocation());
    const QList<QPair<QString, QString>> criteria{{"folder", FolderKey(folder)},
                                                  {"from", "2023-01-01"},
                                                  {"to", "2030-12-31"},
                                                  {"mode", "被叫"},
                                                  {"phone", "138"},
                                                  {"pageSize", "100"}};
    // Each run asks routes of its own: the routes keep a search for the next pages, and a run
    // answered from that would time the cache, not the search.
    qint64 webRows = 0;
    const double webMs = BestMilliseconds(3, [&] {
        webRows = ReadBody(Ask(ContentRoutes(log, *index.WorkerLocation()), "/api/search", criteria));
    });
    QList<QPair<QString, QString>> sorted = criteria;
    sorted.append({{"sort", "4"}, {"order", "desc"}});
    const double webSortedMs = BestMilliseconds(
        3, [&] { ReadBody(Ask(ContentRoutes(log, *index.WorkerLocation()), "/api/search", sorted)); });

    Result<RecordingDecoder> decoder = RecordingDecoder::Open(hourRecording);
    if (!decoder) {
        std::fprintf(stderr, "cannot decode %s\n", hourRecording.c_str());
        return 1;
    }
    const qint64 first = (qint64(kWaveHeaderBytes) + decoder->OutputBytes()) * 3 / 4;
    const QByteArray range = "bytes=" + QByteArray::number(first) + "-" + QByteArray::number(first + kRangeBytes - 1);
    const QList<QPair<QString, QString>> hour{{"id", RecordingId(hourFolder, "VOC00001.WAV")}};
    qint64 rangeBytes = 0;
    const double rangeMs = BestMilliseconds(5, [&] { rangeBytes = ReadBody(Ask(routes, "/api/audio", hour, range)); });
    const double wholeMs = BestMilliseconds(5, [&] {
        if (!DecodeToPcmWave(hourRecording))
            std::exit(1);
    });

    std::printf("search window, \"查  找\":      %8.1f ms  (%d rows)\n", windowMs, windowRows);
    std::printf("web, first page of the search: %8.1f ms  (%lld bytes of JSON)\n", webMs,
                static_cast<long long>(webRows));
    std::printf("web, first page sorted by time: %7.1f ms\n", webSortedMs);
    std::printf("web 64 KiB range at 75 %%:       %7.2f ms  (%lld bytes)\n", rangeMs,
                static_cast<long long>(rangeBytes));
    std::printf("decoding the whole hour:        %7.1f ms\n", wholeMs);
    std::printf("web page / window:              %.2fx  (target <= 1x); sorted %.2fx\n", webMs / windowMs,
                webSortedMs / windowMs);
    std::printf("range / whole decoding:         %.4fx  (target <= 0.01x)\n", rangeMs / wholeMs);
    return 0;
}
