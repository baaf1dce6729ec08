#include "app/main_window.h"
#include "app/statistics_command.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/recording_model.h"
#include "export/list_export.h"
#include "index/archive_index.h"
#include "index/index_host.h"
#include "platform/message_box.h"
#include "search/search_window.h"
#include "statistics/statistics_charts.h"
#include "statistics/statistics_window.h"
#include "support/find_child.h"
#include "support/silent_server.h"
#include "support/sheet_reader.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QBarSet>
#include <QChartView>
#include <QApplication>
#include <QComboBox>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QImage>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QMouseEvent>
#include <QPushButton>
#include <QStackedBarSeries>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QValueAxis>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <tuple>

namespace {

using Texts = std::vector<std::vector<std::string>>;

// Home, configuration and data folders of the process, worked out before any window reads them:
// the archive index and ~/vrxstat.xlsx lie in private folders.
const TempFolder& Home()
{
    static const TempFolder folder;
    return folder;
}
const bool homeSet = [] {
    return ::setenv("HOME", Home().path().c_str(), 1) == 0
           && ::setenv("XDG_CONFIG_HOME", Home().Path(".config").c_str(), 1) == 0
           && ::setenv("XDG_DATA_HOME", Home().Path(".local/share").c_str(), 1) == 0;
}();

// Where the heat map's legend shows each colour in a picture: the middle row of the colour's
// pixels in the rightmost run of the picture's columns that hold any of the colours (the legend
// lies right of the cells); -1 for a colour the legend does not show. A column holds a colour
// with three pixels of it one above the other, which the edges of letters do not make.
std::vector<int> LegendRows(const QImage& picture, const std::vector<QColor>& colours)
{
    const auto holds = [&](int x, const QColor& colour) {
        int run = 0;
        for (int y = 0; y < picture.height() && run < 3; ++y)
            run = picture.pixelColor(x, y) == colour ? run + 1 : 0;
        return run == 3;
    };
    const auto holdsAny = [&](int x) {
        return std::any_of(colours.begin(), colours.end(), [&](const QColor& colour) { return holds(x, colour); });
    };
    int right = picture.width() - 1;
    while (right > 0 && !holdsAny(right))
        --right;
    int left = right;
    while (left > 0 && holdsAny(left - 1))
        --left;
    std::vector<int> rows;
    for (const QColor& colour : colours) {
        int top = picture.height(), bottom = -1;
        for (int x = left; x <= right; ++x)
            for (int y = 0; y < picture.height(); ++y)
                if (holds(x, colour) && picture.pixelColor(x, y) == colour) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        rows.push_back(bottom < 0 ? -1 : (top + bottom) / 2);
    }
    return rows;
}

Texts TableTexts(const QTableView* view)
{
    Texts texts;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        texts.emplace_back();
        for (int column = 0; column < model->columnCount(); ++column)
            texts.back().push_back(model->index(row, column).data().toString().toStdString());
    }
    return texts;
}

// What the statistics window shows once it has counted.
struct Shown {
    std::string state; // the text over the window when it shows no figures
    Texts totals, mostCalls, mostTalk;
    QString period;
};

Shown ReadWindow(StatisticsWindow& window)
{
    Shown shown;
    if (Child<QLabel>(window, "lbState")->isVisible())
        shown.state = Child<QLabel>(window, "lbState")->text().toStdString();
    // A window without rows has no figures.
    if (const auto* totals = window.findChild<QTableView*>("tvTotals"); totals && totals->isVisible()) {
        shown.totals = TableTexts(Child<QTableView>(window, "tvTotals"));
        shown.mostCalls = TableTexts(Child<QTableView>(window, "tvMostCalls"));
        shown.mostTalk = TableTexts(Child<QTableView>(window, "tvMostTalk"));
        shown.period = Child<QComboBox>(window, "cbPeriod")->currentText();
    }
    return shown;
}

