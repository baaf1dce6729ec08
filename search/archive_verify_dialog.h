#pragma once

#include "platform/background_job.h"
#include "search/archive_verification.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>
#include <map>
#include <string>

class QAbstractItemModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QTableView;

// The dialog "校验存档": checks the recordings of a folder (with its subfolders when asked) against
// the fingerprints its SHA256SUMS files hold, in a worker, with a progress bar that tells the files,
// MB/s and the time left. The list names each recording with its folder as 完好, 已被修改, 缺失,
// 无法读取 or 无校验记录; "导出Excel" writes it as a spreadsheet. Closing stops the check.
class ArchiveVerifyDialog : public QDialog {
    Q_OBJECT

public:
    // Writes the list into a spreadsheet; the program's shell hands it in (the export is another
    // subsystem's window code).
    using ListExporter = std::function<void(const QAbstractItemModel& list, QWidget* window, int itemColumns)>;

    // folder is the one offered at first (the upload folder).
    ArchiveVerifyDialog(const std::string& folder, ListExporter exporter, QWidget* parent = nullptr);

    // Every way of closing ends here: the check stops at its next file.
    void done(int result) override;

signals:
    // A check has ended (not one stopped by closing): its rows are all shown.
    void verified();

private:
    struct Progress {
        ArchiveExtent total;
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
    };
    void BuildControls();
    void ChooseFolder();
    void StartCheck();
    void AddRow(const std::string& root, const VerifiedRecording& recording);
    void ShowProgress(const Progress& progress);
    void EndCheck(bool opened, const std::string& root);

    ListExporter exportList_;
    std::map<FingerprintState, int> counts_;
    QElapsedTimer clock_;
    QLineEdit* folderEdit_ = nullptr;
    QCheckBox* subfoldersBox_ = nullptr;
    QPushButton* verifyButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QStandardItemModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    // Last, so that it goes first: the check has ended before anything it reports to goes.
    BackgroundJob check_;
};
