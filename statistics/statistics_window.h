#pragma once

#include "catalogue/recording_model.h"
#include "statistics/call_statistics.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

class HourChart;
class IndexHost;
class PeriodChart;
class QAbstractItemModel;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QWidget;
class StatisticsWorker;
class TextTableModel;

// The window "通话统计": the figures of the rows it is given (the card's catalogue or the rows the
// search window lists). The rows are counted in a worker while the window shows "正在统计...";
// then it shows the totals, the period chart with its chooser (日 / 周 / 月), the hour chart and
// the ten numbers with the most calls and with the most talk time. Without rows it shows only
// "没有可统计的语音". "保存图片..." writes the charts as a PNG picture, "导出Excel" the figures as
// a sheet.
class StatisticsWindow : public QDialog {
    Q_OBJECT

public:
    // Writes the figures' table to ~/vrxstat.xlsx; the program's shell hands it in (the export is
    // another subsystem's window code).
    using TableExporter = std::function<void(const QAbstractItemModel& table, QWidget* window, int itemColumns)>;
    // Asks where to save the picture; an empty text when the user cancels.
    using ImagePathChooser = std::function<QString(QWidget* owner)>;

    // With the program's index the top numbers show the user types of their notes: the count
    // starts once the index has read them (at once when it cannot be used), and a window closed
    // before waits for nothing.
    // rows: the rows to count, taken from their list without a copy (none counts as empty).
    StatisticsWindow(RowsSnapshot rows, IndexHost* index, QWidget* parent = nullptr);
    ~StatisticsWindow() override;

    void SetTableExporter(TableExporter exporter);
    void SetImagePathChooser(ImagePathChooser chooser);

signals:
    // The counted figures are shown.
    void figuresShown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls(bool empty);
    QWidget* BuildFigures();
    void ShowFigures(std::shared_ptr<const CallStatistics> statistics);
    void ShowPeriods();
    PeriodKind ChosenPeriod() const;
    void SaveImage();
    void ExportSheet();

    StatisticsWorker* worker_ = nullptr;
    std::shared_ptr<const CallStatistics> statistics_;
    TableExporter exportTable_;
    ImagePathChooser chooseImagePath_;
    bool outerSizeApplied_ = false;

    QLabel* stateLabel_ = nullptr; // "正在统计..." or "没有可统计的语音"
    QWidget* figures_ = nullptr; // under stateLabel_ until the figures are counted
    QComboBox* periodBox_ = nullptr;
    QChartView* periodView_ = nullptr;
    QChartView* hourView_ = nullptr;
    PeriodChart* periodChart_ = nullptr;
    HourChart* hourChart_ = nullptr;
    TextTableModel* totals_ = nullptr;
    TextTableModel* mostCalls_ = nullptr;
    TextTableModel* mostTalk_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
};
