#include "catalogue/card_lister.h"

#include "catalogue/catalogue_scan.h"
#include "platform/report_interval.h"

#include <utility>

CardLister::CardLister(QObject* parent) : QObject(parent) {}

CardLister::~CardLister()
{
    Stop();
}

void CardLister::Start(const std::string& devicePath)
{
    job_.Start([this, devicePath](const std::atomic<bool>& stopRequested) {
        std::vector<RecordingEntry> batch;
        ReportInterval interval;
        interval.Reported(); // the first batch after a tenth of a second
        bool completed = true;
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
            completed = false; // the rows read so far stay
        }
        if (stopRequested.load())
            return;
        if (!batch.empty())
            emit rowsListed(std::make_shared<std::vector<RecordingEntry>>(std::move(batch)));
        emit finished(completed);
    });
}

void CardLister::Stop()
{
    job_.RequestStop();
    job_.Wait();
}
