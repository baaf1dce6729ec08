// Sorting 100,000 catalogue rows by each column, both ways: milliseconds per sort.
//
//   bench_sort [ROWS]     (default 100000; see bench/README.md)

#include "catalogue/recording_model.h"
#include "tools/sample_maker.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

// The row a realistic recording of the given sample would get, without writing the file.
RecordingEntry RowFor(std::uint32_t index, int number)
{
    const SampleSpec sample = SampleSpecFor(index, 0);
    RecordingHeader header;
    header.mode = sample.mode;
    std::copy_n(sample.phone.begin(), std::min<std::size_t>(sample.phone.size(), header.phone.size()),
                header.phone.begin());
    header.year = static_cast<std::int8_t>(sample.year);
    header.month = static_cast<std::int8_t>(sample.month);
    header.day = static_cast<std::int8_t>(sample.day);
    header.hour = static_cast<std::int8_t>(sample.hour);
    header.minute = static_cast<std::int8_t>(sample.minute);
    const std::uint32_t size = sample.dataBytes + 512;
    char name[16];
    std::snprintf(name, sizeof name, "VOC%05u.WAV", index % 100000);
    RecordingEntry entry;
    entry.texts = {std::to_string(number), name,         PhoneText(header), ModeName(header.mode),
                   StartTimeText(header),  DurationText(size), SizeText(size), std::string("/media/card/VOICE/") + name};
    return entry;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;

    std::vector<RecordingEntry> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        rows.push_back(RowFor(static_cast<std::uint32_t>(i), i + 1));
    std::shuffle(rows.begin(), rows.end(), std::mt19937(1));

    RecordingModel model;
    model.AppendBatch(std::move(rows));
    const auto& titles = RecordingColumnTitles();
    double worst = 0;
    std::printf("%d rows, ms per sort (target < 150 ms)\n", count);
    for (int column = 0; column < kColumnCount; ++column) {
        double ms[2];
        for (bool flag : {false, true}) {
            QElapsedTimer timer;
            timer.start();
            model.Sort({column, flag});
            ms[flag] = static_cast<double>(timer.nsecsElapsed()) / 1e6;
            worst = std::max(worst, ms[flag]);
        }
        std::printf("  column %d  flag clear %7.1f   flag set %7.1f   %s\n", column, ms[0], ms[1],
                    titles[column].c_str());
    }
    std::printf("slowest sort: %.1f ms\n", worst);
    return 0;
}
