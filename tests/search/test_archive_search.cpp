#include "search/archive_search.h"

#include "catalogue/recording_model.h"

#include "tools/sample_maker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A temporary archive folder that the tests fill with recordings.
class ArchiveFolder {
public:
    ArchiveFolder() { EXPECT_TRUE(dir_.isValid()); }

    // The folder path with its trailing "/".
    std::string path() const { return dir_.path().toStdString() + "/"; }

    void Add(const std::string& name, char mode, const std::string& phone, int year, int month, int day, int hour,
             int minute = 0)
    {
        SampleSpec sample;
        sample.mode = mode;
        sample.phone = phone;
        sample.year = year;
        sample.month = month;
        sample.day = day;
        sample.hour = hour;
        sample.minute = minute;
        sample.dataBytes = 512;
        ASSERT_TRUE(WriteSampleFile(path() + name, sample));
    }

    void AddOnDay(const std::string& name, char mode, const std::string& phone) { Add(name, mode, phone, 14, 3, 5, 9); }

private:
    QTemporaryDir dir_;
};

SearchCriteria Days(QDate first, QDate last)
{
    SearchCriteria criteria;
    criteria.firstDay = first;
    criteria.lastDay = last;
    return criteria;
}

// Criteria that keep every recording of 5 March 2014.
SearchCriteria OnDay()
{
    return Days(QDate(2014, 3, 5), QDate(2014, 3, 5));
}

std::vector<std::string> FileNames(const SearchResult& result)
{
    std::vector<std::string> names;
    for (const RecordingEntry& row : result.rows)
        names.push_back(row.fileName());
    return names;
}

std::vector<std::string> Numbers(const SearchResult& result)
{
    std::vector<std::string> numbers;
    for (const RecordingEntry& row : result.rows)
        numbers.push_back(row.number());
    return numbers;
}

std::vector<std::string> Sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

RecordingEntry RowWith(const std::string& phone, const std::string& mode, const std::string& startTime)
{
    RecordingEntry row;
    row.texts[kColPhone] = phone;
    row.texts[kColMode] = mode;
    row.texts[kColStartTime] = startTime;
    return row;
}

} // namespace

TEST(ArchiveSearchBounds, CoverWholeDaysWithPaddedDigits)
{
    EXPECT_EQ(LowerBoundText(QDate(2014, 3, 5)), "2014年03月05日00");
    EXPECT_EQ(UpperBoundText(QDate(2014, 3, 5)), "2014年03月05日25");
    EXPECT_EQ(LowerBoundText(QDate(2023, 12, 31)), "2023年12月31日00");
    EXPECT_EQ(UpperBoundText(QDate(987, 1, 9)), "0987年01月09日25");
    EXPECT_EQ(SearchProgressText("VOC00001.WAV"), "正在检索文件:VOC00001.WAV");
}

TEST(ArchiveSearchBounds, FirstDayAfterLastIsRefusedBeforeAnyFileIsRead)
{
    ArchiveFolder folder;
    folder.AddOnDay("VOC00001.WAV", 'Z', "1");
    int progressCalls = 0;
    const auto countCalls = [&](const std::string&) { return ++progressCalls, true; };

    const SearchResult refused = SearchArchiveFolder(folder.path(), Days(QDate(2014, 3, 6), QDate(2014, 3, 5)), countCalls);
    EXPECT_EQ(refused.outcome, SearchOutcome::FromAfterTo);
    EXPECT_TRUE(refused.rows.empty());
    EXPECT_EQ(progressCalls, 0);
    EXPECT_FALSE(SearchFilter(Days(QDate(2015, 1, 1), QDate(2014, 12, 31))).boundsInOrder());
    EXPECT_FALSE(SearchFilter(Days(QDate(2014, 10, 1), QDate(2014, 9, 30))).boundsInOrder());

    // The same day, and a range over a year's end, are searched.
    EXPECT_EQ(SearchArchiveFolder(folder.path(), OnDay(), countCalls).outcome, SearchOutcome::Searched);
    EXPECT_TRUE(SearchFilter(Days(QDate(2014, 12, 31), QDate(2015, 1, 1))).boundsInOrder());
    EXPECT_EQ(progressCalls, 1);
}

