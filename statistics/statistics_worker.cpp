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

void StatisticsWorker::Start(RowsSnapshot rows, std::optional<IndexLocation> index)
{
    job_.Start([this, rows = std::move(rows), index = std::move(index)](const std::atomic<bool>& stopRequested) {
        const UserTypesByNumber userTypes = index ? UserTypesFromIndex(*index) : UserTypesByNumber{};
        auto statistics = std::make_shared<const CallStatistics>(CountCalls(*rows, userTypes, &stopRequested));
        if (!stopRequested.load())
            emit counted(std::move(statistics));
    });
}
