#include "search/folder_search_worker.h"

#include "catalogue/recording_model.h"
#include "platform/qt_text.h"
#include "platform/report_interval.h"

#include <utility>

namespace {

// Keeps the row, numbered after the rows kept so far, with its note.
void Keep(FoundRows& found, IndexedRow&& row, std::size_t number)
{
    if (!row.note.empty())
        found.notes.emplace(row.row.path(), std::move(row.note));
    row.row.texts[kColNumber] = std::to_string(number);
    found.rows.push_back(std::move(row.row));
}

} // namespace

FolderSearchWorker::FolderSearchWorker(std::optional<IndexLocation> index, QObject* parent)
    : QObject(parent), indexLocation_(std::move(index))
{
    thread_.setObjectName(QStringLiteral("folder search"));
    context_ = new QObject;
    context_->moveToThread(&thread_);
    thread_.start();
}

FolderSearchWorker::~FolderSearchWorker()
{
    Stop();
    QMetaObject::invokeMethod(context_, [this] { index_.reset(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete context_;
}

unsigned FolderSearchWorker::NextRun()
{
    return ++latestRun_;
}

unsigned FolderSearchWorker::List(const std::string& folder)
{
    const unsigned run = NextRun();
    QMetaObject::invokeMethod(context_, [this, run, folder] { RunList(run, folder); }, Qt::QueuedConnection);
    return run;
}

unsigned FolderSearchWorker::Search(const std::string& folder, const SearchCriteria& criteria)
{
    const unsigned run = NextRun();
    QMetaObject::invokeMethod(
        context_, [this, run, folder, criteria] { RunSearch(run, folder, criteria); }, Qt::QueuedConnection);
    return run;
}

// The index is opened on first use, on this thread; without one the folders are read from
// their files alone.
ArchiveIndex* FolderSearchWorker::Index()
{
    if (!indexTried_ && indexLocation_) {
        indexTried_ = true;
        index_ = ArchiveIndex::Open(*indexLocation_).index;
    }
    return index_.get();
}

void FolderSearchWorker::RunList(unsigned run, const std::string& folder)
{
    if (!IsLatest(run))
        return;
    FoundRows found;
    const bool listed = WalkFolderRows(Index(), folder, [&](const WalkEntry&, IndexedRow* row) {
        if (row)
            Keep(found, std::move(*row), found.rows.size() + 1);
        return IsLatest(run);
    });
    if (!IsLatest(run))
        return;
    SortAndRenumber(found.rows, SortState{kColStartTime, false});
    emit rowsFound(run, std::make_shared<FoundRows>(std::move(found)));
    emit ended(run, listed ? SearchOutcome::Searched : SearchOutcome::FolderUnreadable);
}

void FolderSearchWorker::RunSearch(unsigned run, const std::string& folder, const SearchCriteria& criteria)
{
    if (!IsLatest(run))
        return;
    std::size_t kept = 0;
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
        Index(), [&](IndexedRow&& row) { Keep(batch, std::move(row), ++kept); });
    if (!IsLatest(run))
        return;
    if (!batch.rows.empty())
        emit rowsFound(run, std::make_shared<FoundRows>(std::move(batch)));
    emit ended(run, result.outcome);
}
