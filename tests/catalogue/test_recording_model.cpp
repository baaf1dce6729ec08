#include "catalogue/recording_model.h"
#include "support/model_columns.h"

#include <QItemSelectionModel>
#include <gtest/gtest.h>

#include <functional>

#include <random>

namespace {

RecordingEntry Row(const std::string& number, const std::string& name, const std::string& phone = "",
                   const std::string& mode = "主叫", const std::string& duration = "1秒",
                   const std::string& size = "1K")
{
    RecordingEntry entry;
    entry.texts = {number, name, phone, mode, "2014年03月05日09时07分", duration, size, "/card/VOICE/" + name};
    return entry;
}

// Rows that exercise every rule of the comparison: case folding, prefixes, Chinese text,
// numbers of different lengths, duplicates and texts that are not numbers at all.
std::vector<RecordingEntry> MixedRows()
{
    const std::vector<std::string> numbers = {"10", "9", "100", "2", "-3", "abc", "2", "07", "11x", ""};
    const std::vector<std::string> names = {"VOC00010.WAV", "voc00009.wav", "VOC0001A.WAV", "VOC0001a.WAV",
                                            "VOC00001.WAV", "VOC00001.WAV", "VOC_0002.WAV", "Voc00003.wav",
                                            "VOC0000~.WAV", "VOC00002.WAV"};
    const std::vector<std::string> phones = {"138", "1380", "13800138000", "", "95588",
                                             "010-8765", "abc", "ABD", "号码", "95588"};
    const std::vector<std::string> modes = {"主叫", "被叫", "留言", "现场", "其他", "主叫", "被叫", "其他", "留言", "现场"};
    const std::vector<std::string> durations = {"10秒", "9秒", "1分钟0秒", "1小时0分钟0秒", "59秒",
                                                "0秒", "10秒", "2分钟5秒", "1秒", "100秒"};
    const std::vector<std::string> sizes = {"100K", "20K", "2K", "1K", "12305K", "4K", "206K", "20K", "3K", "10K"};
    std::vector<RecordingEntry> rows;
    for (std::size_t i = 0; i < numbers.size(); ++i)
        rows.push_back(Row(numbers[i], names[i], phones[i], modes[i], durations[i], sizes[i]));
    return rows;
}


} // namespace

TEST(RecordingModelTable, ShowsEightReadOnlyColumnsWithTheirTitles)
{
    RecordingModel model;
    model.Append(Row("1", "VOC00001.WAV", "13800138000", "被叫"));
    model.AppendBatch({Row("2", "VOC00002.WAV"), Row("3", "VOC00003.WAV")});
    model.AppendBatch({});

    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), 8);
    const std::vector<QString> titles = {"序号", "文件名", "电话号码", "录音方式", "开始时间", "录音时长", "文件长度", "备注"};
    for (int column = 0; column < 8; ++column)
        EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), titles[column]);
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("13800138000"));
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("被叫"));
    EXPECT_EQ(model.data(model.index(2, 7)).toString(), QStringLiteral("/card/VOICE/VOC00003.WAV"));
    EXPECT_FALSE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_TRUE(model.flags(model.index(0, 1)) & Qt::ItemIsSelectable);
    EXPECT_FALSE(model.data(model.index(5, 1)).isValid());

    model.Clear();
    EXPECT_EQ(model.rowCount(), 0);
}

// The precomputed sort must give exactly the order of the one comparison both lists use.
TEST(RecordingModelSort, GivesTheOrderOfCompareEntriesForEveryColumnAndFlag)
{
    std::mt19937 random(7);
    for (int column = 0; column < kColumnCount; ++column) {
        for (bool flag : {false, true}) {
            std::vector<RecordingEntry> rows = MixedRows();
            std::shuffle(rows.begin(), rows.end(), random);
            RecordingModel model;
    model.AppendBatch(rows);
            const SortState sort{column, flag};
            model.Sort(sort);
            ASSERT_EQ(model.rowCount(), static_cast<int>(rows.size()));
            for (int row = 1; row < model.rowCount(); ++row)
                EXPECT_LE(CompareEntries(model.entry(row - 1), model.entry(row), sort), 0)
                    << "column " << column << " flag " << flag << " at row " << row;
        }
    }
}

