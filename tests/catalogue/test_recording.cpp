#include "catalogue/recording.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A file of `size` bytes whose record at offset 256 holds `record` (cut off where the file ends).
void WriteRawFile(const std::string& path, std::size_t size, const std::vector<unsigned char>& record)
{
    std::vector<unsigned char> bytes(size, 0xAA);
    for (std::size_t i = 0; i < record.size() && kHeaderOffset + i < size; ++i)
        bytes[kHeaderOffset + i] = record[i];
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The 23 record bytes: mode, phone (padded with NULs to 17 bytes), then the five time bytes.
std::vector<unsigned char> Record(char mode, const std::string& phone, std::vector<unsigned char> times = {14, 3, 5, 9, 7})
{
    std::vector<unsigned char> record(kHeaderSize, 0);
    record[0] = static_cast<unsigned char>(mode);
    std::copy_n(phone.begin(), std::min<std::size_t>(phone.size(), 17), record.begin() + 1);
    std::copy(times.begin(), times.end(), record.begin() + 18);
    return record;
}

RecordingHeader Parse(const std::vector<unsigned char>& record)
{
    unsigned char bytes[kHeaderSize];
    std::copy(record.begin(), record.end(), bytes);
    return ParseRecordingHeader(bytes);
}

RecordingEntry Row(int column, const std::string& text)
{
    RecordingEntry entry;
    entry.texts[column] = text;
    return entry;
}

int Compare(int column, bool flag, const std::string& a, const std::string& b)
{
    return CompareEntries(Row(column, a), Row(column, b), SortState{column, flag});
}

} // namespace

TEST(RecordingTexts, DurationAtBoundarySizes)
{
    EXPECT_EQ(DurationText(0), "0秒");
    EXPECT_EQ(DurationText(1023), "0秒");
    EXPECT_EQ(DurationText(1024), "0秒");
    EXPECT_EQ(DurationText(2048), "0秒");
    EXPECT_EQ(DurationText(3499), "0秒");
    EXPECT_EQ(DurationText(3500), "1秒");
    EXPECT_EQ(DurationText(209999), "59秒");
    EXPECT_EQ(DurationText(210000), "1分钟0秒");
    EXPECT_EQ(DurationText(213500), "1分钟1秒");
    EXPECT_EQ(DurationText(12599999), "59分钟59秒");
    EXPECT_EQ(DurationText(12600000), "1小时0分钟0秒");
    // 2 * 16777216 / 7 ms = 4793 s.
    EXPECT_EQ(DurationText(16777216), "1小时19分钟53秒");
    // Above 16 MiB the size passes through a float: 16777217 rounds to 16777216 and
    // 33554431 to 33554432 (9586 s).
    EXPECT_EQ(DurationText(16777217), "1小时19分钟53秒");
    EXPECT_EQ(DurationText(33554431), "2小时39分钟46秒");
    // Hours are not wrapped at 24: 2^32 bytes give 1227133 s.
    EXPECT_EQ(DurationText(0xFFFFFFFFu), "340小时52分钟13秒");
}

// The statistics add up the durations the lists show: reading a duration text back gives the
// seconds it was made from, and nothing else reads as a duration.
TEST(RecordingTexts, DurationTextReadsBackAsItsSeconds)
{
    for (std::uint32_t size : {0u, 3500u, 209999u, 210000u, 12600000u, 33554431u, 0xFFFFFFFFu})
        EXPECT_EQ(DurationTextSeconds(DurationText(size)), DurationSeconds(size)) << size;
    EXPECT_EQ(DurationTextSeconds("1小时0分钟5秒"), 3605u);
    for (std::string_view text : {"", "秒", "5", "5分钟", "x秒", "5秒1", "-5秒", "1分钟小时2秒"})
        EXPECT_EQ(DurationTextSeconds(text), std::nullopt) << text;
}

