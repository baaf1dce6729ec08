#include "statistics/statistics_charts.h"

#include "platform/qt_text.h"

#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// One colour per mode, in the order of kStatisticsModes.
const QColor kModeColours[] = {QColor(230, 159, 0), QColor(0, 114, 178), QColor(0, 158, 115), QColor(204, 121, 167),
                               QColor(150, 150, 150)};
const QStringList kWeekdayNames = {QStringLiteral("周一"), QStringLiteral("周二"), QStringLiteral("周三"),
                                   QStringLiteral("周四"), QStringLiteral("周五"), QStringLiteral("周六"),
                                   QStringLiteral("周日")};

QValueAxis* CountAxis(const QString& title, double maximum)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setRange(0, std::max(1.0, maximum));
    axis->setLabelFormat(QStringLiteral("%.0f"));
    axis->applyNiceNumbers();
    return axis;
}

// The colour of a cell with calls out of the busiest cell's most.
QColor CellColour(std::uint64_t calls, std::uint64_t most)
{
    if (calls == 0)
        return QColor(240, 240, 240);
    const double share = static_cast<double>(calls) / static_cast<double>(most);
    return QColor::fromRgbF(static_cast<float>(0.85 - 0.75 * share), static_cast<float>(0.9 - 0.6 * share), 1.0f);
}

// Period i at i, labelled under its bar. Past kMostPeriodLabels periods only every so many is
// labelled: each label is a text item for Qt Charts to lay out, and hundreds of them (the months
// of a long archive) took most of the window's time while not one could be read.
QCategoryAxis* PeriodAxis(const QStringList& names)
{
    constexpr qsizetype kMostPeriodLabels = 24;
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setGridLineVisible(false);
    axis->setRange(-0.5, static_cast<double>(std::max<qsizetype>(names.size(), 1)) - 0.5);
    const qsizetype step = (names.size() + kMostPeriodLabels - 1) / kMostPeriodLabels;
    for (qsizetype i = 0; i < names.size(); i += std::max<qsizetype>(step, 1))
        axis->append(names[i], static_cast<double>(i));
    if (names.size() > 12)
        axis->setLabelsAngle(-90);
    return axis;
}

// Hours 0 to 23 at the cells' centres, labelled every third hour.
QValueAxis* HourAxis()
{
    auto* axis = new QValueAxis;
    axis->setRange(-0.5, 23.5);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(3);
    axis->setLabelFormat(QStringLiteral("%.0f"));
    axis->setTitleText(QStringLiteral("时"));
    return axis;
}

// Monday on top: the weekday w (Monday 0) lies at 6 - w.
QCategoryAxis* WeekdayAxis()
{
    auto* axis = new QCategoryAxis;
    axis->setStartValue(-0.5);
    for (int w = 6; w >= 0; --w)
        axis->append(kWeekdayNames[w], 6 - w + 0.5);
    axis->setRange(-0.5, 6.5);
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    return axis;
}

} // namespace

QChart* MakePeriodChart(const std::vector<PeriodFigures>& periods)
{
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("各时段通话次数与通话时长"));
    auto* bars = new QStackedBarSeries;
    QStringList names;
    auto* talk = new QLineSeries;
    talk->setName(QStringLiteral("通话时长（分钟）"));
    double mostCalls = 0, mostMinutes = 0;
    for (std::size_t mode = 0; mode < kStatisticsModes.size(); ++mode) {
        auto* set = new QBarSet(ToQString(std::string(kStatisticsModes[mode])));
        set->setColor(kModeColours[mode]);
        for (const PeriodFigures& period : periods)
            *set << static_cast<double>(period.figures.byMode[mode].calls);
        bars->append(set);
    }
    for (std::size_t i = 0; i < periods.size(); ++i) {
        names << ToQString(periods[i].name);
        const double minutes = static_cast<double>(periods[i].figures.all.seconds) / 60.0;
        talk->append(static_cast<double>(i), minutes);
        mostCalls = std::max(mostCalls, static_cast<double>(periods[i].figures.all.calls));
        mostMinutes = std::max(mostMinutes, minutes);
    }
    chart->addSeries(bars);
    chart->addSeries(talk);
    QCategoryAxis* periodAxis = PeriodAxis(names);
    chart->addAxis(periodAxis, Qt::AlignBottom);
    chart->addAxis(CountAxis(QStringLiteral("通话次数"), mostCalls), Qt::AlignLeft);
    chart->addAxis(CountAxis(QStringLiteral("分钟"), mostMinutes), Qt::AlignRight);
    bars->attachAxis(periodAxis);
    bars->attachAxis(chart->axes(Qt::Vertical)[0]);
    talk->attachAxis(periodAxis);
    talk->attachAxis(chart->axes(Qt::Vertical)[1]);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

QChart* MakeHourChart(const CallStatistics& statistics)
{
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("通话时间分布（星期 × 小时）"));
    chart->legend()->hide();
    auto* cells = new QScatterSeries;
    cells->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    cells->setPen(Qt::NoPen);
    std::uint64_t most = 1;
    for (const auto& day : statistics.callsByWeekdayHour)
        most = std::max(most, *std::max_element(day.begin(), day.end()));
    QList<QPointF> points;
    QHash<int, QHash<QXYSeries::PointConfiguration, QVariant>> colours; // set at once: one update, not 168
    for (int weekday = 0; weekday < 7; ++weekday)
        for (int hour = 0; hour < 24; ++hour) {
            const std::uint64_t calls = statistics.callsByWeekdayHour[static_cast<std::size_t>(weekday)]
                                                                     [static_cast<std::size_t>(hour)];
            colours[static_cast<int>(points.size())][QXYSeries::PointConfiguration::Color] = CellColour(calls, most);
            points.append(QPointF(hour, 6 - weekday));
        }
    cells->append(points);
    cells->setPointsConfiguration(colours);
    chart->addSeries(cells);
    QValueAxis* hours = HourAxis();
    QCategoryAxis* weekdays = WeekdayAxis();
    chart->addAxis(hours, Qt::AlignBottom);
    chart->addAxis(weekdays, Qt::AlignLeft);
    cells->attachAxis(hours);
    cells->attachAxis(weekdays);
    // A cell fills its hour and day whatever size the chart is drawn at.
    QObject::connect(chart, &QChart::plotAreaChanged, cells, [cells](const QRectF& area) {
        cells->setMarkerSize(std::max(1.0, std::min(area.width() / 24, area.height() / 7)));
    });
    return chart;
}

QImage RenderChartsImage(const CallStatistics& statistics, PeriodKind kind)
{
    QImage image(kChartsImageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QGraphicsScene scene;
    const int periodWidth = kChartsImageSize.width() * 5 / 8;
    QChart* periodChart = MakePeriodChart(Periods(statistics, kind));
    QChart* hourChart = MakeHourChart(statistics);
    scene.addItem(periodChart);
    scene.addItem(hourChart);
    periodChart->setGeometry(0, 0, periodWidth, kChartsImageSize.height());
    hourChart->setGeometry(periodWidth, 0, kChartsImageSize.width() - periodWidth, kChartsImageSize.height());
    scene.setSceneRect(0, 0, kChartsImageSize.width(), kChartsImageSize.height());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(QPointF(0, 0), kChartsImageSize), scene.sceneRect());
    return image;
}

Result<void> SaveChartsImage(const CallStatistics& statistics, PeriodKind kind, const std::string& path)
{
    if (!RenderChartsImage(statistics, kind).save(ToQString(path), "PNG"))
        return Failure{"cannot write the picture " + path, errno, path};
    return {};
}
