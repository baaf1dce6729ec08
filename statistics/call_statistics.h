#pragma once

#include "catalogue/recording.h"
#include "index/note_store.h"
#include "index/recording_fields.h"
#include "index/row_query.h"
#include "platform/result.h"

#include <QDate>
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The call statistics of a set of recording rows: how many calls, how long, with whom, per day,
// week or month. Counted from the texts the rows show, so that the figures agree with the
// lists: the duration is the row's duration text read back, the number its phone text.

class ArchiveIndex;

// The modes in the order the statistics show them.
inline constexpr std::array<std::string_view, 5> kStatisticsModes = {"留言", "被叫", "主叫", "现场", "其他"};
// The number of the rows whose phone text is empty.
inline constexpr std::string_view kNoNumberText = "（无号码）";
// The period of the rows whose start-time text is no real time.
inline constexpr std::string_view kInvalidTimeText = "（时间无效）";
// How many numbers each top list holds.
inline constexpr std::size_t kTopNumberCount = 10;

struct CallFigures {
    std::uint64_t calls = 0;
    std::uint64_t seconds = 0;

    std::uint64_t averageSeconds() const { return calls == 0 ? 0 : seconds / calls; }
    bool operator==(const CallFigures&) const = default;
};

// Figures by mode (indexes as kStatisticsModes) and over all modes.
struct ModeFigures {
    std::array<CallFigures, kStatisticsModes.size()> byMode{};
    CallFigures all;

    // One call of mode, or calls lasting seconds together.
    void Add(std::size_t mode, std::uint64_t seconds, std::uint64_t calls = 1);
    void Add(const ModeFigures& other);
};

struct NumberFigures {
    std::string number; // the phone text, or kNoNumberText
    ModeFigures figures;
    std::string firstCall; // start-time texts of the earliest and the latest call with a valid time
    std::string lastCall;
    std::string userType; // from the notes of the number's recordings; empty when none is known
};

struct CallStatistics {
    ModeFigures totals;
    std::map<std::int64_t, ModeFigures> days; // by Julian day
    ModeFigures invalidTimes;                 // the rows under kInvalidTimeText
    std::vector<NumberFigures> mostCalls;     // at most kTopNumberCount each
    std::vector<NumberFigures> mostTalk;
    std::array<std::array<std::uint64_t, 24>, 7> callsByWeekdayHour{}; // [Monday 0 ... Sunday 6][hour]

    bool empty() const { return totals.all.calls == 0; }
};

// The user type of each number (kNoNumberText for an empty one), from the notes that have one:
// the type most of the number's noted recordings carry, the smaller text on a tie.
using UserTypesByNumber = std::unordered_map<std::string, std::string>;
UserTypesByNumber UserTypesOf(const std::vector<NotedRecording>& notes);
// The same from the notes of the index, read one at a time; none when it cannot be read.
UserTypesByNumber UserTypesOf(ArchiveIndex& index);

// The tally of one number while the calls are counted.
struct NumberTally {
    ModeFigures figures;
    std::int64_t first = 0, last = 0; // CallStart::minutes(); valid once firstCall is set
    std::string firstCall, lastCall;
};

// Counts calls one row at a time, so that a count over many folders keeps no rows. No row is
// left out: an unreadable start time counts under kInvalidTimeText, an unreadable duration as
// 0 seconds.
class CallCounter {
public:
    void Add(const RecordingEntry& row);
    // The figures of the rows added, with the user types of the numbers; the counter starts over.
    CallStatistics Finish(const UserTypesByNumber& userTypes = {});

private:
    CallStatistics statistics_;
    std::unordered_map<std::string, NumberTally> numbers_; // by NumberKey
};

// Counts the rows as CallCounter does. Once stopRequested is set the count ends early with
// empty figures.
CallStatistics CountCalls(const std::vector<RecordingEntry>& rows, const UserTypesByNumber& userTypes = {},
                          const std::atomic<bool>* stopRequested = nullptr);

// The statistics of the rows of every known folder that the criteria keep, as CountCalls gives
// them, counted by the index's queries: no row and no number's tally is held here, however many
// numbers there are. The index answers as it stands: bring its folders up to date first
// (ArchiveIndex::FreshKnownFolders).
Result<CallStatistics> CountIndexedCalls(ArchiveIndex& index, const RowCriteria& criteria);

enum class PeriodKind { Day, Week, Month };
inline constexpr std::array<std::string_view, 3> kPeriodKindNames = {"日", "周", "月"};

// Days for rows within 31 days, weeks within 26 weeks, months beyond.
PeriodKind AutomaticPeriod(const CallStatistics& statistics);

struct PeriodFigures {
    std::string name; // "01月02日", "第3周", "2023年01月" (days and weeks with the year when the
                      // periods lie in more than one year), or kInvalidTimeText
    ModeFigures figures;
};
// Every period from the first call to the last, those without calls too, then kInvalidTimeText
// when rows count there. Weeks are ISO weeks: they begin on Monday, and week 1 holds the year's
// first Thursday.
std::vector<PeriodFigures> Periods(const CallStatistics& statistics, PeriodKind kind);
