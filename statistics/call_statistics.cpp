#include "statistics/call_statistics.h"

#include "index/archive_index.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kOtherMode = kStatisticsModes.size() - 1;

std::size_t ModeIndex(std::string_view modeName)
{
    const auto found = std::find(kStatisticsModes.begin(), kStatisticsModes.end(), modeName);
    return found == kStatisticsModes.end() ? kOtherMode : static_cast<std::size_t>(found - kStatisticsModes.begin());
}

// Reads the two or three digits before unit ("%02d" of a byte) and moves past the unit.
std::optional<int> ReadField(std::string_view& text, std::string_view unit)
{
    const std::size_t at = text.find(unit);
    if (at < 2 || at > 3) // also when the unit is missing (npos)
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + at, value);
    if (error != std::errc() || end != text.data() + at || text.front() == '-')
        return std::nullopt;
    text.remove_prefix(at + unit.size());
    return value;
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

void ModeFigures::Add(std::size_t mode, std::uint64_t seconds)
{
    ++byMode[mode].calls;
    byMode[mode].seconds += seconds;
    ++all.calls;
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

std::optional<CallStart> ParseStartTime(std::string_view text)
{
    if (!text.starts_with("20"))
        return std::nullopt;
    text.remove_prefix(2);
    std::array<int, 5> fields{};
    constexpr std::array<std::string_view, 5> kUnits = {"年", "月", "日", "时", "分"};
    for (std::size_t i = 0; i < kUnits.size(); ++i) {
        const std::optional<int> value = ReadField(text, kUnits[i]);
        if (!value)
            return std::nullopt;
        fields[i] = *value;
    }
    const QDate day(2000 + fields[0], fields[1], fields[2]);
    if (!text.empty() || !day.isValid() || fields[3] > 23 || fields[4] > 59)
        return std::nullopt;
    return CallStart{day, fields[3], fields[4]};
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
    statistics_.mostCalls =
        TopNumbers(numbers_, userTypes, [](const CallFigures& f) { return std::pair(f.calls, f.seconds); });
    statistics_.mostTalk =
        TopNumbers(numbers_, userTypes, [](const CallFigures& f) { return std::pair(f.seconds, f.calls); });
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