// Runs inspect on the statistics window that action opens modally, once it has counted, then
// closes it.
void InspectOpenedWindow(const std::function<void()>& action, const std::function<void(StatisticsWindow&)>& inspect)
{
    bool inspected = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<StatisticsWindow*>(QApplication::activeModalWidget());
        if (!window)
            return;
        EXPECT_EQ(window->windowTitle(), QStringLiteral("通话统计"));
        EXPECT_TRUE(WaitForWindow([window] { return !Child<QLabel>(*window, "lbState")->isVisible()
                                                    || Child<QLabel>(*window, "lbState")->text() != "正在统计..."; }))
            << "the statistics were not shown";
        inspect(*window);
        inspected = true;
        window->close();
    });
    action();
    EXPECT_TRUE(inspected) << "no statistics window opened";
}

// Three calls on 1 and 2 January 2024: two of 6 s with one number, a message of 1 s without a number.
void WriteCalls(const TempFolder& folder, const std::string& name)
{
    std::filesystem::create_directories(folder.Path(name));
    const SampleSpec specs[] = {
        {.mode = 'B', .phone = "13800001111", .year = 24, .month = 1, .day = 1, .hour = 10, .minute = 0, .dataBytes = 3500 * 6},
        {.mode = 'Z', .phone = "13800001111", .year = 24, .month = 1, .day = 2, .hour = 11, .minute = 0, .dataBytes = 3500 * 6},
        {.mode = 'L', .phone = "", .year = 24, .month = 1, .day = 2, .hour = 12, .minute = 0, .dataBytes = 3500 * 1},
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteSampleFile(folder.Path(name + "/VOC0000" + std::to_string(i + 1) + ".WAV"), specs[i]));
}

const Texts kTotals = {{"全部", "3", "13秒", "4秒"}, {"留言", "1", "1秒", "1秒"},
                       {"被叫", "1", "6秒", "6秒"}, {"主叫", "1", "6秒", "6秒"},
                       {"现场", "0", "0秒", "0秒"},      {"其他", "0", "0秒", "0秒"}};

class StatisticsWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(homeSet);
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request.text.toStdString()); });
        SetExportOpener([this](const QUrl& file) {
            opened.push_back(file);
            return true;
        });
    }
    void TearDown() override { SetMessageHandler({}), SetExportOpener({}); }

    TempFolder archive;
    std::vector<std::string> messages;
    std::vector<QUrl> opened;
};

} // namespace

