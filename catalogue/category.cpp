#include "catalogue/category.h"

#include "platform/text_codec.h"

#include <cstdio>

namespace {

// The start time up to and including "日": 14 bytes in GBK.
constexpr std::size_t kDatePartBytes = 14;

bool RowMatches(const RecordingEntry& row, int categoryKind, const std::string& criterionBytes)
{
    switch (categoryKind) {
    case kCategoryDate:
        return !row.startTime().empty()
               && Utf8ToGb18030(row.startTime()).substr(0, kDatePartBytes) == criterionBytes;
    case kCategoryPhone:
        return Utf8ToGb18030(row.phone()) == criterionBytes;
    case kCategoryMode:
        return Utf8ToGb18030(row.mode()) == criterionBytes;
    default:
        return false;
    }
}

} // namespace

std::string DateCriterionText(int year, int month, int day)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d年%02d月%02d日", year, month, day);
    return text;
}

std::vector<std::string> CollectByCategory(const std::vector<RecordingEntry>& rows, int categoryKind,
                                           const std::string& categoryText)
{
    const std::string criterionBytes = Utf8ToGb18030(categoryText);
    std::vector<std::string> names;
    for (const RecordingEntry& row : rows) {
        if (RowMatches(row, categoryKind, criterionBytes))
            names.push_back(row.fileName());
    }
    return names;
}
