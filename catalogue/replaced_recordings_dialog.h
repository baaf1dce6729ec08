#pragma once

#include "catalogue/replaced_recordings.h"
#include "platform/background_job.h"
#include "platform/wave_out.h"

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

class Player;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;

// The dialog "被替换的录音": the archived recordings that uploads replaced and kept in the upload
// folder's ".replaced", listed on a worker (day replaced, name, mode, number, start time, size).
// "播放" and "停止" play the selected one; "恢复" puts it back into the folder it came from under
// the name in "恢复为", which is its own name while that is free and a new free name otherwise:
// no file is ever overwritten, and a restore that fails says so, naming the file.
class ReplacedRecordingsDialog : public QDialog {
    Q_OBJECT

public:
    // uploadPath ends with "/"; makeOutput makes the sound output of each playback, without one
    // the dialog plays through SDL.
    explicit ReplacedRecordingsDialog(std::string uploadPath, WaveOutFactory makeOutput = {},
                                      QWidget* parent = nullptr);

    // Every way of closing ends here: the listing stops and the playback ends at once.
    void done(int result) override;

signals:
    // The listing has ended and its rows are shown.
    void listed();

private:
    void BuildControls();
    void StartListing();
    void ShowRows(std::vector<ReplacedRecordingRow> rows);
    void ShowSelected();
    void ShowCount();
    void PlaySelected();
    void RestoreSelected();
    const ReplacedRecordingRow* SelectedRecording() const;
    void Warn(const QString& text);

    const std::string uploadPath_;
    std::vector<ReplacedRecordingRow> rows_; // in the order of the list's rows
    QStandardItemModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QLabel* nameTakenLabel_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    Player* player_ = nullptr;
    // Last, so that it goes first: the listing has ended before anything it reports to goes.
    BackgroundJob listing_;
};
