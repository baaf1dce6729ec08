#include "statistics/call_statistics.h"

#include "index/archive_index.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kOtherMode = kStatisticsModes.size() - 1;

std::size_t ModeIndex(std::string_view modeName)
{
    const auto found = std::find(kStatisticsModes.begin(), kStatisticsModes.end(), modeName);
    return found == kStatisticsModes.end() ? kOtherMode : static_cast<std::size_t>(found - kStatisticsModes.begin());
}

std::string NumberKey(const std::string& phone)
{
    return phone.empty() ? std::string(kNoNumberText) : phone;
}

void NoteCallTime(NumberTally& tally, const CallStart& start, const std::string& startText)
{
    const std::int64_t at = start.minutes();
    if (tally.firstCall.empty() || at < tally.first) {
        tally.first = at;
        tally.firstCall = startText;
    }
    if (tally.lastCall.empty() || at > tally.last) {
        tally.last = at;
        tally.lastCall = startText;
    }
}

// The top kTopNumberCount numbers by key, the larger first, ties in number order.
template <typename Key>
std::vector<NumberFigures> TopNumbers(const std::unordered_map<std::string, NumberTally>& numbers,
                                      const UserTypesByNumber& userTypes, Key key)
{
    std::vector<const std::pair<const std::string, NumberTally>*> order;
    order.reserve(numbers.size());
    for (const auto& entry : numbers)
        order.push_back(&entry);
    const std::size_t count = std::min(kTopNumberCount, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count), order.end(),
                      [&](const auto* a, const auto* b) {
                          const auto keyA = key(a->second.figures.all);
                          const auto keyB = key(b->second.figures.all);
                          return keyA != keyB ? keyA > keyB : a->first < b->first;
                      });
    std::vector<NumberFigures> top;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& [number, tally] = *order[i];
        const auto userType = userTypes.find(number);
        top.push_back({number, tally.figures, tally.firstCall, tally.lastCall,
                       userType == userTypes.end() ? std::string() : userType->second});
    }
    return top;
}

void SetTopNumbers(CallStatistics& statistics, const std::unordered_map<std::string, NumberTally>& numbers,
                   const UserTypesByNumber& userTypes)
{
    statistics.mostCalls =
        TopNumbers(numbers, userTypes, [](const CallFigures& f) { return std::pair(f.calls, f.seconds); });
    statistics.mostTalk =
        TopNumbers(numbers, userTypes, [](const CallFigures& f) { return std::pair(f.seconds, f.calls); });
}

// The first day of the period that holds day.
QDate PeriodStart(const QDate& day, PeriodKind kind)
{
    switch (kind) {
    case PeriodKind::Day: return day;
    case PeriodKind::Week: return day.addDays(1 - day.dayOfWeek());
    case PeriodKind::Month: return QDate(day.year(), day.month(), 1);
    }
    return day;
}

QDate NextPeriod(const QDate& start, PeriodKind kind)
{
    switch (kind) {
    case PeriodKind::Day: return start.addDays(1);
    case PeriodKind::Week: return start.addDays(7);
    case PeriodKind::Month: return start.addMonths(1);
    }
    return start;
}

// The year a period's name counts in: the ISO week's year for weeks.
int NamingYear(const QDate& start, PeriodKind kind)
{
    int weekYear = start.year();
    if (kind == PeriodKind::Week)
        start.weekNumber(&weekYear);
    return weekYear;
}

std::string PeriodName(const QDate& start, PeriodKind kind, bool withYear)
{
    const QString year = withYear ? QString::number(NamingYear(start, kind)) + QStringLiteral("年") : QString();
    switch (kind) {
    case PeriodKind::Day: return (year + start.toString(QStringLiteral("MM月dd日"))).toStdString();
    case PeriodKind::Week:
        return (year + QStringLiteral("第%1周").arg(start.weekNumber())).toStdString();
    case PeriodKind::Month: return start.toString(QStringLiteral("yyyy年MM月")).toStdString();
    }
    return {};
}

} // namespace

