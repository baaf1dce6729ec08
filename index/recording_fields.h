#pragma once

#include "catalogue/recording.h"

#include <QDate>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The fields of a recording that the index keeps beside its header record, so that the database
// itself can filter, sort and count the rows of many folders. Each is the value the filters and
// the statistics compute from the row's texts, so that the database's answer is the walk's.

// A recording's start read back from its start-time text "20YY年MM月DD日HH时MM分".
struct CallStart {
    QDate day;
    int hour = 0;
    int minute = 0;

    std::int64_t minutes() const { return day.toJulianDay() * 1440 + hour * 60 + minute; }
};
// Nothing when the text is not of that form or names no real day, hour or minute.
std::optional<CallStart> ParseStartTime(std::string_view text);

// The bytes as text, each byte the character of its code (ISO 8859-1), in UTF-8: a text every
// database takes, in which a text is part of another exactly when its bytes are, and whose byte
// order is the bytes' order.
std::string BytesAsText(std::string_view bytes);

struct RecordingFields {
    std::string startKey;      // the start-time text as GB18030 bytes: what the day filter and the sort compare
    std::string phone;         // the phone text (UTF-8), as the statistics count numbers
    std::string phoneKey;      // the phone text's GB18030 bytes as BytesAsText: what the phone filter looks in
    unsigned char mode = 0;    // the record's mode byte
    std::uint32_t seconds = 0; // the duration the row shows, in seconds
    std::optional<std::int64_t> callMinute; // CallStart::minutes(), nothing for a start time that is no real time
};

RecordingFields FieldsOf(const std::array<unsigned char, kHeaderSize>& record, std::uint64_t size);
