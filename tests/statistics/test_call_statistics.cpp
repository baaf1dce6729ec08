#include "statistics/call_statistics.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

RecordingEntry Row(const std::string& phone, const std::string& mode, const std::string& start,
                   const std::string& duration)
{
    RecordingEntry row;
    row.texts[kColPhone] = phone;
    row.texts[kColMode] = mode;
    row.texts[kColStartTime] = start;
    row.texts[kColDuration] = duration;
    return row;
}

// A note on a recording of phone: the identity's header record holds the number.
NotedRecording Note(const std::string& phone, const std::string& userType)
{
    std::string record(kHeaderSize, '\0');
    record[0] = 'B';
    record.replace(1, phone.size(), phone);
    return {{"VOC00001.WAV", 4000, record}, {"", userType}};
}

// Calls from Monday 25 December 2023 to Monday 8 January 2024: ISO weeks 2023-52, 2024-1 and
// 2024-2; one row without a number, one with an impossible start time.
std::vector<RecordingEntry> YearEndRows()
{
    return {
        Row("13800001111", "被叫", "2023年12月31日09时05分", "1分钟30秒"),    // Sunday, 90 s
        Row("13800001111", "主叫", "2024年01月01日10时00分", "2分钟0秒"),     // Monday, 120 s
        Row("13800001111", "留言", "2024年01月01日10时30分", "20秒"),         // Monday
        Row("02088889999", "被叫", "2024年01月02日23时59分", "1小时0分钟0秒"), // Tuesday, 3600 s
        Row("", "现场", "2024年01月08日08时00分", "5分钟0秒"),                // Monday, 300 s
        Row("02088889999", "其他", "2024年13月45日25时61分", "10秒"),
        Row("13912345678", "被叫", "2023年12月25日12时00分", "30秒"),         // Monday
    };
}

std::vector<std::string> Numbers(const std::vector<NumberFigures>& top)
{
    std::vector<std::string> numbers;
    for (const NumberFigures& number : top)
        numbers.push_back(number.number);
    return numbers;
}

} // namespace

TEST(CallStatistics, CountsTotalsModesNumbersAndHoursOfTheRows)
{
    const UserTypesByNumber types = UserTypesOf({Note("13800001111", "客户"), Note("13800001111", "供应商"),
                                                 Note("13800001111", "客户"), Note("02088889999", "快递"),
                                                 Note("", "同事"), Note("13912345678", "")});
    const CallStatistics s = CountCalls(YearEndRows(), types);

    EXPECT_EQ(s.totals.all, (CallFigures{7, 90 + 120 + 20 + 3600 + 300 + 10 + 30}));
    EXPECT_EQ(s.totals.all.averageSeconds(), 4170u / 7);
    EXPECT_EQ(s.totals.byMode[0], (CallFigures{1, 20}));          // 留言
    EXPECT_EQ(s.totals.byMode[1], (CallFigures{3, 90 + 3600 + 30})); // 被叫
    EXPECT_EQ(s.totals.byMode[2], (CallFigures{1, 120}));         // 主叫
    EXPECT_EQ(s.totals.byMode[3], (CallFigures{1, 300}));         // 现场
    EXPECT_EQ(s.totals.byMode[4], (CallFigures{1, 10}));          // 其他

    // Most calls: 3, 2, then the two numbers with one call by talk time.
    EXPECT_EQ(Numbers(s.mostCalls), (std::vector<std::string>{"13800001111", "02088889999", "（无号码）", "13912345678"}));
    EXPECT_EQ(Numbers(s.mostTalk), (std::vector<std::string>{"02088889999", "（无号码）", "13800001111", "13912345678"}));
    const NumberFigures& regular = s.mostCalls[0];
    EXPECT_EQ(regular.figures.all, (CallFigures{3, 230}));
    EXPECT_EQ(regular.firstCall, "2023年12月31日09时05分");
    EXPECT_EQ(regular.lastCall, "2024年01月01日10时30分");
    EXPECT_EQ(regular.userType, "客户"); // two notes of three
    const NumberFigures& courier = s.mostCalls[1];
    EXPECT_EQ(courier.figures.all, (CallFigures{2, 3610}));
    EXPECT_EQ(courier.firstCall, "2024年01月02日23时59分"); // the row without a valid time has none
    EXPECT_EQ(courier.lastCall, "2024年01月02日23时59分");
    EXPECT_EQ(courier.userType, "快递");
    EXPECT_EQ(s.mostCalls[2].userType, "同事");
    EXPECT_EQ(s.mostCalls[3].userType, ""); // its only note has no user type

    // Weekday (Monday 0) by hour; the row with an impossible time has no cell.
    EXPECT_EQ(s.callsByWeekdayHour[6][9], 1u);
    EXPECT_EQ(s.callsByWeekdayHour[0][10], 2u);
    EXPECT_EQ(s.callsByWeekdayHour[1][23], 1u);
    EXPECT_EQ(s.callsByWeekdayHour[0][8], 1u);
    EXPECT_EQ(s.callsByWeekdayHour[0][12], 1u);
    std::uint64_t cells = 0;
    for (const auto& day : s.callsByWeekdayHour)
        cells = std::accumulate(day.begin(), day.end(), cells);
    EXPECT_EQ(cells, 6u);

    // More than ten numbers: the ten with the most, no more.
    std::vector<RecordingEntry> many;
    for (int i = 0; i < 12; ++i)
        many.push_back(Row("1390000" + std::to_string(1000 + i), "主叫", "2024年01月01日10时00分", std::to_string(i) + "秒"));
    EXPECT_EQ(CountCalls(many).mostTalk.size(), kTopNumberCount);
    EXPECT_EQ(CountCalls(many).mostTalk.front().number, "13900001011");
}

