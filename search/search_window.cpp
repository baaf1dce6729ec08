#include "search/search_window.h"

#include "audio/adpcm_converter.h"
#include "audio/wave_player.h"
#include "catalogue/recording_model.h"
#include "platform/locations.h"
#include "platform/wave_out_sdl.h"
#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "search/archive_search.h"
#include "search/folder_search_worker.h"
#include "search/folder_tree_model.h"
#include "search/note_dialog.h"
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
#include <QSlider>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <filesystem>
#include <unistd.h>
#include <utility>

namespace {

const QColor kBackground(221, 221, 225);
const QString kListingText = QStringLiteral("正在显示语音列表...");
const QString kWarningCaption = QStringLiteral("提示");
const QString kMuteText = QStringLiteral("静音");
const QString kUnmuteText = QStringLiteral("取消静音");
const QString kSelectToPlayText = QStringLiteral("请先选择一条要播放的语音！");
constexpr QSize kOuterSize(1020, 604);
constexpr QSize kBusyPanelSize(305, 81);
constexpr QSize kFilterPanelSize(725, 62);
constexpr QSize kSideButtonSize(75, 25);
constexpr QSize kPlayerButtonSize(73, 25);
constexpr QSize kVolumeSliderSize(24, 69);
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

// The output volume for the volume slider's step: the top (0) is full level, the bottom (10)
// silent, the same level in both channels.
std::uint32_t VolumeWord(int step)
{
    const auto level = static_cast<std::uint32_t>((10 - step) * 65535 / 10);
    return level | (level << 16);
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

    player_ = new WavePlayerSlot(makeOutput ? std::move(makeOutput) : WaveOutFactory(MakeSdlWaveOut), this);
    player_->setObjectName(QStringLiteral("playerSlot"));
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    index_ = std::move(opened.index);
    indexMessage_ = std::move(opened.message);
    searchWorker_ = new FolderSearchWorker(index_ ? std::optional(index_->location()) : std::nullopt, this);
    searchWorker_->setObjectName(QStringLiteral("folderSearchWorker"));
    BuildControls();
    ConnectControls();
    ConnectSearchWorker();
    ConnectPlayer();
    ApplyFormFont(this);
    resize(kOuterSize);
    AttachFlatStyler(this);
}

// The player goes first, so that no worker reports to a window being taken apart.
SearchWindow::~SearchWindow()
{
    ShutDownPlayer();
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
    BuildPlayerControls();
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

void SearchWindow::BuildPlayerControls()
{
    playButton_ = MakeButton("btnplay", QStringLiteral("播放"), this, kPlayerButtonSize);
    pauseButton_ = MakeButton("btnpause", QStringLiteral("暂停"), this, kPlayerButtonSize);
    stopButton_ = MakeButton("btnstop", QStringLiteral("停止"), this, kPlayerButtonSize);
    nextButton_ = MakeButton("btnnext", QStringLiteral("下一条"), this, kPlayerButtonSize);
    previousButton_ = MakeButton("btnlast", QStringLiteral("上一条"), this, kPlayerButtonSize);
    muteButton_ = MakeButton("btnjiny", QStringLiteral("静音"), this, kPlayerButtonSize);
    closeButton_ = MakeButton("btnclose", QStringLiteral("退出"), this, kPlayerButtonSize);

    // Volume: 0 (top, loudest) to 10, a tick at every step on the right.
    volumeSlider_ = MakeNamed<QSlider>("TrackBar2", Qt::Vertical, this);
    volumeSlider_->setAccessibleName(QStringLiteral("音量"));
    volumeSlider_->setRange(0, 10);
    volumeSlider_->setValue(5);
    volumeSlider_->setTickPosition(QSlider::TicksRight);
    volumeSlider_->setTickInterval(1);
    volumeSlider_->setInvertedAppearance(true);
    volumeSlider_->resize(kVolumeSliderSize);

    // Position: a percentage of the recording.
    positionSlider_ = MakeNamed<QSlider>("positionSlider", Qt::Horizontal, this);
    positionSlider_->setAccessibleName(QStringLiteral("播放进度"));
    positionSlider_->setRange(0, 100);
    positionSlider_->setValue(0);
    positionSlider_->setTickPosition(QSlider::NoTicks);
    positionSlider_->installEventFilter(this);

    closeTimer_ = new QTimer(this);
    closeTimer_->setObjectName(QStringLiteral("Timer1"));
    closeTimer_->setInterval(500);
    closeTimer_->setSingleShot(true);
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
    connect(closeButton_, &QPushButton::clicked, this, &SearchWindow::close);
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

    const int step = (w - kListLeft) / 8;
    QPushButton* const buttons[] = {playButton_,     pauseButton_, stopButton_, nextButton_,
                                    previousButton_, muteButton_,  closeButton_};
    for (int i = 0; i < 7; ++i)
        buttons[i]->move(kListLeft + i * step, h - 100);
    positionSlider_->setGeometry(kListLeft + 10, playButton_->y() + 37, step * 13 / 2, 20);
    volumeSlider_->move(kListLeft + 7 * step, playButton_->y() - 15);
}

void SearchWindow::done(int result)
{
    closing_ = true;
    searchWorker_->Stop();
    EndListingOrSearch();
    ShutDownPlayer();
    QDialog::done(result);
}

// The Up and Down keys list the folder they moved to once they are released. A mouse button
// pressed on the position slider seeks; the slider still moves as usual.
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
    if (watched == positionSlider_ && event->type() == QEvent::MouseButtonPress)
        PressPositionSlider();
    if (watched == positionSlider_ && event->type() == QEvent::MouseButtonRelease)
        mouseHeld_ = false;
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

// The player's reports come from its worker and the output's thread; the default connection
// queues them to this thread. Reports that were queued before the window went quiet are dropped.
void SearchWindow::ConnectPlayer()
{
    connect(playButton_, &QPushButton::clicked, this, &SearchWindow::PlaySelected);
    connect(pauseButton_, &QPushButton::clicked, this, &SearchWindow::PauseOrResume);
    connect(stopButton_, &QPushButton::clicked, this, &SearchWindow::StopPlayback);
    connect(nextButton_, &QPushButton::clicked, this, [this] { SkipBy(1); });
    connect(previousButton_, &QPushButton::clicked, this, [this] { SkipBy(-1); });
    connect(muteButton_, &QPushButton::clicked, this, &SearchWindow::ToggleMute);
    connect(volumeSlider_, &QSlider::valueChanged, this, &SearchWindow::ApplyVolume);
    connect(closeTimer_, &QTimer::timeout, this, &SearchWindow::CloseEndedPlayer);
    connect(player_, &WavePlayerSlot::progress, this, &SearchWindow::ShowProgress);
    connect(player_, &WavePlayerSlot::finished, this, &SearchWindow::EndPlayback);
    connect(player_, &WavePlayerSlot::sliderDisabled, this, [this] {
        if (!player_->isQuiet())
            positionSlider_->setEnabled(false);
    });
    connect(player_, &WavePlayerSlot::playDisabled, this, [this] {
        if (!player_->isQuiet())
            playButton_->setEnabled(false);
    });
}

std::optional<int> SearchWindow::SelectedResultRow() const
{
    const QModelIndexList selected = resultView_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.front().row();
}

void SearchWindow::EnablePlayControls()
{
    playButton_->setEnabled(true);
    positionSlider_->setEnabled(true);
}

bool SearchWindow::PlayerRunning() const
{
    const WavePlayer* player = player_->player();
    return player && !player->ended.load();
}

// "播放", and the restart once an ended player has been closed: resumes a paused player,
// starts the selected row when stopped, and while playing switches to another row once the
// current player has ended.
void SearchWindow::PlaySelected()
{
    playButton_->setEnabled(false);
    positionSlider_->setEnabled(false);
    restartPending_ = false;
    if (playState_ == PlayState::Paused) {
        WaveSetPaused(*player_, false);
        playState_ = PlayState::Playing;
        EnablePlayControls();
        return;
    }
    const std::optional<int> row = SelectedResultRow();
    if (!row) {
        Warn(this, kSelectToPlayText);
        EnablePlayControls();
        return;
    }
    resultView_->setFocus();
    if (playState_ == PlayState::Stopped) {
        StartRecording(*row);
        return;
    }
    // The row that plays goes on untouched, its slider included.
    if (resultModel_->entry(*row).path() == currentFile_) {
        EnablePlayControls();
        return;
    }
    restartPending_ = true;
    WaveRequestStop(*player_);
    playButton_->setEnabled(true);
}

// Converts the row's recording into the playback file and plays it, from the position
// slider's percentage after a seek. A slider at its right end only returns to 0.
void SearchWindow::StartRecording(int row)
{
    if (positionSlider_->value() == 100) {
        EnablePlayControls();
        positionSlider_->setValue(0);
        return;
    }
    const std::string path = resultModel_->entry(row).path();
    currentFile_ = path;
    setWindowTitle(QStringLiteral("语音查询 正在播放的语音：") + ToQString(path));
    std::error_code ignored; // a folder that cannot be made fails the conversion below
    std::filesystem::create_directories(CacheDir(), ignored);
    const std::string wave = TempWavePath();
    if (!ConvertToPcmWave(wave, path)) {
        EnablePlayControls();
        positionSlider_->setValue(0);
        Warn(this, QStringLiteral("播放错误的语音格式！"));
        return;
    }
    const Result<void> opened = seekPending_ ? WaveOpenAt(*player_, wave, false, positionSlider_->value())
                                             : WaveOpen(*player_, wave, false);
    seekPending_ = false;
    EnablePlayControls();
    if (!opened) {
        positionSlider_->setValue(0);
        Warn(this, QStringLiteral("无法打开声音输出设备！"));
        return;
    }
    SetWaveOutVolume(VolumeWord(volumeSlider_->value()));
    playState_ = PlayState::Playing;
}

void SearchWindow::PauseOrResume()
{
    if (playState_ == PlayState::Stopped) {
        Warn(this, QStringLiteral("没有正在播放的语音！"));
        return;
    }
    const bool pause = playState_ == PlayState::Playing;
    WaveSetPaused(*player_, pause);
    playState_ = pause ? PlayState::Paused : PlayState::Playing;
    resultView_->setFocus();
}

// Asks the player to end, paused or not; Timer1 closes it once it has reported its end.
void SearchWindow::StopPlayback()
{
    if (playState_ == PlayState::Stopped) {
        playButton_->setEnabled(true);
        return;
    }
    positionSlider_->setValue(0);
    if (muteButton_->text() == kUnmuteText) {
        SetWaveOutVolume(savedVolume_);
        muteButton_->setText(kMuteText);
    }
    WaveRequestStop(*player_);
    playState_ = PlayState::Stopped;
    resultView_->setFocus();
}

// "下一条" and "上一条": select the neighbouring row and play it once the current player has
// ended; nothing at either end of the list.
void SearchWindow::SkipBy(int offset)
{
    resultView_->setFocus();
    const std::optional<int> row = SelectedResultRow();
    if (!row) {
        Warn(this, kSelectToPlayText);
        return;
    }
    const int target = *row + offset;
    if (target < 0 || target >= resultModel_->rowCount())
        return;
    resultView_->selectRow(target);
    restartPending_ = true;
    WaveRequestStop(*player_);
}

void SearchWindow::ToggleMute()
{
    if (playState_ == PlayState::Stopped) {
        ShowMessage(this, QStringLiteral("没有正在播放语音！"), kWarningCaption, MessageIcon::None);
        return;
    }
    if (muteButton_->text() == kMuteText) {
        savedVolume_ = GetWaveOutVolume();
        SetWaveOutVolume(0);
        muteButton_->setText(kUnmuteText);
    } else {
        SetWaveOutVolume(savedVolume_);
        muteButton_->setText(kMuteText);
    }
    resultView_->setFocus();
}

// Applied while a recording plays or is paused; a stopped window applies it at the next start.
void SearchWindow::ApplyVolume(int step)
{
    if (playState_ != PlayState::Stopped)
        SetWaveOutVolume(VolumeWord(step));
    resultView_->setFocus();
}

// Pressing the slider while playing stops the player; once it has been closed and the button
// released, the recording starts again at the slider's value.
void SearchWindow::PressPositionSlider()
{
    if (playState_ != PlayState::Playing)
        return;
    mouseHeld_ = true;
    restartPending_ = true;
    seekPending_ = true;
    WaveRequestStop(*player_);
}

// While a seek is pending the slider stays where the user drags it. Once 100 % has been
// reported the slider's maximum stays 99.
void SearchWindow::ShowProgress(int percent)
{
    if (player_->isQuiet())
        return;
    if (seekPending_) {
        EndPlayback();
        return;
    }
    if (percent >= 100)
        positionSlider_->setMaximum(99);
    else
        positionSlider_->setValue(percent);
}

// The player's worker has ended: Timer1 closes it on this thread. The end of a player that a
// new start has replaced meanwhile changes nothing.
void SearchWindow::EndPlayback()
{
    if (player_->isQuiet() || PlayerRunning())
        return;
    if (!seekPending_)
        positionSlider_->setValue(0);
    playState_ = PlayState::Stopped;
    closeTimer_->start();
}

// Closes the ended player and starts what is pending, once the slider's button is released.
// A player started since the end is not the timer's to close.
void SearchWindow::CloseEndedPlayer()
{
    closeTimer_->stop();
    if (PlayerRunning())
        return;
    WaveClose(*player_);
    EnablePlayControls();
    playState_ = PlayState::Stopped;
    if (!restartPending_)
        return;
    while (mouseHeld_ && !closing_) {
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
    if (!closing_)
        PlaySelected();
}

// Silences the player first, so that a worker ending meanwhile reports nothing, then stops and
// closes it: no worker outlives the window's close. The volume is left as it is.
void SearchWindow::ShutDownPlayer()
{
    player_->setQuiet(true);
    WaveRequestStop(*player_);
    WaveClose(*player_);
    closeTimer_->stop();
    playState_ = PlayState::Stopped;
    restartPending_ = false;
    seekPending_ = false;
    mouseHeld_ = false;
}
