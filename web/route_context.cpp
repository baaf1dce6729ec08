#include "web/route_context.h"

#include "index/archive_index.h"
#include "web/answers.h"
#include "web/content_routes.h"

RouteContext::RouteContext(AccessLog& log, const IndexLocation& location, const ContentOptions& options)
    : log(log),
      index(location, options.indexConnections, options.indexWait),
      mp3(options.mp3CacheParent, options.mp3CacheBytes, options.mostEncodings)
{
}

WebResponse WithIndex(RouteContext& context, const std::function<WebResponse(ArchiveIndex& index)>& work)
{
    WebResponse response;
    const Result<void> used = context.index.Use([&](ArchiveIndex& index) { response = work(index); });
    return used ? response : RequestRefusal(used.error());
}

WebResponse RequestRefusal(const Failure& failure)
{
    if (IndexMomentarilyUnusable(failure)) {
        WebResponse refusal = ErrorAnswer(503, QStringLiteral("索引暂时无法使用"));
        refusal.headers.append(QPair<QByteArray, QByteArray>("Retry-After", "5"));
        return refusal;
    }
    return ErrorAnswer(failure.error == ENOENT ? 404 : 400, Text(failure.reason));
}

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

std::optional<std::string> KnownFolderOfKey(ArchiveIndex& index, const QString& key)
{
    for (const std::string& folder : index.KnownFolders())
        if (FolderKey(folder) == key)
            return folder;
    return std::nullopt;
}

QString FolderName(const std::string& folder)
{
    const std::string bare = folder.substr(0, folder.find_last_not_of('/') + 1);
    return Text(bare.substr(bare.find_last_of('/') + 1));
}

QJsonObject RowJson(const std::string& folder, const RecordingEntry& row, const RecordingNote* note)
{
    QJsonArray texts;
    for (int column = 0; column < kColumnCount; ++column)
        texts.append(column == kColPath ? FolderName(folder) : Text(row.texts[std::size_t(column)]));
    return {{QStringLiteral("id"), RecordingId(folder, row.fileName())},
            {QStringLiteral("texts"), texts},
            {QStringLiteral("description"), note ? Text(note->description) : QString()},
            {QStringLiteral("userType"), note ? Text(note->userType) : QString()}};
}
