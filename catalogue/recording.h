#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The recorder's file format and the texts the two recording lists show for a file.
// Everything here is window-free and stateless.

// The 23-byte record at file offset 256 of every recording.
struct RecordingHeader {
    char mode = 0;
    std::array<char, 17> phone{};
    std::int8_t year = 0;   // year minus 2000; the time bytes are signed on purpose
    std::int8_t month = 0;
    std::int8_t day = 0;
    std::int8_t hour = 0;
    std::int8_t minute = 0;
};

inline constexpr std::uint32_t kHeaderOffset = 256;
inline constexpr std::uint32_t kHeaderSize = 23;

// Reads the record at offset 256; fails when the file cannot be opened or holds fewer
// than 279 bytes.
std::optional<RecordingHeader> ReadRecordingHeader(const std::string& path);
// Parses the 23 record bytes (used by ReadRecordingHeader and by the fuzzer).
RecordingHeader ParseRecordingHeader(const unsigned char (&bytes)[kHeaderSize]);

// Phone field up to its first NUL (all 17 bytes without one), decoded from GB18030.
std::string PhoneText(const RecordingHeader& header);
// "主叫", "被叫", "留言", "现场" or "其他".
std::string ModeName(char mode);
// "20%02d年%02d月%02d日%02d时%02d分" over the signed time bytes.
std::string StartTimeText(const RecordingHeader& header);
// Durations at 3500 file bytes per second, computed through a float as the recorder's
// software did, so that sizes above 16 MiB round the same way.
std::string DurationText(std::uint32_t fileSize);
// The whole seconds that DurationText shows for a file of fileSize bytes.
std::uint32_t DurationSeconds(std::uint32_t fileSize);
// "%u秒", "%u分钟%u秒" or "%u小时%u分钟%u秒" (hours without limit): the form of a duration text.
std::string SecondsText(std::uint64_t seconds);
// The seconds a duration text stands for (the inverse of SecondsText); nothing for any other text.
std::optional<std::uint64_t> DurationTextSeconds(std::string_view text);
std::string SizeText(std::uint32_t fileSize);

// The eight column texts of one row of a recording list.
enum RecordingColumn : int {
    kColNumber = 0,
    kColFileName,
    kColPhone,
    kColMode,
    kColStartTime,
    kColDuration,
    kColSize,
    kColPath,
    kColumnCount
};

struct RecordingEntry {
    std::array<std::string, kColumnCount> texts; // UTF-8

    const std::string& number() const { return texts[kColNumber]; }
    const std::string& fileName() const { return texts[kColFileName]; }
    const std::string& phone() const { return texts[kColPhone]; }
    const std::string& mode() const { return texts[kColMode]; }
    const std::string& startTime() const { return texts[kColStartTime]; }
    const std::string& path() const { return texts[kColPath]; }
};

// The column titles "序号" ... "备注".
const std::array<std::string, kColumnCount>& RecordingColumnTitles();

// What one open of a recording reads: the header record bytes, and the size, modification
// and status-change times (nanoseconds since the epoch) of the file whose record was read.
struct RecordingHead {
    std::array<unsigned char, kHeaderSize> record{};
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};

// Nothing when the file cannot be opened or holds fewer than 279 bytes.
std::optional<RecordingHead> ReadRecordingHead(const std::string& path);
// The same from a descriptor open for reading.
std::optional<RecordingHead> ReadRecordingHead(int fd);

// Builds the row for folder + fileName (folder ends with "/"), or nothing when the header
// cannot be read.
std::optional<RecordingEntry> MakeRecordingEntry(const std::string& folder, const std::string& fileName,
                                                 int rowNumber);
// The row for folder + fileName from a head read earlier.
RecordingEntry MakeRecordingEntry(const std::string& folder, const std::string& fileName, int rowNumber,
                                  const RecordingHead& head);

// A list's sort state. The flag is one per list and shared by all its columns: a column
// click sorts with the current flag and only then inverts it.
struct SortState {
    int column = 0;
    bool flag = false;
};

// The order of both recording lists: the number column as signed integers (ascending when the
// flag is set); every other column as GBK bytes with ASCII a-z folded to upper case
// (ascending when the flag is clear).
int CompareEntries(const RecordingEntry& a, const RecordingEntry& b, const SortState& sort);

// The GBK bytes of a text with a-z folded to A-Z: comparing two keys byte-wise as unsigned
// values gives the text order of CompareEntries. Precompute it for large sorts.
std::string TextSortKey(std::string_view utf8Text);
// Byte-wise comparison of two keys: difference of the first differing bytes, else of the lengths.
int CompareSortKeys(std::string_view a, std::string_view b);
// The number column as a number (atoi-like: leading digits, 0 when none).
long long RowNumberValue(std::string_view text);
