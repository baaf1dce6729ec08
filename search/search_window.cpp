#include "search/search_window.h"

#include "catalogue/recording_model.h"
#include "platform/wave_out_sdl.h"
#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "search/archive_search.h"
#include "search/folder_search_worker.h"
#include "search/folder_tree_model.h"
#include "search/note_dialog.h"
#include "search/player_controls.h"
#include "styling/flat_styler.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolTip>
#include <QTreeView>
#include <filesystem>
#include <unistd.h>
#include <utility>

namespace {

const QColor kBackground(221, 221, 225);
const QString kListingText = QStringLiteral("正在显示语音列表...");
const QString kWarningCaption = QStringLiteral("提示");
constexpr QSize kOuterSize(1020, 604);
constexpr QSize kBusyPanelSize(305, 81);
constexpr QSize kFilterPanelSize(725, 62);
constexpr QSize kSideButtonSize(75, 25);
constexpr int kTreeLeft = 14;
constexpr int kTreeTop = 29;
constexpr int kTreeWidth = 240;
constexpr int kListLeft = 268;

// No button is the dialog's default: Enter in the phone box must not run "添加".
QPushButton* MakeButton(const char* objectName, const QString& text, QWidget* parent, QSize size)
{
    auto* button = MakeNamed<QPushButton>(objectName, text, parent);
    button->setAutoDefault(false);
    button->resize(size);
    return button;
}

void Warn(QWidget* owner, const QString& text)
{
    ShowMessage(owner, text, kWarningCaption, MessageIcon::Warning);
}

QString DefaultFileChooser(QWidget* owner)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(), QStringLiteral("WAV文件 (VOC*.WAV)"));
}

} // namespace

SearchWindow::SearchWindow(QWidget* parent, RootsSource roots, WaveOutFactory makeOutput)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                          | Qt::WindowCloseButtonHint),
      roots_(std::move(roots)),
      chooseFile_(DefaultFileChooser),
      editNote_(EditNoteInDialog)
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

    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    index_ = std::move(opened.index);
    indexMessage_ = std::move(opened.message);
    searchWorker_ = new FolderSearchWorker(index_ ? std::optional(index_->location()) : std::nullopt, this);
    searchWorker_->setObjectName(QStringLiteral("folderSearchWorker"));
    BuildControls();
    BuildPlayerControls(makeOutput ? std::move(makeOutput) : WaveOutFactory(MakeSdlWaveOut));
    ConnectControls();
    ConnectSearchWorker();
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

void SearchWindow::SetListExporter(ListExporter exporter)
{
    exportList_ = std::move(exporter);
}

void SearchWindow::SetNoteEditor(NoteEditor editor)
{
    editNote_ = std::move(editor);
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

    addButton_ = MakeButton("btnAdd", QStringLiteral("添加"), this, kSideButtonSize);
    deleteButton_ = MakeButton("btnDel", QStringLiteral("删除"), this, kSideButtonSize);
    filterPanel_ = BuildFilterPanel();
    BuildResultList();
}

