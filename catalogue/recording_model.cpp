#include "catalogue/recording_model.h"

#include "platform/qt_text.h"

#include <algorithm>
#include <numeric>

namespace {

// Above this many separate runs of removed rows, one reset is cheaper than a removal
// notice per run (each of which shifts the rows behind it).
constexpr std::size_t kMaxRemovalRuns = 256;

// The positions 0 .. n-1 in the order of their keys (a stable sort): ascending, or descending.
std::vector<int> OrderOfKeys(const std::vector<std::string>& keys, bool descending)
{
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    // std::string compares its bytes as unsigned values with memcmp and a proper prefix first,
    // which is the sign CompareSortKeys gives, only faster.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return descending ? keys[b] < keys[a] : keys[a] < keys[b];
    });
    return order;
}

} // namespace

std::string RelativeFolder(const std::string& path, const std::string& base)
{
    std::string folder = path.substr(0, path.rfind('/') + 1);
    if (folder.starts_with(base))
        folder.erase(0, base.size());
    if (folder.size() > 1)
        folder.pop_back();
    return folder;
}

RecordingModel::RecordingModel(QObject* parent) : QAbstractTableModel(parent) {}

int RecordingModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_->size());
}

int RecordingModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount + (showsFolderColumn() ? 1 : 0);
}

QVariant RecordingModel::data(const QModelIndex& index, int role) const
{
    // The tooltip shows the whole text where a narrow column elides it (the path above all).
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() || index.row() >= rowCount()
        || index.column() >= columnCount())
        return {};
    const RecordingEntry& row = (*rows_)[static_cast<std::size_t>(index.row())];
    if (index.column() == kColFolder)
        return ToQString(RelativeFolder(row.path(), folderBase_));
    return ToQString(row.texts[index.column()]);
}

QVariant RecordingModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    if (section == kColFolder)
        return QString::fromUtf8(kFolderColumnTitle);
    return ToQString(RecordingColumnTitles()[section]);
}

Qt::ItemFlags RecordingModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

void RecordingModel::Clear()
{
    beginResetModel();
    rows_ = std::make_shared<std::vector<RecordingEntry>>();
    endResetModel();
}

void RecordingModel::SetFolderColumn(const std::string& base)
{
    if (base == folderBase_)
        return;
    if (showsFolderColumn() && base.empty()) {
        beginRemoveColumns({}, kColFolder, kColFolder);
        folderBase_.clear();
        endRemoveColumns();
    } else if (!showsFolderColumn()) {
        beginInsertColumns({}, kColFolder, kColFolder);
        folderBase_ = base;
        endInsertColumns();
    } else {
        folderBase_ = base;
        if (rowCount() > 0)
            emit dataChanged(index(0, kColFolder), index(rowCount() - 1, kColFolder), {Qt::DisplayRole});
    }
}

void RecordingModel::Append(RecordingEntry entry)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    MutableRows().push_back(std::move(entry));
    endInsertRows();
}

void RecordingModel::AppendBatch(std::vector<RecordingEntry> entries)
{
    if (entries.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
    std::vector<RecordingEntry>& rows = MutableRows();
    rows.insert(rows.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    endInsertRows();
}

void RecordingModel::RemoveRows(std::vector<int> rows)
{
    const int count = rowCount();
    std::erase_if(rows, [count](int row) { return row < 0 || row >= count; });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty())
        return;

    // Runs of consecutive rows, as [first, last] pairs from the bottom up.
    std::vector<std::pair<int, int>> runs;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (!runs.empty() && runs.back().first == *it + 1)
            runs.back().first = *it;
        else
            runs.emplace_back(*it, *it);
    }
    if (runs.size() > kMaxRemovalRuns) {
        beginResetModel();
        std::vector<char> removed(rows_->size(), 0);
        for (int row : rows)
            removed[static_cast<std::size_t>(row)] = 1;
        std::size_t next = 0;
        std::erase_if(MutableRows(), [&](const RecordingEntry&) { return removed[next++] != 0; });
        endResetModel();
        return;
    }
    for (const auto& [first, last] : runs) {
        beginRemoveRows({}, first, last);
        std::vector<RecordingEntry>& rows = MutableRows();
        rows.erase(rows.begin() + first, rows.begin() + last + 1);
        endRemoveRows();
    }
}

std::vector<int> SortedOrder(const std::vector<RecordingEntry>& rows, const SortState& sort)
{
    if (sort.column == kColNumber) {
        std::vector<int> order(rows.size());
        std::iota(order.begin(), order.end(), 0);
        std::vector<long long> numbers;
        numbers.reserve(rows.size());
        for (const RecordingEntry& row : rows)
            numbers.push_back(RowNumberValue(row.number()));
        // Ascending with the flag set, descending with it clear.
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return sort.flag ? numbers[a] < numbers[b] : numbers[a] > numbers[b];
        });
        return order;
    }
    std::vector<std::string> keys;
    keys.reserve(rows.size());
    for (const RecordingEntry& row : rows)
        keys.push_back(TextSortKey(row.texts[sort.column]));
    // Ascending with the flag clear, descending with it set: the other way round from
    // the number column.
    return OrderOfKeys(keys, sort.flag);
}

void SortAndRenumber(std::vector<RecordingEntry>& rows, const SortState& sort)
{
    std::vector<RecordingEntry> sorted;
    sorted.reserve(rows.size());
    for (const int row : SortedOrder(rows, sort))
        sorted.push_back(std::move(rows[static_cast<std::size_t>(row)]));
    rows.swap(sorted);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].texts[kColNumber] = std::to_string(i + 1);
}

void RecordingModel::ApplyOrder(const std::vector<int>& order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    std::vector<RecordingEntry>& rows = MutableRows();
    std::vector<RecordingEntry> sorted;
    sorted.reserve(rows.size());
    for (std::size_t position = 0; position < order.size(); ++position) {
        newRowOf[static_cast<std::size_t>(order[position])] = static_cast<int>(position);
        sorted.push_back(std::move(rows[static_cast<std::size_t>(order[position])]));
    }
    rows.swap(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void RecordingModel::Sort(const SortState& sort)
{
    if (sort.column < 0 || sort.column >= columnCount())
        return;
    if (sort.column != kColFolder) {
        ApplyOrder(SortedOrder(*rows_, sort));
        return;
    }
    std::vector<std::string> keys;
    keys.reserve(rows_->size());
    for (const RecordingEntry& row : *rows_)
        keys.push_back(TextSortKey(RelativeFolder(row.path(), folderBase_)));
    ApplyOrder(OrderOfKeys(keys, sort.flag));
}

void RecordingModel::SortByColumnClick(int column)
{
    sortState_.column = column;
    Sort(sortState_);
    sortState_.flag = !sortState_.flag;
}

void RecordingModel::Renumber()
{
    if (rows_->empty())
        return;
    std::vector<RecordingEntry>& rows = MutableRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].texts[kColNumber] = std::to_string(i + 1);
    emit dataChanged(index(0, kColNumber), index(rowCount() - 1, kColNumber), {Qt::DisplayRole});
}

// A snapshot still held elsewhere keeps the rows it was taken of: the model changes a copy.
std::vector<RecordingEntry>& RecordingModel::MutableRows()
{
    if (rows_.use_count() > 1)
        rows_ = std::make_shared<std::vector<RecordingEntry>>(*rows_);
    return *rows_;
}
