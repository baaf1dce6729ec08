// The audit trail's costs, one run each:
//  - the access log: ENTRIES entries appended one by one through AccessLog::Append (the median
//    and the 99th percentile of one append, on a log that grows to ENTRIES), then the whole chain
//    verified. Targets: median at most 1 ms, 1,000,000 entries verified within 5 s.
//  - the signed evidence package of an hour-long call (12.6 MB recorded, 57.6 MB decoded): the
//    export and its check. Target: the export within 1 s.
//
//   bench_evidence [ENTRIES]     (default 1000000; see bench/README.md)

#include "export/evidence_package.h"
#include "tools/sample_maker.h"
#include "web/access_log.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

AccessEntry EntryFor(qint64 number)
{
    return {QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + number * 1000, Qt::UTC), QStringLiteral("li"),
            number % 3 ? WebAction::Play : WebAction::Download, QString::number(number % 20000), "192.168.1.20"};
}

qint64 ProcessorNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int MeasureLog(const QString& path, qint64 entries)
{
    AccessLog log(path);
    // The wall time of each append, and the processor time it took: on a busy machine the first
    // includes the waits for a processor.
    std::vector<qint64> nanoseconds;
    std::vector<qint64> processor;
    nanoseconds.reserve(static_cast<std::size_t>(entries));
    processor.reserve(static_cast<std::size_t>(entries));
    QElapsedTimer timer;
    for (qint64 i = 0; i < entries; ++i) {
        const qint64 processorBefore = ProcessorNanoseconds();
        timer.start();
        if (!log.Append(EntryFor(i))) {
            std::fprintf(stderr, "bench_evidence: cannot append to %s\n", qPrintable(path));
            return 1;
        }
        nanoseconds.push_back(timer.nsecsElapsed());
        processor.push_back(ProcessorNanoseconds() - processorBefore);
    }
    std::sort(nanoseconds.begin(), nanoseconds.end());
    std::sort(processor.begin(), processor.end());
    std::printf(
        "access log: %lld entries appended, median %.3f ms, 99th percentile %.3f ms (target: median <= 1 ms); "
        "processor time median %.3f ms\n",
        static_cast<long long>(entries), nanoseconds[nanoseconds.size() / 2] / 1e6,
        nanoseconds[nanoseconds.size() * 99 / 100] / 1e6, processor[processor.size() / 2] / 1e6);
    const qint64 processorBefore = ProcessorNanoseconds();
    timer.start();
    const Result<LogCheck> check = log.Verify();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double processorSeconds = (ProcessorNanoseconds() - processorBefore) / 1e9;
    if (!check || !check->whole()) {
        std::fprintf(stderr, "bench_evidence: the chain does not verify\n");
        return 1;
    }
    std::printf("access log: %lld entries verified in %.2f s, processor time %.2f s (target: 1,000,000 within 5 s)\n",
                static_cast<long long>(check->lines), seconds, processorSeconds);
    return 0;
}

int MeasureEvidence(const QTemporaryDir& folder)
{
    const std::string recording = folder.filePath("VOC00001.WAV").toStdString();
    if (!WriteSampleFile(recording, SampleSpecFor(0, 3500 * 3600))) {
        std::fprintf(stderr, "bench_evidence: cannot write the hour-long recording\n");
        return 1;
    }
    EvidenceRequest request;
    request.recordingPath = recording;
    request.outputPath = folder.filePath("evidence.zip").toStdString();
    request.keyFolder = folder.filePath("key").toStdString();
    request.logPath = folder.filePath("web-access.log");
    request.account = QStringLiteral("li");
    static_cast<void>(LoadOrMakeDeskKey(request.keyFolder)); // the key's making is not the export's cost
    QElapsedTimer timer;
    const qint64 processorBefore = ProcessorNanoseconds();
    timer.start();
    const Result<EvidenceExported> exported = ExportEvidence(request);
    const double exportSeconds = timer.nsecsElapsed() / 1e9;
    const double exportProcessor = (ProcessorNanoseconds() - processorBefore) / 1e9;
    timer.start();
    const Result<EvidenceCheck> check = VerifyEvidence(request.outputPath, std::nullopt);
    const double checkSeconds = timer.nsecsElapsed() / 1e9;
    if (!exported || !check || !check->whole()) {
        std::fprintf(stderr, "bench_evidence: the export failed or does not verify\n");
        return 1;
    }
    std::printf(
        "evidence of an hour-long call: exported in %.3f s, processor time %.3f s (target: within 1 s), "
        "checked in %.3f s\n",
        exportSeconds, exportProcessor, checkSeconds);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const qint64 entries = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : 1'000'000;
    const QTemporaryDir folder(QStringLiteral("/tmp/sdvoice-bench-XXXXXX"));
    if (entries <= 0 || !folder.isValid()) {
        std::fprintf(stderr, "usage: bench_evidence [ENTRIES]\n");
        return 2;
    }
    if (const int failed = MeasureLog(folder.filePath("web-access.log"), entries); failed != 0)
        return failed;
    return MeasureEvidence(folder);
}
