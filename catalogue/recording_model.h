#pragma once

#include "catalogue/recording.h"

#include <QAbstractTableModel>
#include <memory>
#include <vector>

// The positions of rows in the order CompareEntries gives them for sort (a stable sort). The
// comparison keys are computed once per sort, not once per comparison.
std::vector<int> SortedOrder(const std::vector<RecordingEntry>& rows, const SortState& sort);
// Puts rows in that order and numbers them 1, 2, 3: what a worker does before the rows reach
// a model, so that the window's thread does not sort them.
void SortAndRenumber(std::vector<RecordingEntry>& rows, const SortState& sort);

// The column after the eight that a list of a folder with its subfolders shows: each row's folder.
inline constexpr int kColFolder = kColumnCount;
inline constexpr const char* kFolderColumnTitle = "文件夹";

// The folder of the recording at path relative to base (ending with "/"): empty for base itself,
// "2023年01月" for a recording in that subfolder, the whole folder for one outside base.
std::string RelativeFolder(const std::string& path, const std::string& base);

// The rows of a list as they were when taken, shared without a copy (see RecordingModel::Snapshot).
using RowsSnapshot = std::shared_ptr<const std::vector<RecordingEntry>>;

// The rows of a recording list (the catalogue of the card and the search results) as a
// table model: eight read-only text columns with the titles "序号" ... "备注", and the folder
// column after them while the list shows a folder with its subfolders.
// The list's sort state lives here too, since a column click sorts with the one flag that
// all columns share and only then inverts it.
class RecordingModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit RecordingModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void Clear();
    // Shows the column "文件夹" with each row's folder relative to base (ending with "/"); an
    // empty base takes the column away.
    void SetFolderColumn(const std::string& base);
    bool showsFolderColumn() const { return !folderBase_.empty(); }
    void Append(RecordingEntry entry);
    // Appends many rows with one insertion notice, which keeps large listings cheap.
    void AppendBatch(std::vector<RecordingEntry> entries);
    // Removes the given rows (any order, duplicates and rows out of range ignored).
    void RemoveRows(std::vector<int> rows);

    // Orders the rows as CompareEntries does for this sort state. The comparison keys are
    // computed once per sort, not once per comparison. Selections follow their rows.
    void Sort(const SortState& sort);
    // A click on a column title: sort by that column with the current flag, then invert it.
    void SortByColumnClick(int column);
    // Gives row i the number i + 1.
    void Renumber();

    const SortState& sortState() const { return sortState_; }
    void SetSortState(const SortState& sort) { sortState_ = sort; }

    const RecordingEntry& entry(int row) const { return (*rows_)[static_cast<std::size_t>(row)]; }
    const std::vector<RecordingEntry>& entries() const { return *rows_; }
    // The rows as they are now, for a worker on another thread: taken without a copy, and
    // unchanged by what the model does later.
    RowsSnapshot Snapshot() const { return rows_; }

private:
    void ApplyOrder(const std::vector<int>& order);

    std::vector<RecordingEntry>& MutableRows();

    // Shared with the snapshots that are still held; the model copies its rows before changing
    // them while one is.
    std::shared_ptr<std::vector<RecordingEntry>> rows_ = std::make_shared<std::vector<RecordingEntry>>();
    SortState sortState_;
    std::string folderBase_; // empty without the folder column
};
