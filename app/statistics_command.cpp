#include "app/statistics_command.h"

#include "export/list_export.h"
#include "index/index_settings.h"
#include "platform/locations.h"
#include "statistics/statistics_window.h"

void ShowCallStatistics(RowsSnapshot rows, QWidget* owner)
{
    StatisticsWindow window(std::move(rows), ConfiguredIndexLocation(), owner);
    window.SetTableExporter([](const QAbstractItemModel& table, QWidget* shown, int itemColumns) {
        ExportListToExcelFile(table, shown, itemColumns, StatisticsExportFilePath());
    });
    window.exec();
}
