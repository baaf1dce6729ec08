#pragma once

#include <QMetaType>
#include <QtCore/qnamespace.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QAbstractItemModel;

// A figure that a list gives its sheet for the text it shows (its data under kSheetFigureRole),
// so that a spreadsheet can add the figures up: a count goes into the sheet as a number, a
// duration as a time value, each shown as the list shows it. The recording lists give none.
struct SheetFigure {
    enum class Kind { Count, Seconds };
    Kind kind = Kind::Count;
    std::uint64_t value = 0;
};
Q_DECLARE_METATYPE(SheetFigure)
inline constexpr int kSheetFigureRole = Qt::UserRole + 40;

// The texts of a list as they go into the exported sheet, rows and columns counted from 1:
// row 1 holds the titles of all the list's columns, row 1 + j the first itemColumns texts of
// item j in the list's order. Every text is the one the list shows; only the list's figures are
// numbers.
struct SheetGrid {
    std::vector<std::string> titles; // N titles, row 1
    int itemColumns = 0;             // texts per item row (N, or N - 1 when the last column is left out)
    std::vector<std::string> items;  // M * itemColumns texts, item by item
    // Empty when the list gives no figures, else one per item text: the figure, if it has one.
    std::vector<std::optional<SheetFigure>> figures;

    int columnCount() const { return static_cast<int>(titles.size()); }
    int itemCount() const { return itemColumns == 0 ? 0 : static_cast<int>(items.size()) / itemColumns; }
};

// The grid of a list model's display texts: the horizontal header titles and, for every row in
// the model's order, its first itemColumns texts (clamped to 0 ... N).
SheetGrid GridFromModel(const QAbstractItemModel& list, int itemColumns);

// The block that gets borders: "A1:" + the last column's name ("A" ... "Z", then "AA" ...) +
// the last row, so that 8 columns and 25 items give "A1:H26".
std::string BorderRange(int columnCount, int itemCount);
