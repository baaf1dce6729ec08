#include "catalogue/catalogue_scan.h"

#include "catalogue/recording_model.h"
#include "platform/recording_walk.h"

#include <filesystem>
#include <utility>

std::optional<std::string> FindRecorderDrive(const std::vector<Volume>& volumes)
{
    for (const Volume& volume : volumes) {
        if (volume.kind != VolumeKind::Removable)
            continue;
        const std::string deviceFolder = volume.mountPoint + "VOICE";
        std::error_code error; // a volume that cannot be examined is passed over
        if (std::filesystem::is_directory(deviceFolder, error))
            return deviceFolder + "/";
    }
    return std::nullopt;
}

std::optional<std::string> FindRecorderDrive()
{
    try {
        return FindRecorderDrive(ReadVolumes());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool ListRecordings(const std::string& devicePath, const ListedFileCallback& onFile, const std::atomic<bool>* stop)
{
    int rowCount = 0;
    return WalkRecordings(devicePath, [&](const WalkEntry& file) {
        if (stop != nullptr && stop->load())
            return false;
        if (!file.twelveBytes)
            return true;
        std::optional<RecordingEntry> entry = MakeRecordingEntry(devicePath, file.name, rowCount + 1);
        if (entry)
            ++rowCount;
        if (onFile)
            onFile(std::move(entry));
        return true;
    });
}

std::vector<RecordingEntry> ListRecordings(const std::string& devicePath)
{
    std::vector<RecordingEntry> rows;
    ListRecordings(devicePath, [&rows](std::optional<RecordingEntry> entry) {
        if (entry)
            rows.push_back(std::move(*entry));
    });
    return rows;
}

DeviceCheck::DeviceCheck(RecordingModel& model, DeviceCheckHooks hooks) : model_(model), hooks_(std::move(hooks))
{
}

void DeviceCheck::Run()
{
    if (listing_) {
        scanPending_ = true;
        return;
    }
    ScanOnce();
}

void DeviceCheck::ScanOnce()
{
    std::optional<std::string> deviceFolder;
    try {
        deviceFolder = hooks_.findDrive();
    } catch (const std::exception&) {
        // A search that fails finds nothing, as a drive that cannot be examined.
    }
    if (!deviceFolder) {
        listedFlag_ = false;
        model_.Clear();
        Enter(DeviceState::NotConnected);
        return;
    }
    if (hooks_.deviceFound)
        hooks_.deviceFound(*deviceFolder);
    if (!listedFlag_ || *deviceFolder != listedFolder_)
        ListDevice(*deviceFolder);
}

void OrderAsCatalogue(RecordingModel& model)
{
    model.SetSortState({kColFileName, false});
    model.Sort(model.sortState());
    model.Renumber();
}

void DeviceCheck::ListDevice(const std::string& devicePath)
{
    Enter(DeviceState::Listing);
    model_.Clear();
    listing_ = true;
    listingFolder_ = devicePath;
    hooks_.startListing(devicePath);
}

void DeviceCheck::ListingEnded(bool completed)
{
    if (!listing_)
        return;
    if (completed)
        OrderAsCatalogue(model_);
    listing_ = false;
    listedFlag_ = true;
    listedFolder_ = listingFolder_;
    Enter(DeviceState::Listed);
    if (std::exchange(scanPending_, false))
        ScanOnce();
}

void DeviceCheck::Enter(DeviceState state)
{
    state_ = state;
    if (hooks_.showState)
        hooks_.showState(state);
}
