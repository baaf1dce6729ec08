#include "index/recording_fields.h"

#include "platform/text_codec.h"

#include <charconv>

namespace {

// Reads the two or three digits before unit ("%02d" of a byte) and moves past the unit.
std::optional<int> ReadField(std::string_view& text, std::string_view unit)
{
    const std::size_t at = text.find(unit);
    if (at < 2 || at > 3) // also when the unit is missing (npos)
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + at, value);
    if (error != std::errc() || end != text.data() + at || text.front() == '-')
        return std::nullopt;
    text.remove_prefix(at + unit.size());
    return value;
}

} // namespace

std::optional<CallStart> ParseStartTime(std::string_view text)
{
    if (!text.starts_with("20"))
        return std::nullopt;
    text.remove_prefix(2);
    std::array<int, 5> fields{};
    constexpr std::array<std::string_view, 5> kUnits = {"年", "月", "日", "时", "分"};
    for (std::size_t i = 0; i < kUnits.size(); ++i) {
        const std::optional<int> value = ReadField(text, kUnits[i]);
        if (!value)
            return std::nullopt;
        fields[i] = *value;
    }
    const QDate day(2000 + fields[0], fields[1], fields[2]);
    if (!text.empty() || !day.isValid() || fields[3] > 23 || fields[4] > 59)
        return std::nullopt;
    return CallStart{day, fields[3], fields[4]};
}

std::string BytesAsText(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xc0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3f));
        }
    }
    return text;
}

RecordingFields FieldsOf(const std::array<unsigned char, kHeaderSize>& record, std::uint64_t size)
{
    unsigned char bytes[kHeaderSize];
    std::copy(record.begin(), record.end(), bytes);
    const RecordingHeader header = ParseRecordingHeader(bytes);
    const std::string startTime = StartTimeText(header);
    RecordingFields fields;
    fields.startKey = Utf8ToGb18030(startTime);
    fields.phone = PhoneText(header);
    fields.phoneKey = BytesAsText(Utf8ToGb18030(fields.phone));
    fields.mode = static_cast<unsigned char>(header.mode);
    fields.seconds = DurationSeconds(static_cast<std::uint32_t>(size)); // the low 32 bits, as the row shows
    if (const std::optional<CallStart> start = ParseStartTime(startTime))
        fields.callMinute = start->minutes();
    return fields;
}
