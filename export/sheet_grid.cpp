#include "export/sheet_grid.h"

#include <QAbstractItemModel>
#include <algorithm>

namespace {

std::string DisplayText(const QVariant& value)
{
    return value.toString().toStdString();
}

std::string ColumnName(int column)
{
    std::string name;
    for (; column > 0; column = (column - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
    return name;
}

} // namespace

SheetGrid GridFromModel(const QAbstractItemModel& list, int itemColumns)
{
    SheetGrid grid;
    const int columns = list.columnCount();
    grid.itemColumns = std::clamp(itemColumns, 0, columns);
    grid.titles.reserve(static_cast<std::size_t>(columns));
    for (int column = 0; column < columns; ++column)
        grid.titles.push_back(DisplayText(list.headerData(column, Qt::Horizontal, Qt::DisplayRole)));
    const int rows = list.rowCount();
    grid.items.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(grid.itemColumns));
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < grid.itemColumns; ++column) {
            const QModelIndex cell = list.index(row, column);
            if (const QVariant figure = cell.data(kSheetFigureRole);
                figure.metaType() == QMetaType::fromType<SheetFigure>()) {
                grid.figures.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(grid.itemColumns));
                grid.figures[grid.items.size()] = figure.value<SheetFigure>();
            }
            grid.items.push_back(DisplayText(cell.data(Qt::DisplayRole)));
        }
    return grid;
}

std::string BorderRange(int columnCount, int itemCount)
{
    return "A1:" + ColumnName(columnCount) + std::to_string(itemCount + 1);
}
