#pragma once

#include "catalogue/upload.h"
#include "platform/background_job.h"

#include <QObject>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Runs the upload on a thread of its own and reports to the window through queued signals.
// The overwrite question is asked on the window's thread: overwriteQuestion() is emitted and
// the run waits until AnswerOverwrite() gives the answer; destroying the worker meanwhile ends
// the run as "取消" would.
class UploadWorker : public QObject {
    Q_OBJECT

public:
    explicit UploadWorker(QObject* parent = nullptr);
    // Ends a run after its current file (at once while it waits for an answer) and waits for it.
    ~UploadWorker() override;

    // Starts a run; false, with nothing started, while another run goes on. The run keeps the
    // device folder it was given, whatever the window lists later.
    bool Start(std::vector<std::string> names, std::string devicePath, std::string uploadPath,
               UploadOptions options = {});
    void RequestStop();
    void AnswerOverwrite(DialogResult answer);
    bool running() const { return job_.running(); }

    // Replaces the copy of one file (tests make copies fail or act during them); between runs.
    void SetCopyCall(TempCopyCall copy);

signals:
    void started(int fileCount);
    // About ten times a second at most, and for the last file, a file asked about and a file
    // whose copy failed (the failure is in the outcome).
    void fileStarted(int position, const QString& fileName);
    void overwriteQuestion(const QString& fileName);
    // outcome.folders names the folders the run wrote into, for the archive index's owner.
    void finished(const UploadOutcome& outcome);

private:
    UploadReports Reports();
    DialogResult WaitForAnswer();
    void ReportCurrentFile();

    Uploader uploader_;
    BackgroundJob job_;
    std::mutex answerMutex_;
    std::condition_variable answered_;
    std::optional<DialogResult> answer_;
    bool closing_ = false; // guarded by answerMutex_
    // Of the run that goes on; touched by its thread only.
    int fileCount_ = 0;
    int currentPosition_ = 0; // 0 before the first file
    std::string currentName_;
    bool currentReported_ = false;
    UploadOutcome outcome_;
};