TEST_F(StatisticsWindowTest, MainWindowMenuShowsTheCatalogueFiguresSavesThePictureAndExportsTheSheet)
{
    WriteCalls(archive, "VOICE");
    // A note with a user type on the first call, in the index the program is configured with.
    const std::string first = archive.Path("VOICE/VOC00001.WAV");
    ArchiveIndex::Opened index = ArchiveIndex::Open(ConfiguredIndexLocation());
    ASSERT_TRUE(index.index) << index.message;
    ASSERT_TRUE(index.index->SetNote(IdentityOf("VOC00001.WAV", *ReadRecordingHead(first)), {"", "客户"}));
    index.index.reset();

    MainWindow main;
    main.SetDriveFinder([this] { return std::optional(archive.Path("VOICE/")); });
    main.show();
    main.ScanDevice();
    ASSERT_TRUE(WaitForWindow([&] { return main.recordingModel().rowCount() == 3 && main.listedFlag(); }))
        << "the card was not listed";

    auto* action = Child<QAction>(main, "D3");
    EXPECT_EQ(action->text(), QStringLiteral("通话统计(&S)"));
    const std::string picture = Home().Path("calls.png");
    InspectOpenedWindow([action] { action->trigger(); }, [&](StatisticsWindow& window) {
        const Shown shown = ReadWindow(window);
        EXPECT_EQ(shown.totals, kTotals);
        EXPECT_EQ(shown.period, QStringLiteral("日"));
        const Texts regular = {{"13800001111", "2", "12秒", "2024年01月01日10时00分", "2024年01月02日11时00分", "客户"},
                               {"（无号码）", "1", "1秒", "2024年01月02日12时00分", "2024年01月02日12时00分", ""}};
        EXPECT_EQ(shown.mostCalls, regular);
        EXPECT_EQ(shown.mostTalk, regular);

        window.SetImagePathChooser([&](QWidget*) { return QString::fromStdString(picture); });
        Child<QPushButton>(window, "btnSavePicture")->click();
        Child<QComboBox>(window, "cbPeriod")->setCurrentText(QStringLiteral("月"));
        Child<QPushButton>(window, "btnExport")->click();
    });
    EXPECT_EQ(QImage(QString::fromStdString(picture)).size(), kChartsImageSize);
    const std::string sheet = Home().Path("vrxstat.xlsx");
    ASSERT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(sheet))});
    // Counts are numbers and durations time values, which a spreadsheet can add up; the phone
    // numbers stay texts.
    const std::string read = ReadSheetWithOpenpyxl(sheet);
    EXPECT_NE(
        read.find(
            "统计\t名称\t通话次数\t通话时长\t平均时长\t留言\t被叫\t主叫\t现场\t其他\t首次通话\t末次通话\t用户类型\n"
            "合计\t全部\t<int 3>\t<timedelta 0:00:13>\t<timedelta 0:00:04>\t<int 1>\t<int 1>\t<int 1>\t<int 0>\t<int "
            "0>\t\t\t\n"),
        std::string::npos)
        << read;
    EXPECT_NE(read.find("按月\t2024年01月\t<int 3>\t<timedelta 0:00:13>\t<timedelta 0:00:04>\t<int 1>\t<int 1>\t<int "
                        "1>\t<int 0>\t<int 0>\t\t\t\n"),
              std::string::npos)
        << read;
    EXPECT_NE(read.find("通话次数前十\t13800001111\t<int 2>\t<timedelta 0:00:12>\t<timedelta 0:00:06>\t<int 0>\t<int "
                        "1>\t<int 1>\t<int 0>\t"
                        "<int 0>\t2024年01月01日10时00分\t2024年01月02日11时00分\t客户\n"),
              std::string::npos)
        << read;
    EXPECT_TRUE(messages.empty());
}

TEST_F(StatisticsWindowTest, SearchWindowListMenuShowsTheFiguresOfTheListedRows)
{
    WriteCalls(archive, "VOICE");
    WriteCalls(archive, "Other"); // a second folder, not listed
    SearchWindow search(nullptr, [this] { return std::vector<FolderRoot>{{archive.Path("VOICE/"), kImageDisk}}; });
    search.SetStatisticsViewer(
        [](RowsSnapshot rows, QWidget* owner) { ShowCallStatistics(std::move(rows), nullptr, owner); });
    search.show();
    auto* tree = Child<QTreeView>(search, "TVSpeakPath");
    bool listed = false;
    QObject::connect(&search, &SearchWindow::listingEnded, [&listed] { listed = true; });
    tree->setCurrentIndex(tree->model()->index(0, 0));
    emit tree->clicked(tree->currentIndex());
    ASSERT_TRUE(WaitForWindow([&listed] { return listed; })) << "the folder was not listed";

    auto* list = Child<QTableView>(search, "ListViewPlay");
    QAction* statistics = Child<QAction>(list, "actStatistics");
    EXPECT_EQ(statistics->text(), QStringLiteral("通话统计..."));
    EXPECT_TRUE(list->actions().contains(statistics));
    InspectOpenedWindow([statistics] { statistics->trigger(); },
                        [](StatisticsWindow& window) { EXPECT_EQ(ReadWindow(window).totals, kTotals); });
}

