#pragma once

#include "index/index_settings.h"
#include "web/access_log.h"
#include "web/recording_ids.h"
#include "web/web_request.h"

#include <QList>
#include <QString>
#include <string>

// The archive as the web page shows it: the pages themselves, the search of every known folder or
// one, a call's details and note, its audio as 16-bit PCM WAV decoded on the fly by range, its
// download as WAV or MP3, note changes and the statistics of a search. Recordings are addressed by
// their id alone (RecordingId): the handlers look the id up among the index's known folders and
// never open a path the request names. Each server thread keeps its own index connection.
QList<WebRoute> ContentRoutes(AccessLog& log, const IndexLocation& index = ConfiguredIndexLocation());

// The most rows one page of search results holds.
inline constexpr int kMaximumPageRows = 500;
