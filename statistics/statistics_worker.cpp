#include "statistics/statistics_worker.h"

#include "index/archive_index.h"

#include <utility>

UserTypesByNumber UserTypesFromIndex(const IndexLocation& location)
{
    const Result<std::unique_ptr<ArchiveIndex>> index = ArchiveIndex::Connect(location);
    if (!index)
        return {};
    return UserTypesOf(**index);
}

void StatisticsWorker::Start(RowsSnapshot rows, UserTypesByNumber userTypes)
{
    job_.Start(
        [this, rows = std::move(rows), userTypes = std::move(userTypes)](const std::atomic<bool>& stopRequested) {
            auto statistics = std::make_shared<const CallStatistics>(CountCalls(*rows, userTypes, &stopRequested));
            if (!stopRequested.load())
                emit counted(std::move(statistics));
        });
}
