#include "statistics/statistics_window.h"

#include "index/index_host.h"
#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "statistics/statistics_charts.h"
#include "statistics/statistics_table.h"
#include "statistics/statistics_worker.h"
#include "styling/flat_styler.h"

#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <utility>

namespace {

// As large as the search window, from which it opens.
constexpr QSize kOuterSize(1020, 604);
constexpr QSize kButtonSize(90, 25);
const QString kCountingText = QStringLiteral("正在统计...");
const QString kNothingText = QStringLiteral("没有可统计的语音");

QString DefaultImagePath(QWidget* owner)
{
    return QFileDialog::getSaveFileName(owner, QStringLiteral("保存图片"),
                                        QDir::homePath() + QStringLiteral("/通话统计.png"),
                                        QStringLiteral("PNG图片 (*.png)"));
}

QTableView* MakeTable(const char* objectName, TextTableModel* model, QWidget* parent)
{
    auto* view = MakeNamed<QTableView>(objectName, parent);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(20);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setTabKeyNavigation(false);
    QObject::connect(model, &QAbstractItemModel::modelReset, view, &QTableView::resizeColumnsToContents);
    return view;
}

// A titled table in parent: the title above, the table below.
QWidget* TitledTable(const QString& title, const char* objectName, TextTableModel* model, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(title, box);
    QTableView* table = MakeTable(objectName, model, box);
    label->setBuddy(table);
    layout->addWidget(label);
    layout->addWidget(table);
    return box;
}

// Shows chart in view, in place of the empty chart a view starts with.
void ShowChart(QChartView* view, QChart* chart)
{
    std::unique_ptr<QChart> previous(view->chart());
    view->setRenderHint(QPainter::Antialiasing);
    view->setChart(chart);
}

} // namespace

StatisticsWindow::StatisticsWindow(RowsSnapshot rows, IndexHost* index, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                          | Qt::WindowCloseButtonHint),
      chooseImagePath_(DefaultImagePath)
{
    setObjectName(QStringLiteral("FrmStatistics"));
    setWindowTitle(QStringLiteral("通话统计"));
    setModal(true);
    // The count (or the reading of the user types it waits for) starts first: the window and its
    // charts are built while it runs (its result arrives queued, after the constructor). The index
    // reads the user types on its own thread and drops them once the window is gone.
    worker_ = new StatisticsWorker(this);
    connect(worker_, &StatisticsWorker::counted, this, &StatisticsWindow::ShowFigures);
    const bool empty = !rows || rows->empty();
    if (!empty && index)
        index->Request<UserTypesByNumber>(
            this, [](ArchiveIndex* opened) { return opened ? UserTypesOf(*opened) : UserTypesByNumber{}; },
            [this, rows](UserTypesByNumber userTypes) { worker_->Start(rows, std::move(userTypes)); });
    else if (!empty)
        worker_->Start(std::move(rows), {});
    ApplyFormFont(this); // before the controls, which take it as they are made
    BuildControls(empty);
    resize(kOuterSize);
    AttachFlatStyler(this);
}

StatisticsWindow::~StatisticsWindow()
{
    // Charts join their views, which then own them, only when the window is shown.
    if (periodView_ && periodView_->chart() != periodChart_) {
        delete periodChart_;
        delete hourChart_;
    }
}

void StatisticsWindow::SetTableExporter(TableExporter exporter)
{
    exportTable_ = std::move(exporter);
}

void StatisticsWindow::SetImagePathChooser(ImagePathChooser chooser)
{
    chooseImagePath_ = std::move(chooser);
}

void StatisticsWindow::BuildControls(bool empty)
{
    auto* layout = new QVBoxLayout(this);
    stateLabel_ = MakeNamed<QLabel>("lbState", empty ? kNothingText : kCountingText, this);
    stateLabel_->setAlignment(Qt::AlignCenter);
    if (empty) {
        layout->addWidget(stateLabel_, 1);
    } else {
        // The figures lie under the state label while the rows are counted: shown and laid out
        // with the window, they take the counted figures without laying out anew. Disabled, they
        // take no keys until then.
        auto* stack = new QStackedLayout;
        stack->setStackingMode(QStackedLayout::StackAll);
        stateLabel_->setAutoFillBackground(true);
        figures_ = BuildFigures();
        figures_->setEnabled(false);
        stack->addWidget(figures_);
        stack->addWidget(stateLabel_);
        stack->setCurrentWidget(stateLabel_);
        layout->addLayout(stack, 1);
    }

    auto* buttons = new QHBoxLayout;
    saveButton_ = MakeDialogButton("btnSavePicture", QStringLiteral("保存图片..."), this, kButtonSize);
    exportButton_ = MakeDialogButton("btnExport", QStringLiteral("导出Excel"), this, kButtonSize);
    QPushButton* closeButton = MakeDialogButton("btnClose", QStringLiteral("关闭"), this, kButtonSize);
    buttons->addStretch();
    for (QPushButton* button : {saveButton_, exportButton_, closeButton})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    saveButton_->setEnabled(false);
    exportButton_->setEnabled(false);
    connect(saveButton_, &QPushButton::clicked, this, &StatisticsWindow::SaveImage);
    connect(exportButton_, &QPushButton::clicked, this, &StatisticsWindow::ExportSheet);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
}