// The figures are built under the state label while the rows are counted: until then no key may
// reach them (a period chosen without figures would have nothing to show).
TEST_F(StatisticsWindowTest, FiguresTakeNoInputUntilCounted)
{
    WriteCalls(archive, "VOICE");
    StatisticsWindow window(std::make_shared<const std::vector<RecordingEntry>>(ListRecordings(archive.Path("VOICE/"))),
                            nullptr);
    bool shown = false;
    QObject::connect(&window, &StatisticsWindow::figuresShown, [&shown] { shown = true; });
    window.show();
    auto* period = Child<QComboBox>(window, "cbPeriod");
    EXPECT_FALSE(period->isEnabled());
    EXPECT_EQ(ReadWindow(window).state, "正在统计...");
    ASSERT_TRUE(WaitForWindow([&shown] { return shown; })) << "the statistics were not shown";
    EXPECT_TRUE(period->isEnabled());
    EXPECT_EQ(ReadWindow(window).totals, kTotals);
}

// With the index on a server that does not answer, the window asks the program's index for the
// user types and opens no connection of its own: closed while the index still connects, it waits
// for nothing; once the index has failed, the figures come without user types.
TEST_F(StatisticsWindowTest, ClosesAtOnceWhileTheIndexServerDoesNotAnswer)
{
    WriteCalls(archive, "VOICE");
    const RowsSnapshot rows =
        std::make_shared<const std::vector<RecordingEntry>>(ListRecordings(archive.Path("VOICE/")));
    int port = 0;
    const UniqueFd server = SilentServer(port);
    ASSERT_TRUE(server.valid());
    ASSERT_EQ(::fcntl(server.get(), F_SETFL, O_NONBLOCK), 0);
    std::vector<UniqueFd> connections; // taken in and left unanswered
    const auto connected = [&] {
        for (int fd; (fd = ::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            connections.emplace_back(fd);
        return connections.size();
    };
    IndexHost index(PostgresIndexAt(port));
    ASSERT_TRUE(WaitForWindow([&] { return connected() == 1; })) << "the index did not connect";

    auto window = std::make_unique<StatisticsWindow>(rows, &index);
    window->show();
    EXPECT_EQ(ReadWindow(*window).state, "正在统计...");
    window.reset();
    EXPECT_EQ(connected(), 1u) << "the window connected to the index itself";
    EXPECT_EQ(index.state(), IndexHost::State::Opening);

    connections.clear(); // the server hangs up: the index fails at once
    ASSERT_TRUE(WaitForWindow([&] { return index.state() == IndexHost::State::Failed; }));
    StatisticsWindow counted(rows, &index);
    bool shown = false;
    QObject::connect(&counted, &StatisticsWindow::figuresShown, [&shown] { shown = true; });
    counted.show();
    ASSERT_TRUE(WaitForWindow([&shown] { return shown; })) << "the statistics were not shown";
    EXPECT_EQ(ReadWindow(counted).totals, kTotals);
}

// A recorder whose clock once read 2000 spans decades: its days are too many to chart (Qt Charts
// took seconds for them), so the chart draws none and says why, and draws the months again.
TEST_F(StatisticsWindowTest, PeriodChartDrawsNoMoreThanItsMostPeriods)
{
    auto rows = std::make_shared<std::vector<RecordingEntry>>(2);
    for (auto [row, start] : {std::pair(0, "2000年01月01日00时00分"), std::pair(1, "2026年12月01日10时00分")}) {
        (*rows)[row].texts[kColMode] = "被叫";
        (*rows)[row].texts[kColStartTime] = start;
    }
    StatisticsWindow window(std::move(rows), nullptr);
    bool shown = false;
    QObject::connect(&window, &StatisticsWindow::figuresShown, [&shown] { shown = true; });
    window.show();
    ASSERT_TRUE(WaitForWindow([&shown] { return shown; })) << "the statistics were not shown";
    QChart* chart = Child<QChartView>(window, "chartPeriods")->chart();
    const auto drawnPeriods = [chart] { return qobject_cast<QStackedBarSeries*>(chart->series().at(0))->barSets().at(0)->count(); };
    auto* period = Child<QComboBox>(window, "cbPeriod");
    EXPECT_EQ(period->currentText(), "月");
    EXPECT_EQ(drawnPeriods(), 27 * 12);

    period->setCurrentText(QStringLiteral("日"));
    EXPECT_EQ(drawnPeriods(), 0);
    EXPECT_TRUE(chart->title().startsWith(QStringLiteral("时段太多（9832个）"))) << chart->title().toStdString();

    period->setCurrentText(QStringLiteral("月"));
    EXPECT_EQ(drawnPeriods(), 27 * 12);
    EXPECT_EQ(chart->title(), QStringLiteral("各时段通话次数与通话时长"));
}

// Qt Charts cuts a label or an axis title that it finds no room for to "...". At the size the
// window gives the chart, every period labelled, from a few days to the months of years, and
// both axis titles show whole, and some periods are labelled.
TEST(PeriodChart, ShowsItsLabelsAndTitlesWholeAtTheWindowsSize)
{
    for (int count : {3, 13, 221}) {
        std::vector<PeriodFigures> periods(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            periods[static_cast<std::size_t>(i)].name = std::to_string(2023 + i / 12) + "年" + std::to_string(10 + i % 12 / 10)
                                                        + std::to_string(i % 10) + "月";
            periods[static_cast<std::size_t>(i)].figures.Add(1, 60 * static_cast<std::uint64_t>(i % 7));
        }
        QGraphicsScene scene;
        auto* chart = new PeriodChart;
        scene.addItem(chart);
        chart->setGeometry(0, 0, 435, 288);
        chart->SetPeriods(periods);
        chart->layout()->activate();
        QStringList shown;
        for (const QGraphicsItem* item : scene.items())
            if (const auto* text = dynamic_cast<const QGraphicsTextItem*>(item); text && text->isVisible())
                shown << text->toPlainText();
        EXPECT_TRUE(shown.filter(QStringLiteral("...")).isEmpty()) << count << " periods: " << shown.join(' ').toStdString();
        EXPECT_TRUE(shown.contains(QString::fromStdString(periods[0].name))) << count << " periods";
        EXPECT_TRUE(shown.contains(QStringLiteral("通话次数")) && shown.contains(QStringLiteral("分钟"))) << count << " periods";
    }
}

// Calls and minutes are labelled in whole numbers, each once, also when there are only a few
// (Qt's nice steps of 0.2 or 0.5 labelled "0 0 1 1"), and also when no period is drawn.
TEST(PeriodChart, LabelsItsCountsInDistinctWholeNumbers)
{
    for (auto [calls, seconds] : {std::pair(0, 0), std::pair(1, 30), std::pair(2, 130), std::pair(4, 270), std::pair(7, 600)}) {
        std::vector<PeriodFigures> periods(calls == 0 ? 0 : 1);
        for (int i = 0; i < calls; ++i)
            periods[0].figures.Add(1, static_cast<std::uint64_t>(seconds / calls));
        PeriodChart chart;
        chart.SetPeriods(periods);
        for (QAbstractAxis* counts : chart.axes(Qt::Vertical)) {
            const auto* axis = qobject_cast<QValueAxis*>(counts);
            const double step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
            EXPECT_GE(step, 1.0) << calls << " calls, " << axis->titleText().toStdString();
            EXPECT_EQ(step, std::round(step)) << calls << " calls, " << axis->titleText().toStdString();
            EXPECT_GE(axis->max(), calls) << calls << " calls";
        }
    }
}

// Calls of one day at the window's own size: the single period shows its talk time, the tables
// show all their columns without scrolling, and the heat map's cells take a colour for their
// calls that the legend names.
TEST_F(StatisticsWindowTest, OneDayOfCallsShowsEveryFigureAtTheWindowsSize)
{
    auto rows = std::make_shared<std::vector<RecordingEntry>>();
    for (const auto& [phone, start, duration] :
         {std::tuple("075583765566", "2024年01月01日10时00分", "123小时45分钟56秒"),
          std::tuple("075583765566", "2024年01月01日10时30分", "1小时0分钟0秒"),
          std::tuple("13800001111", "2024年01月01日12时00分", "59分钟59秒")}) {
        RecordingEntry& row = rows->emplace_back();
        row.texts[kColPhone] = phone;
        row.texts[kColMode] = "被叫";
        row.texts[kColStartTime] = start;
        row.texts[kColDuration] = duration;
    }
    StatisticsWindow window(std::move(rows), nullptr);
    bool shown = false;
    QObject::connect(&window, &StatisticsWindow::figuresShown, [&shown] { shown = true; });
    window.show();
    ASSERT_TRUE(WaitForWindow([&shown] { return shown; })) << "the statistics were not shown";
    QCoreApplication::processEvents();

    auto* periods = Child<QChartView>(window, "chartPeriods");
    const QImage periodImage = periods->grab().toImage();
    const QRect plot = periods->chart()->plotArea().toRect().translated(periods->viewport()->mapTo(periods, QPoint()));
    int talkPixels = 0;
    for (int y = plot.top(); y <= plot.bottom(); ++y)
        for (int x = plot.left(); x <= plot.right(); ++x) {
            const QColor pixel = periodImage.pixelColor(x, y);
            talkPixels += std::abs(pixel.red() - 178) + std::abs(pixel.green() - 34) + std::abs(pixel.blue() - 34) < 40;
        }
    EXPECT_GT(talkPixels, 4) << "the talk time of the one period is not drawn";

    for (const char* name : {"tvTotals", "tvMostCalls", "tvMostTalk"}) {
        auto* table = Child<QTableView>(window, name);
        for (QWidget* page = table; page->parentWidget() != nullptr; page = page->parentWidget())
            if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
                tabs->setCurrentWidget(page);
        QCoreApplication::processEvents();
        EXPECT_LE(table->horizontalHeader()->length(), table->viewport()->width()) << name << " hides columns";
    }

    auto* hours = Child<QChartView>(window, "chartHours");
    const QImage hourImage = hours->grab().toImage();
    const auto cellColour = [&](int hour) {
        const QPointF at = hours->chart()->mapToPosition(QPointF(hour, 6), hours->chart()->series().front());
        return hourImage.pixelColor(hours->viewport()->mapTo(hours, at.toPoint()));
    };
    const QColor none = cellColour(3), one = cellColour(12), two = cellColour(10);
    EXPECT_NE(none, one);
    EXPECT_LT(two.lightness(), one.lightness()) << "the busier cell is not darker";
    QStringList scale;
    for (const QLegendMarker* marker : hours->chart()->legend()->markers())
        if (marker->isVisible())
            scale << marker->label();
    EXPECT_EQ(scale, (QStringList{"0次", "1次", "2次"}));

    // "保存图片..." draws the legend as the window does: each colour in its own place, in the same order.
    const std::string picture = Home().Path("one-day.png");
    window.SetImagePathChooser([&](QWidget*) { return QString::fromStdString(picture); });
    Child<QPushButton>(window, "btnSavePicture")->click();
    const std::vector<int> legend = LegendRows(QImage(QString::fromStdString(picture)), {none, one, two});
    ASSERT_EQ(legend.size(), 3u);
    EXPECT_GE(legend[0], 0) << "the legend shows no 0次";
    EXPECT_GT(legend[1], legend[0] + 5) << "1次 is not under 0次 in the saved legend";
    EXPECT_GT(legend[2], legend[1] + 5) << "2次 is not under 1次 in the saved legend";
}

TEST_F(StatisticsWindowTest, NoRowsShowNothingToCountInsteadOfFigures)
{
    StatisticsWindow window({}, nullptr);
    window.show();
    const Shown shown = ReadWindow(window);
    EXPECT_EQ(shown.state, "没有可统计的语音");
    EXPECT_TRUE(shown.totals.empty());
    EXPECT_FALSE(Child<QPushButton>(window, "btnSavePicture")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(window, "btnExport")->isEnabled());
}
