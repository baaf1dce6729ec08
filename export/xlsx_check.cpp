#include "export/xlsx_check.h"

#include "platform/byte_order.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kDirectoryEntry = 0x02014b50;
constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kEntrySize = 46;
constexpr std::size_t kLocalHeaderSize = 30;

struct Member {
    std::string name;
    std::uint16_t method = 0;
    std::uint32_t packedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localHeader = 0;
};

Failure Incomplete(const std::string& path, const std::string& what)
{
    return Failure{"the written workbook is damaged (" + what + "); is the disk full?", 0, path};
}

// Whether size bytes from at lie inside the file.
bool Holds(const std::vector<unsigned char>& file, std::size_t at, std::size_t size)
{
    return at <= file.size() && size <= file.size() - at;
}

// The members listed in the central directory; an empty list when it cannot be read.
std::vector<Member> ReadDirectory(const std::vector<unsigned char>& file)
{
    if (file.size() < kEndRecordSize)
        return {};
    std::size_t end = file.size() - kEndRecordSize;
    while (end > 0 && ReadLe32(&file[end]) != kEndOfDirectory)
        --end;
    if (ReadLe32(&file[end]) != kEndOfDirectory)
        return {};
    const std::uint16_t count = ReadLe16(&file[end + 10]);
    std::size_t at = ReadLe32(&file[end + 16]);
    std::vector<Member> members;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!Holds(file, at, kEntrySize) || ReadLe32(&file[at]) != kDirectoryEntry)
            return {};
        const std::size_t nameLength = ReadLe16(&file[at + 28]);
        if (!Holds(file, at + kEntrySize, nameLength))
            return {};
        Member member;
        member.method = ReadLe16(&file[at + 10]);
        member.packedSize = ReadLe32(&file[at + 20]);
        member.size = ReadLe32(&file[at + 24]);
        member.localHeader = ReadLe32(&file[at + 42]);
        member.name.assign(reinterpret_cast<const char*>(&file[at + kEntrySize]), nameLength);
        members.push_back(std::move(member));
        at += kEntrySize + nameLength + ReadLe16(&file[at + 30]) + ReadLe16(&file[at + 32]);
    }
    return members;
}

// The member's unpacked bytes; false when they cannot be had or differ in size from the record.
bool Unpack(const std::vector<unsigned char>& file, const Member& member, std::string& text)
{
    const std::size_t header = member.localHeader;
    if (!Holds(file, header, kLocalHeaderSize) || ReadLe32(&file[header]) != kLocalHeader)
        return false;
    const std::size_t data = header + kLocalHeaderSize + ReadLe16(&file[header + 26]) + ReadLe16(&file[header + 28]);
    if (!Holds(file, data, member.packedSize))
        return false;
    text.assign(member.size, '\0');
    if (member.method == 0) {
        text.assign(reinterpret_cast<const char*>(&file[data]), member.packedSize);
        return text.size() == member.size;
    }
    z_stream stream{};
    if (member.method != Z_DEFLATED || inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = const_cast<unsigned char*>(&file[data]);
    stream.avail_in = member.packedSize;
    stream.next_out = reinterpret_cast<unsigned char*>(text.data());
    stream.avail_out = member.size;
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.total_out == member.size;
    inflateEnd(&stream);
    return whole;
}

// Whether an XML text ends by closing the element it opens with (after the declaration).
bool ClosesItsRoot(std::string_view xml)
{
    std::size_t open = xml.find('<');
    if (open != std::string_view::npos && xml.substr(open, 2) == "<?")
        open = xml.find('<', xml.find("?>"));
    const std::size_t nameEnd = open == std::string_view::npos ? open : xml.find_first_of(" \t\r\n/>", open + 1);
    if (nameEnd == std::string_view::npos)
        return false;
    const std::string closing = "</" + std::string(xml.substr(open + 1, nameEnd - open - 1)) + ">";
    const std::size_t last = xml.find_last_not_of(" \t\r\n");
    return last != std::string_view::npos && xml.substr(0, last + 1).ends_with(closing);
}

long Occurrences(std::string_view text, std::string_view part)
{
    long count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

bool IsXmlPart(const std::string& name)
{
    return name.ends_with(".xml") || name.ends_with(".rels");
}

} // namespace

Result<void> CheckWorkbookComplete(const std::string& path, long rowCount, long cellCount)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<unsigned char> file(in ? static_cast<std::size_t>(in.tellg()) : 0);
    if (!in || !in.seekg(0)
        || !in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size())))
        return Failure{"cannot read the written workbook back", 0, path};
    const std::vector<Member> members = ReadDirectory(file);
    if (std::none_of(members.begin(), members.end(),
                     [](const Member& m) { return m.name.starts_with("xl/worksheets/"); }))
        return Incomplete(path, "no sheet");
    // A part that lost a block of its text either lost its end or some of the sheet's rows and
    // cells, which are counted.
    std::string text;
    for (const Member& member : members) {
        if (!IsXmlPart(member.name))
            continue;
        if (!Unpack(file, member, text) || !ClosesItsRoot(text))
            return Incomplete(path, member.name + " is cut short");
        if (member.name.starts_with("xl/worksheets/")
            && (Occurrences(text, "<row ") != rowCount || Occurrences(text, "<c ") != cellCount))
            return Incomplete(path, member.name + " lacks cells");
    }
    return {};
}
