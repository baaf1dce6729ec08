#pragma once

#include "index/folder_cache.h"
#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class IndexConnection;

// The searches and counts of many folders as single queries over the rows the folder cache
// holds, with their decoded fields (RecordingFields): the database filters, sorts and counts,
// and only the rows kept are built. They read the table as it stands; a search first brings the
// folders it covers up to date (FolderCache::Freshen).

// What a row must be to be kept, compared as the search's filter compares it.
struct RowCriteria {
    // The start key (GB18030 bytes of the start-time text) within [first, second]; nothing keeps
    // every start time, also those that are no real time.
    std::optional<std::pair<std::string, std::string>> startKeys;
    std::optional<std::string> mode; // the mode name (ModeName) the row has; nothing keeps every mode
    std::string phoneBytes;          // GB18030 bytes the phone text's bytes contain; empty keeps every row
    // When set, only rows whose recording has a note that passes; noteText narrows the notes
    // asked for to those whose description may contain it (NoteStore::NotesMentioning).
    std::function<bool(const RecordingNote&)> notePasses;
    std::string noteText;
};

// A place in the order by start time: the start key, then the folder (bytes), then the position
// of the file in its folder's walk.
struct RowKey {
    std::string startKey;
    std::string folder;
    std::int64_t position = 0;
};

struct RowPage {
    std::vector<IndexedRow> rows;
    std::optional<RowKey> last; // the key of the last row; nothing when the page is empty
};

// The rows kept, of the folders given in their order (each in walk order), or with folders null
// of every known folder in byte order.
Result<std::vector<IndexedRow>> QueryRows(const IndexConnection& connection, NoteStore& notes,
                                          const RowCriteria& criteria, const std::vector<std::string>* folders);
// At most count rows kept of every known folder in start-time order (RowKey), those after the
// key given (from the first row without one).
Result<RowPage> QueryPage(const IndexConnection& connection, NoteStore& notes, const RowCriteria& criteria,
                          const std::optional<RowKey>& after, std::size_t count);

// Calls and seconds of the rows kept of every known folder, in groups.
struct CallGroup {
    std::optional<std::int64_t> hour; // CallStart::minutes() / 60; nothing for a start time that is no real time
    unsigned char mode = 0;           // the record's mode byte
    std::uint64_t calls = 0;
    std::uint64_t seconds = 0;
};
struct NumberGroup {
    std::string phone; // the phone text
    unsigned char mode = 0;
    std::uint64_t calls = 0;
    std::uint64_t seconds = 0;
    std::optional<std::int64_t> firstMinute, lastMinute; // of the calls whose start is a real time
};
struct CallGroups {
    std::vector<CallGroup> byHour;
    // The groups by mode of the numbers that lead by calls (then seconds) or by seconds (then
    // calls), at most topCount of each; ties go to the smaller phone text, the empty one counted as
    // the text given for it.
    std::vector<NumberGroup> topNumbers;
};
Result<CallGroups> QueryCallGroups(const IndexConnection& connection, NoteStore& notes, const RowCriteria& criteria,
                                   std::size_t topCount, const std::string& emptyPhoneText);
