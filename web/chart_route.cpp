#include "web/chart_route.h"

#include "index/archive_index.h"
#include "statistics/chart_picture.h"
#include "web/answers.h"
#include "web/search_routes.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

// voctool beside the running program (both are installed into one folder), else on the PATH.
QString VoctoolProgram()
{
    const QString beside =
        QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2)
        + QStringLiteral("/voctool");
    return QFileInfo(beside).isExecutable() ? beside : QStandardPaths::findExecutable(QStringLiteral("voctool"));
}

// The words of `voctool stats` for the search of the request and the picture at png. Every value
// is joined to its option ("--phone=TEXT") and the folder comes after "--": no text of the
// request can be read as an option. The picture is as wide as "width" asks (in pixels, brought
// within what can be drawn), the window's picture without it.
Result<QStringList> ChartArguments(ArchiveIndex& index, const Parameters& parameters, const QString& png)
{
    const Result<SearchCriteria> criteria = CriteriaOf(parameters);
    if (!criteria)
        return criteria.error();
    const std::optional<int> width = Count(parameters, QStringLiteral("width"), kChartPictureWidest);
    if (!width)
        return Failure{"宽度无效"};
    QStringList words{
        QStringLiteral("stats"), QStringLiteral("--from=") + criteria->firstDay.toString(Qt::ISODate),
        QStringLiteral("--to=") + criteria->lastDay.toString(Qt::ISODate), QStringLiteral("--png=") + png,
        QStringLiteral("--width=%1").arg(std::clamp(*width, kChartPictureNarrowest, kChartPictureWidest))};
    const std::pair<const char*, const std::string*> optional[] = {{"--mode=", &criteria->mode},
                                                                   {"--phone=", &criteria->phone},
                                                                   {"--desc=", &criteria->description},
                                                                   {"--user-type=", &criteria->userType}};
    for (const auto& [option, value] : optional)
        if (!value->empty())
            words << QString::fromLatin1(option) + Text(*value);
    const QString key = ParameterValue(parameters, QStringLiteral("folder"));
    if (key.isEmpty())
        return words << QStringLiteral("--all");
    const std::optional<std::string> folder = KnownFolderOfKey(index, key);
    if (!folder)
        return Failure{"找不到这个文件夹", ENOENT};
    return words << QStringLiteral("--") << Text(*folder);
}

} // namespace

// The chart picture of the statistics of the search, as "通话统计" draws it: drawing needs Qt
// Widgets and Qt Charts and an application object of their own, so voctool draws it in a process
// of its own (as its stats --png does), a few at a time.
WebResponse HandleChart(RouteContext& context, const WebRequest& request)
{
    constexpr int kMostDrawings = 2;
    constexpr int kDrawingMilliseconds = 60000;
    static std::atomic<int> drawing{0};
    const QTemporaryDir folder;
    const QString png = folder.filePath(QStringLiteral("chart.png"));
    Result<QStringList> arguments = Failure{};
    if (const Result<void> used =
            context.index.Use([&](ArchiveIndex& index) { arguments = ChartArguments(index, request.query, png); });
        !used)
        return RequestRefusal(used.error());
    if (!arguments)
        return RequestRefusal(arguments.error());
    const QString voctool = VoctoolProgram();
    if (voctool.isEmpty() || !folder.isValid())
        return ErrorAnswer(503, QStringLiteral("图表暂时无法绘制"));
    if (drawing.fetch_add(1) >= kMostDrawings) {
        drawing.fetch_sub(1);
        return ErrorAnswer(503, QStringLiteral("正在绘制其他图表，请稍后再试"));
    }
    QProcess process;
    process.setWorkingDirectory(folder.path()); // whatever it writes stays in the temporary folder
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(voctool, *arguments);
    const bool finished = process.waitForFinished(kDrawingMilliseconds);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    drawing.fetch_sub(1);
    QFile picture(png);
    if (!finished || process.exitCode() != 0 || !picture.open(QIODevice::ReadOnly))
        return ErrorAnswer(500, QStringLiteral("图表无法绘制"));
    WebResponse response;
    response.contentType = "image/png";
    response.body = picture.readAll();
    return response;
}
