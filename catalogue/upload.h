#pragma once

#include "catalogue/recording.h"
#include "platform/atomic_file.h"
#include "platform/dialog_result.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Copying recordings from the card into the upload folder. The run knows nothing about
// windows: the main window hands in what it needs to show as callbacks.

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

// What a run needs from the main window.
struct UploadWindow {
    std::function<std::string()> panelText;
    std::function<void(const std::string&)> setPanelText;
    std::function<void(bool)> setPanelVisible;
    std::function<void(int)> setProgressMaximum;
    std::function<void(int)> setProgressPosition;
    std::function<void(bool)> setProgressVisible;
    // The six buttons "删除记录", "上传路径", "上传所选", "分类上传", "全部上传", "系统退出".
    std::function<void(bool)> setCommandButtonsEnabled;
    std::function<void()> processEvents;
    // Asks whether to replace an existing file.
    std::function<DialogResult(const std::string& fileName)> askOverwrite;
    // A message box with the warning icon.
    std::function<void(const std::string& text, const std::string& caption)> showWarning;
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
    explicit Uploader(UploadWindow window, TempCopyCall copy = {});

    // Copies each name from devicePath into uploadPath (both ending with "/"), asking before
    // an existing file is replaced. devicePath is read afresh for every file.
    void UploadFileList(const std::vector<std::string>& names, const std::string& devicePath,
                        const std::string& uploadPath);
    // Ends the run before the next file; taken in while the run lets window events run.
    void RequestStop() { stopRequested_ = true; }
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
    bool CopyOne(const std::string& source, const std::string& target);
    bool CommitWhenDue();
    Result<void> CommitPending();
    // The failure message; a failure found when a batch was renamed into place names its file.
    void ReportFailure(const std::string& failedPath = {});
    void Finish(const std::string& rememberedPanelText);

    UploadWindow window_;
    TempCopyCall copy_;
    Clock clock_;
    std::chrono::steady_clock::time_point lastCommit_;
    // Copies made but not yet renamed over their targets: they are flushed together, which
    // costs one flush per batch instead of one per file.
    std::vector<PendingCopy> pending_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    bool lastCopyOk_ = false;
    std::optional<DialogResult> overwriteAnswer_;
};
