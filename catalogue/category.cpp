#include "catalogue/category.h"

#include "platform/text_codec.h"

#include <cstdio>

namespace {

// The start time up to and including "日": 14 bytes in GBK.
constexpr std::size_t kDatePartBytes = 14;

bool RowMatches(const RecordingEntry& row, CategoryKind kind, const std::string& criterionBytes)
{
    switch (kind) {
    case CategoryKind::Date:
        return !row.startTime().empty()
               && Utf8ToGb18030(row.startTime()).substr(0, kDatePartBytes) == criterionBytes;
    case CategoryKind::Phone:
        return Utf8ToGb18030(row.phone()) == criterionBytes;
    case CategoryKind::Mode:
        return Utf8ToGb18030(row.mode()) == criterionBytes;
    case CategoryKind::None:
        break;
    }
    return false;
}

} // namespace

std::string DateCriterionText(int year, int month, int day)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d年%02d月%02d日", year, month, day);
    return text;
}

std::vector<std::string> CollectByCategory(const std::vector<RecordingEntry>& rows, CategoryKind kind,
                                           const std::string& text)
{
    const std::string criterionBytes = Utf8ToGb18030(text);
    std::vector<std::string> names;
    for (const RecordingEntry& row : rows) {
        if (RowMatches(row, kind, criterionBytes))
            names.push_back(row.fileName());
    }
    return names;
}
