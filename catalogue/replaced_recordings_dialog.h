#pragma once

#include "catalogue/replaced_recordings.h"
#include "platform/background_job.h"
#include "platform/wave_out.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Player;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;

// The dialog "被替换的录音": the archived recordings that uploads replaced and kept in an upload
// folder's ".replaced", listed on a worker (day replaced, name, mode, number, start time, size).
// Its folder choice "上传文件夹" offers the current upload folder and every other folder with kept
// recordings that the archive index knows (the folders uploads went into, and above a month folder
// the upload folder), found on a worker: an earlier batch folder's recordings stay in reach.
// "播放" and "停止" play the selected one; "恢复" puts it back into the folder it came from under
// the name in "恢复为", its own unless the user types another recorder name. A recording that
// holds the name is kept in its turn, so the two exchange places and no file is overwritten; the
// restore runs on the worker, and one that fails says so, naming the file.
class ReplacedRecordingsDialog : public QDialog {
    Q_OBJECT

public:
    // Asks for the folders the archive index knows, then calls done with them on receiver's
    // thread (unless receiver is gone by then).
    using KnownFoldersQuery =
        std::function<void(QObject* receiver, std::function<void(std::vector<std::string>)> done)>;

    // uploadPath ends with "/"; knownFolders (may be empty) asks for the other folders; makeOutput
    // makes the sound output of each playback, without one the dialog plays through SDL.
    explicit ReplacedRecordingsDialog(std::string uploadPath, KnownFoldersQuery knownFolders = {},
                                      WaveOutFactory makeOutput = {}, QWidget* parent = nullptr);

    // Every way of closing ends here: the listing stops and the playback ends at once.
    void done(int result) override;

signals:
    // The listing has ended and its rows are shown.
    void listed();
    // The search for folders with kept recordings has ended; the folder choice holds them all.
    void foldersFound();

private:
    void BuildControls();
    QLayout* BuildNameRow();
    void FindFolders(const KnownFoldersQuery& knownFolders);
    void SearchFolders(std::vector<std::string> knownFolders);
    void AddFolders(const std::vector<std::string>& folders);
    std::string Folder() const;
    void StartListing();
    void ShowRows(std::vector<ReplacedRecordingRow> rows);
    void ShowSelected();
    void ShowCount();
    void PlaySelected();
    void RestoreSelected();
    void ShowRestored(const Result<std::string>& restored, const QString& target);
    const ReplacedRecordingRow* SelectedRecording() const;
    void Warn(const QString& text);

    std::vector<ReplacedRecordingRow> rows_; // in the order of the list's rows
    QStandardItemModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    QComboBox* folderBox_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QLabel* nameTakenLabel_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    Player* player_ = nullptr;
    // Last, so that they go first: a job has ended before anything it reports to goes.
    BackgroundJob folderSearch_;
    BackgroundJob listing_; // the listing, or a restore and the listing after it
};
