#include "search/archive_search.h"

#include "catalogue/recording_model.h"
#include "platform/recording_walk.h"
#include "platform/text_codec.h"

#include <cstdio>

namespace {

// "YYYY年MM月DD日" + hour digits, as the start-time texts begin.
std::string DayBound(const QDate& day, const char* hourDigits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d年%02d月%02d日%s", day.year(), day.month(), day.day(), hourDigits);
    return text;
}

} // namespace

std::string LowerBoundText(const QDate& firstDay)
{
    return DayBound(firstDay, "00");
}

std::string UpperBoundText(const QDate& lastDay)
{
    return DayBound(lastDay, "25");
}

std::string SearchProgressText(const std::string& fileName)
{
    return "正在检索文件:" + fileName;
}

bool HasRecordingName(const std::string& fileName)
{
    return fileName.starts_with("VOC") && Gb18030Length(fileName) == 12;
}

SearchFilter::SearchFilter(const SearchCriteria& criteria)
    : phoneBytes_(Utf8ToGb18030(TrimBlanksAndControls(criteria.phone))),
      mode_(criteria.mode),
      lowerBound_(Utf8ToGb18030(LowerBoundText(criteria.firstDay))),
      upperBound_(Utf8ToGb18030(UpperBoundText(criteria.lastDay)))
{
}

bool SearchFilter::boundsInOrder() const
{
    return CompareSortKeys(lowerBound_, upperBound_) <= 0;
}

bool SearchFilter::PhonePasses(const RecordingEntry& row) const
{
    if (phoneBytes_.empty())
        return true;
    return Utf8ToGb18030(row.phone()).find(phoneBytes_) != std::string::npos;
}

bool SearchFilter::ModePasses(const RecordingEntry& row) const
{
    return mode_ == kAllModesItem || mode_ == row.mode();
}

bool SearchFilter::DatePasses(const RecordingEntry& row) const
{
    const std::string startTime = Utf8ToGb18030(row.startTime());
    return CompareSortKeys(startTime, upperBound_) <= 0 && CompareSortKeys(startTime, lowerBound_) >= 0;
}

bool SearchFilter::Keeps(const RecordingEntry& row) const
{
    return PhonePasses(row) && ModePasses(row) && DatePasses(row);
}

SearchResult SearchArchiveFolder(const std::string& folder, const SearchCriteria& criteria,
                                 const SearchProgress& progress)
{
    SearchResult result;
    const SearchFilter filter(criteria);
    if (!filter.boundsInOrder()) {
        result.outcome = SearchOutcome::FromAfterTo;
        return result;
    }
    const bool walked = WalkRecordings(folder, [&](const WalkEntry& entry) {
        ++result.entriesVisited;
        if (progress && !progress(entry.name)) {
            result.stopped = true;
            return false;
        }
        if (!entry.twelveBytes)
            return true;
        const int number = static_cast<int>(result.rows.size()) + 1;
        std::optional<RecordingEntry> row = MakeRecordingEntry(folder, entry.name, number);
        if (row && filter.Keeps(*row))
            result.rows.push_back(std::move(*row));
        return true;
    });
    if (!walked)
        result.outcome = SearchOutcome::FolderUnreadable;
    return result;
}

bool ListFolderRecordings(const std::string& folder, RecordingModel& model, const std::function<bool()>& afterEachFile)
{
    model.Clear();
    // The rows reach the model in one insertion: a view told of every row would cost more
    // than the listing itself.
    std::vector<RecordingEntry> rows;
    const bool listed = WalkRecordings(folder, [&](const WalkEntry& entry) {
        if (!entry.twelveBytes)
            return true;
        const int number = static_cast<int>(rows.size()) + 1;
        if (std::optional<RecordingEntry> row = MakeRecordingEntry(folder, entry.name, number))
            rows.push_back(std::move(*row));
        return !afterEachFile || afterEachFile();
    });
    model.AppendBatch(std::move(rows));
    const SortState byStartTime{kColStartTime, false};
    model.SetSortState(byStartTime);
    model.Sort(byStartTime);
    model.Renumber();
    return listed;
}
