#pragma once

#include <string>
#include <vector>

class QAbstractItemModel;

// The texts of a list as they go into the exported sheet, rows and columns counted from 1:
// row 1 holds the titles of all the list's columns, row 1 + j the first itemColumns texts of
// item j in the list's order. Every text is the one the list shows; nothing is converted to a
// number or a date.
struct SheetGrid {
    std::vector<std::string> titles; // N titles, row 1
    int itemColumns = 0;             // texts per item row (N, or N - 1 when the last column is left out)
    std::vector<std::string> items;  // M * itemColumns texts, item by item

    int columnCount() const { return static_cast<int>(titles.size()); }
    int itemCount() const { return itemColumns == 0 ? 0 : static_cast<int>(items.size()) / itemColumns; }
};

// The grid of a list model's display texts: the horizontal header titles and, for every row in
// the model's order, its first itemColumns texts (clamped to 0 ... N).
SheetGrid GridFromModel(const QAbstractItemModel& list, int itemColumns);

// The block that gets borders: "A1:" + the last column's name ("A" ... "Z", then "AA" ...) +
// the last row, so that 8 columns and 25 items give "A1:H26".
std::string BorderRange(int columnCount, int itemCount);
