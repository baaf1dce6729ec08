#include "catalogue/replaced_recordings_dialog.h"

#include "audio/player.h"
#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "platform/recording_walk.h"
#include "platform/wave_out_sdl.h"
#include "styling/flat_styler.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>

namespace {

// The text the user reads when a restore failed: the file it was to become, and why.
QString RestoreFailureText(const Failure& failure, const QString& target)
{
    if (failure.error == ENOENT && failure.path != target.toStdString())
        return QStringLiteral("这条录音已不在被替换的录音中，也许已经恢复过了。");
    const std::string reason = failure.error != 0 ? std::strerror(failure.error) : failure.reason;
    return QStringLiteral("无法恢复为 %1：%2").arg(target, ToQString(reason));
}

std::string FileNameOf(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

QPushButton* MakeButton(const char* objectName, const QString& text, QWidget* parent)
{
    auto* button = MakeNamed<QPushButton>(objectName, text, parent);
    button->setAutoDefault(false);
    return button;
}

// The folders that may hold kept recordings: each known folder and the one above it (an upload
// folder above its month folders), each once, without the one shown already.
std::vector<std::string> CandidateFolders(const std::vector<std::string>& knownFolders, const std::string& shown)
{
    std::set<std::string> candidates;
    for (const std::string& folder : knownFolders) {
        candidates.insert(folder);
        const std::filesystem::path above = std::filesystem::path(folder).parent_path().parent_path();
        if (!above.empty() && above != std::filesystem::path(folder).parent_path())
            candidates.insert(above == "/" ? "/" : above.string() + "/");
    }
    candidates.erase(shown);
    return {candidates.begin(), candidates.end()};
}

} // namespace

ReplacedRecordingsDialog::ReplacedRecordingsDialog(std::string uploadPath, KnownFoldersQuery knownFolders,
                                                   WaveOutFactory makeOutput,
                                                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      player_(new Player(makeOutput ? std::move(makeOutput) : WaveOutFactory(MakeSdlWaveOut), this))
{
    setObjectName(QStringLiteral("FrmReplaced"));
    setWindowTitle(QStringLiteral("被替换的录音"));
    setModal(true);
    ApplyFormFont(this);
    BuildControls();
    AttachFlatStyler(this);
    resize(760, 440);
    folderBox_->addItem(ToQString(uploadPath), QByteArray::fromStdString(uploadPath));
    connect(folderBox_, &QComboBox::currentIndexChanged, this, &ReplacedRecordingsDialog::StartListing);
    StartListing();
    FindFolders(knownFolders);
}

void ReplacedRecordingsDialog::BuildControls()
{
    auto* folderLabel = new QLabel(QStringLiteral("上传文件夹："), this);
    folderBox_ = MakeNamed<QComboBox>("cmbFolder", this);
    folderBox_->setAccessibleName(QStringLiteral("上传文件夹"));
    folderLabel->setBuddy(folderBox_);
    countLabel_ = MakeNamed<QLabel>("lblCount", this);

    model_ = new QStandardItemModel(0, 6, this);
    model_->setHorizontalHeaderLabels({QStringLiteral("替换日期"), QStringLiteral("文件名"), QStringLiteral("录音方式"),
                                       QStringLiteral("电话号码"), QStringLiteral("开始时间"),
                                       QStringLiteral("文件长度")});
    view_ = MakeNamed<QTableView>("ListViewReplaced", this);
    view_->setModel(model_);
    view_->setAccessibleName(QStringLiteral("被替换的录音列表"));
    SetUpRecordingView(view_, QAbstractItemView::SingleSelection, {90, 180, 70, 110, 150, 90});
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ReplacedRecordingsDialog::ShowSelected);

    auto* playButton = MakeButton("btnplay", QStringLiteral("播放"), this);
    auto* stopButton = MakeButton("btnstop", QStringLiteral("停止"), this);
    restoreButton_ = MakeButton("btnRestore", QStringLiteral("恢复"), this);
    auto* closeButton = MakeButton("btnclose", QStringLiteral("关闭"), this);
    connect(playButton, &QPushButton::clicked, this, &ReplacedRecordingsDialog::PlaySelected);
    connect(stopButton, &QPushButton::clicked, player_, [this] { player_->stopPlayback(); });
    connect(restoreButton_, &QPushButton::clicked, this, &ReplacedRecordingsDialog::RestoreSelected);
    connect(closeButton, &QPushButton::clicked, this, &ReplacedRecordingsDialog::reject);

    connect(player_, &Player::restartRequested, this, &ReplacedRecordingsDialog::PlaySelected);
    connect(player_, &Player::failed, this,
            [this](Player::Problem problem) { Warn(QString::fromUtf8(ProblemText(problem))); });
    player_->setPlayList({
        [this]() -> std::optional<int> {
            const QModelIndexList rows = view_->selectionModel()->selectedRows();
            return rows.isEmpty() ? std::nullopt : std::optional<int>(rows.front().row());
        },
        [this](int row) { return KeptPath(Folder(), rows_.at(std::size_t(row)).kept.keptName); },
        [this] { return int(rows_.size()); },
        [this](int row) { view_->selectRow(row); },
    });

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderLabel);
    folderRow->addWidget(folderBox_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(playButton);
    buttons->addWidget(stopButton);
    buttons->addStretch();
    buttons->addWidget(restoreButton_);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addWidget(countLabel_);
    layout->addWidget(view_, 1);
    layout->addLayout(BuildNameRow());
    layout->addLayout(buttons);
}

QLayout* ReplacedRecordingsDialog::BuildNameRow()
{
    auto* nameLabel = new QLabel(QStringLiteral("恢复为："), this);
    nameEdit_ = MakeNamed<QLineEdit>("edtRestoreName", this);
    nameLabel->setBuddy(nameEdit_);
    nameTakenLabel_ = MakeNamed<QLabel>("lblNameTaken", this);
    // Enter in the name box restores, as "恢复" does.
    connect(nameEdit_, &QLineEdit::returnPressed, this, &ReplacedRecordingsDialog::RestoreSelected);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(nameEdit_, 1);
    nameRow->addWidget(nameTakenLabel_, 2);
    return nameRow;
}

// The index is asked for its folders once it is open; the folders are looked at on a worker, as
// a folder on a card or a share may take its time.
void ReplacedRecordingsDialog::FindFolders(const KnownFoldersQuery& knownFolders)
{
    if (!knownFolders) {
        QMetaObject::invokeMethod(this, &ReplacedRecordingsDialog::foldersFound, Qt::QueuedConnection);
        return;
    }
    knownFolders(this, [this](std::vector<std::string> folders) { SearchFolders(std::move(folders)); });
}

void ReplacedRecordingsDialog::SearchFolders(std::vector<std::string> knownFolders)
{
    const std::vector<std::string> candidates = CandidateFolders(knownFolders, Folder());
    folderSearch_.Start([this, candidates](const std::atomic<bool>& stopRequested) {
        auto found = std::make_shared<std::vector<std::string>>();
        for (const std::string& folder : candidates) {
            if (stopRequested.load())
                return;
            if (!ListReplaced(folder).empty())
                found->push_back(folder);
        }
        QMetaObject::invokeMethod(
            this, [this, found] { AddFolders(*found); }, Qt::QueuedConnection);
    });
}

void ReplacedRecordingsDialog::AddFolders(const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders)
        folderBox_->addItem(ToQString(folder), QByteArray::fromStdString(folder));
    emit foldersFound();
}

