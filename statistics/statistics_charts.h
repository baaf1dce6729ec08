#pragma once

#include "platform/result.h"
#include "statistics/call_statistics.h"
#include "statistics/chart_picture.h"

#include <QChart>
#include <QSize>
#include <string>
#include <vector>

class QCategoryAxis;
class QImage;
class QLineSeries;
class QScatterSeries;
class QStackedBarSeries;
class QValueAxis;

// The charts of the call statistics, drawn by Qt Charts with Chinese labels. They are not
// windows: the statistics window shows them in chart views, and "保存图片..." and voctool stats
// render them into a picture (which needs a QApplication, offscreen will do).

// The charts are built once, with their series, axes and legend, and then given their figures:
// the window builds and lays them out while the rows are counted, so that the counted figures
// only change what the charts show.

// The most periods the period chart draws. More are bars narrower than a pixel, and Qt Charts
// takes seconds to make and remove their items: the days of a recorder whose clock once read 2000
// number thousands. Every month of the recorder's years (2000 to 2127) fits.
inline constexpr std::size_t kMostChartPeriods = 2000;

// The calls per period as bars stacked by mode (left axis), and the talk time per period in
// minutes as a line (right axis). Given more than kMostChartPeriods periods it draws none, and its
// title says so.
class PeriodChart : public QChart {
public:
    PeriodChart();
    void SetPeriods(const std::vector<PeriodFigures>& periods);

protected:
    void resizeEvent(QGraphicsSceneResizeEvent* event) override;

private:
    // Every step-th period labelled, the labels flat or stood on end.
    struct Labelling {
        qsizetype step = 1;
        bool upright = false;
        bool operator==(const Labelling&) const = default;
    };
    Labelling LabellingFor(QSizeF chartSize) const;
    void LabelPeriods(Labelling labelling);

    QStringList names_;
    Labelling labelling_;
    QStackedBarSeries* bars_ = nullptr;
    QLineSeries* talk_ = nullptr;
    QCategoryAxis* periodAxis_ = nullptr;
    QValueAxis* callsAxis_ = nullptr;
    QValueAxis* minutesAxis_ = nullptr;
};

// The most colours the hour chart's cells take for their calls.
inline constexpr int kMostCallLevels = 5;

// The calls by hour of the day (across) and day of the week (down, Monday on top), the more
// calls the darker the cell: the calls are split into up to kMostCallLevels even ranges, each a
// colour that the legend names with its range ("1-2次"). Built with every cell empty.
class HourChart : public QChart {
public:
    HourChart();
    void SetCalls(const CallStatistics& statistics);

private:
    // levels_[0] holds the cells without calls, levels_[k] those of range k.
    std::vector<QScatterSeries*> levels_;
};

// The picture of both charts, width pixels wide (kChartPictureNarrowest to kChartPictureWidest):
// side by side, the period chart on the left, from kSideBySideWidth on; narrower, one above the
// other, the period chart on top, each as wide as the picture, so that a phone shows its text
// unshrunk.
inline constexpr int kSideBySideWidth = 1000;
QSize ChartsImageSize(int width);
inline constexpr QSize kChartsImageSize(kChartPictureWidest, 600);
QImage RenderChartsImage(const CallStatistics& statistics, PeriodKind kind, int width = kChartPictureWidest);
// Writes that picture as a PNG file to path.
Result<void> SaveChartsImage(const CallStatistics& statistics, PeriodKind kind, const std::string& path,
                             int width = kChartPictureWidest);
