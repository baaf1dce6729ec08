#include "search/folder_search_worker.h"

#include "platform/qt_text.h"
#include "platform/report_interval.h"

#include <utility>

FolderSearchWorker::FolderSearchWorker(std::optional<IndexLocation> index, QObject* parent)
    : QObject(parent), thread_(QStringLiteral("folder search")), indexLocation_(std::move(index))
{
}

FolderSearchWorker::~FolderSearchWorker()
{
    Stop();
    thread_.End([this] { index_.reset(); });
}

unsigned FolderSearchWorker::NextRun()
{
    return ++latestRun_;
}

unsigned FolderSearchWorker::List(const std::string& folder, FolderScope scope)
{
    const unsigned run = NextRun();
    thread_.Post([this, run, folder, scope] { RunList(run, folder, scope); });
    return run;
}

unsigned FolderSearchWorker::Search(const std::string& folder, const SearchCriteria& criteria)
{
    const unsigned run = NextRun();
    thread_.Post([this, run, folder, criteria] { RunSearch(run, folder, criteria); });
    return run;
}

void FolderSearchWorker::UseIndex(const IndexLocation& location)
{
    thread_.Post([this, location] {
        indexLocation_ = location;
        indexTried_ = false;
        index_.reset();
    });
}

// The connection is made on first use, on this thread; without one the folders are read from
// their files alone.
ArchiveIndex* FolderSearchWorker::Index()
{
    if (!indexTried_ && indexLocation_) {
        indexTried_ = true;
        if (Result<std::unique_ptr<ArchiveIndex>> connected = ArchiveIndex::Connect(*indexLocation_))
            index_ = std::move(*connected);
    }
    return index_.get();
}

void FolderSearchWorker::RunList(unsigned run, const std::string& folder, FolderScope scope)
{
    if (!IsLatest(run))
        return;
    auto found = std::make_shared<FoundRows>();
    const bool listed = ListFolderRows(folder, *found, [&] { return IsLatest(run); }, Index(), scope);
    if (!IsLatest(run))
        return;
    emit rowsFound(run, found);
    emit ended(run, listed ? SearchOutcome::Searched : SearchOutcome::FolderUnreadable);
}

void FolderSearchWorker::RunSearch(unsigned run, const std::string& folder, const SearchCriteria& criteria)
{
    if (!IsLatest(run))
        return;
    FoundRows batch;
    ReportInterval panel;
    ReportInterval rows;
    const SearchResult result = SearchArchiveFolder(
        folder, criteria,
        [&](const std::string& fileName) {
            if (panel.Due()) {
                panel.Reported();
                emit progress(run, ToQString(SearchProgressText(fileName)));
            }
            if (!batch.rows.empty() && rows.Due()) {
                rows.Reported();
                emit rowsFound(run, std::make_shared<FoundRows>(std::exchange(batch, {})));
            }
            return IsLatest(run);
        },
        Index(), [&](IndexedRow&& row) { AddFoundRow(batch, std::move(row)); });
    if (!IsLatest(run))
        return;
    if (!batch.rows.empty())
        emit rowsFound(run, std::make_shared<FoundRows>(std::move(batch)));
    emit ended(run, result.outcome);
}
