// The searches of many folders answered by the archive index, in one run each, against the plain
// walk of the same folders (every file opened, the page cache warm):
//  - a search of one day over every known folder (target: at most 0.002 times the walk);
//  - phone digits "1234" over every known folder, every day;
//  - the first and the 100th page of 500 rows of every recording by start time;
//  - `voctool stats --all` (target: at most 0.05 times the walk and 64 MiB), every call with a
//    number of its own;
//  - the index's size per recording (target: at most 500 bytes).
// Every search first brings the folders up to date (one stat each), as it does for its users.
//
//   bench_index_search [FOLDERS [ROOT]]   (FOLDERS of 2000 recordings, default 50; without ROOT in
//                                          a fresh folder under /tmp, removed at the end; a ROOT
//                                          given keeps its recordings for the next run)

#include "catalogue/catalogue_scan.h"
#include "index/archive_index.h"
#include "search/archive_search.h"
#include "tools/sample_maker.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPerFolder = 2000;
constexpr std::size_t kPageRows = 500;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename Work>
double Timed(Work work)
{
    const Clock::time_point start = Clock::now();
    work();
    return MillisecondsSince(start);
}

// The n-th recording of the archive: five minutes after the one before (a million span about
// ten years), a number of its own, the modes in turn.
SampleSpec RecordingNumber(std::uint32_t n)
{
    SampleSpec sample = SampleSpecFor(n, 300);
    const std::int64_t minutes = static_cast<std::int64_t>(n) * 5;
    const QDateTime start = QDateTime(QDate(2016, 1, 1), QTime(0, 0)).addSecs(minutes * 60);
    sample.year = start.date().year() - 2000;
    sample.month = start.date().month();
    sample.day = start.date().day();
    sample.hour = start.time().hour();
    sample.minute = start.time().minute();
    char phone[16];
    std::snprintf(phone, sizeof phone, "139%08u", (n * 2654435761u) % 100000000u);
    sample.phone = phone;
    return sample;
}

std::string FolderName(const std::string& root, int folder)
{
    char name[32];
    std::snprintf(name, sizeof name, "/archive/%03d/", folder);
    return root + name;
}

void WriteArchive(const std::string& root, int folders)
{
    const std::string marker = root + "/archive/complete-" + std::to_string(folders);
    if (fs::exists(marker))
        return;
    std::printf("writing %d x %u recordings into %s/archive ...\n", folders, kPerFolder, root.c_str());
    for (int f = 0; f < folders; ++f) {
        fs::create_directories(FolderName(root, f));
        for (std::uint32_t i = 0; i < kPerFolder; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "VOC%05u.WAV", i + 1);
            if (!WriteSampleFile(FolderName(root, f) + name, RecordingNumber(f * kPerFolder + i))) {
                std::fprintf(stderr, "cannot write the archive\n");
                std::exit(1);
            }
        }
    }
    if (std::FILE* done = std::fopen(marker.c_str(), "w"))
        std::fclose(done);
    std::this_thread::sleep_for(std::chrono::seconds(4)); // the index trusts only settled times
}

// The peak resident memory of a program run to its end, in KiB, as /usr/bin/time measures it.
long PeakKilobytes(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral("/usr/bin/time"), QStringList{"-f", "%M", program} + arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        std::exit(1);
    }
    return process.readAllStandardError().trimmed().split('\n').last().toLong();
}

