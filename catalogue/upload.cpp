#include "catalogue/upload.h"

#include "catalogue/replaced_recordings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Each pending copy holds an open descriptor; a batch also bounds what a power cut can undo.
constexpr std::size_t kMaxPendingCopies = 100;
// What the progress bar shows as done is in the archive at most this much later.
constexpr std::chrono::seconds kMaxCommitDelay{1};

// A target that cannot be inspected counts as absent and is copied without a question.
bool TargetExists(const std::string& target)
{
    struct stat info {};
    return ::lstat(target.c_str(), &info) == 0;
}

// A folder of the target's name cannot be replaced by a file: the copy fails at once instead
// of when its batch is renamed into place.
bool FolderInTheWay(const std::string& target)
{
    struct stat info {};
    return ::lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FileNameOf(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// The same recording: same size, same header record, modified in the same second (file systems
// such as FAT keep no finer time).
bool SameRecording(const std::string& source, const std::string& target)
{
    const std::optional<RecordingHead> card = ReadRecordingHead(source);
    const std::optional<RecordingHead> archived = ReadRecordingHead(target);
    return card && archived && card->size == archived->size && card->record == archived->record
           && card->modified / kNanosecondsPerSecond == archived->modified / kNanosecondsPerSecond;
}

} // namespace

std::vector<std::string> CollectSelectedFiles(const std::vector<RecordingEntry>& rows, std::vector<int> selectedRows)
{
    std::sort(selectedRows.begin(), selectedRows.end());
    selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
    std::vector<std::string> names;
    for (const int row : selectedRows) {
        if (row >= 0 && static_cast<std::size_t>(row) < rows.size())
            names.push_back(rows[static_cast<std::size_t>(row)].fileName());
    }
    return names;
}

std::vector<std::string> CollectAllFiles(const std::vector<RecordingEntry>& rows)
{
    std::vector<std::string> names;
    names.reserve(rows.size());
    for (const RecordingEntry& row : rows)
        names.push_back(row.fileName());
    return names;
}

void EnsureTrailingSeparator(std::string& path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
}

bool CreateUploadFolder(const std::string& path)
{
    if (path.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error && std::filesystem::is_directory(path, error);
}

std::string MonthFolderName(const RecordingHeader& header)
{
    if (header.month < 1 || header.month > 12)
        return {};
    char name[32];
    std::snprintf(name, sizeof name, "%04d年%02d月", 2000 + header.year, static_cast<int>(header.month));
    return name;
}

std::string UploadSummaryText(const UploadOutcome& outcome)
{
    std::string text = std::string(kUploadDoneText) + "\n复制：" + std::to_string(outcome.copiedFiles)
                       + " 个\n跳过相同录音：" + std::to_string(outcome.identicalFiles) + " 个\n替换："
                       + std::to_string(outcome.replacedFiles) + " 个";
    if (!outcome.replacedFolder.empty())
        text += "\n被替换的录音保存在：" + outcome.replacedFolder;
    return text;
}

Uploader::Uploader(UploadReports reports, TempCopyCall copy)
    : reports_(std::move(reports)), clock_([] { return std::chrono::steady_clock::now(); })
{
    SetCopyCall(std::move(copy));
}

void Uploader::SetClock(Clock clock)
{
    clock_ = std::move(clock);
}

void Uploader::SetCopyCall(TempCopyCall copy)
{
    if (!copy) {
        copy = [](const std::string& source, const std::string& target, TempFile& temp) {
            return CopyToTempFile(source, target, temp);
        };
    }
    copy_ = std::move(copy);
}

void Uploader::UploadFileList(const std::vector<std::string>& names, const std::string& devicePath,
                              const std::string& uploadPath, const UploadOptions& options)
{
    running_ = true;
    stopRequested_ = false;
    lastCopyOk_ = false;
    options_ = options;
    outcome_ = UploadOutcome{};
    deviceFolder_ = IdentityOfFolder(devicePath);
    reports_.started(static_cast<int>(names.size()));
    overwriteAnswer_.reset();
    cleanedFolders_.clear();
    if (!uploadPath.empty())
        RemoveLeftoversOnce(uploadPath);
    if (options_.keepReplacedDays > 0 && !uploadPath.empty())
        RemoveExpiredReplaced(uploadPath, options_.keepReplacedDays, LocalToday());
    lastCommit_ = clock_();

    bool stopTakenIn = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (stopTakenIn || abortRequested_)
            break;
        reports_.fileStarted(static_cast<int>(i + 1), names[i]);
        stopTakenIn = stopRequested_.load();

        const FileToUpload file = Locate(names[i], devicePath, uploadPath);
        const Step step = DecideOverwrite(file);
        if (step == Step::EndRun)
            break;
        if (step == Step::Skip || step == Step::Identical) {
            // An identical archived file counts as uploaded.
            lastCopyOk_ = lastCopyOk_ || step == Step::Identical;
            outcome_.identicalFiles += step == Step::Identical ? 1 : 0;
            Handled(file, step == Step::Identical ? FileResult::Identical : FileResult::Skipped);
            continue;
        }
        if (!CopyStep(step, file, devicePath, uploadPath))
            break;
    }
    if (const Result<void> committed = CommitPending(); !committed)
        ReportFailure(committed.error());
    Finish();
}

// An empty upload folder names no folder: the target stays empty and the copy fails instead of
// landing in the working folder.
Uploader::FileToUpload Uploader::Locate(const std::string& name, const std::string& devicePath,
                                        const std::string& uploadPath) const
{
    FileToUpload file{name, devicePath + name, name, {}};
    if (options_.monthFolders) {
        if (const std::optional<RecordingHeader> header = ReadRecordingHeader(file.source)) {
            if (const std::string month = MonthFolderName(*header); !month.empty())
                file.relative = month + "/" + name;
        }
    }
    if (!uploadPath.empty())
        file.target = uploadPath + file.relative;
    return file;
}

Uploader::Step Uploader::DecideOverwrite(const FileToUpload& file)
{
    if (!TargetExists(file.target))
        return Step::Copy;
    if (options_.skipIdentical && SameRecording(file.source, file.target))
        return Step::Identical;
    if (overwriteAnswer_ == DialogResult::YesToAll)
        return ReplaceUnlessIdentical(file);
    // The folder shows every file reported as copied while the user looks at the question.
    if (const Result<void> committed = CommitPending(); !committed) {
        ReportFailure(committed.error());
        return Step::EndRun;
    }
    overwriteAnswer_ = reports_.askOverwrite(file.name);
    if (overwriteAnswer_ == DialogResult::NoToAll)
        return Step::EndRun;
    if (overwriteAnswer_ == DialogResult::No)
        return Step::Skip;
    return ReplaceUnlessIdentical(file);
}

// An archived copy with the card's bytes is left as it is: replacing it would only put a
// duplicate into ".replaced".
Uploader::Step Uploader::ReplaceUnlessIdentical(const FileToUpload& file) const
{
    return SameSizeAndBytes(file.source, file.target) ? Step::Identical : Step::Replace;
}

// Copies one file; false when the run ends here (the failure has been reported). The archived
// file a copy replaces is kept in ".replaced" while the name still holds it.
bool Uploader::CopyStep(Step step, const FileToUpload& file, const std::string& devicePath,
                        const std::string& uploadPath)
{
    if (Result<void> copied = CopyOne(devicePath, file); !copied)
        return EndWithFailure(file.name, copied.error());
    std::string keptName;
    if (step == Step::Replace && options_.keepReplacedDays > 0) {
        Result<std::string> kept = KeepReplaced(uploadPath, file.relative, LocalToday());
        if (!kept) {
            DiscardTempFile(pending_.back().temp);
            pending_.pop_back();
            pendingKept_.pop_back();
            return EndWithFailure(file.name, kept.error());
        }
        keptName = *kept;
        pendingKept_.back() = ReplacedFolder(uploadPath) + keptName;
        RemoveLeftoversOnce(std::filesystem::path(pendingKept_.back()).parent_path().string());
        outcome_.replacedFolder = ReplacedFolder(uploadPath);
    }
    ++outcome_.copiedFiles;
    outcome_.replacedFiles += step == Step::Replace ? 1 : 0;
    Handled(file, step == Step::Replace ? FileResult::Replaced : FileResult::Copied, keptName);
    return CommitWhenDue();
}

// The files copied before the failed one stay.
bool Uploader::EndWithFailure(const std::string& fileName, const Failure& failure)
{
    if (const Result<void> committed = CommitPending(); !committed)
        ReportFailure(committed.error());
    else
        ReportFailure(Failure{failure.reason, failure.error, fileName});
    return false;
}

void Uploader::Handled(const FileToUpload& file, FileResult result, const std::string& keptName)
{
    if (result != FileResult::Skipped && !file.target.empty())
        outcome_.landedFolders.insert(file.target.substr(0, file.target.rfind('/') + 1));
    if (reports_.fileHandled)
        reports_.fileHandled(file.relative, result, keptName);
}

// Our temporary files that a killed run left behind go when a run first writes into their folder.
void Uploader::RemoveLeftoversOnce(const std::string& folder)
{
    if (cleanedFolders_.insert(folder).second)
        RemoveLeftoverTempFiles(folder);
}

// The card's folder is looked at before and after the copy: a copy during which another card
// took the first one's place may hold the other card's file, and is thrown away. A month folder
// is made when its first file comes.
Result<void> Uploader::CopyOne(const std::string& deviceFolder, const FileToUpload& file)
{
    lastCopyOk_ = false;
    if (file.target.empty())
        return Failure{"no upload folder", ENOENT};
    const std::string folder = std::filesystem::path(file.target).parent_path().string();
    if (file.relative != file.name && !CreateUploadFolder(folder))
        return Failure{"cannot make the folder " + folder, ENOTDIR};
    if (FolderInTheWay(file.target))
        return Failure{"a folder has the name " + file.target, EISDIR};
    RemoveLeftoversOnce(folder);
    const auto sameFolder = [&] { return deviceFolder_ && IdentityOfFolder(deviceFolder) == deviceFolder_; };
    const Failure cardChanged{"the card was changed", ENODEV};
    if (!sameFolder())
        return cardChanged;
    TempFile temp;
    if (Result<void> copied = copy_(file.source, file.target, temp); !copied)
        return copied;
    if (!sameFolder()) {
        DiscardTempFile(temp);
        return cardChanged;
    }
    lastCopyOk_ = true;
    pending_.push_back({std::move(temp), file.target});
    pendingKept_.emplace_back();
    return {};
}

// Renames the batch into place once it holds 100 copies or a second has passed since the last
// commit. A failure ends the run at once with a message that names the file.
bool Uploader::CommitWhenDue()
{
    if (pending_.size() < kMaxPendingCopies && clock_() - lastCommit_ < kMaxCommitDelay)
        return true;
    const Result<void> committed = CommitPending();
    if (!committed)
        ReportFailure(committed.error());
    return committed.has_value();
}

// The kept entries of the batch are made durable before any copy replaces its name. A copy that
// cannot replace its name leaves the archived file there: its kept entry, a duplicate, goes again.
Result<void> Uploader::CommitPending()
{
    lastCommit_ = clock_();
    if (pending_.empty())
        return {};
    std::set<std::string> keptFolders;
    for (const std::string& kept : pendingKept_) {
        if (!kept.empty())
            keptFolders.insert(std::filesystem::path(kept).parent_path().string());
    }
    for (const std::string& folder : keptFolders)
        SyncFolder(folder);
    std::vector<std::string> targets;
    for (const PendingCopy& copy : pending_)
        targets.push_back(copy.target);
    std::vector<std::string> kept = std::exchange(pendingKept_, {});
    Result<void> committed = CommitTempFiles(pending_);
    if (!committed) {
        lastCopyOk_ = false;
        const auto failed = std::find(targets.begin(), targets.end(), committed.error().path);
        for (auto entry = kept.begin() + (failed - targets.begin()); entry != kept.end(); ++entry) {
            if (!entry->empty())
                ::unlink(entry->c_str());
        }
    }
    return committed;
}

// "数据上传失败！" and, on a second line, the file and the reason.
void Uploader::ReportFailure(const Failure& failure)
{
    lastCopyOk_ = false;
    const std::string reason = failure.error != 0 ? std::strerror(failure.error) : failure.reason;
    reports_.failed(std::string(kUploadFailedText) + "\n" + FileNameOf(failure.path) + "：" + reason);
}

void Uploader::Finish()
{
    running_ = false;
    outcome_.copied = lastCopyOk_;
    reports_.finished(outcome_);
}
