#pragma once

#include "catalogue/recording.h"
#include "platform/atomic_file.h"
#include "platform/dialog_result.h"
#include "platform/file_attributes.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Copying recordings from the card into the upload folder. The run knows nothing about
// windows: it reports through callbacks, and UploadWorker runs it off the window's thread.

// The answers of the overwrite question: Yes ("是") and Cancel (the title-bar close) replace this
// file, YesToAll ("全部") every later one too, No ("否") skips this file, NoToAll ("取消") ends the run.

// File names of the rows at selectedRows (any order, duplicates allowed), top to bottom.
std::vector<std::string> CollectSelectedFiles(const std::vector<RecordingEntry>& rows, std::vector<int> selectedRows);
// File names of all rows, top to bottom.
std::vector<std::string> CollectAllFiles(const std::vector<RecordingEntry>& rows);

// Appends "/" unless path already ends with one. An empty path names no folder and stays
// empty; an upload into it fails.
void EnsureTrailingSeparator(std::string& path);

// Creates the upload folder with its missing parents. A failure is not reported here:
// the first copy into the folder then fails and the run says so.
bool CreateUploadFolder(const std::string& path);

// What a run reports, in this order: started, then for each file fileStarted and perhaps the
// overwrite question, failed when a copy fails, and finished last. The calls come from the
// thread that runs the upload.
struct UploadReports {
    std::function<void(int fileCount)> started;
    // position counts from 1.
    std::function<void(int position, const std::string& fileName)> fileStarted;
    // Asks whether to replace an existing file; the run waits for the answer.
    std::function<DialogResult(const std::string& fileName)> askOverwrite;
    std::function<void(const std::string& text)> failed;
    // copied: the last copy of the run succeeded ("数据上传完毕！" follows).
    std::function<void(bool copied)> finished;
};

// Copies source into a temporary file beside target, not yet flushed nor renamed.
using TempCopyCall = std::function<Result<void>(const std::string& source, const std::string& target, TempFile& temp)>;

inline constexpr const char* kUploadingText = "正在上传文件...";
inline constexpr const char* kUploadingFilePrefix = "正在上传文件:";
inline constexpr const char* kUploadFailedText = "数据上传失败！";
inline constexpr const char* kUploadDoneText = "数据上传完毕！";
inline constexpr const char* kUploadCaption = "提示";

class Uploader {
public:
    // Without a copy call the files are copied with CopyToTempFile.
    explicit Uploader(UploadReports reports, TempCopyCall copy = {});

    // Copies each name from devicePath into uploadPath (both ending with "/"), asking before
    // an existing file is replaced. Every file comes from the folder the run started on: when
    // another folder (another card) has taken its place, the run fails at that file.
    void UploadFileList(const std::vector<std::string>& names, const std::string& devicePath,
                        const std::string& uploadPath);
    // Ends the run; callable from any thread. A stop asked for while a file is copied lets
    // the next file through, as a click on "停止上传" always has: the window took clicks in
    // only after announcing that next file.
    void RequestStop() { stopRequested_ = true; }
    // Ends the run before the next file, without the grace of RequestStop, and any later run
    // at once: the program is ending. Callable from any thread.
    void Abort() { abortRequested_ = true; }
    // Replaces the copy of one file (tests make copies fail or click during them).
    void SetCopyCall(TempCopyCall copy);
    // Replaces the clock that decides when copies are renamed into place (tests).
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    void SetClock(Clock clock);

    bool running() const { return running_; }
    // Outcome of the last copy of the latest run; false when that run copied nothing.
    bool lastCopyOk() const { return lastCopyOk_; }

private:
    enum class Step { Copy, Skip, EndRun };
    Step DecideOverwrite(const std::string& name, const std::string& target);
    bool CopyOne(const std::string& deviceFolder, const std::string& name, const std::string& target);
    bool CommitWhenDue();
    Result<void> CommitPending();
    // The failure message; a failure found when a batch was renamed into place names its file.
    void ReportFailure(const std::string& failedPath = {});
    void Finish();

    UploadReports reports_;
    TempCopyCall copy_;
    Clock clock_;
    std::chrono::steady_clock::time_point lastCommit_;
    // Copies made but not yet renamed over their targets: they are flushed together, which
    // costs one flush per batch instead of one per file.
    std::vector<PendingCopy> pending_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> abortRequested_{false};
    std::atomic<bool> running_{false};
    bool lastCopyOk_ = false;
    std::optional<DialogResult> overwriteAnswer_;
    std::optional<FolderIdentity> deviceFolder_; // the folder the run started on
};