std::string ReplacedRecordingsDialog::Folder() const
{
    return folderBox_->currentData().toByteArray().toStdString();
}

// Reading every kept file's record may take a while on a large archive or a slow share.
void ReplacedRecordingsDialog::StartListing()
{
    rows_.clear();
    model_->removeRows(0, model_->rowCount());
    countLabel_->setText(QStringLiteral("正在读取被替换的录音..."));
    listing_.Start([this, folder = Folder()](const std::atomic<bool>& stopRequested) {
        auto rows = std::make_shared<std::vector<ReplacedRecordingRow>>(ListReplacedRows(folder, &stopRequested));
        if (!stopRequested.load())
            QMetaObject::invokeMethod(
                this, [this, rows] { ShowRows(std::move(*rows)); }, Qt::QueuedConnection);
    });
}

void ReplacedRecordingsDialog::ShowRows(std::vector<ReplacedRecordingRow> rows)
{
    rows_ = std::move(rows);
    model_->removeRows(0, model_->rowCount());
    for (const ReplacedRecordingRow& row : rows_) {
        QList<QStandardItem*> items;
        for (const std::string* text :
             {&row.day, &row.kept.originalPath, &row.mode, &row.phone, &row.startTime, &row.size})
            items.append(new QStandardItem(ToQString(*text)));
        model_->appendRow(items);
    }
    ShowCount();
    restoreButton_->setEnabled(true);
    folderBox_->setEnabled(true);
    emit listed();
}

