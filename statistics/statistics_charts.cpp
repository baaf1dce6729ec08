#include "statistics/statistics_charts.h"

#include "platform/atomic_file.h"
#include "platform/qt_text.h"

#include <QBarSet>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsSceneResizeEvent>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

namespace {

const QString kPeriodChartTitle = QStringLiteral("各时段通话次数与通话时长");
// One colour per mode, in the order of kStatisticsModes.
const QColor kModeColours[] = {QColor(230, 159, 0), QColor(0, 114, 178), QColor(0, 158, 115), QColor(204, 121, 167),
                               QColor(150, 150, 150)};
// The talk time's line, unlike any mode's colour.
const QColor kTalkColour(178, 34, 34);
const QStringList kWeekdayNames = {QStringLiteral("周一"), QStringLiteral("周二"), QStringLiteral("周三"),
                                   QStringLiteral("周四"), QStringLiteral("周五"), QStringLiteral("周六"),
                                   QStringLiteral("周日")};

// A count axis whose title stays whole. Qt Charts leaves the title of a vertical axis the axis'
// width less that of "..." in the labels' font, and the axis is as wide as its widest label: with
// counts under 10 the title came out as "...". Two spaces on the plot's far side of each label
// make every label wider than "...".
QValueAxis* CountAxis(const QString& title, Qt::Alignment side)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    const QString padding = QStringLiteral("&nbsp;&nbsp;");
    axis->setLabelFormat(side == Qt::AlignLeft ? padding + QStringLiteral("%.0f") : QStringLiteral("%.0f") + padding);
    return axis;
}

// Sets the range from 0 to past maximum, in nice steps of at least 1: the labels are whole
// numbers, and steps of 0.2 or 0.5 would show "0 0 1 1". Worked out on an axis outside any chart:
// each change to an axis in a chart lays it out again.
void SetCountRange(QValueAxis* axis, double maximum)
{
    const double least = std::max(1.0, maximum);
    QValueAxis nice;
    nice.setRange(0, least);
    nice.applyNiceNumbers();
    if (nice.max() - nice.min() < nice.tickCount() - 1) {
        const double top = std::ceil(least);
        nice.setTickCount(static_cast<int>(top) + 1);
        nice.setRange(0, top);
    }
    axis->setTickCount(nice.tickCount());
    axis->setRange(nice.min(), nice.max());
}

// The colour of level out of levels: light grey for none, then ever darker blue.
QColor LevelColour(int level, int levels)
{
    if (level == 0)
        return QColor(240, 240, 240);
    const double share = static_cast<double>(level) / static_cast<double>(levels);
    return QColor::fromRgbF(static_cast<float>(0.85 - 0.75 * share), static_cast<float>(0.9 - 0.6 * share), 1.0f);
}

// The level of a cell with calls when the busiest cell has most and there are levels of them:
// level k holds the calls above most * (k - 1) / levels up to most * k / levels.
int CallLevel(std::uint64_t calls, std::uint64_t most, int levels)
{
    const auto count = static_cast<std::uint64_t>(levels);
    return static_cast<int>((calls * count + most - 1) / most);
}

// The calls of level k as the legend names them: "3次" or "1-2次".
QString LevelName(int level, std::uint64_t most, int levels)
{
    const auto count = static_cast<std::uint64_t>(levels);
    const std::uint64_t from = level == 0 ? 0 : most * static_cast<std::uint64_t>(level - 1) / count + 1;
    const std::uint64_t to = level == 0 ? 0 : most * static_cast<std::uint64_t>(level) / count;
    return (from == to ? QString::number(from) : QStringLiteral("%1-%2").arg(from).arg(to)) + QStringLiteral("次");
}

// The size Qt Charts gives a label: its text laid out as rich text in a text item.
QSizeF LabelSize(const QFont& font, const QString& text)
{
    QGraphicsTextItem item;
    item.setFont(font);
    item.setHtml(text);
    return item.boundingRect().size();
}

