#pragma once

#include "catalogue/recording_model.h"
#include "platform/wave_out.h"
#include "search/archive_search.h"
#include "search/folder_tree.h"
#include "search/result_notes.h"

#include <QDialog>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FolderSearchWorker;
class FolderTreeModel;
class PlayerControls;
struct FoundRows;
class QAbstractItemModel;
class QAction;
class QLabel;
class QPushButton;
class QTableView;
class QTreeView;
class RecordingModel;
class SearchFilterPanel;

// The window "语音查询": the archive folder tree on the left, the filters and the result list on
// the right, the playback controls under the list. Selecting a folder lists its recordings;
// "查  找" searches it with the filters; "添加" and "删除" add a file by hand and delete one.
// The playback controls under the list play the selected recording.
// Every control's object name is the one the program's window definition gives it.
class SearchWindow : public QDialog {
    Q_OBJECT

public:
    // The roots of the folder tree, read each time the window is shown and when a root's folder goes.
    using RootsSource = std::function<std::vector<FolderRoot>()>;
    // Asks for the recording file to add; an empty text when the user cancels.
    using FileChooser = std::function<QString(QWidget* owner)>;

    // makeOutput makes the sound output of each playback; without one the window plays through SDL.
    // index is the program's archive index, perhaps still opening (what its opening has to tell
    // the user is shown once the window shows); without an index the folders are listed from
    // their files alone and there are no notes.
    explicit SearchWindow(QWidget* parent = nullptr, RootsSource roots = MachineFolderRoots,
                          WaveOutFactory makeOutput = {}, IndexHost* index = nullptr);
    ~SearchWindow() override;

    void SetFileChooser(FileChooser chooser);
    // The upload folder: choosing it in the tree while uploads put recordings into month folders
    // turns "包含子文件夹" on.
    void SetUploadFolder(const std::string& folder);

    // Edits a recording's note: the edited note, or nothing when the user cancels. The
    // default shows the dialog "录音说明".
    using NoteEditor = ResultNotes::NoteEditor;
    void SetNoteEditor(NoteEditor editor);

    // "导出EXCEL" writes the result list with every column through this command, which the
    // program's shell hands in (the export is another subsystem's window code).
    using ListExporter = std::function<void(const QAbstractItemModel& list, QWidget* window, int itemColumns)>;
    void SetListExporter(ListExporter exporter);
    // "通话统计..." of the list's menu shows the statistics of the rows the list shows through this
    // viewer, which the program's shell hands in (the statistics window belongs to another subsystem).
    using StatisticsViewer = std::function<void(RowsSnapshot rows, QWidget* window)>;
    void SetStatisticsViewer(StatisticsViewer viewer);

    // Every way of closing (Esc, "退出", the close box) ends here; a listing or search that
    // is running stops at its next file, and the playback ends at once.
    void done(int result) override;

signals:
    // A listing or a search has ended (not one that a newer one replaced): its rows are all shown.
    void listingEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildResultList();
    void BuildPlayerControls(WaveOutFactory makeOutput);
    void ConnectControls();
    void LayoutSearchWindow();
    void ApplyOuterSize();

    void ShowSelectedFolder();
    std::optional<std::string> SelectedFolder() const;
    bool HoldsMonthFolders(const std::string& folder) const;
    void ShowFolderRecordings(const std::string& folder);
    void SearchRecordings();
    void ConnectSearchWorker();
    void ConnectIndex();
    void ReadUserTypes();
    void SayIndexMessage();
    void ShowFoundRows(unsigned run, const std::shared_ptr<FoundRows>& found);
    void StartRows(const std::string& folder, FolderScope scope);
    // Ends what a listing or search shows: the window enabled, the busy panel hidden.
    void EndListingOrSearch();
    void AddRecordingFile();
    void DeleteRecordingFile();
    // The note of the selected row: a double-click on the row or its menu "编辑录音说明...".
    void EditSelectedNote();

    std::optional<int> SelectedResultRow() const;

    RootsSource roots_;
    FileChooser chooseFile_;
    std::string uploadFolder_;
    IndexHost* index_;  // the program's archive index; null without one
    ResultNotes notes_; // the listed rows' notes, read and written by the index's host
    QAction* editNoteAction_ = nullptr;
    ListExporter exportList_;
    QAction* statisticsAction_ = nullptr;
    StatisticsViewer showStatistics_;
    FolderTreeModel* folderModel_ = nullptr;
    RecordingModel* resultModel_ = nullptr;

    QTreeView* folderTree_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    SearchFilterPanel* filterPanel_ = nullptr;
    QTableView* resultView_ = nullptr;
    QLabel* busyPanel_ = nullptr;

    PlayerControls* playerControls_ = nullptr;

    bool outerSizeApplied_ = false;
    bool closing_ = false;
    // Lists and searches folders; a new listing or search ends the one going on.
    FolderSearchWorker* searchWorker_ = nullptr;
    bool listing_ = false; // a listing goes on, with the window disabled under the busy panel
    QPointer<QWidget> focusBeforeListing_;
};
