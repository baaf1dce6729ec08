#pragma once

#include "platform/result.h"
#include "statistics/call_statistics.h"

#include <QSize>
#include <string>
#include <vector>

class QChart;
class QImage;

// The charts of the call statistics, drawn by Qt Charts with Chinese labels. They are not
// windows: the statistics window shows them in chart views, and "保存图片..." and voctool stats
// render them into a picture (which needs a QApplication, offscreen will do).

// The calls per period as bars stacked by mode (left axis), and the talk time per period in
// minutes as a line (right axis).
QChart* MakePeriodChart(const std::vector<PeriodFigures>& periods);
// The calls by hour of the day (across) and day of the week (down, Monday on top), the more
// calls the darker the cell.
QChart* MakeHourChart(const CallStatistics& statistics);

// The size of the picture of both charts: the period chart on the left, the hour chart on the right.
inline constexpr QSize kChartsImageSize(1600, 600);
QImage RenderChartsImage(const CallStatistics& statistics, PeriodKind kind);
// Writes that picture as a PNG file to path.
Result<void> SaveChartsImage(const CallStatistics& statistics, PeriodKind kind, const std::string& path);
