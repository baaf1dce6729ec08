#include "search/search_window.h"

#include "catalogue/recording_model.h"
#include "catalogue/upload_settings.h"
#include "platform/wave_out_sdl.h"
#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "search/archive_search.h"
#include "search/call_sharing.h"
#include "search/evidence_export.h"
#include "search/folder_search_worker.h"
#include "search/folder_tree_model.h"
#include "search/note_dialog.h"
#include "search/result_file_commands.h"
#include "search/search_filter_panel.h"
#include "search/player_controls.h"
#include "styling/flat_styler.h"

#include <QAction>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <filesystem>
#include <utility>

namespace {

const QColor kBackground(221, 221, 225);
const QString kListingText = QStringLiteral("正在显示语音列表...");
const QString kWarningCaption = QStringLiteral("提示");
constexpr QSize kOuterSize(1020, 604);
constexpr QSize kBusyPanelSize(305, 81);
constexpr QSize kSideButtonSize(75, 25);
constexpr int kTreeLeft = 14;
constexpr int kTreeTop = 29;
constexpr int kTreeWidth = 240;
constexpr int kListLeft = 268;

void Warn(QWidget* owner, const QString& text)
{
    ShowMessage(owner, text, kWarningCaption, MessageIcon::Warning);
}

} // namespace

SearchWindow::SearchWindow(QWidget* parent, RootsSource roots, WaveOutFactory makeOutput, IndexHost* index)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                          | Qt::WindowCloseButtonHint),
      roots_(std::move(roots)),
      chooseFile_(ChooseRecordingFile),
      index_(index),
      notes_(index, this)
{
    setObjectName(QStringLiteral("FrmSearch"));
    setWindowTitle(QStringLiteral("语音查询"));
    setModal(true);
    QFont font(QStringLiteral("新宋体"));
    font.setPixelSize(12);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    // The worker keeps a connection of its own to the index, made on its thread once the index is ready.
    searchWorker_ = new FolderSearchWorker(index ? index->WorkerLocation() : std::nullopt, this);
    searchWorker_->setObjectName(QStringLiteral("folderSearchWorker"));
    BuildControls();
    BuildPlayerControls(makeOutput ? std::move(makeOutput) : WaveOutFactory(MakeSdlWaveOut));
    ConnectControls();
    ConnectSearchWorker();
    ConnectIndex();
    ApplyFormFont(this);
    resize(kOuterSize);
    AttachFlatStyler(this);
}

// The playback ends first, so that no worker reports to a window being taken apart.
SearchWindow::~SearchWindow()
{
    playerControls_->ShutDown();
}

void SearchWindow::SetFileChooser(FileChooser chooser)
{
    chooseFile_ = std::move(chooser);
}

void SearchWindow::SetUploadFolder(const std::string& folder)
{
    uploadFolder_ = folder;
}

void SearchWindow::SetListExporter(ListExporter exporter)
{
    exportList_ = std::move(exporter);
}

void SearchWindow::SetStatisticsViewer(StatisticsViewer viewer)
{
    showStatistics_ = std::move(viewer);
}

void SearchWindow::SetNoteEditor(NoteEditor editor)
{
    notes_.SetEditor(std::move(editor));
}

void SearchWindow::BuildControls()
{
    auto* treeLabel = MakeNamed<QLabel>("StaticText1", QStringLiteral("请选择查询语音路径："), this);
    treeLabel->move(kTreeLeft, 10);

    folderModel_ = new FolderTreeModel(this);
    folderTree_ = MakeNamed<QTreeView>("TVSpeakPath", this);
    folderTree_->setModel(folderModel_);
    folderTree_->setAccessibleName(QStringLiteral("查询语音路径"));
    folderTree_->setHeaderHidden(true);
    folderTree_->setIndentation(19);
    folderTree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderTree_->setSelectionMode(QAbstractItemView::SingleSelection);
    folderTree_->setFrameShape(QFrame::Box);
    folderTree_->setLineWidth(1);
    folderTree_->installEventFilter(this);

    // No button is the dialog's default: Enter in the phone box must not run "添加".
    addButton_ = MakeDialogButton("btnAdd", QStringLiteral("添加"), this, kSideButtonSize);
    deleteButton_ = MakeDialogButton("btnDel", QStringLiteral("删除"), this, kSideButtonSize);
    filterPanel_ = new SearchFilterPanel(this);
    BuildResultList();
}

