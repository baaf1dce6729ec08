#pragma once

#include "catalogue/recording.h"
#include "index/index_settings.h"
#include "platform/result.h"
#include "web/index_pool.h"
#include "web/listenings.h"
#include "web/mp3_cache.h"
#include "web/search_cache.h"
#include "web/web_request.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

class AccessLog;
class ArchiveIndex;
struct ContentOptions;
struct RecordingNote;

// What the handlers of one set of content routes share: the access log, the pool of index
// connections each request takes one from for as long as it needs it, and what is kept between
// requests (searches, MP3 encodings, who is listening to what).
struct RouteContext {
    RouteContext(AccessLog& log, const IndexLocation& location, const ContentOptions& options);

    AccessLog& log;
    IndexPool index;
    SearchCache searches;
    Mp3Cache mp3;
    Listenings listenings;
};

using ContentHandler = WebResponse (*)(RouteContext& context, const WebRequest& request);

// Runs work with a connection of the pool and answers what it answers; 503 when no connection can
// be had now.
WebResponse WithIndex(RouteContext& context, const std::function<WebResponse(ArchiveIndex& index)>& work);
// The refusal of a failure of IndexPool::Use (503), or of a request (404 for what is not there, else 400).
WebResponse RequestRefusal(const Failure& failure);

QString Text(const std::string& utf8);
QJsonArray TextArray(const auto& texts)
{
    QJsonArray array;
    for (const auto& text : texts)
        array.append(Text(std::string(text)));
    return array;
}

// The known folder whose FolderKey is key.
std::optional<std::string> KnownFolderOfKey(ArchiveIndex& index, const QString& key);
// The folder's own name, the last part of its path: what the pages show of where a recording lies,
// never the serving desk's path.
QString FolderName(const std::string& folder);

// A row of the results or a call's details: its id, its column texts (the path column holding the
// folder's own name only) and its note.
QJsonObject RowJson(const std::string& folder, const RecordingEntry& row, const RecordingNote* note);
