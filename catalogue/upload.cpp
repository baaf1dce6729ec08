#include "catalogue/upload.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

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
                              const std::string& uploadPath)
{
    running_ = true;
    stopRequested_ = false;
    lastCopyOk_ = false;
    deviceFolder_ = IdentityOfFolder(devicePath);
    reports_.started(static_cast<int>(names.size()));
    overwriteAnswer_.reset();
    lastCommit_ = clock_();

    bool stopTakenIn = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (stopTakenIn || abortRequested_)
            break;
        const std::string& name = names[i];
        reports_.fileStarted(static_cast<int>(i + 1), name);
        stopTakenIn = stopRequested_.load();

        // An empty upload folder names no folder: the copy fails instead of landing in the
        // working folder.
        const std::string target = uploadPath.empty() ? std::string() : uploadPath + name;
        const Step step = DecideOverwrite(name, target);
        if (step == Step::EndRun)
            break;
        if (step == Step::Skip)
            continue;
        if (!CopyOne(devicePath, name, target)) {
            (void)CommitPending(); // the files copied before this one stay
            ReportFailure();
            break;
        }
        if (!CommitWhenDue())
            break;
    }
    if (const Result<void> committed = CommitPending(); !committed)
        ReportFailure(committed.error().path);
    Finish();
}

Uploader::Step Uploader::DecideOverwrite(const std::string& name, const std::string& target)
{
    if (overwriteAnswer_ == DialogResult::YesToAll || !TargetExists(target))
        return Step::Copy;
    // The folder shows every file reported as copied while the user looks at the question.
    if (const Result<void> committed = CommitPending(); !committed) {
        ReportFailure(committed.error().path);
        return Step::EndRun;
    }
    overwriteAnswer_ = reports_.askOverwrite(name);
    if (overwriteAnswer_ == DialogResult::NoToAll)
        return Step::EndRun;
    if (overwriteAnswer_ == DialogResult::No)
        return Step::Skip;
    return Step::Copy;
}

// The card's folder is looked at before and after the copy: a copy during which another card
// took the first one's place may hold the other card's file, and is thrown away.
bool Uploader::CopyOne(const std::string& deviceFolder, const std::string& name, const std::string& target)
{
    const auto sameFolder = [&] { return deviceFolder_ && IdentityOfFolder(deviceFolder) == deviceFolder_; };
    TempFile temp;
    lastCopyOk_ = !target.empty() && !FolderInTheWay(target) && sameFolder()
                  && copy_(deviceFolder + name, target, temp).has_value();
    if (lastCopyOk_ && !sameFolder()) {
        DiscardTempFile(temp);
        lastCopyOk_ = false;
    }
    if (lastCopyOk_)
        pending_.push_back({std::move(temp), target});
    return lastCopyOk_;
}

// Renames the batch into place once it holds 100 copies or a second has passed since the last
// commit. A failure ends the run at once with a message that names the file.
bool Uploader::CommitWhenDue()
{
    if (pending_.size() < kMaxPendingCopies && clock_() - lastCommit_ < kMaxCommitDelay)
        return true;
    const Result<void> committed = CommitPending();
    if (!committed)
        ReportFailure(committed.error().path);
    return committed.has_value();
}

Result<void> Uploader::CommitPending()
{
    lastCommit_ = clock_();
    if (pending_.empty())
        return {};
    Result<void> committed = CommitTempFiles(pending_);
    if (!committed)
        lastCopyOk_ = false;
    return committed;
}

void Uploader::ReportFailure(const std::string& failedPath)
{
    lastCopyOk_ = false;
    const std::string text = failedPath.empty() ? kUploadFailedText
                                                : kUploadFailedText + ("\n" + FileNameOf(failedPath));
    reports_.failed(text);
}

void Uploader::Finish()
{
    running_ = false;
    reports_.finished(lastCopyOk_);
}
