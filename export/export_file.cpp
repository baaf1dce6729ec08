#include "export/export_file.h"

#include "export/sheet_grid.h"
#include "export/xlsx_sheet.h"
#include "platform/atomic_file.h"

#include <QAbstractItemModel>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder;
}

// What is at path itself, a symbolic link not followed; not_found when nothing can be seen.
std::filesystem::file_status EntryAt(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored);
}

Result<void> WriteSheet(const SheetGrid& grid, const std::string& path)
{
    XlsxSheet sheet;
    if (Result<void> started = sheet.Start(path, FolderOf(path)); !started)
        return started;
    if (Result<void> borders = sheet.DrawBorders(BorderRange(grid.columnCount(), grid.itemCount())); !borders)
        return borders;
    for (int column = 1; column <= grid.columnCount(); ++column)
        sheet.SetCell(1, column, grid.titles[static_cast<std::size_t>(column - 1)]);
    std::size_t cell = 0;
    for (int item = 1; item <= grid.itemCount(); ++item)
        for (int column = 1; column <= grid.itemColumns; ++column, ++cell) {
            if (cell < grid.figures.size() && grid.figures[cell])
                sheet.SetFigure(item + 1, column, *grid.figures[cell]);
            else
                sheet.SetCell(item + 1, column, grid.items[cell]);
        }
    return sheet.Save();
}

// The lock file LibreOffice keeps beside a file it has open: ".~lock.NAME#".
std::string LockFilePath(const std::string& path)
{
    const std::filesystem::path file(path);
    return file.parent_path() / (".~lock." + file.filename().string() + "#");
}

// A spreadsheet program holds the file open, or it exists and cannot be deleted.
bool ExportFileHeldOpen(const std::string& path)
{
    if (std::filesystem::exists(EntryAt(LockFilePath(path))))
        return true;
    return std::filesystem::exists(EntryAt(path)) && ::access(FolderOf(path).c_str(), W_OK | X_OK) != 0;
}

// Writes the workbook into a temporary file beside path and renames it over path when whole.
Result<void> WriteSheetFile(const SheetGrid& grid, const std::string& path)
{
    TempFile temp = CreateTempFileForSave(path, kPrivateFileMode);
    if (temp.fd < 0) {
        const int error = errno;
        return Failure{"cannot create a file in " + FolderOf(path) + ": " + std::strerror(error), error, path};
    }
    // libxlsxwriter writes the temporary file by its name; the descriptor we hold flushes it.
    if (Result<void> written = WriteSheet(grid, temp.path); !written) {
        DiscardTempFile(temp);
        return Failure{written.error().reason, written.error().error, path};
    }
    return CommitTempFile(temp, path);
}

} // namespace

Result<ExportOutcome> ExportList(const QAbstractItemModel& list, int itemColumns, const std::string& path,
                                 const std::function<void()>& beforeWriting)
{
    if (list.rowCount() == 0)
        return ExportOutcome::NothingToExport;
    if (std::filesystem::is_symlink(EntryAt(path)))
        return ExportOutcome::SymbolicLink;
    if (ExportFileHeldOpen(path))
        return ExportOutcome::HeldOpen;
    if (beforeWriting)
        beforeWriting();
    if (Result<void> written = WriteSheetFile(GridFromModel(list, itemColumns), path); !written)
        return written.error();
    return ExportOutcome::Written;
}