SearchCriteria EveryDay()
{
    SearchCriteria criteria;
    criteria.firstDay = QDate(2000, 1, 1);
    criteria.lastDay = QDate(2099, 12, 31);
    return criteria;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int folders = argc > 1 ? std::atoi(argv[1]) : 50;
    std::string root = argc > 2 ? argv[2] : "/tmp/sdvoice-bench-XXXXXX";
    if (argc <= 2 && ::mkdtemp(root.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    WriteArchive(root, folders);
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(root + "/data"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(root + "/config"));
    const std::string database = root + "/data/sdvoice/archive.db";
    for (const char* part : {"", "-wal", "-shm"})
        fs::remove(database + part);
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    if (!opened.index) {
        std::fprintf(stderr, "cannot open the index: %s\n", opened.message.c_str());
        return 1;
    }
    ArchiveIndex& index = *opened.index;

    std::size_t recordings = 0;
    const double fillMs = Timed([&] {
        for (int f = 0; f < folders; ++f)
            WalkFolderRows(&index, FolderName(root, f), [&](const WalkEntry&, IndexedRow* row) {
                recordings += row ? 1 : 0;
                return true;
            });
    });
    ListRecordings(FolderName(root, 0)); // the page cache warm for the walk, as for the index
    std::size_t walked = 0;
    const double walkMs = Timed([&] {
        for (const std::string& known : index.KnownFolders())
            walked += ListRecordings(known).size();
    });

    SearchCriteria oneDay = EveryDay();
    // A day in the middle of the archive's span.
    oneDay.firstDay = oneDay.lastDay =
        QDate(2016, 1, 1).addDays(static_cast<qint64>(folders) * kPerFolder * 5 / 1440 / 2);
    std::size_t dayRows = 0;
    const double dayMs = Timed([&] { dayRows = SearchKnownFolders(index, oneDay).rows.size(); });
    SearchCriteria digits = EveryDay();
    digits.phone = "1234";
    std::size_t phoneRows = 0;
    const double phoneMs = Timed([&] { phoneRows = SearchKnownFolders(index, digits).rows.size(); });
    SearchPage page;
    const double firstPageMs =
        Timed([&] { page = SearchKnownFoldersPage(index, EveryDay(), std::nullopt, kPageRows); });
    for (int n = 2; n < 100; ++n)
        page = SearchKnownFoldersPage(index, EveryDay(), page.last, kPageRows);
    const double hundredthPageMs =
        Timed([&] { page = SearchKnownFoldersPage(index, EveryDay(), page.last, kPageRows); });
    const std::string hundredthFirst = page.rows.empty() ? std::string("none") : page.rows.front().startTime();

    const QString voctool = QCoreApplication::applicationDirPath() + "/../tools/voctool";
    long statsPeak = 0;
    const double statsMs = Timed([&] { statsPeak = PeakKilobytes(voctool, {"stats", "--all"}); });
    std::error_code missing;
    const std::uintmax_t indexBytes = fs::file_size(database, missing) + fs::file_size(database + "-wal", missing);

    std::printf("%zu recordings in %d folders; index filled by the first listings in %.1f s\n", recordings, folders,
                fillMs / 1000);
    std::printf("plain walk of every folder:   %9.1f ms  (%zu rows)\n", walkMs, walked);
    std::printf("one day, every folder:        %9.1f ms  %.5fx the walk (%zu rows; target <= 0.002x, 20 ms)\n", dayMs,
                dayMs / walkMs, dayRows);
    std::printf("phone \"1234\", every folder:   %9.1f ms  %.5fx the walk (%zu rows; target <= 100 ms)\n", phoneMs,
                phoneMs / walkMs, phoneRows);
    std::printf("first page of %zu by time:    %9.1f ms  %.5fx the walk (target <= 50 ms)\n", kPageRows, firstPageMs,
                firstPageMs / walkMs);
    std::printf("100th page of %zu by time:    %9.1f ms  %.5fx the walk (from %s; target <= 50 ms)\n", kPageRows,
                hundredthPageMs, hundredthPageMs / walkMs, hundredthFirst.c_str());
    std::printf("voctool stats --all:          %9.1f ms  %.4fx the walk, peak %ld KiB (target <= 0.05x, 65536 KiB)\n",
                statsMs, statsMs / walkMs, statsPeak);
    std::printf("index size per recording:     %9.0f bytes (target <= 500)\n",
                static_cast<double>(indexBytes) / static_cast<double>(std::max<std::size_t>(recordings, 1)));
    opened.index.reset();
    if (argc <= 2)
        fs::remove_all(root, missing);
    return 0;
}
