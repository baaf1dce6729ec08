#pragma once

#include "index/index_settings.h"
#include "web/access_log.h"
#include "web/recording_ids.h"
#include "web/web_request.h"
#include "web/web_settings.h"

#include <QDir>
#include <QList>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

struct ContentOptions {
    int indexConnections = kDefaultIndexConnections;
    // How long a request waits for a free index connection before it is refused (503).
    std::chrono::milliseconds indexWait{10000};
    // Where the MP3 encodings are kept (a private folder made inside), and how much of them.
    QString mp3CacheParent = QDir::tempPath();
    std::int64_t mp3CacheBytes = std::int64_t(512) << 20;
    int mostEncodings = int(std::max(1u, std::thread::hardware_concurrency()));
};

// The archive as the web page shows it: the pages themselves, the search of every known folder or
// one, a call's details and note, its audio as 16-bit PCM WAV decoded on the fly by range, its
// download as WAV or MP3, note changes and the statistics of a search. Recordings are addressed by
// their id alone (RecordingId): the handlers look the id up among the index's known folders and
// never open a path the request names. The routes share a fixed pool of index connections; the
// index must have been opened by its owner (ArchiveIndex::Open) before.
QList<WebRoute> ContentRoutes(AccessLog& log, const IndexLocation& index = ConfiguredIndexLocation(),
                              const ContentOptions& options = {});

// The most rows one page of search results holds.
inline constexpr int kMaximumPageRows = 500;