// Period i at i, every step-th one labelled under its bar, the labels flat or stood on end.
QCategoryAxis* PeriodAxis(const QStringList& names, qsizetype step, bool upright)
{
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setGridLineVisible(false);
    axis->setRange(-0.5, static_cast<double>(std::max<qsizetype>(names.size(), 1)) - 0.5);
    for (qsizetype i = 0; i < names.size(); i += step)
        axis->append(names[i], static_cast<double>(i));
    if (upright)
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

PeriodChart::PeriodChart()
    : bars_(new QStackedBarSeries),
      talk_(new QLineSeries),
      callsAxis_(CountAxis(QStringLiteral("通话次数"), Qt::AlignLeft)),
      minutesAxis_(CountAxis(QStringLiteral("分钟"), Qt::AlignRight))
{
    for (std::size_t mode = 0; mode < kStatisticsModes.size(); ++mode) {
        auto* set = new QBarSet(ToQString(std::string(kStatisticsModes[mode])));
        set->setColor(kModeColours[mode]);
        set->setBorderColor(kModeColours[mode]);
        bars_->append(set);
    }
    talk_->setName(QStringLiteral("通话时长（分钟）"));
    talk_->setPen(QPen(kTalkColour, 2));
    // A line through one period would be no line at all: each period is marked with a point.
    talk_->setPointsVisible(true);
    addSeries(bars_);
    addSeries(talk_);
    addAxis(callsAxis_, Qt::AlignLeft);
    addAxis(minutesAxis_, Qt::AlignRight);
    bars_->attachAxis(callsAxis_);
    talk_->attachAxis(minutesAxis_);
    legend()->setAlignment(Qt::AlignBottom);
    SetPeriods({});
}

void PeriodChart::SetPeriods(const std::vector<PeriodFigures>& allPeriods)
{
    static const std::vector<PeriodFigures> kNone;
    const bool drawn = allPeriods.size() <= kMostChartPeriods;
    const std::vector<PeriodFigures>& periods = drawn ? allPeriods : kNone;
    setTitle(drawn ? kPeriodChartTitle
                   : QStringLiteral("时段太多（%1个），无法绘出，请选择较长的统计周期").arg(allPeriods.size()));
    names_.clear();
    QList<QPointF> minutes;
    double mostCalls = 0, mostMinutes = 0;
    for (std::size_t i = 0; i < periods.size(); ++i) {
        names_ << ToQString(periods[i].name);
        minutes.append(QPointF(static_cast<double>(i), static_cast<double>(periods[i].figures.all.seconds) / 60.0));
        mostCalls = std::max(mostCalls, static_cast<double>(periods[i].figures.all.calls));
        mostMinutes = std::max(mostMinutes, minutes.back().y());
    }
    // The axes first: each change of an axis lays out the bars shown, which on the first figures
    // are none.
    SetCountRange(callsAxis_, mostCalls);
    SetCountRange(minutesAxis_, mostMinutes);
    LabelPeriods(LabellingFor(size()));
    talk_->replace(minutes);
    const QList<QBarSet*> sets = bars_->barSets();
    for (std::size_t mode = 0; mode < kStatisticsModes.size(); ++mode) {
        QList<qreal> calls;
        calls.reserve(static_cast<qsizetype>(periods.size()));
        for (const PeriodFigures& period : periods)
            calls.append(static_cast<double>(period.figures.byMode[mode].calls));
        QBarSet* set = sets[static_cast<qsizetype>(mode)];
        set->remove(0, set->count());
        set->append(calls);
    }
}

// Qt Charts gives each label an even share of the axis and cuts a label wider than its share to
// "...", and one stood on end that is longer than the axis is high (about a quarter of the chart).
// The axis labels only as many periods as it holds whole: all of them flat when they fit side by
// side, else every so many, stood on end when they are short enough, and never more than
// kMostPeriodLabels (each label is a text item to lay out: hundreds of them, the months of a long
// archive, took most of the window's time).
PeriodChart::Labelling PeriodChart::LabellingFor(QSizeF chartSize) const
{
    constexpr qsizetype kMostPeriodLabels = 24;
    constexpr qreal kBesidePlot = 150; // the count axes on both sides and the chart's margins
    constexpr qreal kLabelPadding = 8;  // Qt Charts' padding on both sides of a label, and a little
    if (names_.isEmpty())
        return {};
    // The widest name is measured, found by counting a Chinese character as two digits wide.
    const auto columns = [](const QString& name) {
        return std::accumulate(name.begin(), name.end(), 0, [](int sum, QChar c) { return sum + (c.unicode() < 0x80 ? 1 : 2); });
    };
    const QString& widest = *std::max_element(names_.begin(), names_.end(), [&columns](const QString& a, const QString& b) {
        return columns(a) < columns(b);
    });
    const QSizeF label = LabelSize(callsAxis_->labelsFont(), widest);
    const qreal plot = chartSize.width() - kBesidePlot;
    const auto fits = [plot](qsizetype labels, qreal across) {
        return plot / static_cast<qreal>(labels + 1) - kLabelPadding >= across;
    };
    if (names_.size() <= kMostPeriodLabels && fits(names_.size(), label.width()))
        return {1, false};
    const bool upright = label.width() <= chartSize.height() / 4;
    const qreal across = upright ? label.height() : label.width();
    const auto labelsEvery = [this](qsizetype step) { return (names_.size() + step - 1) / step; };
    qsizetype step = (names_.size() + kMostPeriodLabels - 1) / kMostPeriodLabels;
    while (step < names_.size() && !fits(labelsEvery(step), across))
        ++step;
    return {step, upright};
}

// The new axis comes with its labels: each label added to an axis in a chart lays out all of them
// again.
void PeriodChart::LabelPeriods(Labelling labelling)
{
    if (periodAxis_) {
        removeAxis(periodAxis_);
        delete periodAxis_;
    }
    labelling_ = labelling;
    periodAxis_ = PeriodAxis(names_, labelling.step, labelling.upright);
    addAxis(periodAxis_, Qt::AlignBottom);
    bars_->attachAxis(periodAxis_);
    talk_->attachAxis(periodAxis_);
}

void PeriodChart::resizeEvent(QGraphicsSceneResizeEvent* event)
{
    QChart::resizeEvent(event);
    if (const Labelling labelling = LabellingFor(event->newSize()); labelling != labelling_)
        LabelPeriods(labelling);
}

HourChart::HourChart()
{
    setTitle(QStringLiteral("通话时间分布（星期 × 小时）"));
    // Beside the cells: under them it would take the rows the weekdays need for their names.
    legend()->setAlignment(Qt::AlignRight);
    QValueAxis* hours = HourAxis();
    QCategoryAxis* weekdays = WeekdayAxis();
    addAxis(hours, Qt::AlignBottom);
    addAxis(weekdays, Qt::AlignLeft);
    for (int level = 0; level <= kMostCallLevels; ++level) {
        auto* cells = new QScatterSeries;
        cells->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        cells->setPen(Qt::NoPen);
        addSeries(cells);
        cells->attachAxis(hours);
        cells->attachAxis(weekdays);
        levels_.push_back(cells);
    }
    // A cell fills its hour and day whatever size the chart is drawn at.
    connect(this, &QChart::plotAreaChanged, this, [this](const QRectF& area) {
        for (QScatterSeries* cells : levels_)
            cells->setMarkerSize(std::max(1.0, std::min(area.width() / 24, area.height() / 7)));
    });
    SetCalls({});
}

void HourChart::SetCalls(const CallStatistics& statistics)
{
    std::uint64_t most = 0;
    for (const auto& day : statistics.callsByWeekdayHour)
        most = std::max(most, *std::max_element(day.begin(), day.end()));
    const int levels = static_cast<int>(std::min<std::uint64_t>(kMostCallLevels, most));
    std::vector<QList<QPointF>> cells(levels_.size());
    for (std::size_t weekday = 0; weekday < 7; ++weekday)
        for (std::size_t hour = 0; hour < 24; ++hour) {
            const std::uint64_t calls = statistics.callsByWeekdayHour[weekday][hour];
            const int level = calls == 0 ? 0 : CallLevel(calls, most, levels);
            cells[static_cast<std::size_t>(level)].append(
                QPointF(static_cast<double>(hour), 6.0 - static_cast<double>(weekday)));
        }
    for (int level = 0; level <= kMostCallLevels; ++level) {
        QScatterSeries* series = levels_[static_cast<std::size_t>(level)];
        series->setName(level <= levels ? LevelName(level, most, levels) : QString());
        series->setColor(LevelColour(level, levels));
        series->replace(cells[static_cast<std::size_t>(level)]);
        for (QLegendMarker* marker : legend()->markers(series))
            marker->setVisible(level <= levels);
    }
}

QSize ChartsImageSize(int width)
{
    constexpr int kStackedChartHeight = 320;
    return width >= kSideBySideWidth ? QSize(width, kChartsImageSize.height()) : QSize(width, 2 * kStackedChartHeight);
}

QImage RenderChartsImage(const CallStatistics& statistics, PeriodKind kind, int width)
{
    const QSize size = ChartsImageSize(std::clamp(width, kChartPictureNarrowest, kChartPictureWidest));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QGraphicsScene scene;
    auto* periodChart = new PeriodChart;
    auto* hourChart = new HourChart;
    scene.addItem(periodChart);
    scene.addItem(hourChart);
    if (size.width() >= kSideBySideWidth) {
        const int periodWidth = size.width() * 5 / 8;
        periodChart->setGeometry(0, 0, periodWidth, size.height());
        hourChart->setGeometry(periodWidth, 0, size.width() - periodWidth, size.height());
    } else {
        periodChart->setGeometry(0, 0, size.width(), size.height() / 2);
        hourChart->setGeometry(0, size.height() / 2, size.width(), size.height() / 2);
    }
    periodChart->SetPeriods(Periods(statistics, kind));
    hourChart->SetCalls(statistics);
    // The layouts now, not when events are next handled: the picture is drawn first. A legend lays
    // out its markers in a layout of its own; left for later, they all lay on one spot.
    for (QChart* chart : {static_cast<QChart*>(periodChart), static_cast<QChart*>(hourChart)}) {
        chart->layout()->activate();
        chart->legend()->layout()->activate();
    }
    scene.setSceneRect(0, 0, size.width(), size.height());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(QPointF(0, 0), size), scene.sceneRect());
    return image;
}

Result<void> SaveChartsImage(const CallStatistics& statistics, PeriodKind kind, const std::string& path, int width)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!RenderChartsImage(statistics, kind, width).save(&buffer, "PNG"))
        return Failure{"cannot draw the picture " + path, 0, path};
    return WriteFileAtomically(path, std::string_view(png.constData(), static_cast<std::size_t>(png.size())),
                               kPrivateFileMode, true);
}