// Equal calls are ordered by talk time and equal talk time by calls, the larger first; numbers
// equal in both stand in number order, whatever order their rows came in.
TEST(CallStatistics, TopNumbersBreakTiesByTheOtherFigureThenByNumber)
{
    std::vector<RecordingEntry> rows;
    for (const char* phone : {"13900000005", "13900000004", "13900000003", "13900000002", "13900000001"})
        rows.push_back(Row(phone, "主叫", "2024年01月01日10时00分", "30秒"));
    rows.push_back(Row("13900000004", "主叫", "2024年01月01日11时00分", "30秒"));     // 2 calls, 60 s
    rows.push_back(Row("13900000006", "主叫", "2024年01月01日11时00分", "1分钟0秒")); // 1 call, 60 s
    const CallStatistics s = CountCalls(rows);
    EXPECT_EQ(Numbers(s.mostCalls), (std::vector<std::string>{"13900000004", "13900000006", "13900000001",
                                                              "13900000002", "13900000003", "13900000005"}));
    EXPECT_EQ(Numbers(s.mostTalk), (std::vector<std::string>{"13900000004", "13900000006", "13900000001", "13900000002",
                                                             "13900000003", "13900000005"}));
}

TEST(CallStatistics, PeriodsRunFromTheFirstCallToTheLastAcrossTheYearEnd)
{
    const CallStatistics s = CountCalls(YearEndRows());
    const auto names = [](const std::vector<PeriodFigures>& periods) {
        std::vector<std::string> texts;
        for (const PeriodFigures& period : periods)
            texts.push_back(period.name + "=" + std::to_string(period.figures.all.calls));
        return texts;
    };
    EXPECT_EQ(names(Periods(s, PeriodKind::Week)),
              (std::vector<std::string>{"2023年第52周=2", "2024年第1周=3", "2024年第2周=1", "（时间无效）=1"}));
    EXPECT_EQ(names(Periods(s, PeriodKind::Month)),
              (std::vector<std::string>{"2023年12月=2", "2024年01月=4", "（时间无效）=1"}));
    const std::vector<PeriodFigures> days = Periods(s, PeriodKind::Day);
    ASSERT_EQ(days.size(), 15u + 1); // every day, those without calls too
    EXPECT_EQ(names({days[0], days[1], days[6], days[7], days[14], days[15]}),
              (std::vector<std::string>{"2023年12月25日=1", "2023年12月26日=0", "2023年12月31日=1", "2024年01月01日=2",
                                        "2024年01月08日=1", "（时间无效）=1"}));
    EXPECT_EQ(days[7].figures.byMode[0].calls, 1u); // 留言
    EXPECT_EQ(days[7].figures.byMode[2].calls, 1u); // 主叫
    EXPECT_EQ(days[7].figures.all.seconds, 140u);

    // Monday 30 December 2024 lies in week 1 of 2025; periods of one year go without it.
    const CallStatistics turn = CountCalls({Row("1", "主叫", "2024年12月29日10时00分", "1秒"),
                                            Row("1", "主叫", "2024年12月30日10时00分", "1秒"),
                                            Row("1", "主叫", "2025年01月05日10时00分", "1秒")});
    EXPECT_EQ(names(Periods(turn, PeriodKind::Week)), (std::vector<std::string>{"2024年第52周=1", "2025年第1周=2"}));
    const CallStatistics january = CountCalls({Row("1", "主叫", "2024年01月02日10时00分", "1秒"),
                                               Row("1", "主叫", "2024年01月03日10时00分", "1秒")});
    EXPECT_EQ(names(Periods(january, PeriodKind::Day)), (std::vector<std::string>{"01月02日=1", "01月03日=1"}));
    EXPECT_EQ(names(Periods(january, PeriodKind::Week)), (std::vector<std::string>{"第1周=2"}));
}