void ModeFigures::Add(std::size_t mode, std::uint64_t seconds, std::uint64_t calls)
{
    byMode[mode].calls += calls;
    byMode[mode].seconds += seconds;
    all.calls += calls;
    all.seconds += seconds;
}

void ModeFigures::Add(const ModeFigures& other)
{
    for (std::size_t mode = 0; mode < byMode.size(); ++mode) {
        byMode[mode].calls += other.byMode[mode].calls;
        byMode[mode].seconds += other.byMode[mode].seconds;
    }
    all.calls += other.all.calls;
    all.seconds += other.all.seconds;
}

namespace {

// The user types of the noted recordings counted by number, for the type most of them carry.
class UserTypeTally {
public:
    void Add(std::string_view record, std::string_view userType)
    {
        if (userType.empty() || record.size() != kHeaderSize)
            return;
        unsigned char bytes[kHeaderSize];
        std::memcpy(bytes, record.data(), kHeaderSize);
        ++typeCounts_[NumberKey(PhoneText(ParseRecordingHeader(bytes)))][std::string(userType)];
    }

    UserTypesByNumber Types() const
    {
        UserTypesByNumber types;
        for (const auto& [number, counts] : typeCounts_)
            types[number] = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                                return a.second < b.second;
                            })->first; // the first of the most: the smaller text on a tie
        return types;
    }

private:
    std::unordered_map<std::string, std::map<std::string, int>> typeCounts_;
};

} // namespace

UserTypesByNumber UserTypesOf(const std::vector<NotedRecording>& notes)
{
    UserTypeTally tally;
    for (const NotedRecording& noted : notes)
        tally.Add(noted.identity.record, noted.note.userType);
    return tally.Types();
}

UserTypesByNumber UserTypesOf(ArchiveIndex& index)
{
    UserTypeTally tally;
    const Result<void> read =
        index.VisitUserTypes([&](std::string_view record, std::string_view userType) { tally.Add(record, userType); });
    return read ? tally.Types() : UserTypesByNumber{};
}

void CallCounter::Add(const RecordingEntry& row)
{
    const std::size_t mode = ModeIndex(row.mode());
    const std::uint64_t seconds = DurationTextSeconds(row.texts[kColDuration]).value_or(0);
    statistics_.totals.Add(mode, seconds);
    NumberTally& number = numbers_[NumberKey(row.phone())];
    number.figures.Add(mode, seconds);
    const std::optional<CallStart> start = ParseStartTime(row.startTime());
    if (!start) {
        statistics_.invalidTimes.Add(mode, seconds);
        return;
    }
    statistics_.days[start->day.toJulianDay()].Add(mode, seconds);
    ++statistics_.callsByWeekdayHour[static_cast<std::size_t>(start->day.dayOfWeek() - 1)]
                                    [static_cast<std::size_t>(start->hour)];
    NoteCallTime(number, *start, row.startTime());
}

CallStatistics CallCounter::Finish(const UserTypesByNumber& userTypes)
{
    SetTopNumbers(statistics_, numbers_, userTypes);
    numbers_.clear();
    return std::exchange(statistics_, {});
}

CallStatistics CountCalls(const std::vector<RecordingEntry>& rows, const UserTypesByNumber& userTypes,
                          const std::atomic<bool>* stopRequested)
{
    constexpr std::size_t kRowsBetweenLooks = 4096;
    CallCounter counter;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (stopRequested && i % kRowsBetweenLooks == 0 && stopRequested->load())
            return {};
        counter.Add(rows[i]);
    }
    return counter.Finish(userTypes);
}

PeriodKind AutomaticPeriod(const CallStatistics& statistics)
{
    if (statistics.days.empty())
        return PeriodKind::Month;
    const std::int64_t span = statistics.days.rbegin()->first - statistics.days.begin()->first + 1;
    if (span <= 31)
        return PeriodKind::Day;
    return span <= 26 * 7 ? PeriodKind::Week : PeriodKind::Month;
}

