#pragma once

#include "catalogue/recording.h"
#include "platform/atomic_file.h"
#include "platform/dialog_result.h"
#include "platform/file_attributes.h"
#include "platform/sha256_digest.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
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

// What a run may do beyond the plain copy. The defaults ask before every replacement, put every
// file directly into the upload folder, and keep each replaced archived file for 30 days.
struct UploadOptions {
    // An archived file with the same size, header record and modification time (to the second)
    // as the card's file is left as it is, without a question, and counts as uploaded.
    bool skipIdentical = false;
    // Each recording goes into the folder of its start month ("2023年01月") inside the upload
    // folder, made when needed.
    bool monthFolders = false;
    // An archived file about to be replaced is first moved into ".replaced" (replaced_recordings.h),
    // and kept files older than this many days are removed when a run starts; 0 replaces
    // archived files without keeping them.
    int keepReplacedDays = 30;
};

// The folder a recording with this header goes into ("2023年01月"); empty when its month byte
// names no month (such a file goes directly into the upload folder).
std::string MonthFolderName(const RecordingHeader& header);

// What became of one file of a run: copied (new in the archive), replaced (an archived file of its
// name kept aside first), identical (the archive holds it already), skipped (answered "否": the
// archived file of its name differs and stays), failed (its copy could not be made or put in
// place), or not reached (the run ended before it: a stop, "取消", a failure).
enum class FileResult { Copied, Replaced, Identical, Skipped, Failed, NotReached };

// What a run did, for the message at its end: every file it was given is counted once, as copied,
// identical or left on the card.
struct UploadOutcome {
    bool copied = false; // the last copy succeeded: the completion message follows
    std::string card;    // the card's folder the run copied from, without "/" at the end
    int cardFiles = 0;   // the files the run was given
    int copiedFiles = 0; // in the archive when the run ended, replaced ones included
    int replacedFiles = 0;
    int identicalFiles = 0;
    int skippedFiles = 0; // answered "否"
    int failedFiles = 0;
    int notReachedFiles = 0;
    std::vector<std::string> leftOnCard; // the names of the skipped, failed and not reached files
    bool cancelled = false;              // ended at "取消"
    std::string failure;                 // the failure message; empty when nothing failed
    std::string replacedFolder;          // where the replaced files were kept; empty when none was
    // The folders the copied and identical files are in, without "/" at the end: the summary names
    // them, and the archive index is told of them after the run.
    std::set<std::string> folders;
    // "校验文件无法写入：PATH（原因）" for each folder whose SHA256SUMS could not take the run's
    // fingerprints: the files are in place all the same.
    std::set<std::string> sumsFailures;
};

// "数据上传完毕！" followed by the card and what became of its files: the counts, the files left on the
// card, the folders the files are in, and where the replaced files are kept when there are some.
std::string UploadSummaryText(const UploadOutcome& outcome);
// The message at the end of a run, empty when there is nothing to say: the failure, or after a run
// whose last copy succeeded "数据上传完毕！"; withCounts adds what UploadSummaryText tells. A run
// ended at "取消" then says how many files it copied.
std::string UploadEndText(const UploadOutcome& outcome, bool withCounts);

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
    // outcome.copied: the last copy of the run succeeded ("数据上传完毕！" follows).
    std::function<void(const UploadOutcome& outcome)> finished;
    // Optional: what became of each file, by its path relative to the upload folder (a file not
    // reached: its name), once that is known: a copy is reported when it has taken its name or
    // failed to; keptName is a replaced file's name inside ".replaced".
    std::function<void(const std::string& path, FileResult result, const std::string& keptName)> fileHandled;
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
    // Without a copy call the files are copied with CopyToTempFile, which takes each file's
    // fingerprint as it copies; after a copy call that took none it is read from the copy. Each
    // batch records the fingerprints of its files in place in their folders' SHA256SUMS.
    explicit Uploader(UploadReports reports, TempCopyCall copy = {});

    // Copies each name from devicePath into uploadPath (both ending with "/"), asking before
    // an existing file is replaced; one with the card's size and bytes is left, whatever the
    // answer that would replace it, and counts as identical. Every file comes from the folder the run started on: when
    // another folder (another card) has taken its place, the run fails at that file.
    void UploadFileList(const std::vector<std::string>& names, const std::string& devicePath,
                        const std::string& uploadPath, const UploadOptions& options = {});
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
    // One file of the run: its source, and its target as a path relative to the upload folder.
    struct FileToUpload {
        std::string name;
        std::string source;
        std::string relative;
        std::string target; // empty when there is no upload folder
    };
    // A file handled since the last commit: a copy not yet renamed into place, with what it becomes
    // once it has its name, or a file that needs no copy.
    struct PendingFile {
        FileToUpload file;
        FileResult result = FileResult::Copied;
        std::string keptName; // of the archived file it replaces, inside ".replaced"; or empty
        std::string sha256;   // of a copy's bytes; empty when it could not be taken
    };
    enum class Step { Copy, Replace, Identical, Skip, EndRun };
    FileToUpload Locate(const std::string& name, const std::string& devicePath) const;
    Step DecideOverwrite(const FileToUpload& file);
    Step ReplaceUnlessIdentical(const FileToUpload& file) const;
    bool CopyStep(Step step, const FileToUpload& file, const std::string& devicePath);
    Result<std::string> CopyOne(const std::string& deviceFolder, const FileToUpload& file);
    bool EndWithFailure(const FileToUpload& file, const Failure& failure);
    void RemoveLeftoversOnce(const std::string& folder);
    void Handled(const FileToUpload& file, FileResult result, const std::string& keptName = {});
    std::vector<PendingFile> Landed(const std::vector<PendingFile>& files, const std::string& failedTarget);
    static std::map<std::string, std::vector<SumsLine>> CopiedSumsByFolder(const std::vector<PendingFile>& files);
    void ForgetStaleSums();
    void RecordSums(const std::vector<PendingFile>& inPlace);
    void ReportSumsFailure(const std::string& folder, const Failure& failure);
    bool CommitWhenDue();
    Result<void> CommitPending();
    // The failure message, naming failure.path's file and the reason.
    void ReportFailure(const Failure& failure);
    void Finish();

    UploadReports reports_;
    TempCopyCall copy_;
    // The fingerprint the default copy call takes; copyTookDigest_ says whether the last copy fed it.
    Sha256 digest_;
    bool copyTookDigest_ = false;
    Clock clock_;
    std::chrono::steady_clock::time_point lastCommit_;
    // Copies made but not yet renamed over their targets: they are flushed together, which
    // costs one flush per batch instead of one per file.
    std::vector<PendingCopy> pending_;
    // The files handled since the last commit, the pending copies among them, in their order.
    std::vector<PendingFile> pendingFiles_;
    std::string uploadPath_;               // of the run that goes on
    std::set<std::string> cleanedFolders_; // folders whose leftover temporary files this run removed
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> abortRequested_{false};
    std::atomic<bool> running_{false};
    bool lastCopyOk_ = false;
    UploadOptions options_;
    UploadOutcome outcome_;
    std::optional<DialogResult> overwriteAnswer_;
    std::optional<FolderIdentity> deviceFolder_; // the folder the run started on
};
