#include "catalogue/recording.h"

#include "platform/text_codec.h"
#include "platform/unique_fd.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opened without blocking: a pipe named like a recording would otherwise wait for a writer
// forever; reads from it then fail.
UniqueFd OpenRecording(const std::string& path)
{
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

// Reads the header record of an open file; fails on fewer than 279 bytes.
std::optional<RecordingHeader> ReadHeaderOf(const UniqueFd& file)
{
    unsigned char bytes[kHeaderSize] = {};
    if (!file.valid() || ::pread(file.get(), bytes, kHeaderSize, kHeaderOffset) != static_cast<ssize_t>(kHeaderSize))
        return std::nullopt;
    return ParseRecordingHeader(bytes);
}

// The size as the recorder's software saw it: through a single-precision float.
float SizeAsFloat(std::uint32_t fileSize)
{
    return static_cast<float>(fileSize);
}

// Appends value as printf's "%02d" writes it: one digit gets a leading zero, a minus sign does not.
void AppendTwoDigits(std::string& text, int value)
{
    if (value >= 0 && value < 10)
        text += '0';
    text += std::to_string(value);
}

} // namespace

RecordingHeader ParseRecordingHeader(const unsigned char (&bytes)[kHeaderSize])
{
    RecordingHeader header;
    header.mode = static_cast<char>(bytes[0]);
    std::memcpy(header.phone.data(), bytes + 1, header.phone.size());
    header.year = static_cast<std::int8_t>(bytes[18]);
    header.month = static_cast<std::int8_t>(bytes[19]);
    header.day = static_cast<std::int8_t>(bytes[20]);
    header.hour = static_cast<std::int8_t>(bytes[21]);
    header.minute = static_cast<std::int8_t>(bytes[22]);
    return header;
}

std::optional<RecordingHeader> ReadRecordingHeader(const std::string& path)
{
    return ReadHeaderOf(OpenRecording(path));
}

std::string PhoneText(const RecordingHeader& header)
{
    const char* begin = header.phone.data();
    const void* nul = std::memchr(begin, '\0', header.phone.size());
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin)
                                   : header.phone.size();
    return Gb18030ToUtf8(std::string_view(begin, length));
}

std::string ModeName(char mode)
{
    switch (mode) {
    case 'Z': return "主叫";
    case 'B': return "被叫";
    case 'L': return "留言";
    case 'X': return "现场";
    default: return "其他";
    }
}

// Built by hand rather than by snprintf, which took a tenth of a cached listing's time.
std::string StartTimeText(const RecordingHeader& header)
{
    std::string text = "20";
    AppendTwoDigits(text, header.year);
    text += "年";
    AppendTwoDigits(text, header.month);
    text += "月";
    AppendTwoDigits(text, header.day);
    text += "日";
    AppendTwoDigits(text, header.hour);
    text += "时";
    AppendTwoDigits(text, header.minute);
    text += "分";
    return text;
}

std::uint32_t DurationSeconds(std::uint32_t fileSize)
{
    // 2/7 ms per byte in extended precision, truncated: 3500 bytes of file per second.
    const long double milliseconds = static_cast<long double>(SizeAsFloat(fileSize)) * (2.0L / 7.0L);
    return static_cast<std::uint32_t>(milliseconds) / 1000;
}

std::string SecondsText(std::uint64_t seconds)
{
    const std::uint64_t h = seconds / 3600;
    const std::uint64_t m = (seconds % 3600) / 60;
    const std::uint64_t s = seconds % 60;
    if (h == 0 && m == 0)
        return std::to_string(s) + "秒";
    if (h == 0)
        return std::to_string(m) + "分钟" + std::to_string(s) + "秒";
    return std::to_string(h) + "小时" + std::to_string(m) + "分钟" + std::to_string(s) + "秒";
}

std::string DurationText(std::uint32_t fileSize)
{
    return SecondsText(DurationSeconds(fileSize));
}

