#include "export/xlsx_sheet.h"

#include "export/xlsx_check.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

XlsxSheet::~XlsxSheet()
{
    // A workbook that was never saved is freed without writing anything.
    if (workbook_ != nullptr)
        lxw_workbook_free(workbook_);
}

Result<void> XlsxSheet::Start(const std::string& path, const std::string& tempFolder)
{
    path_ = path;
    tempFolder_ = tempFolder;
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tempFolder_.data();
    workbook_ = workbook_new_opt(path_.c_str(), &options);
    if (workbook_ != nullptr)
        sheet_ = workbook_add_worksheet(workbook_, nullptr);
    if (workbook_ != nullptr)
        border_ = workbook_add_format(workbook_);
    if (sheet_ == nullptr || border_ == nullptr)
        return Failure{"cannot start a workbook in " + tempFolder_ + ": " + std::strerror(errno), errno, path};
    format_set_border(border_, LXW_BORDER_THIN);
    return {};
}

Result<void> XlsxSheet::DrawBorders(std::string_view range)
{
    const std::string text(range);
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return Failure{"not a cell range: " + text};
    // libxlsxwriter's names are 0-based.
    firstRow_ = static_cast<int>(lxw_name_to_row(text.c_str())) + 1;
    firstColumn_ = lxw_name_to_col(text.c_str()) + 1;
    lastRow_ = static_cast<int>(lxw_name_to_row_2(text.c_str())) + 1;
    lastColumn_ = lxw_name_to_col_2(text.c_str()) + 1;
    if (lastRow_ < firstRow_ || lastColumn_ < firstColumn_)
        return Failure{"not a cell range: " + text};
    return {};
}

bool XlsxSheet::InBorders(int row, int column) const
{
    return row >= firstRow_ && row <= lastRow_ && column >= firstColumn_ && column <= lastColumn_;
}

void XlsxSheet::Note(int lxwError, const char* what)
{
    if (lxwError != LXW_NO_ERROR && failure_.empty())
        failure_ = std::string(what) + ": " + lxw_strerror(static_cast<lxw_error>(lxwError));
}

// Writes one cell (a blank one for an empty text) and counts the cells and the rows they are in.
void XlsxSheet::WriteCell(int row, int column, const std::string& text)
{
    lxw_format* format = InBorders(row, column) ? border_ : nullptr;
    if (text.empty() && format == nullptr)
        return; // no cell at all
    const auto sheetRow = static_cast<lxw_row_t>(row - 1);
    const auto sheetColumn = static_cast<lxw_col_t>(column - 1);
    const lxw_error written = text.empty()
                                  ? worksheet_write_blank(sheet_, sheetRow, sheetColumn, format)
                                  : worksheet_write_string(sheet_, sheetRow, sheetColumn, text.c_str(), format);
    Note(written, "cannot write a cell");
    if (written == LXW_NO_ERROR)
        Counted(row);
}

// Counts a cell written in row, for the check of the saved workbook.
void XlsxSheet::Counted(int row)
{
    ++cells_;
    if (row != lastCellRow_) {
        ++rowsWithCells_;
        lastCellRow_ = row;
    }
}

// Gives the border cells without a text of every row before row their empty bordered cell.
void XlsxSheet::FinishRowsBefore(int row)
{
    static const std::string kNoText;
    for (int done = std::max(currentRow_, firstRow_); done < row && done <= lastRow_; ++done) {
        const bool current = done == currentRow_;
        for (int column = firstColumn_; column <= lastColumn_; ++column) {
            const std::size_t index = static_cast<std::size_t>(column);
            if (!current || index >= written_.size() || !written_[index])
                WriteCell(done, column, kNoText);
        }
    }
    if (row > currentRow_) {
        currentRow_ = row;
        written_.clear();
    }
}

void XlsxSheet::SetCell(int row, int column, const std::string& text)
{
    if (StartCell(row, column))
        WriteCell(row, column, text);
}

void XlsxSheet::SetFigure(int row, int column, const SheetFigure& figure)
{
    if (!StartCell(row, column))
        return;
    lxw_format* format = FigureFormat(figure.kind);
    const double value = figure.kind == SheetFigure::Kind::Seconds ? static_cast<double>(figure.value) / 86400.0
                                                                   : static_cast<double>(figure.value);
    const lxw_error written = format == nullptr
                                  ? LXW_ERROR_MEMORY_MALLOC_FAILED
                                  : worksheet_write_number(sheet_, static_cast<lxw_row_t>(row - 1),
                                                           static_cast<lxw_col_t>(column - 1), value, format);
    Note(written, "cannot write a cell");
    if (written == LXW_NO_ERROR)
        Counted(row);
}

// Finishes the rows before row and marks the cell as written; false when it cannot be.
bool XlsxSheet::StartCell(int row, int column)
{
    if (sheet_ == nullptr)
        return false;
    if (row < currentRow_ || row < 1 || column < 1) {
        Note(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE, "cells must be written row by row");
        return false;
    }
    FinishRowsBefore(row);
    const std::size_t index = static_cast<std::size_t>(column);
    if (written_.size() <= index)
        written_.resize(index + 1);
    written_[index] = true;
    return true;
}

// The figures' cells carry the border too. A duration is a time value, shown by the range it
// lies in: below a minute, below an hour, or with the hours however many there are. The limits
// lie half a second below a minute and an hour, clear of the rounding of whole seconds.
lxw_format* XlsxSheet::FigureFormat(SheetFigure::Kind kind)
{
    lxw_format*& format = kind == SheetFigure::Kind::Count ? countFormat_ : durationFormat_;
    if (format != nullptr)
        return format;
    format = workbook_add_format(workbook_);
    if (format == nullptr)
        return nullptr;
    format_set_border(format, LXW_BORDER_THIN);
    if (kind == SheetFigure::Kind::Count)
        format_set_num_format(format, "0");
    else
        format_set_num_format(format,
                              "[>=0.0416608796][h]\"小时\"m\"分钟\"s\"秒\";"
                              "[>=0.0006886574]m\"分钟\"s\"秒\";s\"秒\"");
    return format;
}

// libxlsxwriter does not look at its writes of the finished rows into its temporary file; the
// stream's error flag does.
bool XlsxSheet::RowsStored()
{
    std::FILE* rows = sheet_->optimize_tmpfile;
    if (rows == nullptr || (std::fflush(rows) == 0 && !std::ferror(rows)))
        return true;
    if (failure_.empty())
        failure_ = std::string("cannot store the rows of the sheet: ") + std::strerror(errno);
    return false;
}

Result<void> XlsxSheet::Save()
{
    if (workbook_ == nullptr)
        return Failure{"no workbook was started", 0, path_};
    FinishRowsBefore(lastRow_ + 1);
    if (!RowsStored())
        return Failure{failure_, errno, path_};
    errno = 0;
    const lxw_error closed = workbook_close(workbook_);
    const int error = errno;
    workbook_ = nullptr;
    sheet_ = nullptr;
    border_ = nullptr;
    countFormat_ = durationFormat_ = nullptr;
    Note(closed, "cannot write the workbook");
    if (failure_.empty())
        return CheckWorkbookComplete(path_, rowsWithCells_, cells_);
    std::string reason = failure_;
    if (closed != LXW_NO_ERROR && error != 0)
        reason += std::string(" (") + std::strerror(error) + ")";
    return Failure{reason, error, path_};
}
