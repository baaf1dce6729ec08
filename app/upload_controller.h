#pragma once

#include "catalogue/upload_worker.h"
#include "platform/dialog_result.h"

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class IndexHost;

// The main window's upload run: starts it with the options of the settings file, passes the
// worker's progress on, gives the overwrite question's answer to the worker, stops it, makes the
// message the run ends with and hands the folders the run wrote into to the archive index's
// owner. It shows nothing: the window connects to its signals and shows what they carry.
class UploadController : public QObject {
    Q_OBJECT

public:
    // The program's archive index, opened when it is first asked for.
    using IndexOwner = std::function<IndexHost*()>;

    explicit UploadController(IndexOwner indexOwner, QObject* parent = nullptr);

    // Starts a run of the names from the card's folder into the upload folder; false, with
    // nothing started, while another run goes on. started() is emitted before it returns. A run
    // started by the card's arrival (automatic), one that may skip files without a question or
    // one that spreads the files over month folders ends with the counts of what it did and
    // where; an automatic run's message names its card in its caption.
    bool Start(const std::vector<std::string>& names, const std::string& devicePath, const std::string& uploadPath,
               bool automatic);
    // Ends the run after its current file (at once while it waits for an answer).
    void Stop();
    bool running() const { return worker_.running(); }
    // The answer to overwriteQuestion(). Anything but one of the question's own answers (the
    // program is quitting) ends the run.
    void Answer(DialogResult answer);

    // Replaces the copy of one file (tests make copies fail or act during them); between runs.
    void SetCopyCall(TempCopyCall copy);

signals:
    // The run has started and waits for the card, which may be slow to answer.
    void started(int fileCount);
    // The card has answered: the run goes on to its files.
    void cardAnswered();
    void fileStarted(int position, const QString& fileName);
    // The run waits for Answer().
    void overwriteQuestion(const QString& fileName);
    // The run has ended. message is what the user is told: the failed copy, else the completion
    // (or the counts) and how many files a run ended at "取消" copied; empty for nothing. caption
    // is the title of its box.
    void finished(const QString& message, const QString& caption);

private:
    void Finish(const UploadOutcome& outcome);

    IndexOwner indexOwner_;
    UploadWorker worker_;
    bool summaryWanted_ = false; // the run that goes on ends with its counts
    QString caption_;            // the title of the run's message
};