TEST(ArchiveSearchDate, KeepsEveryHourOfBothEndDaysAndNothingOutside)
{
    ArchiveFolder folder;
    folder.Add("VOC00001.WAV", 'Z', "1", 14, 3, 4, 23, 59); // the day before
    folder.Add("VOC00002.WAV", 'Z', "2", 14, 3, 5, 0, 0);
    folder.Add("VOC00003.WAV", 'Z', "3", 14, 3, 5, 23, 59);
    folder.Add("VOC00004.WAV", 'Z', "4", 14, 3, 5, 25, 0); // an impossible hour lies past the day
    folder.Add("VOC00005.WAV", 'Z', "5", 14, 3, 6, 0, 0);  // the day after
    folder.Add("VOC00006.WAV", 'Z', "6", 114, 3, 5, 9, 0); // year byte 114 prints "20114"

    const SearchResult sameDay = SearchArchiveFolder(folder.path(), OnDay());
    EXPECT_EQ(Sorted(FileNames(sameDay)), (std::vector<std::string>{"VOC00002.WAV", "VOC00003.WAV"}));

    const SearchResult threeDays = SearchArchiveFolder(folder.path(), Days(QDate(2014, 3, 4), QDate(2014, 3, 6)));
    EXPECT_EQ(Sorted(FileNames(threeDays)), (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV",
                                                                      "VOC00003.WAV", "VOC00004.WAV",
                                                                      "VOC00005.WAV"}));

    const SearchFilter filter(OnDay());
    EXPECT_TRUE(filter.DatePasses(RowWith("", "", "2014年03月05日24时00分")));
    EXPECT_FALSE(filter.DatePasses(RowWith("", "", "2014年03月05日25时00分")));
    EXPECT_FALSE(filter.DatePasses(RowWith("", "", "2014年03月05日-1时00分")));
    EXPECT_FALSE(filter.DatePasses(RowWith("", "", "20-1年03月05日09时00分")));
    EXPECT_FALSE(filter.DatePasses(RowWith("", "", "")));
}

TEST(ArchiveSearchPhone, MatchesTrimmedTextAnywhereInThePhoneNumber)
{
    const auto passes = [](const std::string& typed, const std::string& phone) {
        SearchCriteria criteria = OnDay();
        criteria.phone = typed;
        return SearchFilter(criteria).PhonePasses(RowWith(phone, "主叫", ""));
    };
    EXPECT_TRUE(passes("", "13800138000"));
    EXPECT_TRUE(passes("   ", "13800138000"));
    EXPECT_TRUE(passes("\t \r\n", ""));
    EXPECT_TRUE(passes("1380", "02113800138"));
    EXPECT_TRUE(passes("  1380\t", "13800138000"));
    EXPECT_TRUE(passes("0", "95080"));
    EXPECT_FALSE(passes("0", "95588"));
    EXPECT_FALSE(passes("0", ""));
    EXPECT_FALSE(passes("138 0", "13800138000")); // inner blanks count
    EXPECT_FALSE(passes("13800138000X", "13800138000"));
    EXPECT_TRUE(passes("a", "*21#a"));
    EXPECT_FALSE(passes("A", "*21#a")); // letter case counts
    EXPECT_TRUE(passes("电话", "电话110"));
    EXPECT_TRUE(passes("\\xFF", "138\\xFF1")); // undecodable bytes match as they are shown
}

TEST(ArchiveSearchMode, ComparesShownNamesExactly)
{
    const auto passes = [](const std::string& mode, char letter) {
        SearchCriteria criteria = OnDay();
        criteria.mode = mode;
        return SearchFilter(criteria).ModePasses(RowWith("", ModeName(letter), ""));
    };
    for (const char letter : {'Z', 'B', 'L', 'X', 'z', 'Q', '\0'})
        EXPECT_TRUE(passes("所有类型", letter)) << letter;
    EXPECT_TRUE(passes("其他", 'z'));
    EXPECT_TRUE(passes("其他", 'Q'));
    EXPECT_FALSE(passes("其他", 'Z'));
    EXPECT_TRUE(passes("主叫", 'Z'));
    EXPECT_FALSE(passes("主叫", 'B'));
    EXPECT_TRUE(passes("现场", 'X'));
    EXPECT_FALSE(passes("Z", 'Z'));
    EXPECT_FALSE(passes("", 'Z'));

    ArchiveFolder folder;
    folder.AddOnDay("VOC00001.WAV", 'Z', "1");
    folder.AddOnDay("VOC00002.WAV", 'z', "2");
    SearchCriteria others = OnDay();
    others.mode = "其他";
    EXPECT_EQ(FileNames(SearchArchiveFolder(folder.path(), others)), (std::vector<std::string>{"VOC00002.WAV"}));
}

TEST(ArchiveSearchFilters, AllThreeMustPass)
{
    SearchCriteria criteria = OnDay();
    criteria.phone = "138";
    criteria.mode = "被叫";
    const SearchFilter filter(criteria);
    EXPECT_TRUE(filter.Keeps(RowWith("13800", "被叫", "2014年03月05日09时07分")));
    EXPECT_FALSE(filter.Keeps(RowWith("13900", "被叫", "2014年03月05日09时07分")));
    EXPECT_FALSE(filter.Keeps(RowWith("13800", "主叫", "2014年03月05日09时07分")));
    EXPECT_FALSE(filter.Keeps(RowWith("13800", "被叫", "2014年03月06日09时07分")));
}

