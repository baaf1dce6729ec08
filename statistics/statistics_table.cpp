#include "statistics/statistics_table.h"

#include "platform/qt_text.h"

#include <charconv>
#include <utility>

namespace {

std::vector<std::string> FigureTexts(const CallFigures& figures)
{
    return {std::to_string(figures.calls), SecondsText(figures.seconds), SecondsText(figures.averageSeconds())};
}

std::vector<std::string> SheetRow(std::string_view part, const std::string& name, const ModeFigures& figures,
                                  const NumberFigures* number = nullptr)
{
    std::vector<std::string> row = {std::string(part), name};
    for (std::string& text : FigureTexts(figures.all))
        row.push_back(std::move(text));
    for (const CallFigures& mode : figures.byMode)
        row.push_back(std::to_string(mode.calls));
    static const NumberFigures kNoNumber;
    const NumberFigures& of = number ? *number : kNoNumber;
    row.insert(row.end(), {of.firstCall, of.lastCall, of.userType});
    return row;
}

} // namespace

TextTable TotalsTable(const CallStatistics& statistics)
{
    TextTable table{{"方式", "通话次数", "通话时长", "平均时长"}, {}, {}};
    auto addRow = [&](std::string_view name, const CallFigures& figures) {
        std::vector<std::string> row = {std::string(name)};
        for (std::string& text : FigureTexts(figures))
            row.push_back(std::move(text));
        table.rows.push_back(std::move(row));
    };
    addRow("全部", statistics.totals.all);
    for (std::size_t mode = 0; mode < kStatisticsModes.size(); ++mode)
        addRow(kStatisticsModes[mode], statistics.totals.byMode[mode]);
    return table;
}

TextTable NumbersTable(const std::vector<NumberFigures>& numbers)
{
    TextTable table{{"电话号码", "通话次数", "通话时长", "首次通话", "末次通话", "用户类型"}, {}, {}};
    for (const NumberFigures& number : numbers)
        table.rows.push_back({number.number, std::to_string(number.figures.all.calls),
                              SecondsText(number.figures.all.seconds), number.firstCall, number.lastCall,
                              number.userType});
    return table;
}

TextTable StatisticsSheet(const CallStatistics& statistics, PeriodKind kind)
{
    TextTable table{{"统计", "名称", "通话次数", "通话时长", "平均时长"}, {}, {}};
    table.titles.insert(table.titles.end(), kStatisticsModes.begin(), kStatisticsModes.end());
    table.titles.insert(table.titles.end(), {"首次通话", "末次通话", "用户类型"});
    using Kind = SheetFigure::Kind;
    table.figures = {std::nullopt, std::nullopt, Kind::Count, Kind::Seconds, Kind::Seconds};
    table.figures.insert(table.figures.end(), kStatisticsModes.size(), Kind::Count);
    table.figures.resize(table.titles.size());
    table.rows.push_back(SheetRow("合计", "全部", statistics.totals));
    for (std::size_t mode = 0; mode < kStatisticsModes.size(); ++mode) {
        ModeFigures only;
        only.byMode[mode] = only.all = statistics.totals.byMode[mode];
        table.rows.push_back(SheetRow("合计", std::string(kStatisticsModes[mode]), only));
    }
    const std::string byPeriod = "按" + std::string(kPeriodKindNames[static_cast<std::size_t>(kind)]);
    for (const PeriodFigures& period : Periods(statistics, kind))
        table.rows.push_back(SheetRow(byPeriod, period.name, period.figures));
    for (const NumberFigures& number : statistics.mostCalls)
        table.rows.push_back(SheetRow("通话次数前十", number.number, number.figures, &number));
    for (const NumberFigures& number : statistics.mostTalk)
        table.rows.push_back(SheetRow("通话时长前十", number.number, number.figures, &number));
    return table;
}

void TextTableModel::SetTable(TextTable table)
{
    beginResetModel();
    table_ = std::move(table);
    endResetModel();
}

int TextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int TextTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(table_.titles.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const std::size_t column = static_cast<std::size_t>(index.column());
    const std::string& text = table_.rows[static_cast<std::size_t>(index.row())][column];
    if (role == Qt::DisplayRole)
        return ToQString(text);
    if (role != kSheetFigureRole || column >= table_.figures.size() || !table_.figures[column])
        return {};
    const SheetFigure::Kind kind = *table_.figures[column];
    std::optional<std::uint64_t> value = DurationTextSeconds(text);
    if (kind == SheetFigure::Kind::Count) {
        std::uint64_t count = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
        value = error == std::errc() && end == text.data() + text.size() ? std::optional(count) : std::nullopt;
    }
    return value ? QVariant::fromValue(SheetFigure{kind, *value}) : QVariant();
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0
        || section >= static_cast<int>(table_.titles.size()))
        return {};
    return ToQString(table_.titles[static_cast<std::size_t>(section)]);
}
