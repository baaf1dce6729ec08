#pragma once

#include "export/sheet_grid.h"
#include "statistics/call_statistics.h"

#include <QAbstractTableModel>
#include <optional>
#include <string>
#include <vector>

// The figures as tables of texts: the window's tables, the sheet that "导出Excel" writes and the
// lines that voctool stats prints all come from here. Durations read as the lists show them.

struct TextTable {
    std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows; // each as many texts as titles
    // Empty, or one per title: the figure its column's texts stand for (counts, durations).
    std::vector<std::optional<SheetFigure::Kind>> figures;
};

// "方式", "通话次数", "通话时长", "平均时长": a row "全部", then one per mode.
TextTable TotalsTable(const CallStatistics& statistics);
// "电话号码", "通话次数", "通话时长", "首次通话", "末次通话", "用户类型".
TextTable NumbersTable(const std::vector<NumberFigures>& numbers);
// Every figure in one table: "统计" (the part: "合计", "按日"/"按周"/"按月", "通话次数前十",
// "通话时长前十"), "名称", "通话次数", "通话时长", "平均时长", the calls of each mode, "首次通话",
// "末次通话", "用户类型"; the totals (all, then each mode) first, then the periods, then the top
// numbers.
TextTable StatisticsSheet(const CallStatistics& statistics, PeriodKind kind);

// A table of texts as a read-only list model; the cells of its figure columns give their
// figures under kSheetFigureRole.
class TextTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TextTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void SetTable(TextTable table);
    const TextTable& table() const { return table_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    TextTable table_;
};
