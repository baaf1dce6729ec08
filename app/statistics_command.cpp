#include "app/statistics_command.h"

#include "export/list_export.h"
#include "platform/locations.h"
#include "statistics/statistics_window.h"

void ShowCallStatistics(RowsSnapshot rows, IndexHost* index, QWidget* owner)
{
    StatisticsWindow window(std::move(rows), index, owner);
    window.SetTableExporter([](const QAbstractItemModel& table, QWidget* shown, int itemColumns) {
        ExportListToExcelFile(table, shown, itemColumns, StatisticsExportFilePath());
    });
    window.exec();
}
