#include "catalogue/call_details.h"

#include <cstdio>
#include <string_view>

namespace {

std::string StartDayText(const RecordingHeader& header)
{
    char text[48];
    std::snprintf(text, sizeof text, "20%02d-%02d-%02d", header.year, header.month, header.day);
    return text;
}

std::string StartClockText(const RecordingHeader& header)
{
    char text[48];
    std::snprintf(text, sizeof text, "%02d时%02d分", header.hour, header.minute);
    return text;
}

bool FitsFileName(unsigned char c)
{
    return c >= 0x20 && c != 0x7f && std::string_view(R"(/\:*?"<>|)").find(static_cast<char>(c)) == std::string_view::npos;
}

} // namespace

CallTags CallTagsOf(const RecordingHeader& header, const std::string& description)
{
    CallTags tags;
    const std::string phone = PhoneText(header);
    tags.title = phone.empty() ? StartTimeText(header) : phone + " " + StartTimeText(header);
    tags.comment = description;
    tags.genre = ModeName(header.mode);
    tags.album = tags.genre;
    tags.date = StartDayText(header);
    return tags;
}

std::string SuggestedCallFileName(const RecordingHeader& header, CallFormat format)
{
    std::string name = StartDayText(header) + " " + StartClockText(header);
    if (const std::string phone = PhoneText(header); !phone.empty())
        name += " " + phone;
    name += " " + ModeName(header.mode);
    for (char& c : name) {
        if (!FitsFileName(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name + "." + std::string(CallFormatExtension(format));
}