TEST(CallStatistics, RowsWithoutAValidStartTimeCountUnderTimeInvalid)
{
    EXPECT_TRUE(ParseStartTime("2024年02月29日23时59分"));
    EXPECT_EQ(ParseStartTime("20100年01月01日00时00分")->day, QDate(2100, 1, 1)); // a year byte of 100
    const std::vector<std::string> invalid = {
        "2023年02月29日10时00分", "2024年02月30日10时00分", "2024年00月10日10时00分", "2024年01月10日24时00分",
        "2024年01月10日10时60分", "20-1年01月10日10时00分", "2024年1月10日10时00分", "2024年01月10日10时00", ""};
    std::vector<RecordingEntry> rows = {Row("1", "主叫", "2024年02月29日23时59分", "1秒")};
    for (const std::string& text : invalid) {
        EXPECT_FALSE(ParseStartTime(text)) << text;
        rows.push_back(Row("1", "主叫", text, "2秒"));
    }
    rows.push_back(Row("1", "主叫", "2024年03月01日00时00分", "无时长")); // counted, as 0 seconds
    const CallStatistics s = CountCalls(rows);
    EXPECT_EQ(s.totals.all, (CallFigures{invalid.size() + 2, 1 + 2 * invalid.size()}));
    EXPECT_EQ(s.invalidTimes.all, (CallFigures{invalid.size(), 2 * invalid.size()}));
    EXPECT_EQ(Periods(s, PeriodKind::Month).back().name, "（时间无效）");
    EXPECT_EQ(s.mostCalls[0].firstCall, "2024年02月29日23时59分");
    EXPECT_EQ(s.mostCalls[0].lastCall, "2024年03月01日00时00分");
    EXPECT_EQ(AutomaticPeriod(CountCalls({Row("1", "主叫", "2024年13月01日00时00分", "1秒")})), PeriodKind::Month);
}

TEST(CallStatistics, PeriodIsChosenFromTheSpanOfTheCalls)
{
    const auto span = [](const std::string& first, const std::string& last) {
        return AutomaticPeriod(CountCalls({Row("1", "主叫", first, "1秒"), Row("1", "主叫", last, "1秒")}));
    };
    EXPECT_EQ(span("2024年01月01日00时00分", "2024年01月31日23时59分"), PeriodKind::Day);   // 31 days
    EXPECT_EQ(span("2024年01月01日00时00分", "2024年02月01日00时00分"), PeriodKind::Week);  // 32 days
    EXPECT_EQ(span("2024年01月01日00时00分", "2024年06月30日00时00分"), PeriodKind::Week);  // 182 days
    EXPECT_EQ(span("2024年01月01日00时00分", "2024年07月01日00时00分"), PeriodKind::Month); // 183 days
}
