#include "web/content_routes.h"

#include "web/answers.h"
#include "web/call_routes.h"
#include "web/chart_route.h"
#include "web/route_context.h"
#include "web/search_routes.h"

#include <QFile>
#include <QRegularExpression>
#include <memory>

namespace {

WebResponse NoSuchPage()
{
    return ErrorAnswer(404, QStringLiteral("找不到这个页面"));
}

// The pages and their styles and scripts, from the program's resources.
WebResponse Resource(const QString& name)
{
    QFile file(QStringLiteral(":/web/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return NoSuchPage();
    QByteArray type = "text/javascript; charset=utf-8";
    if (name.endsWith(QLatin1String(".html")))
        type = "text/html; charset=utf-8";
    else if (name.endsWith(QLatin1String(".css")))
        type = "text/css; charset=utf-8";
    else if (name.endsWith(QLatin1String(".svg")))
        type = "image/svg+xml";
    return BodyAnswer(200, type, file.readAll());
}

WebResponse HandleStatic(const WebRequest& request)
{
    static const QRegularExpression plainName(QStringLiteral("^/static/[a-z0-9_-]+\\.(css|js|svg)$"));
    if (!plainName.match(request.path).hasMatch())
        return NoSuchPage();
    return Resource(request.path.mid(1));
}

} // namespace

QList<WebRoute> ContentRoutes(AccessLog& log, const IndexLocation& index, const ContentOptions& options)
{
    auto context = std::make_shared<RouteContext>(log, index, options);
    const auto route = [&](const QByteArray& method, const QString& path, WebRole role, bool changes,
                           ContentHandler handler) {
        return WebRoute{method, path, role, changes,
                        [context, handler](const WebRequest& request) { return handler(*context, request); }};
    };
    const auto page = [](const QString& path, const QString& resource) {
        return WebRoute{"GET", path, WebRole::Listen, false,
                        [resource](const WebRequest&) { return Resource(resource); }};
    };
    return {page(QStringLiteral("/call"), QStringLiteral("call.html")),
            page(QStringLiteral("/statistics"), QStringLiteral("statistics.html")),
            WebRoute{"GET", QStringLiteral("/static/"), WebRole::Listen, false, HandleStatic},
            route("GET", QStringLiteral("/api/search-form"), WebRole::Listen, false, HandleSearchForm),
            route("GET", QStringLiteral("/api/search"), WebRole::Listen, false, HandleSearch),
            route("GET", QStringLiteral("/api/statistics"), WebRole::Listen, false, HandleStatistics),
            route("GET", QStringLiteral("/api/statistics/chart"), WebRole::Listen, false, HandleChart),
            route("GET", QStringLiteral("/api/call"), WebRole::Listen, false, HandleCall),
            route("GET", QStringLiteral("/api/outline"), WebRole::Listen, false, HandleOutline),
            route("GET", QStringLiteral("/api/audio"), WebRole::Listen, false, HandleAudio),
            route("GET", QStringLiteral("/api/download"), WebRole::Listen, false, HandleDownload),
            route("POST", QStringLiteral("/api/note"), WebRole::Note, true, HandleNoteChange),
            // A path of "/" is a prefix of every path: last, and the search page for "/" alone.
            WebRoute{"GET", QStringLiteral("/"), WebRole::Listen, false, [](const WebRequest& request) {
                         return request.path == QLatin1String("/") ? Resource(QStringLiteral("search.html"))
                                                                   : NoSuchPage();
                     }}};
}
