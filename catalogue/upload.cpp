#include "catalogue/upload.h"

#include "catalogue/replaced_recordings.h"
#include "platform/folder_sums.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
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

// Whether the kept entry is a second name or a copy of the file at path: only then is it a
// duplicate that can go.
bool StillHeldAt(const std::string& path, const std::string& kept)
{
    struct stat named {};
    struct stat keptInfo {};
    if (::lstat(path.c_str(), &named) != 0 || ::lstat(kept.c_str(), &keptInfo) != 0 || !S_ISREG(named.st_mode))
        return false;
    return (named.st_dev == keptInfo.st_dev && named.st_ino == keptInfo.st_ino) || SameSizeAndBytes(path, kept);
}

std::string WithoutTrailingSeparator(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// "未上传：3 个（回答“否” 1 个，停止 1 个，失败 1 个）" and the first ten files left on the card.
std::string LeftOnCardText(const UploadOutcome& outcome)
{
    constexpr std::size_t kFilesNamed = 10;
    std::string text = "\n未上传：" + std::to_string(outcome.leftOnCard.size()) + " 个";
    std::string reasons;
    for (const auto& [count, reason] :
         {std::pair{outcome.skippedFiles, "回答“否”"}, std::pair{outcome.notReachedFiles, "停止"},
          std::pair{outcome.failedFiles, "失败"}}) {
        if (count > 0)
            reasons += (reasons.empty() ? "" : "，") + std::string(reason) + " " + std::to_string(count) + " 个";
    }
    if (reasons.empty())
        return text;
    text += "（" + reasons + "）\n留在卡上：";
    for (std::size_t i = 0; i < outcome.leftOnCard.size() && i < kFilesNamed; ++i)
        text += (i == 0 ? "" : "、") + outcome.leftOnCard[i];
    if (outcome.leftOnCard.size() > kFilesNamed)
        text += " 等 " + std::to_string(outcome.leftOnCard.size()) + " 个";
    return text;
}

// What became of the card's files, line by line, without a title.
std::string CountsText(const UploadOutcome& outcome)
{
    // A card of several years goes into dozens of month folders: the first few name the place.
    constexpr std::size_t kFoldersNamed = 6;
    std::string text = "录音卡：" + outcome.card + "（共 " + std::to_string(outcome.cardFiles) + " 个录音）\n复制："
                       + std::to_string(outcome.copiedFiles) + " 个\n跳过相同录音："
                       + std::to_string(outcome.identicalFiles) + " 个\n替换：" + std::to_string(outcome.replacedFiles)
                       + " 个" + LeftOnCardText(outcome);
    if (!outcome.folders.empty())
        text += "\n保存在：";
    const std::size_t shown = outcome.folders.size() > kFoldersNamed ? kFoldersNamed - 1 : outcome.folders.size();
    auto folder = outcome.folders.begin();
    for (std::size_t i = 0; i < shown; ++i)
        text += "\n" + *folder++;
    if (shown < outcome.folders.size())
        text += "\n……另有 " + std::to_string(outcome.folders.size() - shown) + " 个文件夹";
    if (!outcome.replacedFolder.empty())
        text += "\n被替换的录音保存在：" + outcome.replacedFolder;
    return text;
}

std::string FolderOfFile(const std::string& path)
{
    return std::filesystem::path(path).parent_path().string();
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
    return std::string(kUploadDoneText) + "\n" + CountsText(outcome);
}

std::string UploadEndText(const UploadOutcome& outcome, bool withCounts)
{
    std::string text;
    if (!outcome.failure.empty())
        text = outcome.failure + (withCounts ? "\n" + CountsText(outcome) : std::string());
    else if (outcome.copied)
        text = withCounts ? UploadSummaryText(outcome) : std::string(kUploadDoneText);
    if (outcome.cancelled)
        text += (text.empty() ? "" : "\n") + std::string("上传已取消，共复制了 ") + std::to_string(outcome.copiedFiles)
                + " 个文件。";
    for (const std::string& line : outcome.sumsFailures)
        text += (text.empty() ? "" : "\n") + line;
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
        copy = [this](const std::string& source, const std::string& target, TempFile& temp) {
            copyTookDigest_ = true;
            return CopyToTempFile(source, target, temp, ::read, &digest_);
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
    uploadPath_ = uploadPath;
    outcome_ = UploadOutcome{};
    outcome_.card = WithoutTrailingSeparator(devicePath);
    outcome_.cardFiles = static_cast<int>(names.size());
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
    std::size_t next = 0;
    for (; next < names.size() && !stopTakenIn && !abortRequested_; ++next) {
        reports_.fileStarted(static_cast<int>(next + 1), names[next]);
        stopTakenIn = stopRequested_.load();

        const FileToUpload file = Locate(names[next], devicePath);
        const Step step = DecideOverwrite(file);
        if (step == Step::EndRun)
            break;
        if (step == Step::Skip || step == Step::Identical) {
            // An identical archived file counts as uploaded.
            lastCopyOk_ = lastCopyOk_ || step == Step::Identical;
            pendingFiles_.push_back(
                {file, step == Step::Identical ? FileResult::Identical : FileResult::Skipped, {}, {}});
        } else if (!CopyStep(step, file, devicePath)) {
            ++next;
            break;
        }
    }
    if (const Result<void> committed = CommitPending(); !committed)
        ReportFailure(committed.error());
    for (; next < names.size(); ++next)
        Handled(FileToUpload{names[next], {}, names[next], {}}, FileResult::NotReached);
    Finish();
}

// An empty upload folder names no folder: the target stays empty and the copy fails instead of
// landing in the working folder.
Uploader::FileToUpload Uploader::Locate(const std::string& name, const std::string& devicePath) const
{
    FileToUpload file{name, devicePath + name, name, {}};
    if (options_.monthFolders) {
        if (const std::optional<RecordingHeader> header = ReadRecordingHeader(file.source)) {
            if (const std::string month = MonthFolderName(*header); !month.empty())
                file.relative = month + "/" + name;
        }
    }
    if (!uploadPath_.empty())
        file.target = uploadPath_ + file.relative;
    return file;
}

// "否" leaves an archived file with the card's bytes, which is then as good as uploaded.
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
    outcome_.cancelled = overwriteAnswer_ == DialogResult::NoToAll;
    if (overwriteAnswer_ == DialogResult::NoToAll)
        return Step::EndRun;
    if (overwriteAnswer_ == DialogResult::No)
        return SameSizeAndBytes(file.source, file.target) ? Step::Identical : Step::Skip;
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
bool Uploader::CopyStep(Step step, const FileToUpload& file, const std::string& devicePath)
{
    Result<std::string> copied = CopyOne(devicePath, file);
    if (!copied)
        return EndWithFailure(file, copied.error());
    PendingFile pending{file, step == Step::Replace ? FileResult::Replaced : FileResult::Copied, {}, *copied};
    if (step == Step::Replace && options_.keepReplacedDays > 0) {
        Result<std::string> kept = KeepReplaced(uploadPath_, file.relative, LocalToday());
        if (!kept) {
            DiscardTempFile(pending_.back().temp);
            pending_.pop_back();
            return EndWithFailure(file, kept.error());
        }
        pending.keptName = *kept;
        RemoveLeftoversOnce(std::filesystem::path(ReplacedFolder(uploadPath_) + *kept).parent_path().string());
    }
    pendingFiles_.push_back(std::move(pending));
    return CommitWhenDue();
}

// The files copied before the failed one stay.
bool Uploader::EndWithFailure(const FileToUpload& file, const Failure& failure)
{
    if (const Result<void> committed = CommitPending(); !committed)
        ReportFailure(committed.error());
    else
        ReportFailure(Failure{failure.reason, failure.error, file.name});
    Handled(file, FileResult::Failed);
    return false;
}

// Counts the file and tells of it.
void Uploader::Handled(const FileToUpload& file, FileResult result, const std::string& keptName)
{
    switch (result) {
    case FileResult::Replaced:
        ++outcome_.replacedFiles;
        if (!keptName.empty())
            outcome_.replacedFolder = ReplacedFolder(uploadPath_);
        [[fallthrough]];
    case FileResult::Copied:
        ++outcome_.copiedFiles;
        break;
    case FileResult::Identical:
        ++outcome_.identicalFiles;
        break;
    case FileResult::Skipped:
        ++outcome_.skippedFiles;
        break;
    case FileResult::Failed:
        ++outcome_.failedFiles;
        break;
    case FileResult::NotReached:
        ++outcome_.notReachedFiles;
        break;
    }
    const bool inArchive = result == FileResult::Copied || result == FileResult::Replaced
                           || result == FileResult::Identical;
    if (inArchive && !file.target.empty())
        outcome_.folders.insert(std::filesystem::path(file.target).parent_path().string());
    if (!inArchive)
        outcome_.leftOnCard.push_back(file.name);
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
Result<std::string> Uploader::CopyOne(const std::string& deviceFolder, const FileToUpload& file)
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
    digest_ = Sha256();
    copyTookDigest_ = false;
    if (Result<void> copied = copy_(file.source, file.target, temp); !copied)
        return copied.error();
    if (!sameFolder()) {
        DiscardTempFile(temp);
        return cardChanged;
    }
    std::string sha256;
    if (copyTookDigest_)
        sha256 = digest_.FinishHex();
    else if (Result<std::string> readBack = Sha256HexOfFd(temp.fd))
        sha256 = std::move(*readBack);
    lastCopyOk_ = true;
    pending_.push_back({std::move(temp), file.target});
    return sha256;
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

// The kept entries of the batch are made durable before any copy replaces its name. The files
// handled since the last commit are told of in their order, each copy as it came out.
Result<void> Uploader::CommitPending()
{
    lastCommit_ = clock_();
    std::set<std::string> keptFolders;
    for (const PendingFile& file : pendingFiles_) {
        if (!file.keptName.empty())
            keptFolders.insert(
                std::filesystem::path(ReplacedFolder(uploadPath_) + file.keptName).parent_path().string());
    }
    for (const std::string& folder : keptFolders)
        SyncFolder(folder);
    ForgetStaleSums();
    const Result<void> committed = pending_.empty() ? Result<void>{} : CommitTempFiles(pending_);
    if (!committed)
        lastCopyOk_ = false;
    RecordSums(Landed(std::exchange(pendingFiles_, {}), committed ? std::string() : committed.error().path));
    return committed;
}

// The copies before the one whose rename failed (at failedTarget) have their names; it and the
// ones after it do not. The kept entry of an archived file still at its name is a duplicate and
// goes again. Returns the files in the archive: the copies that have their names and the identical ones.
std::vector<Uploader::PendingFile> Uploader::Landed(const std::vector<PendingFile>& files,
                                                    const std::string& failedTarget)
{
    std::vector<PendingFile> inPlace;
    bool failed = false;
    for (const PendingFile& file : files) {
        const bool copy = file.result == FileResult::Copied || file.result == FileResult::Replaced;
        failed = failed || (copy && !failedTarget.empty() && file.file.target == failedTarget);
        if (!copy || !failed) {
            Handled(file.file, file.result, file.keptName);
            if (copy || file.result == FileResult::Identical)
                inPlace.push_back(file);
            continue;
        }
        const std::string kept = ReplacedFolder(uploadPath_) + file.keptName;
        if (!file.keptName.empty() && StillHeldAt(file.file.target, kept))
            ::unlink(kept.c_str());
        Handled(file.file, FileResult::Failed);
    }
    return inPlace;
}

// The fingerprint lines of the copies among files, by folder.
std::map<std::string, std::vector<SumsLine>> Uploader::CopiedSumsByFolder(const std::vector<PendingFile>& files)
{
    std::map<std::string, std::vector<SumsLine>> byFolder;
    for (const PendingFile& file : files) {
        const bool copy = file.result == FileResult::Copied || file.result == FileResult::Replaced;
        if (copy && !file.sha256.empty())
            byFolder[FolderOfFile(file.file.target)].push_back({file.sha256, file.file.name});
    }
    return byFolder;
}

// Before the batch's copies take their names, a line recorded for a name with other bytes goes:
// a run killed between the renames and the recording of the new lines leaves a file without a
// line, never one whose line does not match it.
void Uploader::ForgetStaleSums()
{
    for (const auto& [folder, lines] : CopiedSumsByFolder(pendingFiles_)) {
        if (const Result<void> forgotten = ForgetStaleFolderSums(folder, lines); !forgotten)
            ReportSumsFailure(folder, forgotten.error());
    }
}

// The copies in place get their lines, and an identical archived file one when its folder has none
// for it (read from the archived file: the card's copy was not made).
void Uploader::RecordSums(const std::vector<PendingFile>& inPlace)
{
    std::map<std::string, std::vector<SumsLine>> byFolder = CopiedSumsByFolder(inPlace);
    std::map<std::string, Result<std::vector<SumsLine>>> recorded;
    for (const PendingFile& file : inPlace) {
        if (file.result != FileResult::Identical)
            continue;
        const std::string folder = FolderOfFile(file.file.target);
        auto known = recorded.try_emplace(folder, ReadFolderSums(folder)).first;
        const auto sameName = [&](const SumsLine& line) { return line.name == file.file.name; };
        if (!known->second || std::any_of(known->second->begin(), known->second->end(), sameName))
            continue;
        if (const Result<std::string> sha256 = Sha256HexOfFile(file.file.target))
            byFolder[folder].push_back({*sha256, file.file.name});
    }
    for (const auto& [folder, lines] : byFolder) {
        if (const Result<void> written = RecordFolderSums(folder, lines); !written)
            ReportSumsFailure(folder, written.error());
    }
}

// A fingerprint that cannot be recorded leaves the upload as it is and is named in its outcome.
void Uploader::ReportSumsFailure(const std::string& folder, const Failure& failure)
{
    const std::string reason = failure.error == EBADMSG ? "现有文件不是校验文件，未改动"
                               : failure.error != 0     ? std::strerror(failure.error)
                                                        : failure.reason;
    outcome_.sumsFailures.insert("校验文件无法写入：" + folder + "/" + kFolderSumsName + "（" + reason + "）");
}

// "数据上传失败！" and, on a second line, the file and the reason.
void Uploader::ReportFailure(const Failure& failure)
{
    lastCopyOk_ = false;
    const std::string reason = failure.error != 0 ? std::strerror(failure.error) : failure.reason;
    const std::string text = std::string(kUploadFailedText) + "\n" + FileNameOf(failure.path) + "：" + reason;
    if (outcome_.failure.empty())
        outcome_.failure = text;
    reports_.failed(text);
}

void Uploader::Finish()
{
    running_ = false;
    outcome_.copied = lastCopyOk_;
    reports_.finished(outcome_);
}
