#pragma once

#include "export/sheet_grid.h"
#include "platform/result.h"

#include <string>
#include <string_view>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// One new workbook with one sheet, written by libxlsxwriter in its constant-memory mode: each
// row goes to a temporary file as soon as the next one starts, so a list of any length costs
// the memory of one row. Rows and columns are counted from 1.
//
// The sheet is streamed, so cells are set row by row, and the border block is given before
// the cells: each cell inside it is written with a thin border in the automatic colour, and
// the cells of the block that get no text are written empty with the border when their row is
// done.
class XlsxSheet {
public:
    XlsxSheet() = default;
    ~XlsxSheet();
    XlsxSheet(const XlsxSheet&) = delete;
    XlsxSheet& operator=(const XlsxSheet&) = delete;

    // Starts the workbook that Save writes to path; its row data waits in tempFolder (best on
    // path's file system, so that a full disk shows before anything is replaced).
    Result<void> Start(const std::string& path, const std::string& tempFolder);
    // Thin borders on every cell of the range ("A1:H26").
    Result<void> DrawBorders(std::string_view range);
    // Writes text (UTF-8) as a string cell. A failure (a row before the current one, beyond the
    // sheet's limits, a text too long for a cell) is kept and reported by Save.
    void SetCell(int row, int column, const std::string& text);
    // Writes figure as a number cell: a count as it is, a duration as a time value shown as the
    // lists show durations ("1小时2分钟3秒", "2分钟3秒", "3秒"). Failures as for SetCell.
    void SetFigure(int row, int column, const SheetFigure& figure);
    // Writes the workbook, closes it and reads it back to see that it is whole; the first
    // failure since Start, if any.
    Result<void> Save();

private:
    bool InBorders(int row, int column) const;
    bool StartCell(int row, int column);
    void WriteCell(int row, int column, const std::string& text);
    lxw_format* FigureFormat(SheetFigure::Kind kind);
    void Counted(int row);
    void FinishRowsBefore(int row);
    bool RowsStored();
    void Note(int lxwError, const char* what);

    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    lxw_format* border_ = nullptr;
    lxw_format* countFormat_ = nullptr; // made when first needed, as the next one
    lxw_format* durationFormat_ = nullptr;
    std::string path_;
    std::string tempFolder_;
    int firstRow_ = 0, lastRow_ = -1, firstColumn_ = 0, lastColumn_ = -1; // the border block
    int currentRow_ = 1;                                                  // rows before it are finished
    std::vector<bool> written_; // the columns of the current row that have a text
    long cells_ = 0;            // what the written sheet must hold
    long rowsWithCells_ = 0;
    int lastCellRow_ = 0;
    std::string failure_; // the first failure since Start
};