QWidget* SearchWindow::BuildFilterPanel()
{
    auto* panel = MakeNamed<QWidget>("panl", this);
    panel->resize(kFilterPanelSize);
    fromPicker_ = MakeNamed<QDateEdit>("DateTimePicker01", QDate::currentDate(), panel);
    toPicker_ = MakeNamed<QDateEdit>("DateTimePicker11", QDate::currentDate(), panel);
    for (QDateEdit* picker : {fromPicker_, toPicker_}) {
        picker->setCalendarPopup(true);
        picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    voiceTypeBox_ = MakeNamed<QComboBox>("cbVoicetype", panel);
    for (std::string_view item : kModeFilterItems)
        voiceTypeBox_->addItem(ToQString(std::string(item)));
    userTypeBox_ = MakeNamed<QComboBox>("cbUsertype", panel);
    userTypeBox_->setEditable(true);
    FillUserTypes();
    phoneEdit_ = MakeNamed<QLineEdit>("edtPhone", panel);
    descriptionEdit_ = MakeNamed<QLineEdit>("edtDesc", panel);
    searchButton_ = MakeButton("btnSearch", QStringLiteral("查  找"), panel, kSideButtonSize);
    exportButton_ = MakeButton("btnExecl", QStringLiteral("导出EXCEL"), panel, kSideButtonSize);

    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 4, 0, 4);
    const auto addRow = [&](int row, std::initializer_list<std::pair<const char*, QString>> labels,
                            std::initializer_list<QWidget*> fields, QPushButton* button) {
        int column = 0;
        auto field = fields.begin();
        for (const auto& [name, text] : labels) {
            auto* label = MakeNamed<QLabel>(name, text, panel);
            label->setBuddy(*field); // what a screen reader says for the field
            grid->addWidget(label, row, column++, Qt::AlignRight);
            grid->addWidget(*field++, row, column++);
        }
        grid->addWidget(button, row, column);
    };
    addRow(0,
           {{"StaticText2", QStringLiteral("从：")},
            {"StaticText4", QStringLiteral("语音类型：")},
            {"StaticText5", QStringLiteral("电话号码：")}},
           {fromPicker_, voiceTypeBox_, phoneEdit_}, searchButton_);
    addRow(1,
           {{"StaticText3", QStringLiteral("到：")},
            {"StaticText7", QStringLiteral("用户类型：")},
            {"StaticText6", QStringLiteral("录音说明：")}},
           {toPicker_, userTypeBox_, descriptionEdit_}, exportButton_);
    return panel;
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
                  [this](int row) { resultView_->selectRow(row); },
                  [this] { resultView_->setFocus(); }};
    playerControls_ = new PlayerControls(std::move(list), std::move(makeOutput), this);
    connect(playerControls_, &PlayerControls::startingRecording, this,
            [this](const QString& path) { setWindowTitle(QStringLiteral("语音查询 正在播放的语音：") + path); });
    connect(playerControls_, &PlayerControls::quitRequested, this, &SearchWindow::close);
}

void SearchWindow::ConnectControls()
{
    connect(folderTree_, &QTreeView::expanded, folderModel_, &FolderTreeModel::ExpandFolderNode);
    connect(folderTree_, &QTreeView::clicked, this, &SearchWindow::ShowSelectedFolder);
    connect(searchButton_, &QPushButton::clicked, this, &SearchWindow::SearchRecordings);
    connect(addButton_, &QPushButton::clicked, this, &SearchWindow::AddRecordingFile);
    connect(deleteButton_, &QPushButton::clicked, this, &SearchWindow::DeleteRecordingFile);
    connect(resultView_, &QTableView::doubleClicked, this, &SearchWindow::EditSelectedNote);
    connect(editNoteAction_, &QAction::triggered, this, &SearchWindow::EditSelectedNote);
    connect(exportButton_, &QPushButton::clicked, this, [this] {
        if (exportList_)
            exportList_(*resultView_->model(), this, resultView_->model()->columnCount());
    });
    connect(resultView_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { resultModel_->SortByColumnClick(column); });
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
    if (!indexMessage_.empty())
        Warn(this, ToQString(std::exchange(indexMessage_, {})));
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
        ShowRowToolTip(static_cast<QHelpEvent*>(event));
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
    if (const std::optional<std::string> folder = SelectedFolder())
        ShowFolderRecordings(*folder);
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
    notes_.merge(found->notes);
    resultModel_->AppendBatch(std::move(rows));
}

// Lists the folder with the window disabled and the busy panel over it; the rows come sorted
// by start time. A listing or search going on ends unseen.
void SearchWindow::ShowFolderRecordings(const std::string& folder)
{
    busyPanel_->setText(kListingText);
    if (!listing_)
        focusBeforeListing_ = EnterBusy(this, busyPanel_);
    listing_ = true;
    StartRows();
    resultModel_->SetSortState({kColStartTime, false});
    searchWorker_->List(folder);
}

