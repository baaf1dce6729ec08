// Exporting 100,000 list rows to a workbook, against libxlsxwriter alone writing the same
// grid of strings: seconds of each (best of five, taken in turns) and the ratio.
//
//   bench_export [ROWS]     (default 100000; see bench/README.md)

#include "catalogue/recording_model.h"
#include "export/export_file.h"
#include "export/sheet_grid.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr const char* kModes[] = {"主叫", "被叫", "留言", "现场", "其他"};

RecordingEntry RowFor(int number)
{
    char name[16];
    char phone[16];
    char start[64];
    std::snprintf(name, sizeof name, "VOC%05d.WAV", number % 100000);
    std::snprintf(phone, sizeof phone, "138%08d", number * 7919 % 100000000);
    std::snprintf(start, sizeof start, "2014年%02d月%02d日%02d时%02d分", number % 12 + 1, number % 28 + 1, number % 24,
                  number % 60);
    RecordingEntry entry;
    entry.texts = {std::to_string(number),
                   name,
                   phone,
                   kModes[number % 5],
                   start,
                   std::to_string(number % 59) + "分钟" + std::to_string(number % 60) + "秒",
                   std::to_string(number % 900 + 14) + "K",
                   std::string("/media/card/VOICE/") + name};
    return entry;
}

// The reference: libxlsxwriter in constant-memory mode writing the grid as it stands, every
// cell of the block with the thin border, the empty cells of the last column included.
bool WriteWithLibxlsxwriterAlone(const SheetGrid& grid, const std::string& path, const std::string& tempFolder)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char*>(tempFolder.c_str());
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* border = workbook_add_format(book);
    format_set_border(border, LXW_BORDER_THIN);
    const auto columns = static_cast<lxw_col_t>(grid.columnCount());
    for (lxw_col_t column = 0; column < columns; ++column)
        worksheet_write_string(sheet, 0, column, grid.titles[column].c_str(), border);
    std::size_t text = 0;
    for (lxw_row_t row = 1; row <= static_cast<lxw_row_t>(grid.itemCount()); ++row)
        for (lxw_col_t column = 0; column < columns; ++column) {
            if (column < static_cast<lxw_col_t>(grid.itemColumns))
                worksheet_write_string(sheet, row, column, grid.items[text++].c_str(), border);
            else
                worksheet_write_blank(sheet, row, column, border);
        }
    return workbook_close(book) == LXW_NO_ERROR;
}

double Seconds(const std::function<bool()>& run)
{
    QElapsedTimer timer;
    timer.start();
    if (!run()) {
        std::fputs("bench_export: a write failed\n", stderr);
        std::exit(1);
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("vrxexcel.xlsx")).toStdString();

    std::vector<RecordingEntry> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i)
        rows.push_back(RowFor(i));
    RecordingModel model;
    model.AppendBatch(std::move(rows));
    // The main window's layout: the last column has its title but no item cells.
    const int itemColumns = model.columnCount() - 1;
    const SheetGrid grid = GridFromModel(model, itemColumns);

    // Taken in turns, so that a busy moment of the machine weighs on both alike.
    double alone = 1e9;
    double ours = 1e9;
    for (int round = 0; round < 5; ++round) {
        alone = std::min(alone,
                         Seconds([&] { return WriteWithLibxlsxwriterAlone(grid, path, folder.path().toStdString()); }));
        ours = std::min(ours, Seconds([&] {
                            const Result<ExportOutcome> outcome = ExportList(model, itemColumns, path);
                            return outcome && *outcome == ExportOutcome::Written;
                        }));
    }
    std::printf(
        "%d rows: libxlsxwriter alone %.3f s, ExportList from the list model %.3f s, ratio %.2f "
        "(target <= 2)\n",
        count, alone, ours, ours / alone);
    return 0;
}