TEST(RecordingModelSort, ColumnClicksShareOneFlagAndNeverRenumber)
{
    RecordingModel model;
    model.AppendBatch({Row("1", "VOC00002.WAV", "222"), Row("2", "VOC00003.WAV", "111"),
                                    Row("3", "VOC00001.WAV", "333")});

    model.SortByColumnClick(kColPhone); // flag clear: ascending
    EXPECT_EQ(Column(model, kColPhone), (std::vector<std::string>{"111", "222", "333"}));
    EXPECT_TRUE(model.sortState().flag);
    model.SortByColumnClick(kColFileName); // the same flag, now set: descending
    EXPECT_EQ(Column(model, kColFileName), (std::vector<std::string>{"VOC00003.WAV", "VOC00002.WAV", "VOC00001.WAV"}));
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"2", "1", "3"}));
    model.SortByColumnClick(kColNumber); // flag clear: the numbers run descending
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"3", "2", "1"}));
    model.SortByColumnClick(kColNumber);
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(model.sortState().column, kColNumber);
    EXPECT_FALSE(model.sortState().flag);
}

TEST(RecordingModelSort, SelectedRowsStaySelectedWhenTheyMove)
{
    RecordingModel model;
    model.AppendBatch({Row("1", "VOC00003.WAV"), Row("2", "VOC00001.WAV"), Row("3", "VOC00002.WAV")});
    QItemSelectionModel selection(&model);
    selection.select(model.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(model.index(2, 1), QItemSelectionModel::NoUpdate);

    model.Sort({kColFileName, false});

    const QModelIndexList selected = selection.selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(model.entry(selected.front().row()).fileName(), "VOC00003.WAV");
    EXPECT_EQ(model.entry(selection.currentIndex().row()).fileName(), "VOC00002.WAV");
}

TEST(RecordingModelRows, RenumberGivesTheTopToBottomPositions)
{
    RecordingModel model;
    model.AppendBatch({Row("7", "VOC00003.WAV"), Row("9", "VOC00001.WAV"), Row("8", "VOC00002.WAV")});
    int changes = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&changes] { ++changes; });
    model.Sort({kColFileName, false});
    model.Renumber();
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Column(model, kColFileName), (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV"}));
    EXPECT_EQ(changes, 1); // the view repaints the number column
}

TEST(RecordingModelRows, RemovingRowsKeepsTheOthersWithTheirNumbers)
{
    std::vector<RecordingEntry> rows;
    for (int i = 1; i <= 6; ++i)
        rows.push_back(Row(std::to_string(i), "VOC0000" + std::to_string(i) + ".WAV"));
    RecordingModel model;
    model.AppendBatch(rows);

    model.RemoveRows({4, 1, 4, -1, 6, 99}); // rows 2 and 5; repeats and strays ignored
    EXPECT_EQ(Column(model, kColNumber), (std::vector<std::string>{"1", "3", "4", "6"}));
    model.RemoveRows({});
    EXPECT_EQ(model.rowCount(), 4);

    // Many scattered rows at once.
    rows.clear();
    for (int i = 0; i < 2000; ++i)
        rows.push_back(Row(std::to_string(i + 1), "VOC" + std::to_string(10000 + i) + ".WAV"));
    model.Clear();
    model.AppendBatch(rows);
    std::vector<int> everyOther;
    for (int row = 0; row < 2000; row += 2)
        everyOther.push_back(row);
    model.RemoveRows(everyOther);

    ASSERT_EQ(model.rowCount(), 1000);
    for (int row = 0; row < 1000; ++row)
        ASSERT_EQ(model.entry(row).number(), std::to_string(2 * row + 2));
}

TEST(RecordingModelRows, ASnapshotKeepsTheRowsItWasTakenOfWhateverTheModelDoes)
{
    RecordingModel model;
    model.AppendBatch({Row("1", "VOC00003.WAV"), Row("2", "VOC00001.WAV"), Row("3", "VOC00002.WAV")});
    const auto texts = [](const std::vector<RecordingEntry>& rows) {
        std::vector<std::array<std::string, kColumnCount>> all;
        for (const RecordingEntry& row : rows)
            all.push_back(row.texts);
        return all;
    };
    const RowsSnapshot taken = model.Snapshot();
    const auto before = texts(*taken);
    const std::vector<std::function<void()>> changes{
        [&] { model.SortByColumnClick(kColFileName); }, [&] { model.Renumber(); },
        [&] { model.Append(Row("4", "VOC00004.WAV")); }, [&] { model.RemoveRows({0}); }, [&] { model.Clear(); }};
    for (const auto& change : changes) {
        const auto shown = texts(model.entries());
        change();
        EXPECT_EQ(texts(*taken), before);
        EXPECT_NE(texts(model.entries()), shown) << "the model itself changed";
    }
    EXPECT_EQ(model.Snapshot()->size(), 0u);
}