TEST(RecordingTexts, DurationIsExactForEveryWholeSecondUpTo16MiB)
{
    // Extended precision must not turn an exact 1000 ms into 999 ms anywhere below 16 MiB.
    for (std::uint32_t seconds = 1; seconds * 3500u <= 16777216u; seconds += 97) {
        const std::uint32_t s = seconds % 60, m = (seconds / 60) % 60, h = seconds / 3600;
        std::string expected = h ? std::to_string(h) + "小时" + std::to_string(m) + "分钟" + std::to_string(s) + "秒"
                             : m ? std::to_string(m) + "分钟" + std::to_string(s) + "秒"
                                 : std::to_string(s) + "秒";
        ASSERT_EQ(DurationText(seconds * 3500u), expected) << seconds << " s";
    }
}

TEST(RecordingTexts, SizeAtBoundarySizesAddsOneKilobyteAlways)
{
    EXPECT_EQ(SizeText(0), "1K");
    EXPECT_EQ(SizeText(1023), "1K");
    EXPECT_EQ(SizeText(1024), "2K");
    EXPECT_EQ(SizeText(2048), "3K");
    EXPECT_EQ(SizeText(3499), "4K");
    EXPECT_EQ(SizeText(3500), "4K");
    EXPECT_EQ(SizeText(209999), "206K");
    EXPECT_EQ(SizeText(210000), "206K");
    EXPECT_EQ(SizeText(12600000), "12305K");
    EXPECT_EQ(SizeText(16777216), "16385K");
    EXPECT_EQ(SizeText(16777217), "16385K");
    EXPECT_EQ(SizeText(33554431), "32769K");
    EXPECT_EQ(SizeText(0xFFFFFFFFu), "4194305K");
}

TEST(RecordingHeaderFile, NeedsAllOf279Bytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    WriteRawFile(folder + "VOC00279.WAV", 279, Record('B', "123"));
    WriteRawFile(folder + "VOC00278.WAV", 278, Record('B', "123"));
    WriteRawFile(folder + "VOC00000.WAV", 0, {});

    const std::optional<RecordingHeader> header = ReadRecordingHeader(folder + "VOC00279.WAV");
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->mode, 'B');
    EXPECT_EQ(header->minute, 7);
    EXPECT_FALSE(ReadRecordingHeader(folder + "VOC00278.WAV").has_value());
    EXPECT_FALSE(ReadRecordingHeader(folder + "VOC00000.WAV").has_value());
    EXPECT_FALSE(ReadRecordingHeader(folder + "VOC99999.WAV").has_value());
    EXPECT_FALSE(ReadRecordingHeader(folder).has_value()); // a folder is no recording
}

TEST(RecordingHeaderFile, PhoneTextStopsAtNulOrAfter17Bytes)
{
    EXPECT_EQ(PhoneText(Parse(Record('Z', ""))), "");
    EXPECT_EQ(PhoneText(Parse(Record('Z', "13800138000"))), "13800138000");
    // No NUL in the field: all 17 bytes, and the year byte right after it is not part of it.
    EXPECT_EQ(PhoneText(Parse(Record('Z', "12345678901234567", {0x39, 3, 5, 9, 7}))), "12345678901234567");
    // Nothing after the first NUL counts, even when bytes follow it.
    std::vector<unsigned char> record = Record('Z', "138");
    record[6] = '9';
    EXPECT_EQ(PhoneText(Parse(record)), "138");
    // Stored characters are kept as they stand: '*', '#', letters, a dash.
    EXPECT_EQ(PhoneText(Parse(Record('Z', "*21#0a-B"))), "*21#0a-B");
}

TEST(RecordingHeaderFile, PhoneTextDecodesGb18030AndKeepsBadBytesVisible)
{
    EXPECT_EQ(PhoneText(Parse(Record('Z', "\xB5\xE7\xBB\xB0" "110"))), "电话110");
    EXPECT_EQ(PhoneText(Parse(Record('Z', "138\xFF" "1"))), "138\\xFF1");
    // A lead byte cut off by the end of the field.
    EXPECT_EQ(PhoneText(Parse(Record('Z', "1234567890123456\x81"))), "1234567890123456\\x81");
}

TEST(RecordingHeaderFile, ModeNameIsExactOnTheLetter)
{
    EXPECT_EQ(ModeName('Z'), "主叫");
    EXPECT_EQ(ModeName('B'), "被叫");
    EXPECT_EQ(ModeName('L'), "留言");
    EXPECT_EQ(ModeName('X'), "现场");
    EXPECT_EQ(ModeName('z'), "其他");
    EXPECT_EQ(ModeName('b'), "其他");
    EXPECT_EQ(ModeName('\0'), "其他");
    EXPECT_EQ(ModeName('Q'), "其他");
    EXPECT_EQ(ModeName(static_cast<char>(0xDA)), "其他"); // 'Z' with the high bit set
}

