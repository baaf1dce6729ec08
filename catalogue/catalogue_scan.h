#pragma once

#include "catalogue/recording.h"
#include "platform/volumes.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class RecordingModel;

// Finding the recorder's card, listing its recordings, and the detection cycle that the
// main window runs on every tick of its scan timer. No windows here.

// The device folder ("<mount point>VOICE/") of the first removable volume, in table order,
// that has a VOICE directory at its root; nothing when none has. A volume that cannot be
// examined is passed over.
std::optional<std::string> FindRecorderDrive(const std::vector<Volume>& volumes);
// The same over the machine's volume table.
std::optional<std::string> FindRecorderDrive();

// Called after each accepted file of a listing: with its row, or with nothing when the
// file's header could not be read.
using ListedFileCallback = std::function<void(std::optional<RecordingEntry> entry)>;

// Walks devicePath (ending with "/") for recordings and builds their rows, numbered 1, 2, 3
// in walk order; a set stop flag ends the walk before the next file. Returns false when the
// folder cannot be read.
bool ListRecordings(const std::string& devicePath, const ListedFileCallback& onFile,
                    const std::atomic<bool>* stop = nullptr);
// The rows of devicePath in walk order (empty when the folder cannot be read).
std::vector<RecordingEntry> ListRecordings(const std::string& devicePath);
// Puts a listed card in the order the main window shows it: by file name (the sort flag is
// not inverted by this sort), numbered 1, 2, 3 in that order.
void OrderAsCatalogue(RecordingModel& model);

enum class DeviceState {
    Waiting,      // window created, no scan yet
    NotConnected, // the last scan found no card
    Listing,      // the card's recordings are being listed
    Listed        // the card is listed; later scans that still find it change nothing
};

struct DeviceCheckHooks {
    std::function<std::optional<std::string>()> findDrive;
    // Each scan that finds a card hands its device folder here first.
    std::function<void(const std::string& devicePath)> deviceFound;
    // Starts filling the (already emptied) model with the rows of the device folder; the
    // window reports the end through ListingEnded.
    std::function<void(const std::string& devicePath)> startListing;
    // Shows a state the cycle has entered (status line, busy panel, enabled window).
    std::function<void(DeviceState state)> showState;
};

// The detection cycle: one Run() per tick of the scan timer. The list is built once per
// attachment: when a scan finds a card that is not the one listed (none yet, or another card
// after the listed one went while a second one stayed mounted). A listing runs in a worker
// while the window goes on, so the timer can tick again meanwhile; such a scan is deferred and
// run once when the listing has ended, never as a second listing beside the first.
class DeviceCheck {
public:
    DeviceCheck(RecordingModel& model, DeviceCheckHooks hooks);

    void Run();
    // The listing started through startListing has ended; completed is false when it failed
    // part way (its rows stay as they came, and the card counts as listed all the same).
    void ListingEnded(bool completed);

    DeviceState state() const { return state_; }
    bool listed() const { return listedFlag_; }

private:
    void ScanOnce();
    void ListDevice(const std::string& devicePath);
    void Enter(DeviceState state);

    RecordingModel& model_;
    DeviceCheckHooks hooks_;
    DeviceState state_ = DeviceState::Waiting;
    bool listedFlag_ = false;
    std::string listedFolder_;  // the device folder the rows were listed from
    std::string listingFolder_; // the device folder of the listing that runs
    bool listing_ = false;
    bool scanPending_ = false;
};