std::optional<std::uint64_t> DurationTextSeconds(std::string_view text)
{
    // The units in the order SecondsText writes them; each is optional but the seconds.
    static constexpr std::pair<std::string_view, std::uint64_t> kUnits[] = {{"小时", 3600}, {"分钟", 60}, {"秒", 1}};
    std::uint64_t seconds = 0;
    for (const auto& [unit, factor] : kUnits) {
        const std::size_t at = text.find(unit);
        if (at == std::string_view::npos) {
            if (factor == 1)
                return std::nullopt;
            continue;
        }
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + at, value);
        if (at == 0 || error != std::errc() || end != text.data() + at)
            return std::nullopt;
        seconds += value * factor;
        text.remove_prefix(at + unit.size());
    }
    if (!text.empty())
        return std::nullopt;
    return seconds;
}

std::string SizeText(std::uint32_t fileSize)
{
    // The plus one applies to exact multiples of 1024 too.
    const long long kilobytes = static_cast<long long>(SizeAsFloat(fileSize)) / 1024 + 1;
    return std::to_string(kilobytes) + "K";
}

const std::array<std::string, kColumnCount>& RecordingColumnTitles()
{
    static const std::array<std::string, kColumnCount> titles = {
        "序号", "文件名", "电话号码", "录音方式", "开始时间", "录音时长", "文件长度", "备注"};
    return titles;
}

std::optional<RecordingHead> ReadRecordingHead(const std::string& path)
{
    // Record and size come from one open of the file: the size is that of the file whose
    // record was read, and a listing of tens of thousands of files makes one open per file.
    const UniqueFd file = OpenRecording(path);
    return file.valid() ? ReadRecordingHead(file.get()) : std::nullopt;
}

std::optional<RecordingHead> ReadRecordingHead(int fd)
{
    RecordingHead head;
    struct stat info {};
    if (::pread(fd, head.record.data(), kHeaderSize, kHeaderOffset) != static_cast<ssize_t>(kHeaderSize)
        || ::fstat(fd, &info) != 0)
        return std::nullopt;
    head.size = static_cast<std::uint64_t>(info.st_size);
    head.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    head.changed = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
    return head;
}

std::optional<RecordingEntry> MakeRecordingEntry(const std::string& folder, const std::string& fileName, int rowNumber)
{
    const std::optional<RecordingHead> head = ReadRecordingHead(folder + fileName);
    if (!head)
        return std::nullopt;
    return MakeRecordingEntry(folder, fileName, rowNumber, *head);
}

RecordingEntry MakeRecordingEntry(const std::string& folder, const std::string& fileName, int rowNumber,
                                  const RecordingHead& head)
{
    unsigned char bytes[kHeaderSize];
    std::copy(head.record.begin(), head.record.end(), bytes);
    const RecordingHeader header = ParseRecordingHeader(bytes);
    const auto size = static_cast<std::uint32_t>(head.size); // the low 32 bits, as the lists always showed
    RecordingEntry entry;
    entry.texts[kColNumber] = std::to_string(rowNumber);
    entry.texts[kColFileName] = fileName;
    entry.texts[kColPhone] = PhoneText(header);
    entry.texts[kColMode] = ModeName(header.mode);
    entry.texts[kColStartTime] = StartTimeText(header);
    entry.texts[kColDuration] = DurationText(size);
    entry.texts[kColSize] = SizeText(size);
    entry.texts[kColPath] = folder + fileName;
    return entry;
}

std::string TextSortKey(std::string_view utf8Text)
{
    std::string key = Utf8ToGb18030(utf8Text);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

int CompareSortKeys(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        if (difference != 0)
            return difference;
    }
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

long long RowNumberValue(std::string_view text)
{
    long long value = 0;
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        i = 1;
    // Saturates instead of overflowing on absurdly long digit runs.
    constexpr long long kLimit = 1'000'000'000'000'000'000LL;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < kLimit; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int CompareEntries(const RecordingEntry& a, const RecordingEntry& b, const SortState& sort)
{
    if (sort.column == kColNumber) {
        const long long x = RowNumberValue(a.number());
        const long long y = RowNumberValue(b.number());
        const int ascending = (x > y) - (x < y);
        return sort.flag ? ascending : -ascending;
    }
    const int ascending = CompareSortKeys(TextSortKey(a.texts[sort.column]), TextSortKey(b.texts[sort.column]));
    return sort.flag ? -ascending : ascending;
}
