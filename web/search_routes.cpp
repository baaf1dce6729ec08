#include "web/search_routes.h"

#include "catalogue/recording_model.h"
#include "index/archive_index.h"
#include "statistics/call_statistics.h"
#include "statistics/statistics_table.h"
#include "web/answers.h"
#include "web/content_routes.h"

#include <QStringList>
#include <algorithm>
#include <cerrno>

namespace {

constexpr int kDefaultPageRows = 100;

// The rows of a search over every known folder, or over the one whose key "folder" names.
Result<SearchResult> Search(ArchiveIndex& index, const Parameters& parameters)
{
    Result<SearchCriteria> criteria = CriteriaOf(parameters);
    if (!criteria)
        return criteria.error();
    const QString folderKey = ParameterValue(parameters, QStringLiteral("folder"));
    SearchResult result;
    if (folderKey.isEmpty()) {
        result = SearchKnownFolders(index, *criteria);
    } else {
        const std::optional<std::string> folder = KnownFolderOfKey(index, folderKey);
        if (!folder)
            return Failure{"找不到这个文件夹", ENOENT};
        result = SearchArchiveFolder(*folder, *criteria, {}, &index);
    }
    if (result.outcome == SearchOutcome::FromAfterTo)
        return Failure{std::string(kFromAfterToMessage)};
    if (result.outcome == SearchOutcome::FolderUnreadable)
        return Failure{"文件夹无法打开", ENOENT};
    return result;
}

std::string FolderOfRow(const RecordingEntry& row)
{
    return row.path().substr(0, row.path().size() - row.fileName().size());
}

// The rows' positions in the order "sort" (a column number) and "order" ("asc" or "desc") ask
// for, as a click on the column of the search window sorts them; the search's order without "sort".
Result<std::vector<int>> RowOrder(const std::vector<RecordingEntry>& rows, const Parameters& parameters)
{
    const QString column = ParameterValue(parameters, QStringLiteral("sort"));
    if (column.isEmpty()) {
        std::vector<int> order(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            order[i] = static_cast<int>(i);
        return order;
    }
    bool ok = false;
    const int sortColumn = column.toInt(&ok);
    if (!ok || sortColumn < 0 || sortColumn >= kColumnCount)
        return Failure{"排序列无效"};
    const bool descending = ParameterValue(parameters, QStringLiteral("order")) == QLatin1String("desc");
    // The number column sorts ascending with the flag set, every other column with it clear.
    const bool flag = (sortColumn == kColNumber) != descending;
    return SortedOrder(rows, SortState{sortColumn, flag});
}

// The search of the request's criteria in the order it asks for, made once for the requests
// of the next few seconds that ask for the same.
Result<SharedSearch> FindSearch(RouteContext& context, const Parameters& parameters)
{
    QStringList key;
    for (const char* name : {"folder", "from", "to", "mode", "phone", "description", "userType", "sort", "order"})
        key << ParameterValue(parameters, QString::fromLatin1(name));
    return context.searches.Find(key.join(QLatin1Char('\n')), [&]() -> Result<SharedSearch> {
        Result<SearchResult> result = Failure{};
        const Result<void> used = context.index.Use([&](ArchiveIndex& index) { result = Search(index, parameters); });
        if (!used)
            return used.error();
        if (!result)
            return result.error();
        Result<std::vector<int>> order = RowOrder(result->rows, parameters);
        if (!order)
            return order.error();
        return std::make_shared<const SortedSearch>(SortedSearch{std::move(*result), std::move(*order)});
    });
}

QJsonObject TableJson(const TextTable& table)
{
    QJsonArray rows;
    for (const std::vector<std::string>& row : table.rows)
        rows.append(TextArray(row));
    return {{QStringLiteral("titles"), TextArray(table.titles)}, {QStringLiteral("rows"), rows}};
}

} // namespace

std::optional<int> Count(const Parameters& parameters, const QString& name, int fallback)
{
    const QString text = ParameterValue(parameters, name);
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value > 0 ? std::optional<int>(value) : std::nullopt;
}

Result<SearchCriteria> CriteriaOf(const Parameters& parameters)
{
    SearchCriteria criteria;
    const auto day = [&](const QString& name, QDate fallback) -> std::optional<QDate> {
        const QString text = ParameterValue(parameters, name);
        if (text.isEmpty())
            return fallback;
        const QDate date = QDate::fromString(text, Qt::ISODate);
        return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
    };
    const std::optional<QDate> first = day(QStringLiteral("from"), QDate(2000, 1, 1));
    const std::optional<QDate> last = day(QStringLiteral("to"), QDate(2099, 12, 31));
    if (!first || !last)
        return Failure{"日期无效"};
    criteria.firstDay = *first;
    criteria.lastDay = *last;
    const std::string mode = ParameterValue(parameters, QStringLiteral("mode")).toStdString();
    if (!mode.empty()) {
        if (std::find(std::begin(kModeFilterItems), std::end(kModeFilterItems), mode) == std::end(kModeFilterItems))
            return Failure{"语音类型无效"};
        criteria.mode = mode;
    }
    criteria.phone = ParameterValue(parameters, QStringLiteral("phone")).toStdString();
    criteria.description = ParameterValue(parameters, QStringLiteral("description")).toStdString();
    criteria.userType = ParameterValue(parameters, QStringLiteral("userType")).toStdString();
    return criteria;
}

WebResponse HandleSearch(RouteContext& context, const WebRequest& request)
{
    const std::optional<int> page = Count(request.query, QStringLiteral("page"), 1);
    const std::optional<int> pageRows = Count(request.query, QStringLiteral("pageSize"), kDefaultPageRows);
    if (!page || !pageRows || *pageRows > kMaximumPageRows)
        return ErrorAnswer(400, QStringLiteral("页码无效"));
    const Result<SharedSearch> search = FindSearch(context, request.query);
    if (!search)
        return RequestRefusal(search.error());
    const auto& [result, order] = **search;
    QJsonArray rows;
    const qint64 first = qint64(*page - 1) * *pageRows;
    const qint64 end = std::min<qint64>(qint64(order.size()), first + *pageRows);
    for (qint64 i = first; i < end; ++i) {
        const RecordingEntry& row = result.rows[order[i]];
        const auto note = result.notes.find(row.path());
        rows.append(RowJson(FolderOfRow(row), row, note == result.notes.end() ? nullptr : &note->second));
    }
    return JsonAnswer(200, {{QStringLiteral("total"), qint64(result.rows.size())},
                            {QStringLiteral("page"), *page},
                            {QStringLiteral("pageSize"), *pageRows},
                            {QStringLiteral("rows"), rows}});
}

// What the search form offers: the column titles, the mode filter's items, the known folders and
// the user types of the notes.
WebResponse HandleSearchForm(RouteContext& context, const WebRequest&)
{
    return WithIndex(context, [](ArchiveIndex& index) {
        QJsonArray folders;
        for (const std::string& folder : index.KnownFolders())
            folders.append(
                QJsonObject{{QStringLiteral("key"), FolderKey(folder)}, {QStringLiteral("path"), FolderName(folder)}});
        return JsonAnswer(200, {{QStringLiteral("columns"), TextArray(RecordingColumnTitles())},
                                {QStringLiteral("modes"), TextArray(kModeFilterItems)},
                                {QStringLiteral("folders"), folders},
                                {QStringLiteral("userTypes"), TextArray(index.UserTypes())}});
    });
}

// The figures of the search's rows as the statistics window's tables: the totals, the periods
// of the automatic kind (the sheet's rows of that part, without their part) and the top numbers.
WebResponse HandleStatistics(RouteContext& context, const WebRequest& request)
{
    Parameters inSearchOrder = request.query;
    inSearchOrder.removeIf([](const auto& parameter) { return parameter.first == QLatin1String("sort"); });
    const Result<SharedSearch> search = FindSearch(context, inSearchOrder);
    if (!search)
        return RequestRefusal(search.error());
    Result<std::vector<NotedRecording>> notes = Failure{};
    if (const Result<void> used = context.index.Use([&](ArchiveIndex& index) { notes = index.AllNotes(); }); !used)
        return RequestRefusal(used.error());
    const CallStatistics statistics =
        CountCalls((*search)->result.rows, notes ? UserTypesOf(*notes) : UserTypesByNumber{});
    const PeriodKind kind = AutomaticPeriod(statistics);
    const std::string periodPart = "按" + std::string(kPeriodKindNames[std::size_t(kind)]);
    TextTable periods = StatisticsSheet(statistics, kind);
    std::erase_if(periods.rows, [&](const std::vector<std::string>& row) { return row.front() != periodPart; });
    for (std::vector<std::string>& row : periods.rows)
        row.erase(row.begin());
    periods.titles.erase(periods.titles.begin());
    return JsonAnswer(200, {{QStringLiteral("periodPart"), Text(periodPart)},
                            {QStringLiteral("totals"), TableJson(TotalsTable(statistics))},
                            {QStringLiteral("periods"), TableJson(periods)},
                            {QStringLiteral("mostCalls"), TableJson(NumbersTable(statistics.mostCalls))},
                            {QStringLiteral("mostTalk"), TableJson(NumbersTable(statistics.mostTalk))}});
}
