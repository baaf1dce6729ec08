#include "catalogue/catalogue_scan.h"

#include "catalogue/recording_model.h"
#include "platform/recording_walk.h"

#include <filesystem>

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

bool ListRecordings(const std::string& devicePath, const ListedFileCallback& onFile)
{
    int rowCount = 0;
    return WalkRecordings(devicePath, [&](const WalkEntry& file) {
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
    if (running_) {
        scanPending_ = true;
        return;
    }
    running_ = true;
    do {
        scanPending_ = false;
        ScanOnce();
    } while (scanPending_);
    running_ = false;
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

// Errors while listing are swallowed: the rows read so far stay, and the card counts as
// listed all the same.
void DeviceCheck::ListDevice(const std::string& devicePath)
{
    try {
        Enter(DeviceState::Listing);
        model_.Clear();
        hooks_.listRecordings(devicePath);
        OrderAsCatalogue(model_);
    } catch (const std::exception&) {
    }
    Enter(DeviceState::Listed);
    listedFlag_ = true;
    listedFolder_ = devicePath;
}

void DeviceCheck::Enter(DeviceState state)
{
    state_ = state;
    if (hooks_.showState)
        hooks_.showState(state);
}