TEST(RecordingHeaderFile, StartTimeReadsSignedBytesWithoutChecks)
{
    EXPECT_EQ(StartTimeText(Parse(Record('Z', "", {14, 3, 5, 9, 7}))), "2014年03月05日09时07分");
    EXPECT_EQ(StartTimeText(Parse(Record('Z', "", {0, 1, 1, 0, 0}))), "2000年01月01日00时00分");
    EXPECT_EQ(StartTimeText(Parse(Record('Z', "", {14, 13, 45, 25, 61}))), "2014年13月45日25时61分");
    EXPECT_EQ(StartTimeText(Parse(Record('Z', "", {100, 12, 31, 23, 59}))), "20100年12月31日23时59分");
    EXPECT_EQ(StartTimeText(Parse(Record('Z', "", {127, 1, 1, 0, 0}))), "20127年01月01日00时00分");
    EXPECT_EQ(StartTimeText(Parse(Record('Z', "", {0xFF, 0xFF, 0x80, 0xFE, 0x81}))), "20-1年-1月-128日-2时-127分");
}

TEST(RecordingRow, BuiltFromHeaderAndSize)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    WriteRawFile(folder + "VOC00001.WAV", 210000, Record('L', "02161234567", {23, 11, 30, 18, 5}));

    const std::optional<RecordingEntry> entry = MakeRecordingEntry(folder, "VOC00001.WAV", 7);
    ASSERT_TRUE(entry.has_value());
    const std::array<std::string, kColumnCount> expected = {
        "7", "VOC00001.WAV", "02161234567", "留言", "2023年11月30日18时05分", "1分钟0秒", "206K",
        folder + "VOC00001.WAV"};
    EXPECT_EQ(entry->texts, expected);
}

TEST(RecordingRow, OddHeadersStillGiveRows)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    WriteRawFile(folder + "VOC00001.WAV", 279, Record('Z', ""));
    WriteRawFile(folder + "VOC00002.WAV", 3500, Record('z', "95588"));

    const std::optional<RecordingEntry> bare = MakeRecordingEntry(folder, "VOC00001.WAV", 1);
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->phone(), "");
    EXPECT_EQ(bare->mode(), "主叫");
    EXPECT_EQ(bare->texts[kColDuration], "0秒");
    EXPECT_EQ(bare->texts[kColSize], "1K");

    const std::optional<RecordingEntry> lower = MakeRecordingEntry(folder, "VOC00002.WAV", 2);
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower->mode(), "其他");
    EXPECT_EQ(lower->texts[kColDuration], "1秒");
    EXPECT_EQ(lower->texts[kColSize], "4K");
}

TEST(RecordingRow, NoRowWithoutAReadableHeader)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    WriteRawFile(folder + "VOC00001.WAV", 278, Record('Z', "1"));
    EXPECT_FALSE(MakeRecordingEntry(folder, "VOC00001.WAV", 1).has_value());
    EXPECT_FALSE(MakeRecordingEntry(folder, "VOC00002.WAV", 1).has_value());
    EXPECT_FALSE(MakeRecordingEntry(folder + "missing/", "VOC00001.WAV", 1).has_value());
}

TEST(RecordingRow, PipeNamedLikeARecordingDoesNotBlock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    ASSERT_EQ(::mkfifo((folder + "VOC00001.WAV").c_str(), 0600), 0);
    // Opening a pipe without a writer would wait for one forever.
    EXPECT_FALSE(ReadRecordingHeader(folder + "VOC00001.WAV").has_value());
    EXPECT_FALSE(MakeRecordingEntry(folder, "VOC00001.WAV", 1).has_value());
}