void SearchWindow::BuildResultList()
{
    resultModel_ = new RecordingModel(this);
    resultView_ = MakeNamed<QTableView>("ListViewPlay", this);
    resultView_->setModel(resultModel_);
    resultView_->setAccessibleName(QStringLiteral("语音列表"));
    SetUpRecordingView(resultView_, QAbstractItemView::SingleSelection, {50, 100, 110, 80, 160, 110, 110, 190});

    resultView_->viewport()->installEventFilter(this);
    editNoteAction_ = new QAction(QStringLiteral("编辑录音说明..."), resultView_);
    editNoteAction_->setObjectName(QStringLiteral("actEditNote"));
    resultView_->addAction(editNoteAction_);
    statisticsAction_ = new QAction(QStringLiteral("通话统计..."), resultView_);
    statisticsAction_->setObjectName(QStringLiteral("actStatistics"));
    resultView_->addAction(statisticsAction_);
    resultView_->setContextMenuPolicy(Qt::ActionsContextMenu);

    busyPanel_ = MakeBusyPanel(kListingText, this);
    busyPanel_->resize(kBusyPanelSize);
}

// The playback controls play the list's selected row; the window's caption names the recording
// each start plays.
void SearchWindow::BuildPlayerControls(WaveOutFactory makeOutput)
{
    PlayList list{[this] { return SelectedResultRow(); },
                  [this](int row) { return resultModel_->entry(row).path(); },
                  [this] { return resultModel_->rowCount(); },
                  [this](int row) { resultView_->selectRow(row); }};
    playerControls_ = new PlayerControls(
        std::move(list), [this] { resultView_->setFocus(); }, std::move(makeOutput), this);
    connect(playerControls_, &PlayerControls::startingRecording, this,
            [this](const QString& path) { setWindowTitle(QStringLiteral("语音查询 正在播放的语音：") + path); });
    connect(playerControls_, &PlayerControls::quitRequested, this, &SearchWindow::close);
    connect(resultView_->selectionModel(), &QItemSelectionModel::selectionChanged, playerControls_,
            &PlayerControls::ShowOutline);
    connect(resultModel_, &QAbstractItemModel::modelReset, playerControls_, &PlayerControls::ShowOutline);
    // "另存为...", "复制" and the drag of a row out of the list.
    const auto selectedPath = [this]() -> std::optional<std::string> {
        const std::optional<int> row = SelectedResultRow();
        return row ? std::optional(resultModel_->entry(*row).path()) : std::nullopt;
    };
    new CallSharing(resultView_, selectedPath, [this](const std::string& path) { return notes_.Description(path); },
                    this);
    new EvidenceExport(resultView_, selectedPath, [this](const std::string& path) { return notes_.NoteOf(path); },
                       this);
}

void SearchWindow::ConnectControls()
{
    connect(folderTree_, &QTreeView::expanded, folderModel_, &FolderTreeModel::ExpandFolderNode);
    connect(folderModel_, &FolderTreeModel::rootGone, this, [this] { folderModel_->UpdateRoots(roots_()); });
    connect(folderTree_, &QTreeView::clicked, this, &SearchWindow::ShowSelectedFolder);
    connect(filterPanel_, &SearchFilterPanel::searchRequested, this, &SearchWindow::SearchRecordings);
    connect(filterPanel_, &SearchFilterPanel::subfoldersToggled, this, [this] {
        if (const std::optional<std::string> folder = SelectedFolder())
            ShowFolderRecordings(*folder);
    });
    connect(addButton_, &QPushButton::clicked, this, &SearchWindow::AddRecordingFile);
    connect(deleteButton_, &QPushButton::clicked, this, &SearchWindow::DeleteRecordingFile);
    connect(resultView_, &QTableView::doubleClicked, this, &SearchWindow::EditSelectedNote);
    connect(editNoteAction_, &QAction::triggered, this, &SearchWindow::EditSelectedNote);
    connect(statisticsAction_, &QAction::triggered, this, [this] {
        if (showStatistics_)
            showStatistics_(resultModel_->Snapshot(), this);
    });
    connect(filterPanel_, &SearchFilterPanel::exportRequested, this, [this] {
        if (exportList_)
            exportList_(*resultView_->model(), this, resultView_->model()->columnCount());
    });
    connect(resultView_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        // A listing sets the sort state when it starts; a click meanwhile would flip it.
        if (!listing_)
            resultModel_->SortByColumnClick(column);
    });
}

void SearchWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    closing_ = false;
    ApplyOuterSize();
    folderModel_->BuildDriveRoots(roots_());
    folderTree_->setFocus();
    SayIndexMessage();
}

// Until the index is ready the folders are listed from their files alone.
void SearchWindow::ConnectIndex()
{
    if (!index_)
        return;
    if (index_->state() == IndexHost::State::Opening) {
        connect(index_, &IndexHost::ready, this, [this] {
            searchWorker_->UseIndex(*index_->WorkerLocation());
            SayIndexMessage();
        });
        connect(index_, &IndexHost::failed, this, &SearchWindow::SayIndexMessage);
    }
    ReadUserTypes();
}

void SearchWindow::ReadUserTypes()
{
    notes_.ReadUserTypes([this](const std::vector<std::string>& userTypes) { filterPanel_->SetUserTypes(userTypes); });
}

// What the opening of the index has to say, in the first window shown that needs the index.
void SearchWindow::SayIndexMessage()
{
    if (!index_ || !isVisible())
        return;
    if (const QString message = index_->TakeMessage(); !message.isEmpty())
        Warn(this, message);
}

// The size counts the window's frame, which is known once the window is shown; the window
// then stands centred on the one that opened it.
void SearchWindow::ApplyOuterSize()
{
    if (std::exchange(outerSizeApplied_, true))
        return;
    ResizeToOuterSize(this, kOuterSize);
    if (const QWidget* owner = parentWidget())
        move((QRectF(owner->window()->frameGeometry()).center() - QRectF(QPointF(), kOuterSize).center()).toPoint());
}

void SearchWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayoutSearchWindow();
}

// Places the controls for the window's outer size: the tree on the left, the list beside it,
// the playback controls in eight equal steps under the list.
void SearchWindow::LayoutSearchWindow()
{
    const int w = frameGeometry().width();
    const int h = frameGeometry().height();
    folderTree_->setGeometry(kTreeLeft, kTreeTop, kTreeWidth, h - 100);
    resultView_->setGeometry(kListLeft, kTreeTop + 34, w - 295, folderTree_->height() - 75);
    PlaceBusyPanel(busyPanel_, frameGeometry().size());
    addButton_->move(kTreeLeft, h - 64);
    deleteButton_->move(kTreeLeft + kTreeWidth - addButton_->width(), h - 64);
    filterPanel_->move(kListLeft, 0);

    playerControls_->setGeometry(kListLeft, h - 115, w - kListLeft, PlayerControls::kHeight);
}

void SearchWindow::done(int result)
{
    closing_ = true;
    searchWorker_->Stop();
    EndListingOrSearch();
    playerControls_->ShutDown();
    QDialog::done(result);
}

// Esc closes the window only when the window itself has the keyboard: in the tree, the list or
// a filter box it throws nothing away.
void SearchWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && focusWidget() != nullptr && focusWidget() != this) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

// The Up and Down keys list the folder they moved to once they are released.
bool SearchWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == folderTree_ && event->type() == QEvent::KeyRelease) {
        // A held key repeats its presses and releases: only the last release lists.
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && !key->isAutoRepeat())
            ShowSelectedFolder();
    }
    if (watched == resultView_->viewport() && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex at = resultView_->indexAt(help->pos());
        notes_.ShowToolTip(at.isValid() ? resultModel_->entry(at.row()).path() : std::string(), help->globalPos(),
                           resultView_->viewport());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<std::string> SearchWindow::SelectedFolder() const
{
    const QModelIndexList selected = folderTree_->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    return folderModel_->folderPath(selected.front());
}

void SearchWindow::ShowSelectedFolder()
{
    if (const std::optional<std::string> folder = SelectedFolder()) {
        filterPanel_->SuggestSubfolders(HoldsMonthFolders(*folder));
        ShowFolderRecordings(*folder);
    }
}

// The upload folder while uploads put each recording into the folder of its month: the folder
// itself holds none of them.
// The paths are compared as written: asking the disk would wait for a card that does not answer.
bool SearchWindow::HoldsMonthFolders(const std::string& folder) const
{
    const auto normal = [](const std::string& path) { return (std::filesystem::path(path) / "").lexically_normal(); };
    return !uploadFolder_.empty() && normal(folder) == normal(uploadFolder_)
           && ReadUploadSettings(SettingsFilePath()).options.monthFolders;
}

void SearchWindow::ConnectSearchWorker()
{
    connect(searchWorker_, &FolderSearchWorker::rowsFound, this, &SearchWindow::ShowFoundRows);
    connect(searchWorker_, &FolderSearchWorker::progress, this, [this](unsigned run, const QString& text) {
        if (!searchWorker_->IsLatest(run))
            return;
        busyPanel_->setText(text);
        busyPanel_->show();
        busyPanel_->raise();
    });
    connect(searchWorker_, &FolderSearchWorker::ended, this, [this](unsigned run, SearchOutcome outcome) {
        if (!searchWorker_->IsLatest(run))
            return;
        EndListingOrSearch();
        if (outcome == SearchOutcome::FromAfterTo)
            ShowMessage(this, ToQString(std::string(kFromAfterToMessage)), QStringLiteral("错误"),
                        MessageIcon::Error);
        emit listingEnded();
    });
}

// A listing's rows come sorted and numbered at its end; a search's rows come as they are
// found and are numbered after the rows shown, those added by hand meanwhile included.
void SearchWindow::ShowFoundRows(unsigned run, const std::shared_ptr<FoundRows>& found)
{
    if (!searchWorker_->IsLatest(run))
        return;
    std::vector<RecordingEntry>& rows = found->rows;
    if (!listing_) {
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i].texts[kColNumber] = std::to_string(resultModel_->rowCount() + static_cast<int>(i) + 1);
    }
    notes_.Add(found->notes);
    resultModel_->AppendBatch(std::move(rows));
}

