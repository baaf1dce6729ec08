#pragma once

#include "index/archive_index.h"
#include "platform/worker_thread.h"
#include "search/archive_search.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Lists and searches archive folders on a thread of its own, one run at a time. Each run has a
// number; starting a run ends the one going on at its next file, and every report names its
// run, so that the window drops what an ended run still sent. With an index location the
// thread keeps a connection of its own to the index (a database connection belongs to the
// thread that opened it).
class FolderSearchWorker : public QObject {
    Q_OBJECT

public:
    explicit FolderSearchWorker(std::optional<IndexLocation> index, QObject* parent = nullptr);
    // Ends the run going on and the thread.
    ~FolderSearchWorker() override;

    // Lists folder (ending with "/"), with its subfolders when scope says so: its rows sorted by
    // start time and numbered, sent at the end.
    unsigned List(const std::string& folder, FolderScope scope = FolderScope::FolderOnly);
    // Searches folder with criteria: the rows come in batches as they are found (the window
    // numbers them), and the panel's text about ten times a second.
    unsigned Search(const std::string& folder, const SearchCriteria& criteria);
    // The runs queued from now on use the index at location, opened by its owner.
    void UseIndex(const IndexLocation& location);
    // Ends the run going on; it reports nothing more that the window keeps.
    void Stop() { ++latestRun_; }
    bool IsLatest(unsigned run) const { return run == latestRun_.load(); }

signals:
    // Shared, so that the rows reach the window's thread without a copy there.
    void rowsFound(unsigned run, std::shared_ptr<FoundRows> rows);
    void progress(unsigned run, const QString& panelText);
    // outcome: how the folder went (unreadable, or the days in the wrong order).
    void ended(unsigned run, SearchOutcome outcome);

private:
    unsigned NextRun();
    void RunList(unsigned run, const std::string& folder, FolderScope scope);
    void RunSearch(unsigned run, const std::string& folder, const SearchCriteria& criteria);
    ArchiveIndex* Index();

    WorkerThread thread_;                        // runs the lists and searches, one after another
    std::optional<IndexLocation> indexLocation_; // thread_ only, once it runs
    std::unique_ptr<ArchiveIndex> index_;        // opened, used and closed on thread_
    bool indexTried_ = false;                    // touched on thread_ only
    std::atomic<unsigned> latestRun_{0};
};