TEST(RecordingSort, NumberColumnAscendsWithFlagSet)
{
    EXPECT_LT(Compare(kColNumber, true, "2", "10"), 0);
    EXPECT_GT(Compare(kColNumber, true, "10", "2"), 0);
    EXPECT_GT(Compare(kColNumber, false, "2", "10"), 0);
    EXPECT_LT(Compare(kColNumber, false, "10", "2"), 0);
    EXPECT_EQ(Compare(kColNumber, true, "5", "5"), 0);
    EXPECT_EQ(Compare(kColNumber, false, "5", "5"), 0);
    // Signed, and a text without digits counts as 0.
    EXPECT_LT(Compare(kColNumber, true, "-3", "0"), 0);
    EXPECT_EQ(Compare(kColNumber, true, "", "0"), 0);
    // The result is -1, 0 or +1, not a difference.
    EXPECT_EQ(Compare(kColNumber, true, "1", "100"), -1);
    EXPECT_EQ(Compare(kColNumber, false, "1", "100"), 1);
}

TEST(RecordingSort, TextColumnsAscendWithFlagClearInByteOrder)
{
    for (int column = kColFileName; column < kColumnCount; ++column) {
        EXPECT_LT(Compare(column, false, "VOC00001.WAV", "VOC00002.WAV"), 0) << column;
        EXPECT_GT(Compare(column, true, "VOC00001.WAV", "VOC00002.WAV"), 0) << column;
    }
    // Magnitudes do not count: texts compare byte by byte.
    EXPECT_LT(Compare(kColSize, false, "100K", "20K"), 0);
    EXPECT_LT(Compare(kColDuration, false, "10秒", "9秒"), 0);
    // A proper prefix is the smaller; the result is the length difference.
    EXPECT_EQ(Compare(kColPhone, false, "138", "13800"), -2);
    EXPECT_EQ(Compare(kColPhone, true, "138", "13800"), 2);
    EXPECT_EQ(Compare(kColPhone, false, "", ""), 0);
    // Otherwise the difference of the first differing bytes as unsigned values.
    EXPECT_EQ(Compare(kColPhone, false, "1", "3"), -2);
    EXPECT_GT(Compare(kColPhone, false, "电话", "13"), 0); // 0xB5 > '1'
    // Start times sort chronologically.
    EXPECT_LT(Compare(kColStartTime, false, "2014年03月05日09时07分", "2014年03月05日10时00分"), 0);
    EXPECT_LT(Compare(kColStartTime, false, "2014年12月31日23时59分", "2015年01月01日00时00分"), 0);
}

TEST(RecordingSort, FoldsOnlyAsciiLetters)
{
    EXPECT_EQ(Compare(kColFileName, false, "voc00001.wav", "VOC00001.WAV"), 0);
    EXPECT_LT(Compare(kColFileName, false, "voc00001.wav", "VOC00002.WAV"), 0);
    // 'a' folds to 'A' (0x41), which lies below '[' (0x5B), although 'a' (0x61) lies above it.
    EXPECT_LT(Compare(kColPhone, false, "a", "["), 0);
    EXPECT_GT(Compare(kColPhone, false, "_", "z"), 0); // '_' 0x5F against 'Z' 0x5A
    // No folding beyond ASCII: full-width letters and accented letters keep their case.
    EXPECT_NE(Compare(kColPhone, false, "ａ", "Ａ"), 0);
    EXPECT_NE(Compare(kColPhone, false, "é", "É"), 0);
}

TEST(RecordingSort, ModeNamesFollowPinyinOrder)
{
    std::vector<std::string> names = {"主叫", "现场", "其他", "留言", "被叫"};
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Compare(kColMode, false, a, b) < 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"被叫", "留言", "其他", "现场", "主叫"}));
}

TEST(RecordingSort, PrecomputedKeysGiveTheSameOrderAsCompareEntries)
{
    const std::vector<std::string> texts = {"", "a", "A", "[", "abc", "ABD", "ab", "主叫", "被叫", "其他",
                                            "电话110", "100K", "20K", "é", "É", "ａ", "Ａ", "\\xFF"};
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            const int byKey = CompareSortKeys(TextSortKey(a), TextSortKey(b));
            const int byEntry = Compare(kColPhone, false, a, b);
            EXPECT_EQ((byKey > 0) - (byKey < 0), (byEntry > 0) - (byEntry < 0)) << a << " vs " << b;
        }
    }
}