TEST(ArchiveSearchWalk, TakesOnlyWritableTwelveByteRecordingsOfTheFolderItself)
{
    ArchiveFolder folder;
    folder.AddOnDay("VOC00001.WAV", 'Z', "1");
    folder.AddOnDay("VOC00002.WAV", 'Z', "2");
    ASSERT_EQ(::chmod((folder.path() + "VOC00002.WAV").c_str(), 0444), 0);
    folder.AddOnDay("VOC000003.WAV", 'Z', "3");
    std::vector<std::string> shown;
    const auto show = [&](const std::string& name) { return shown.push_back(name), true; };

    const SearchResult result = SearchArchiveFolder(folder.path(), OnDay(), show);
    EXPECT_EQ(FileNames(result), (std::vector<std::string>{"VOC00001.WAV"}));
    EXPECT_EQ(Numbers(result), (std::vector<std::string>{"1"}));
    EXPECT_EQ(result.rows[0].path(), folder.path() + "VOC00001.WAV");
    // Every entry taken by the walk is shown, also the one whose name is too long.
    EXPECT_EQ(Sorted(shown), (std::vector<std::string>{"VOC000003.WAV", "VOC00001.WAV"}));
    EXPECT_EQ(result.entriesVisited, 2u);

    // Lower-case names count; subfolders and folders named like recordings do not.
    folder.AddOnDay("voc00004.wav", 'Z', "4");
    std::filesystem::create_directory(folder.path() + "VOC00005.WAV");
    std::filesystem::create_directory(folder.path() + "sub");
    folder.AddOnDay("sub/VOC00006.WAV", 'Z', "6");
    EXPECT_EQ(Sorted(FileNames(SearchArchiveFolder(folder.path(), OnDay()))),
              (std::vector<std::string>{"VOC00001.WAV", "voc00004.wav"}));
}

TEST(ArchiveSearchNumbers, KeptRowsAreNumberedInWalkOrder)
{
    ArchiveFolder folder;
    for (int i = 1; i <= 8; ++i) {
        const std::string name = "VOC0000" + std::to_string(i) + ".WAV";
        folder.AddOnDay(name, i % 2 ? 'Z' : 'B', std::to_string(i));
    }
    std::filesystem::resize_file(folder.path() + "VOC00003.WAV", 278); // header cut off: no row
    std::vector<std::string> walkOrder;
    const auto record = [&](const std::string& name) { return walkOrder.push_back(name), true; };
    SearchCriteria criteria = OnDay();
    criteria.mode = "主叫";

    const SearchResult result = SearchArchiveFolder(folder.path(), criteria, record);
    std::vector<std::string> expected;
    for (const std::string& name : walkOrder)
        if (name == "VOC00001.WAV" || name == "VOC00005.WAV" || name == "VOC00007.WAV")
            expected.push_back(name);
    EXPECT_EQ(FileNames(result), expected);
    EXPECT_EQ(Numbers(result), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(ArchiveSearchProgress, StopsWhenAskedAndKeepsRowsSoFar)
{
    ArchiveFolder folder;
    ASSERT_TRUE(WriteSampleFolder(folder.path(), 5, 512));
    int calls = 0;
    SearchCriteria everything = Days(QDate(2000, 1, 1), QDate(2099, 12, 31));
    const SearchResult result =
        SearchArchiveFolder(folder.path(), everything, [&](const std::string&) { return ++calls < 3; });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.outcome, SearchOutcome::Searched);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(Numbers(result), (std::vector<std::string>{"1", "2"}));

    EXPECT_EQ(SearchArchiveFolder(folder.path(), everything).rows.size(), 5u);
}

TEST(ArchiveSearchFolder, MissingFolderGivesNoRows)
{
    ArchiveFolder folder;
    const SearchResult result = SearchArchiveFolder(folder.path() + "missing/", OnDay());
    EXPECT_EQ(result.outcome, SearchOutcome::FolderUnreadable);
    EXPECT_TRUE(result.rows.empty());
    EXPECT_EQ(SearchArchiveFolder(folder.path(), OnDay()).outcome, SearchOutcome::Searched);
}

TEST(FolderListing, RowsRunInStartTimeOrderNumberedFromOne)
{
    ArchiveFolder folder;
    folder.Add("VOC00001.WAV", 'Z', "1", 14, 3, 5, 9, 30);
    folder.Add("VOC00002.WAV", 'Z', "2", 13, 12, 31, 23, 59);
    folder.Add("VOC00003.WAV", 'Z', "3", 14, 3, 5, 9, 7);
    folder.Add("VOC00004.WAV", 'Z', "4", 14, 3, 5, 9, 7); // ties may come in either order
    folder.Add("VOC000005.WAV", 'Z', "5", 10, 1, 1, 0, 0); // not a recording
    std::filesystem::resize_file(folder.path() + "VOC00001.WAV", 100); // no header: no row
    int calls = 0;

    FoundRows found;
    ASSERT_TRUE(ListFolderRows(folder.path(), found, [&] {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 4); // each 12-byte entry, with or without a row
    ASSERT_EQ(found.rows.size(), 3u);
    EXPECT_EQ(found.rows[0].fileName(), "VOC00002.WAV");
    EXPECT_EQ(Sorted({found.rows[1].phone(), found.rows[2].phone()}), (std::vector<std::string>{"3", "4"}));
    for (std::size_t row = 0; row < 3; ++row)
        EXPECT_EQ(found.rows[row].number(), std::to_string(row + 1));

    FoundRows missing;
    EXPECT_FALSE(ListFolderRows(folder.path() + "missing/", missing));
    EXPECT_TRUE(missing.rows.empty());
}
