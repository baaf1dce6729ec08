#pragma once

// Wall-clock timing shared by the benchmarks that compare with a whole `voctool convert`.

#include <QProcess>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using Clock = std::chrono::steady_clock;

inline double MillisecondsSince(Clock::time_point start, Clock::time_point end = Clock::now())
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Runs `voctool convert input output` as a whole process; its wall time in milliseconds.
inline double VoctoolMilliseconds(const QString& voctool, const std::string& input, const std::string& output)
{
    QProcess process;
    const Clock::time_point start = Clock::now();
    process.start(voctool, {"convert", QString::fromStdString(input), QString::fromStdString(output)});
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "voctool convert failed: %s\n", process.readAllStandardError().constData());
        std::exit(1);
    }
    return MillisecondsSince(start);
}