// Searches the selected folder with the filters; the window stays enabled meanwhile.
void SearchWindow::SearchRecordings()
{
    const std::optional<std::string> folder = SelectedFolder();
    if (!folder)
        return;
    EndListingOrSearch();
    StartRows();
    searchWorker_->Search(*folder, SearchCriteria{fromPicker_->date(), toPicker_->date(),
                                                  voiceTypeBox_->currentText().toStdString(),
                                                  phoneEdit_->text().toStdString(),
                                                  descriptionEdit_->text().toStdString(),
                                                  userTypeBox_->currentText().toStdString()});
}

void SearchWindow::StartRows()
{
    resultModel_->Clear();
    notes_.clear();
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
    const QString chosen = chooseFile_(this);
    if (chosen.isEmpty())
        return;
    const QFileInfo file(chosen);
    const std::string name = file.fileName().toStdString();
    if (!HasRecordingName(name)) {
        ShowMessage(this, QStringLiteral("请先选择一个命名规范的文件！"), kWarningCaption, MessageIcon::Warning);
        return;
    }
    const std::string folder = file.absolutePath().toStdString() + "/";
    if (std::optional<RecordingEntry> row = MakeRecordingEntry(folder, name, resultModel_->rowCount() + 1)) {
        RememberNoteOf(row->path());
        resultModel_->Append(std::move(*row));
    }
}

void SearchWindow::RememberNoteOf(const std::string& path)
{
    const std::optional<RecordingHead> head = ReadRecordingHead(path);
    if (!index_ || !head)
        return;
    const RecordingNote note = index_->NoteOf(IdentityOf(std::filesystem::path(path).filename().string(), *head));
    if (note.empty())
        notes_.erase(path);
    else
        notes_[path] = note;
}

// The items are the user types in use; what the box holds stays.
void SearchWindow::FillUserTypes()
{
    if (!index_)
        return;
    const QString text = userTypeBox_->currentText();
    userTypeBox_->clear();
    for (const std::string& type : index_->UserTypes())
        userTypeBox_->addItem(ToQString(type));
    userTypeBox_->setCurrentIndex(-1);
    userTypeBox_->setEditText(text);
}

// The note belongs to the recording (name, size, header record), wherever its file lies.
void SearchWindow::EditSelectedNote()
{
    const std::optional<int> row = SelectedResultRow();
    if (!row)
        return;
    if (!index_) {
        Warn(this, QStringLiteral("归档索引无法使用，录音说明暂时无法编辑。"));
        return;
    }
    const std::string path = resultModel_->entry(*row).path();
    const std::optional<RecordingHead> head = ReadRecordingHead(path);
    if (!head) {
        Warn(this, QStringLiteral("无法读取这条录音：") + ToQString(path));
        return;
    }
    const RecordingIdentity identity = IdentityOf(std::filesystem::path(path).filename().string(), *head);
    const std::optional<RecordingNote> edited = editNote_(index_->NoteOf(identity), index_->UserTypes(), this);
    if (!edited)
        return;
    if (const Result<void> saved = index_->SetNote(identity, *edited); !saved) {
        ShowMessage(this, QStringLiteral("录音说明没有保存：") + ToQString(saved.error().reason), kWarningCaption,
                    MessageIcon::Error);
        return;
    }
    RememberNoteOf(path);
    FillUserTypes();
}

void SearchWindow::ShowRowToolTip(QHelpEvent* event)
{
    const QModelIndex at = resultView_->indexAt(event->pos());
    const auto note = at.isValid() ? notes_.find(resultModel_->entry(at.row()).path()) : notes_.end();
    if (note == notes_.end()) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(event->globalPos(),
                       QStringLiteral("录音说明：") + ToQString(note->second.description)
                           + QStringLiteral("\n用户类型：") + ToQString(note->second.userType),
                       resultView_->viewport());
}

// Deletes the selected row's file without asking; the row goes even when the file could not
// be deleted, and the other rows keep their numbers.
void SearchWindow::DeleteRecordingFile()
{
    const QModelIndexList selected = resultView_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        ShowMessage(this, QStringLiteral("请先选择一条要删除的语音！"), kWarningCaption, MessageIcon::Warning);
        return;
    }
    const int row = selected.front().row();
    ::unlink(resultModel_->entry(row).path().c_str());
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
