#pragma once

#include "catalogue/recording.h"
#include "platform/background_job.h"

#include <QObject>
#include <memory>
#include <string>
#include <vector>

// Lists the recordings of a card folder on a worker thread. The rows reach the window in
// batches about ten times a second, numbered in walk order; finished() follows the last batch.
class CardLister : public QObject {
    Q_OBJECT

public:
    explicit CardLister(QObject* parent = nullptr);
    ~CardLister() override;

    // Starts listing devicePath (ending with "/"); a listing still running is stopped first.
    void Start(const std::string& devicePath);
    // Stops a running listing and waits for it; a stopped listing reports no end.
    void Stop();
    bool running() const { return job_.running(); }

signals:
    // Shared, so that the rows reach the window's thread without a copy there.
    void rowsListed(std::shared_ptr<std::vector<RecordingEntry>> rows);
    // completed is false when the listing failed part way; the rows sent so far stay valid.
    void finished(bool completed);

private:
    BackgroundJob job_;
};