// Lists the folder with the window disabled and the busy panel over it; the rows come sorted
// by start time. A listing or search going on ends unseen.
void SearchWindow::ShowFolderRecordings(const std::string& folder)
{
    busyPanel_->setText(kListingText);
    if (!std::exchange(listing_, true))
        focusBeforeListing_ = EnterBusy(this, busyPanel_);
    const FolderScope scope = filterPanel_->criteria().scope;
    StartRows(folder, scope);
    resultModel_->SetSortState({kColStartTime, false});
    searchWorker_->List(folder, scope);
}

// Searches the selected folder with the filters; the window stays enabled meanwhile.
void SearchWindow::SearchRecordings()
{
    const std::optional<std::string> folder = SelectedFolder();
    if (!folder)
        return;
    EndListingOrSearch();
    const SearchCriteria criteria = filterPanel_->criteria();
    StartRows(*folder, criteria.scope);
    searchWorker_->Search(*folder, criteria);
}

// The rows of folder with its subfolders show the folder column, beside the file name where it
// is seen without scrolling.
void SearchWindow::StartRows(const std::string& folder, FolderScope scope)
{
    resultModel_->Clear();
    const bool hadFolderColumn = resultModel_->showsFolderColumn();
    resultModel_->SetFolderColumn(scope == FolderScope::WithSubfolders ? folder : std::string());
    if (resultModel_->showsFolderColumn() && !hadFolderColumn) {
        QHeaderView* header = resultView_->horizontalHeader();
        header->moveSection(header->visualIndex(kColFolder), kColFileName + 1);
        header->resizeSection(kColFolder, 90);
    }
    notes_.Clear();
}

void SearchWindow::EndListingOrSearch()
{
    if (std::exchange(listing_, false))
        LeaveBusy(this, busyPanel_, focusBeforeListing_);
    busyPanel_->hide();
    busyPanel_->setText(kListingText);
}

void SearchWindow::AddRecordingFile()
{
    if (std::optional<RecordingEntry> row = AddedRecordingRow(this, chooseFile_(this), resultModel_->rowCount() + 1)) {
        notes_.Remember(row->path());
        resultModel_->Append(std::move(*row));
    }
}

void SearchWindow::EditSelectedNote()
{
    const std::optional<int> row = SelectedResultRow();
    if (row)
        notes_.Edit(resultModel_->entry(*row).path(), [this] { ReadUserTypes(); });
}

// Deletes the selected row's file without asking; the other rows keep their numbers. A file
// that could not be deleted (a read-only folder or mount) keeps its row and is named.
void SearchWindow::DeleteRecordingFile()
{
    const QModelIndexList selected = resultView_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        ShowMessage(this, QStringLiteral("请先选择一条要删除的语音！"), kWarningCaption, MessageIcon::Warning);
        return;
    }
    const int row = selected.front().row();
    if (DeleteRowFile(this, resultModel_->entry(row).path()))
        resultModel_->RemoveRows({row});
    resultView_->setFocus();
}

std::optional<int> SearchWindow::SelectedResultRow() const
{
    const QModelIndexList selected = resultView_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.front().row();
}