std::vector<PeriodFigures> Periods(const CallStatistics& statistics, PeriodKind kind)
{
    std::vector<PeriodFigures> periods;
    if (!statistics.days.empty()) {
        const QDate first = PeriodStart(QDate::fromJulianDay(statistics.days.begin()->first), kind);
        const QDate last = QDate::fromJulianDay(statistics.days.rbegin()->first);
        const bool withYear = kind != PeriodKind::Month && NamingYear(first, kind) != NamingYear(PeriodStart(last, kind), kind);
        auto day = statistics.days.begin();
        for (QDate start = first; start <= last; start = NextPeriod(start, kind)) {
            PeriodFigures period{PeriodName(start, kind, withYear), {}};
            const std::int64_t end = NextPeriod(start, kind).toJulianDay();
            for (; day != statistics.days.end() && day->first < end; ++day)
                period.figures.Add(day->second);
            periods.push_back(std::move(period));
        }
    }
    if (statistics.invalidTimes.all.calls > 0)
        periods.push_back({std::string(kInvalidTimeText), statistics.invalidTimes});
    return periods;
}

namespace {

// The start-time text of a call that began at minutes (CallStart::minutes()).
std::string StartTimeOfMinutes(std::int64_t minutes)
{
    const QDate day = QDate::fromJulianDay(minutes / 1440);
    RecordingHeader header;
    header.year = static_cast<std::int8_t>(day.year() - 2000);
    header.month = static_cast<std::int8_t>(day.month());
    header.day = static_cast<std::int8_t>(day.day());
    header.hour = static_cast<std::int8_t>(minutes % 1440 / 60);
    header.minute = static_cast<std::int8_t>(minutes % 60);
    return StartTimeText(header);
}

// The tallies of the numbers the index found leading, from their groups by mode.
std::unordered_map<std::string, NumberTally> LeadingNumbers(const std::vector<NumberGroup>& groups)
{
    std::unordered_map<std::string, NumberTally> numbers;
    for (const NumberGroup& group : groups) {
        NumberTally& tally = numbers[NumberKey(group.phone)];
        tally.figures.Add(ModeIndex(ModeName(static_cast<char>(group.mode))), group.seconds, group.calls);
        if (group.firstMinute && (tally.firstCall.empty() || *group.firstMinute < tally.first)) {
            tally.first = *group.firstMinute;
            tally.firstCall = StartTimeOfMinutes(tally.first);
        }
        if (group.lastMinute && (tally.lastCall.empty() || *group.lastMinute > tally.last)) {
            tally.last = *group.lastMinute;
            tally.lastCall = StartTimeOfMinutes(tally.last);
        }
    }
    return numbers;
}

} // namespace

Result<CallStatistics> CountIndexedCalls(ArchiveIndex& index, const RowCriteria& criteria)
{
    const Result<CallGroups> groups = index.FindCallGroups(criteria, kTopNumberCount, std::string(kNoNumberText));
    if (!groups)
        return groups.error();
    CallStatistics statistics;
    for (const CallGroup& group : groups->byHour) {
        ModeFigures figures;
        figures.Add(ModeIndex(ModeName(static_cast<char>(group.mode))), group.seconds, group.calls);
        statistics.totals.Add(figures);
        if (!group.hour) {
            statistics.invalidTimes.Add(figures);
            continue;
        }
        const std::int64_t day = *group.hour / 24;
        statistics.days[day].Add(figures);
        statistics.callsByWeekdayHour[static_cast<std::size_t>(QDate::fromJulianDay(day).dayOfWeek() - 1)]
                                     [static_cast<std::size_t>(*group.hour % 24)] += group.calls;
    }
    const std::unordered_map<std::string, NumberTally> numbers = LeadingNumbers(groups->topNumbers);
    SetTopNumbers(statistics, numbers, UserTypesOf(index));
    return statistics;
}