void ReplacedRecordingsDialog::ShowCount()
{
    countLabel_->setText(rows_.empty() ? QStringLiteral("这个上传文件夹中没有被替换的录音。")
                                       : QStringLiteral("上传时被替换的录音共 %1 个：").arg(rows_.size()));
}

const ReplacedRecordingRow* ReplacedRecordingsDialog::SelectedRecording() const
{
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    if (rows.isEmpty() || std::size_t(rows.front().row()) >= rows_.size())
        return nullptr;
    return &rows_[std::size_t(rows.front().row())];
}

// "恢复为" offers the recording's own name, and says what becomes of the one holding it.
void ReplacedRecordingsDialog::ShowSelected()
{
    const ReplacedRecordingRow* row = SelectedRecording();
    if (row == nullptr) {
        nameEdit_->clear();
        nameTakenLabel_->clear();
        return;
    }
    const QString ownName = ToQString(FileNameOf(row->kept.originalPath));
    nameEdit_->setText(ownName);
    nameTakenLabel_->setText(row->nameTaken ? QStringLiteral("现在的 %1 将移入被替换的录音，不会丢失").arg(ownName)
                                            : QString());
}

void ReplacedRecordingsDialog::PlaySelected()
{
    if (player_->playSelected() == Player::Answer::NothingSelected)
        Warn(QStringLiteral("请先选择一条要播放的语音！"));
}

void ReplacedRecordingsDialog::RestoreSelected()
{
    const ReplacedRecordingRow* row = SelectedRecording();
    if (row == nullptr || !restoreButton_->isEnabled()) {
        if (row == nullptr)
            Warn(QStringLiteral("请先选择一条要恢复的录音！"));
        return;
    }
    const std::string name = nameEdit_->text().trimmed().toStdString();
    // A name the recording lists do not show would hide the recording from the program.
    if (!IsListedRecordingName(name)) {
        Warn(QStringLiteral("“恢复为”须是录音列表显示的文件名：VOC、5 个字符、.WAV，例如 VOC00001.WAV。"));
        return;
    }
    const std::string folder = Folder();
    const std::string keptPath = KeptPath(folder, row->kept.keptName);
    if (player_->state() != Player::State::Stopped && player_->currentFile() == keptPath)
        player_->stopPlayback();
    const bool ownName = name == FileNameOf(row->kept.originalPath);
    const QString target = ToQString(RestoreTarget(folder, row->kept.originalPath, name));
    restoreButton_->setEnabled(false);
    folderBox_->setEnabled(false);
    countLabel_->setText(QStringLiteral("正在恢复..."));
    listing_.Start([this, folder, keptName = row->kept.keptName, newName = ownName ? std::string() : name,
                    target](const std::atomic<bool>& stopRequested) {
        auto restored = std::make_shared<Result<std::string>>(RestoreReplaced(folder, keptName, newName));
        auto rows = std::make_shared<std::vector<ReplacedRecordingRow>>(ListReplacedRows(folder, &stopRequested));
        if (!stopRequested.load())
            QMetaObject::invokeMethod(
                this,
                [this, restored, rows, target] {
                    ShowRows(std::move(*rows));
                    ShowRestored(*restored, target);
                },
                Qt::QueuedConnection);
    });
}

void ReplacedRecordingsDialog::ShowRestored(const Result<std::string>& restored, const QString& target)
{
    if (!restored) {
        Warn(RestoreFailureText(restored.error(), target));
        return;
    }
    ShowPassingNotice(this, restored->empty() ? QStringLiteral("已恢复：%1").arg(target)
                                              : QStringLiteral("已恢复：%1；原来的录音已移入被替换的录音").arg(target));
}

void ReplacedRecordingsDialog::Warn(const QString& text)
{
    ShowMessage(this, text, QStringLiteral("提示"), MessageIcon::Warning);
}

void ReplacedRecordingsDialog::done(int result)
{
    listing_.RequestStop();
    player_->shutDown();
    QDialog::done(result);
}
