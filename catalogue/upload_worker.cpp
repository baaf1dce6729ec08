#include "catalogue/upload_worker.h"

#include "platform/qt_text.h"
#include "platform/report_interval.h"

#include <memory>

UploadWorker::UploadWorker(QObject* parent) : QObject(parent), uploader_(Reports()) {}

UploadWorker::~UploadWorker()
{
    uploader_.Abort();
    {
        const std::lock_guard lock(answerMutex_);
        closing_ = true;
    }
    answered_.notify_all();
    job_.Wait();
}

UploadReports UploadWorker::Reports()
{
    UploadReports reports;
    reports.started = [this](int fileCount) {
        fileCount_ = fileCount;
        currentPosition_ = 0;
        emit started(fileCount);
    };
    reports.fileStarted = [this, interval = ReportInterval()](int position, const std::string& fileName) mutable {
        currentPosition_ = position;
        currentName_ = fileName;
        currentReported_ = false;
        if (position != fileCount_ && !interval.Due())
            return;
        interval.Reported();
        ReportCurrentFile();
    };
    reports.askOverwrite = [this](const std::string& fileName) {
        ReportCurrentFile();
        emit overwriteQuestion(ToQString(fileName));
        return WaitForAnswer();
    };
    reports.failed = [this](const std::string&) { ReportCurrentFile(); };
    reports.finished = [this](const UploadOutcome& outcome) { outcome_ = outcome; };
    return reports;
}

// The bar and the panel name the file that a question or a failure is about, whether or not
// its start fell between two regular reports.
void UploadWorker::ReportCurrentFile()
{
    if (currentReported_ || currentPosition_ == 0)
        return;
    currentReported_ = true;
    emit fileStarted(currentPosition_, ToQString(currentName_));
}

bool UploadWorker::Start(std::vector<std::string> names, std::string devicePath, std::string uploadPath,
                         UploadOptions options)
{
    if (job_.running())
        return false;
    {
        const std::lock_guard lock(answerMutex_);
        answer_.reset();
    }
    // The outcome is the run's own: the next run may start while this one still reports it.
    auto outcome = std::make_shared<UploadOutcome>();
    job_.Start(
        [this, names = std::move(names), devicePath = std::move(devicePath), uploadPath = std::move(uploadPath),
         options, outcome](const std::atomic<bool>&) {
            uploader_.UploadFileList(names, devicePath, uploadPath, options);
            *outcome = outcome_;
        },
        [this, outcome](const std::atomic<bool>&) { emit finished(*outcome); });
    return true;
}

void UploadWorker::RequestStop()
{
    uploader_.RequestStop();
}

void UploadWorker::AnswerOverwrite(DialogResult answer)
{
    {
        const std::lock_guard lock(answerMutex_);
        answer_ = answer;
    }
    answered_.notify_all();
}

DialogResult UploadWorker::WaitForAnswer()
{
    std::unique_lock lock(answerMutex_);
    answered_.wait(lock, [this] { return answer_.has_value() || closing_; });
    if (!answer_)
        return DialogResult::NoToAll;
    return *std::exchange(answer_, std::nullopt);
}

void UploadWorker::SetCopyCall(TempCopyCall copy)
{
    uploader_.SetCopyCall(std::move(copy));
}
