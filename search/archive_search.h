#pragma once

#include "catalogue/recording.h"
#include "index/archive_index.h"

#include <QDate>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The search of one archive folder for recordings of a range of whole days, of one mode and
// of a phone number containing the typed text. No windows here: the search window hands in
// what its controls hold and shows the rows and the progress.

// The mode filter's item that keeps every mode.
inline constexpr std::string_view kAllModesItem = "所有类型";
// The items of the mode filter, in the order the window lists them.
inline constexpr std::string_view kModeFilterItems[] = {"所有类型", "留言", "被叫", "主叫", "现场", "其他"};
// Shown (caption "错误") when the first day lies after the last.
inline constexpr std::string_view kFromAfterToMessage = "查询开始时间大于查询结束时间！";

// "2014年03月05日00" for 5 March 2014: no start-time text of that day is smaller.
std::string LowerBoundText(const QDate& firstDay);
// "2014年03月05日25": every start-time text of that day with an hour up to 24 is smaller;
// an hour byte of 25 or more makes the text greater (it begins with the bound and is longer).
std::string UpperBoundText(const QDate& lastDay);

// The naming rule of a file added by hand: the name begins with "VOC" exactly (capital
// letters) and is 12 GBK bytes long; the extension is not looked at.
bool HasRecordingName(const std::string& fileName);

// The progress panel's text while the search looks at a file.
std::string SearchProgressText(const std::string& fileName);

// Whether a listing or search reads the subfolders of its folder too.
enum class FolderScope { FolderOnly, WithSubfolders };

struct SearchCriteria {
    QDate firstDay;
    QDate lastDay;
    std::string mode{kAllModesItem}; // "所有类型" or one mode name
    std::string phone;               // as typed; surrounding blanks and control characters do not count
    std::string description;         // a part of the note's description; blanks as for the phone
    std::string userType;            // the note's user type exactly; surrounding blanks do not count
    FolderScope scope = FolderScope::FolderOnly;
};

// The three filters, with their texts prepared once for a whole search. Texts compare as
// GB18030 (GBK) bytes.
class SearchFilter {
public:
    explicit SearchFilter(const SearchCriteria& criteria);

    // False when the lower bound is greater than the upper one: the search is refused.
    bool boundsInOrder() const;
    // Phone, then mode, then date: a row is kept only when all three pass.
    bool Keeps(const RecordingEntry& row) const;
    // The same, then the user type and the description of the row's note.
    bool Keeps(const RecordingEntry& row, const RecordingNote& note) const;
    // True when the criteria look at notes at all.
    bool readsNotes() const { return !description_.empty() || !userType_.empty(); }
    bool NotePasses(const RecordingNote& note) const;
    // The same filters as the index compares them in its queries of many folders.
    RowCriteria IndexCriteria() const;

    bool PhonePasses(const RecordingEntry& row) const;
    bool ModePasses(const RecordingEntry& row) const;
    bool DatePasses(const RecordingEntry& row) const;

private:
    std::string phoneBytes_; // trimmed, GB18030; empty keeps every row
    std::string mode_;
    std::string lowerBound_; // GB18030
    std::string upperBound_; // GB18030
    std::string description_; // trimmed, ASCII letters in lower case; empty keeps every row
    std::string userType_;    // trimmed; empty keeps every row
};

// The notes of listed rows by the row's path (column "备注"); rows without a note are absent.
using NotesByPath = std::unordered_map<std::string, RecordingNote>;

enum class SearchOutcome {
    Searched,        // the folder was searched (possibly stopped early by the progress callback)
    FromAfterTo,     // refused: the first day lies after the last; no file was looked at
    FolderUnreadable // the folder cannot be opened; the list stays empty
};

struct SearchResult {
    SearchOutcome outcome = SearchOutcome::Searched;
    std::vector<RecordingEntry> rows; // kept rows, numbered 1, 2, 3 in walk order
    std::size_t entriesVisited = 0;   // walk entries shown in the progress panel
    bool stopped = false;             // the progress callback asked to stop
    NotesByPath notes;                // the notes of the kept rows
};

// Called for every walk entry before its row is built, with the entry's name, and with subfolders
// before each subfolder is read, with its path relative to the folder searched (ending with "/").
// The window shows SearchProgressText here; returning false ends the search with the rows kept
// so far (for example when the window is being closed meanwhile).
using SearchProgress = std::function<bool(const std::string& fileName)>;

