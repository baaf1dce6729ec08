#include "catalogue/card_lister.h"

#include "catalogue/catalogue_scan.h"
#include "catalogue/row_batches.h"

CardLister::CardLister(QObject* parent) : QObject(parent) {}

CardLister::~CardLister()
{
    Stop();
}

void CardLister::Start(const std::string& devicePath)
{
    job_.Start([this, devicePath](const std::atomic<bool>& stopRequested) {
        RowBatches<RecordingEntry> batches;
        const auto send = [this](std::vector<RecordingEntry> rows) { emit rowsListed(std::move(rows)); };
        bool completed = true;
        try {
            ListRecordings(
                devicePath,
                [&](std::optional<RecordingEntry> entry) {
                    if (entry)
                        batches.Add(std::move(*entry), send);
                },
                &stopRequested);
        } catch (const std::exception&) {
            completed = false; // the rows read so far stay
        }
        if (stopRequested.load())
            return;
        batches.Flush(send);
        emit finished(completed);
    });
}

void CardLister::Stop()
{
    job_.RequestStop();
    job_.Wait();
}
