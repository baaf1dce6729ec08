// The module voctool loads to draw the statistics' charts into a PNG file (see chart_picture.h).

#include "statistics/chart_picture.h"
#include "statistics/statistics_charts.h"

#include <QApplication>
#include <cstring>

extern "C" __attribute__((visibility("default"))) bool sdvoice_write_chart_picture(const CallStatistics* statistics,
                                                                                   int kind, int width,
                                                                                   const char* path, char* error,
                                                                                   std::size_t errorSize)
{
    // The charts need a QApplication; it draws offscreen, so no display is needed.
    int argc = 3;
    char name[] = "voctool", platform[] = "-platform", offscreen[] = "offscreen";
    char* argv[] = {name, platform, offscreen, nullptr};
    QApplication application(argc, argv);
    const Result<void> saved = SaveChartsImage(*statistics, static_cast<PeriodKind>(kind), path, width);
    if (saved)
        return true;
    std::strncpy(error, saved.error().reason.c_str(), errorSize - 1);
    return false;
}

// The function's type must be what voctool calls it as.
static_assert(std::is_same_v<decltype(&sdvoice_write_chart_picture), WriteChartPictureFunction>);
