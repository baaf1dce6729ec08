#include "catalogue/card_lister.h"

#include "catalogue/catalogue_scan.h"
#include "platform/report_interval.h"

#include <memory>
#include <utility>

CardLister::CardLister(QObject* parent) : QObject(parent) {}

CardLister::~CardLister()
{
    Stop();
}

void CardLister::Start(const std::string& devicePath)
{
    auto completed = std::make_shared<bool>(true); // the run's own, for its end
    job_.Start(
        [this, devicePath, completed](const std::atomic<bool>& stopRequested) {
            std::vector<RecordingEntry> batch;
            ReportInterval interval;
            interval.Reported(); // the first batch after a tenth of a second
            try {
                ListRecordings(
                    devicePath,
                    [&](std::optional<RecordingEntry> entry) {
                        if (entry)
                            batch.push_back(std::move(*entry));
                        if (!batch.empty() && interval.Due()) {
                            interval.Reported();
                            emit rowsListed(std::make_shared<std::vector<RecordingEntry>>(std::exchange(batch, {})));
                        }
                    },
                    &stopRequested);
            } catch (const std::exception&) {
                *completed = false; // the rows read so far stay
            }
            if (!stopRequested.load() && !batch.empty())
                emit rowsListed(std::make_shared<std::vector<RecordingEntry>>(std::move(batch)));
        },
        [this, completed](const std::atomic<bool>& stopRequested) {
            if (!stopRequested.load())
                emit finished(*completed);
        });
}

void CardLister::Stop()
{
    job_.RequestStop();
    job_.Wait();
}
