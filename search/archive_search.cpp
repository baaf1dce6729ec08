#include "search/archive_search.h"

#include "catalogue/recording_model.h"
#include "platform/recording_walk.h"
#include "platform/text_codec.h"
#include "platform/unique_fd.h"
#include "search/folder_tree.h"

#include <cstdio>
#include <fcntl.h>

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

RowCriteria SearchFilter::IndexCriteria() const
{
    RowCriteria criteria;
    criteria.startKeys = std::pair(lowerBound_, upperBound_);
    if (mode_ != kAllModesItem)
        criteria.mode = mode_;
    criteria.phoneBytes = phoneBytes_;
    if (readsNotes()) {
        criteria.notePasses = [filter = *this](const RecordingNote& note) { return filter.NotePasses(note); };
        criteria.noteText = description_;
    }
    return criteria;
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
void KeepRow(std::vector<RecordingEntry>& rows, NotesByPath& notes, IndexedRow&& row)
{
    if (!row.note.empty())
        notes.emplace(row.row.path(), std::move(row.note));
    rows.push_back(std::move(row.row));
    rows.back().texts[kColNumber] = std::to_string(rows.size());
}

void KeepRow(SearchResult& result, IndexedRow&& row)
{
    KeepRow(result.rows, result.notes, std::move(row));
}

// The folder and the subfolders of WalkFolderTree that hold recordings, each before its own
// subfolders, in the tree's order; entering as for WalkFolderTree. False once entering ended it.
bool CoveredSubfolders(const std::string& folder, const std::string& relative, std::vector<std::string>& covered,
                       const SubfolderCallback& entering)
{
    for (const std::string& name : ListSubfolders(folder + relative)) {
        const std::string subfolder = relative + name + "/";
        if (!entering(subfolder))
            return false;
        if (!RecordingNames(folder + subfolder).empty())
            covered.push_back(folder + subfolder);
        if (!CoveredSubfolders(folder, subfolder, covered, entering))
            return false;
    }
    return true;
}

// The search of a folder with its subfolders through the index: the folders brought up to date,
// then asked for in one query. Where the index cannot answer, the folders are walked.
SearchResult SearchIndexedTree(const std::string& folder, const SearchFilter& filter,
                               const std::function<bool(const std::string&)>& goOn, ArchiveIndex& index,
                               const FoundRowCallback& onRow, SearchResult& result)
{
    if (!UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)).valid()) {
        result.outcome = SearchOutcome::FolderUnreadable;
        return result;
    }
    std::vector<std::string> covered{folder};
    if (!CoveredSubfolders(folder, {}, covered, goOn))
        return result;
    const std::vector<std::string> fresh = index.Freshen(covered);
    Result<std::vector<IndexedRow>> found = index.FindRows(filter.IndexCriteria(), &fresh);
    std::vector<IndexedRow> rows;
    if (found)
        rows = std::move(*found);
    else
        for (const std::string& each : fresh)
            WalkFolderRows(&index, each, [&](const WalkEntry&, IndexedRow* row) {
                if (row && filter.Keeps(row->row, row->note))
                    rows.push_back(std::move(*row));
                return true;
            });
    for (IndexedRow& row : rows) {
        if (onRow)
            onRow(std::move(row));
        else
            KeepRow(result, std::move(row));
    }
    return result;
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
    if (index && criteria.scope == FolderScope::WithSubfolders)
        return SearchIndexedTree(folder, filter, goOn, *index, onRow, result);
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
    const std::vector<std::string> folders = index.FreshKnownFolders();
    if (Result<std::vector<IndexedRow>> rows = index.FindRows(filter.IndexCriteria(), nullptr); rows) {
        for (IndexedRow& row : *rows)
            KeepRow(result, std::move(row));
        return result;
    }
    for (const std::string& folder : folders)
        WalkFolderRows(&index, folder, [&](const WalkEntry&, IndexedRow* row) {
            if (row && filter.Keeps(row->row, row->note))
                KeepRow(result, std::move(*row));
            return true;
        });
    return result;
}

SearchPage SearchKnownFoldersPage(ArchiveIndex& index, const SearchCriteria& criteria,
                                  const std::optional<RowKey>& after, std::size_t count)
{
    SearchPage page;
    const SearchFilter filter(criteria);
    if (!filter.boundsInOrder()) {
        page.outcome = SearchOutcome::FromAfterTo;
        return page;
    }
    index.FreshKnownFolders();
    Result<RowPage> found = index.FindPage(filter.IndexCriteria(), after, count);
    if (!found) {
        page.outcome = SearchOutcome::FolderUnreadable;
        return page;
    }
    for (IndexedRow& row : found->rows)
        KeepRow(page.rows, page.notes, std::move(row));
    page.last = std::move(found->last);
    return page;
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
