#include "search/archive_search.h"

#include "catalogue/recording_model.h"
#include "platform/recording_walk.h"
#include "platform/text_codec.h"
#include "search/folder_tree.h"

#include <cstdio>

namespace {

// "YYYY年MM月DD日" + hour digits, as the start-time texts begin.
std::string DayBound(const QDate& day, const char* hourDigits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d年%02d月%02d日%s", day.year(), day.month(), day.day(), hourDigits);
    return text;
}

// ASCII letters in lower case; every other byte as it is.
std::string FoldLatinCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
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
      upperBound_(Utf8ToGb18030(UpperBoundText(criteria.lastDay))),
      description_(FoldLatinCase(TrimBlanksAndControls(criteria.description))),
      userType_(TrimBlanksAndControls(criteria.userType))
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

bool SearchFilter::NotePasses(const RecordingNote& note) const
{
    return (userType_.empty() || note.userType == userType_)
           && (description_.empty() || FoldLatinCase(note.description).find(description_) != std::string::npos);
}

bool SearchFilter::Keeps(const RecordingEntry& row, const RecordingNote& note) const
{
    return Keeps(row) && NotePasses(note);
}

bool WalkFolderRows(ArchiveIndex* index, const std::string& folder, const IndexedVisit& visit)
{
    if (index)
        return index->WalkFolder(folder, visit);
    return WalkRecordings(folder, [&](const WalkEntry& entry) {
        std::optional<IndexedRow> row;
        if (entry.twelveBytes)
            if (const std::optional<RecordingHead> head = ReadRecordingHead(folder + entry.name))
                row = IndexedRow{MakeRecordingEntry(folder, entry.name, 0, *head), IdentityOf(entry.name, *head), {}};
        return visit(entry, row ? &*row : nullptr);
    });
}

namespace {

using SubfolderCallback = std::function<bool(const std::string& subfolder)>;

// WalkFolderRows that tells whether the visit ended the walk.
struct FolderWalk {
    bool opened = false;
    bool ended = false;
};
FolderWalk WalkOneFolder(ArchiveIndex* index, const std::string& folder, const IndexedVisit& visit)
{
    FolderWalk walk;
    walk.opened = WalkFolderRows(index, folder, [&](const WalkEntry& entry, IndexedRow* row) {
        walk.ended = !visit(entry, row);
        return !walk.ended;
    });
    return walk;
}

// The subfolders of folder + relative, depth first; false once the walk has been ended.
bool WalkSubfolders(ArchiveIndex* index, const std::string& folder, const std::string& relative,
                    const IndexedVisit& visit, const SubfolderCallback& entering)
{
    for (const std::string& name : ListSubfolders(folder + relative)) {
        const std::string subfolder = relative + name + "/";
        if (entering && !entering(subfolder))
            return false;
        const std::string path = folder + subfolder;
        if ((!index || !RecordingNames(path).empty()) && WalkOneFolder(index, path, visit).ended)
            return false;
        if (!WalkSubfolders(index, folder, subfolder, visit, entering))
            return false;
    }
    return true;
}

} // namespace

bool WalkFolderTree(ArchiveIndex* index, const std::string& folder, FolderScope scope, const IndexedVisit& visit,
                    const SubfolderCallback& enteringSubfolder)
{
    const FolderWalk walk = WalkOneFolder(index, folder, visit);
    if (walk.opened && !walk.ended && scope == FolderScope::WithSubfolders)
        WalkSubfolders(index, folder, {}, visit, enteringSubfolder);
    return walk.opened;
}

namespace {

// Keeps the row, numbered after the rows kept so far, with its note.
void KeepRow(SearchResult& result, IndexedRow&& row)
{
    if (!row.note.empty())
        result.notes.emplace(row.row.path(), std::move(row.note));
    result.rows.push_back(std::move(row.row));
    result.rows.back().texts[kColNumber] = std::to_string(result.rows.size());
}

} // namespace

SearchResult SearchArchiveFolder(const std::string& folder, const SearchCriteria& criteria,
                                 const SearchProgress& progress, ArchiveIndex* index, const FoundRowCallback& onRow)
{
    SearchResult result;
    const SearchFilter filter(criteria);
    if (!filter.boundsInOrder()) {
        result.outcome = SearchOutcome::FromAfterTo;
        return result;
    }
    const auto goOn = [&](const std::string& name) {
        result.stopped = progress && !progress(name);
        return !result.stopped;
    };
    const auto visit = [&](const WalkEntry& entry, IndexedRow* row) {
        ++result.entriesVisited;
        if (!goOn(entry.name))
            return false;
        if (row && filter.Keeps(row->row, row->note)) {
            if (onRow)
                onRow(std::move(*row));
            else
                KeepRow(result, std::move(*row));
        }
        return true;
    };
    const bool walked = WalkFolderTree(index, folder, criteria.scope, visit, goOn);
    if (!walked)
        result.outcome = SearchOutcome::FolderUnreadable;
    return result;
}

SearchResult SearchKnownFolders(ArchiveIndex& index, const SearchCriteria& criteria)
{
    SearchResult result;
    const SearchFilter filter(criteria);
    if (!filter.boundsInOrder()) {
        result.outcome = SearchOutcome::FromAfterTo;
        return result;
    }
    const auto keep = [&](IndexedRow& row) {
        if (filter.Keeps(row.row, row.note))
            KeepRow(result, std::move(row));
    };
    if (!filter.readsNotes()) {
        for (const std::string& folder : index.KnownFolders())
            WalkFolderRows(&index, folder, [&](const WalkEntry&, IndexedRow* row) {
                if (row)
                    keep(*row);
                return true;
            });
        return result;
    }
    // Only recordings with a note can pass: the folders are asked for those alone.
    const auto passes = [&](const RecordingNote& note) { return filter.NotePasses(note); };
    for (IndexedRow& row : index.NotedRows(TrimBlanksAndControls(criteria.description), passes))
        keep(row);
    return result;
}

void AddFoundRow(FoundRows& found, IndexedRow&& row)
{
    if (!row.note.empty())
        found.notes.emplace(row.row.path(), std::move(row.note));
    found.rows.push_back(std::move(row.row));
}

bool ListFolderRows(const std::string& folder, FoundRows& found, const std::function<bool()>& keepGoing,
                    ArchiveIndex* index, FolderScope scope)
{
    const auto goOn = [&] { return !keepGoing || keepGoing(); };
    const auto visit = [&](const WalkEntry& entry, IndexedRow* row) {
        if (!entry.twelveBytes)
            return true;
        if (row)
            AddFoundRow(found, std::move(*row));
        return goOn();
    };
    const bool listed = WalkFolderTree(index, folder, scope, visit, [&](const std::string&) { return goOn(); });
    SortAndRenumber(found.rows, SortState{kColStartTime, false});
    return listed;
}
