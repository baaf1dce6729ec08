#pragma once

#include "catalogue/recording_model.h"
#include "index/index_settings.h"
#include "platform/background_job.h"
#include "statistics/call_statistics.h"

#include <QObject>
#include <memory>
#include <vector>

// Counts the call statistics of rows on a thread of its own, the top numbers with the user types
// given. counted() follows on the owner's thread.
class StatisticsWorker : public QObject {
    Q_OBJECT

public:
    explicit StatisticsWorker(QObject* parent = nullptr) : QObject(parent) {}
    // Stops a count going on and waits for it: no count outlives its owner.
    ~StatisticsWorker() override
    {
        job_.RequestStop();
        job_.Wait();
    }

    void Start(RowsSnapshot rows, UserTypesByNumber userTypes);
    bool running() const { return job_.running(); }

signals:
    void counted(std::shared_ptr<const CallStatistics> statistics);

private:
    BackgroundJob job_;
};

// The user types of the numbers from the notes of the index at location; none when it cannot
// be opened or read.
UserTypesByNumber UserTypesFromIndex(const IndexLocation& location);
