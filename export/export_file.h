#pragma once

#include "platform/result.h"

#include <functional>
#include <string>

class QAbstractItemModel;

// Writing a list into the export file. The file is replaced only by a complete new workbook:
// the sheet goes into a temporary file in the same folder, which is renamed over the export
// file when it is written, so a failed export leaves the last good file as it was.

enum class ExportOutcome {
    Written,         // the new workbook is in place
    NothingToExport, // the list has no items; nothing was touched
    HeldOpen,        // the file is open in a spreadsheet program or cannot be replaced
    SymbolicLink,    // the export path is a symbolic link, which is never followed nor replaced
};

// The export of a list: nothing when it has no items; refuses a symbolic link and a file held
// open (LibreOffice's lock file ".~lock.NAME#" is beside it, or its folder does not let it be
// deleted); otherwise calls beforeWriting (the window turns busy), then writes the list's texts
// as a workbook with one sheet: the titles in row 1, the items below, thin borders around A1
// to the last title's column and the last item's row. A write failure leaves an existing file
// at path untouched.
Result<ExportOutcome> ExportList(const QAbstractItemModel& list, int itemColumns, const std::string& path,
                                 const std::function<void()>& beforeWriting = {});
