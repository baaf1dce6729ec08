#include "catalogue/category.h"

#include <gtest/gtest.h>

namespace {

RecordingEntry Row(const std::string& fileName, const std::string& phone, char modeLetter, int year, int month,
                   int day, int hour, int minute)
{
    RecordingHeader header;
    header.mode = modeLetter;
    header.year = static_cast<std::int8_t>(year);
    header.month = static_cast<std::int8_t>(month);
    header.day = static_cast<std::int8_t>(day);
    header.hour = static_cast<std::int8_t>(hour);
    header.minute = static_cast<std::int8_t>(minute);
    RecordingEntry row;
    row.texts[kColFileName] = fileName;
    row.texts[kColPhone] = phone;
    row.texts[kColMode] = ModeName(modeLetter);
    row.texts[kColStartTime] = StartTimeText(header);
    return row;
}

using Names = std::vector<std::string>;

} // namespace

TEST(Category, DateCriterionHasFourDigitYearAndTwoDigitMonthAndDay)
{
    EXPECT_EQ(DateCriterionText(2014, 3, 5), "2014年03月05日");
    EXPECT_EQ(DateCriterionText(2099, 12, 31), "2099年12月31日");
    EXPECT_EQ(DateCriterionText(1999, 1, 1), "1999年01月01日");
}

TEST(Category, ByDayTakesEveryTimeOfThatDayAndNothingOutsideTheCentury)
{
    const std::vector<RecordingEntry> rows{
        Row("VOC00001.WAV", "1", 'Z', 14, 3, 5, 23, 59),
        Row("VOC00002.WAV", "2", 'Z', 14, 3, 6, 0, 0),
        Row("VOC00003.WAV", "3", 'B', 14, 3, 5, 0, 0),
        Row("VOC00004.WAV", "4", 'B', 99, 12, 31, 12, 0),
        Row("VOC00005.WAV", "5", 'B', 100, 1, 1, 12, 0),  // "20100年..."
        Row("VOC00006.WAV", "6", 'B', -1, 1, 1, 12, 0),   // "20-1年..."
        Row("VOC00007.WAV", "7", 'B', 14, 13, 5, 12, 0),
    };
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Date, DateCriterionText(2014, 3, 5)),
              (Names{"VOC00001.WAV", "VOC00003.WAV"}));
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Date, DateCriterionText(2099, 12, 31)), Names{"VOC00004.WAV"});
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Date, DateCriterionText(2100, 1, 1)).empty());
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Date, DateCriterionText(1999, 1, 1)).empty());
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Date, DateCriterionText(2014, 3, 7)).empty());

    RecordingEntry noTime = rows[0];
    noTime.texts[kColStartTime].clear();
    EXPECT_TRUE(CollectByCategory({noTime}, CategoryKind::Date, "").empty());
}

TEST(Category, ByPhoneComparesTheWholeTextExactly)
{
    const std::vector<RecordingEntry> rows{
        Row("VOC00001.WAV", "13800138000", 'Z', 14, 3, 5, 1, 0),
        Row("VOC00002.WAV", "", 'B', 14, 3, 5, 1, 0),
        Row("VOC00003.WAV", "13800138000", 'L', 14, 3, 5, 1, 0),
        Row("VOC00004.WAV", "138001380001", 'L', 14, 3, 5, 1, 0),
        Row("VOC00005.WAV", "", 'X', 14, 3, 5, 1, 0),
    };
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Phone, "13800138000"), (Names{"VOC00001.WAV", "VOC00003.WAV"}));
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Phone, ""), (Names{"VOC00002.WAV", "VOC00005.WAV"}));
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Phone, "1380013").empty());
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Phone, " 13800138000").empty());
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Phone, "13800138000 ").empty());
}

TEST(Category, ByModeMatchesTheShownNameOtherTakesUnknownLetters)
{
    const std::vector<RecordingEntry> rows{
        Row("VOC00001.WAV", "1", 'z', 14, 3, 5, 1, 0),
        Row("VOC00002.WAV", "2", 'Z', 14, 3, 5, 1, 0),
        Row("VOC00003.WAV", "3", '\0', 14, 3, 5, 1, 0),
        Row("VOC00004.WAV", "4", 'L', 14, 3, 5, 1, 0),
        Row("VOC00005.WAV", "5", 'Q', 14, 3, 5, 1, 0),
    };
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Mode, "其他"),
              (Names{"VOC00001.WAV", "VOC00003.WAV", "VOC00005.WAV"}));
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Mode, "主叫"), Names{"VOC00002.WAV"});
    EXPECT_EQ(CollectByCategory(rows, CategoryKind::Mode, "留言"), Names{"VOC00004.WAV"});
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::Mode, "现场").empty());
    EXPECT_TRUE(CollectByCategory(rows, CategoryKind::None, "主叫").empty());
}