QWidget* StatisticsWindow::BuildFigures()
{
    // Every control is made inside the window: one added from outside is told of the window's
    // font and lays itself out again.
    auto* figures = new QWidget(this);
    auto* layout = new QVBoxLayout(figures);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* chooser = new QHBoxLayout;
    periodBox_ = MakeNamed<QComboBox>("cbPeriod", figures);
    for (std::string_view name : kPeriodKindNames)
        periodBox_->addItem(ToQString(std::string(name)));
    auto* periodLabel = new QLabel(QStringLiteral("统计周期："), figures);
    periodLabel->setBuddy(periodBox_);
    chooser->addWidget(periodLabel);
    chooser->addWidget(periodBox_);
    chooser->addStretch();
    layout->addLayout(chooser);

    // The tables show their columns, and the totals their modes, while the rows are counted.
    totals_ = new TextTableModel(this);
    totals_->SetTable(TotalsTable(CallStatistics{}));
    mostCalls_ = new TextTableModel(this);
    mostCalls_->SetTable(NumbersTable({}));
    mostTalk_ = new TextTableModel(this);
    mostTalk_->SetTable(NumbersTable({}));
    periodChart_ = new PeriodChart;
    hourChart_ = new HourChart;
    periodView_ = MakeNamed<QChartView>("chartPeriods", figures);
    hourView_ = MakeNamed<QChartView>("chartHours", figures);
    auto* charts = new QHBoxLayout;
    charts->addWidget(periodView_, 3);
    charts->addWidget(hourView_, 2);
    layout->addLayout(charts, 3);

    // The top numbers take turns in tabs: side by side, neither had room for all its columns.
    auto* numbers = MakeNamed<QTabWidget>("tabNumbers", figures);
    numbers->addTab(MakeTable("tvMostCalls", mostCalls_, numbers), QStringLiteral("通话次数最多的号码"));
    numbers->addTab(MakeTable("tvMostTalk", mostTalk_, numbers), QStringLiteral("通话时长最多的号码"));
    auto* tables = new QHBoxLayout;
    tables->addWidget(TitledTable(QStringLiteral("合计"), "tvTotals", totals_, figures), 1);
    tables->addWidget(numbers, 2);
    layout->addLayout(tables, 2);
    connect(periodBox_, &QComboBox::currentIndexChanged, this, &StatisticsWindow::ShowPeriods);
    return figures;
}

void StatisticsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (std::exchange(outerSizeApplied_, true))
        return;
    ResizeToOuterSize(this, kOuterSize);
    if (const QWidget* owner = parentWidget())
        move((QRectF(owner->window()->frameGeometry()).center() - QRectF(QPointF(), kOuterSize).center()).toPoint());
    // A chart lays itself out whenever its view is resized, so it joins its view only once the
    // view has its size.
    if (periodView_) {
        ShowChart(periodView_, periodChart_);
        ShowChart(hourView_, hourChart_);
    }
}

void StatisticsWindow::ShowFigures(std::shared_ptr<const CallStatistics> statistics)
{
    statistics_ = std::move(statistics);
    stateLabel_->hide();
    figures_->setEnabled(true);
    totals_->SetTable(TotalsTable(*statistics_));
    mostCalls_->SetTable(NumbersTable(statistics_->mostCalls));
    mostTalk_->SetTable(NumbersTable(statistics_->mostTalk));
    hourChart_->SetCalls(*statistics_);
    const QSignalBlocker quiet(periodBox_);
    periodBox_->setCurrentIndex(static_cast<int>(AutomaticPeriod(*statistics_)));
    ShowPeriods();
    saveButton_->setEnabled(true);
    exportButton_->setEnabled(true);
    emit figuresShown();
}

PeriodKind StatisticsWindow::ChosenPeriod() const
{
    return static_cast<PeriodKind>(periodBox_->currentIndex());
}

void StatisticsWindow::ShowPeriods()
{
    periodChart_->SetPeriods(Periods(*statistics_, ChosenPeriod()));
}

void StatisticsWindow::SaveImage()
{
    const QString path = chooseImagePath_(this);
    if (path.isEmpty())
        return;
    if (Result<void> saved = SaveChartsImage(*statistics_, ChosenPeriod(), path.toStdString()); !saved)
        ShowMessage(this, QStringLiteral("保存图片失败：") + ToQString(saved.error().reason), QStringLiteral("提示"),
                    MessageIcon::Warning);
}

void StatisticsWindow::ExportSheet()
{
    if (!exportTable_)
        return;
    TextTableModel sheet;
    sheet.SetTable(StatisticsSheet(*statistics_, ChosenPeriod()));
    exportTable_(sheet, this, sheet.columnCount());
}