// Searches the recordings of folder (ending with "/"; its subfolders too when the criteria's
// scope says so, as WalkFolderTree reads them) in walk order. Entries whose name is not 12 bytes long give no row, nor do files whose header
// cannot be read; a dropped row does not use up a number.
// With an index, only the files that changed since the folder's last listing are opened. With an
// index and subfolders, the folders are asked for together in one query of the index once each
// has been brought up to date (FolderCache::Freshen: a folder that changed is walked again, its
// entries shown through progress); progress then gets the subfolders only, as they are entered.
// With onRow, each kept row (not numbered) goes there as it is found instead of into the result.
using FoundRowCallback = std::function<void(IndexedRow&& row)>;
SearchResult SearchArchiveFolder(const std::string& folder, const SearchCriteria& criteria,
                                 const SearchProgress& progress = {}, ArchiveIndex* index = nullptr,
                                 const FoundRowCallback& onRow = {});

// The search of every folder the index knows, folder by folder in byte order, each in walk
// order, numbered 1, 2, 3 over all: one query of the index, once the folders have been brought
// up to date (FolderCache::FreshKnownFolders: one stat each, a changed folder walked again).
// Where the index cannot answer, the folders are walked.
SearchResult SearchKnownFolders(ArchiveIndex& index, const SearchCriteria& criteria);

// One page of the search of every folder the index knows, in start-time order: by the start
// time (as its GB18030 bytes), then the folder (bytes), then the file's place in its folder's
// walk. The first page is asked for without a key; each next one with the key of the last row of
// the page before (SearchPage::last), so that no page is dearer than the first however deep:
//
//     std::optional<RowKey> after;
//     do {
//         SearchPage page = SearchKnownFoldersPage(index, criteria, after, 500);
//         ... page.rows, numbered 1, 2, 3 within the page ...
//         after = page.last;
//     } while (after);
//
// A page shorter than count is the last (its key is still given; the next page is empty).
// The folders are brought up to date first, as for SearchKnownFolders.
struct SearchPage {
    SearchOutcome outcome = SearchOutcome::Searched; // FromAfterTo, or FolderUnreadable when the index cannot answer
    std::vector<RecordingEntry> rows;
    NotesByPath notes;
    std::optional<RowKey> last; // nothing when the page is empty
};
SearchPage SearchKnownFoldersPage(ArchiveIndex& index, const SearchCriteria& criteria,
                                  const std::optional<RowKey>& after, std::size_t count);

// Rows found by a listing or a search, with the notes of those rows.
struct FoundRows {
    std::vector<RecordingEntry> rows;
    NotesByPath notes;
};
// Adds the row as it stands (its number untouched), and its note when it has one.
void AddFoundRow(FoundRows& found, IndexedRow&& row);

// The listing of the folder selected in the tree (ending with "/"): found receives the folder's
// recordings sorted by start time ascending and numbered 1, 2, 3 in that order. keepGoing runs
// after each 12-byte entry, with or without a row; returning false ends the walk, and the rows
// found so far are sorted all the same; it runs before each subfolder is read too. Returns false
// when the folder cannot be opened. With an index, only changed files are opened and the rows come
// with their notes.
bool ListFolderRows(const std::string& folder, FoundRows& found, const std::function<bool()>& keepGoing = {},
                    ArchiveIndex* index = nullptr, FolderScope scope = FolderScope::FolderOnly);

// The walk of a folder with each row and its note: through the index when there is one, else by
// reading every file (rows without notes). Returns false when the folder cannot be opened.
bool WalkFolderRows(ArchiveIndex* index, const std::string& folder, const IndexedVisit& visit);

// WalkFolderRows over folder and, with subfolders, over every subfolder at any depth that the
// folder tree shows (hidden folders such as ".replaced" and links to folders never), each folder
// before its own subfolders, in the tree's name order. With an index only the subfolders that hold
// recordings are read through it: a walk makes its folder known to the index, and empty folders
// would only lengthen the search of every known folder. enteringSubfolder gets each subfolder's
// path relative to folder (ending with "/") before it is read; its false ends the walk, as the
// visit's does. Returns false when folder itself cannot be opened.
bool WalkFolderTree(ArchiveIndex* index, const std::string& folder, FolderScope scope, const IndexedVisit& visit,
                    const std::function<bool(const std::string& subfolder)>& enteringSubfolder = {});
