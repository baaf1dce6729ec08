#pragma once

#include <QUrl>
#include <functional>
#include <string>

class QAbstractItemModel;
class QWidget;

// Opens the written export in the program the desktop has for it: false when it has none, and
// the export then says where the file is. Tests install a recorder; an empty opener restores
// the desktop's own.
using ExportOpener = std::function<bool(const QUrl& file)>;
void SetExportOpener(ExportOpener opener);

// The export command of both recording lists ("导出Excel(&E)" of the main window, "导出EXCEL"
// of the search window): writes the list's texts to the one export file (~/vrxexcel.xlsx)
// with window disabled and the busy cursor, restores both, then opens the file, or says where
// it is when the desktop has no program for it. The main window leaves its last column (the
// full path) out of the item rows (itemColumns N - 1), the search window writes all N. An empty list does nothing; a file held open, a symbolic link
// at the export path and a failed write each get a message box and keep the old file.
void ExportListToExcel(const QAbstractItemModel& list, QWidget* window, int itemColumns);
// The same export into the file at path (the call statistics write ~/vrxstat.xlsx).
void ExportListToExcelFile(const QAbstractItemModel& list, QWidget* window, int itemColumns, const std::string& path);
