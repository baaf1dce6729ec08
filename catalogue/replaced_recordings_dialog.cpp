#include "catalogue/replaced_recordings_dialog.h"

#include "audio/player.h"
#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "platform/recording_walk.h"
#include "platform/wave_out_sdl.h"
#include "styling/flat_styler.h"

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
#include <utility>

namespace {

// The text the user reads when a restore failed: the file it was to become, and why.
QString RestoreFailureText(const Failure& failure, const std::string& target)
{
    if (failure.error == EEXIST)
        return QStringLiteral("%1 已存在，没有覆盖它。请在“恢复为”中换一个文件名后再恢复。").arg(ToQString(target));
    const std::string reason = failure.error != 0 ? std::strerror(failure.error) : failure.reason;
    return QStringLiteral("无法恢复为 %1：%2").arg(ToQString(target), ToQString(reason));
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

} // namespace

ReplacedRecordingsDialog::ReplacedRecordingsDialog(std::string uploadPath, WaveOutFactory makeOutput, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      uploadPath_(std::move(uploadPath)),
      player_(new Player(makeOutput ? std::move(makeOutput) : WaveOutFactory(MakeSdlWaveOut), this))
{
    setObjectName(QStringLiteral("FrmReplaced"));
    setWindowTitle(QStringLiteral("被替换的录音"));
    setModal(true);
    ApplyFormFont(this);
    BuildControls();
    AttachFlatStyler(this);
    resize(760, 420);
    StartListing();
}

void ReplacedRecordingsDialog::BuildControls()
{
    countLabel_ = MakeNamed<QLabel>("lblCount", QStringLiteral("正在读取被替换的录音..."), this);

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

    auto* nameLabel = new QLabel(QStringLiteral("恢复为："), this);
    nameEdit_ = MakeNamed<QLineEdit>("edtRestoreName", this);
    nameLabel->setBuddy(nameEdit_);
    nameTakenLabel_ = MakeNamed<QLabel>("lblNameTaken", this);

    auto* playButton = MakeButton("btnplay", QStringLiteral("播放"), this);
    auto* stopButton = MakeButton("btnstop", QStringLiteral("停止"), this);
    restoreButton_ = MakeButton("btnRestore", QStringLiteral("恢复"), this);
    auto* closeButton = MakeButton("btnclose", QStringLiteral("关闭"), this);
    connect(playButton, &QPushButton::clicked, this, &ReplacedRecordingsDialog::PlaySelected);
    connect(stopButton, &QPushButton::clicked, player_, [this] { player_->stopPlayback(); });
    connect(restoreButton_, &QPushButton::clicked, this, &ReplacedRecordingsDialog::RestoreSelected);
    connect(closeButton, &QPushButton::clicked, this, &ReplacedRecordingsDialog::reject);
    // Enter in the name box restores, as "恢复" does.
    connect(nameEdit_, &QLineEdit::returnPressed, this, &ReplacedRecordingsDialog::RestoreSelected);

    connect(player_, &Player::restartRequested, this, &ReplacedRecordingsDialog::PlaySelected);
    connect(player_, &Player::failed, this,
            [this](Player::Problem problem) { Warn(QString::fromUtf8(ProblemText(problem))); });
    player_->setPlayList({
        [this]() -> std::optional<int> {
            const QModelIndexList rows = view_->selectionModel()->selectedRows();
            return rows.isEmpty() ? std::nullopt : std::optional<int>(rows.front().row());
        },
        [this](int row) { return KeptPath(uploadPath_, rows_.at(std::size_t(row)).kept.keptName); },
        [this] { return int(rows_.size()); },
        [this](int row) { view_->selectRow(row); },
    });

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(nameEdit_, 1);
    nameRow->addWidget(nameTakenLabel_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(playButton);
    buttons->addWidget(stopButton);
    buttons->addStretch();
    buttons->addWidget(restoreButton_);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(countLabel_);
    layout->addWidget(view_, 1);
    layout->addLayout(nameRow);
    layout->addLayout(buttons);
}

// Reading every kept file's record may take a while on a large archive or a slow share.
void ReplacedRecordingsDialog::StartListing()
{
    listing_.Start([this, uploadPath = uploadPath_](const std::atomic<bool>& stopRequested) {
        auto rows = std::make_shared<std::vector<ReplacedRecordingRow>>(ListReplacedRows(uploadPath, &stopRequested));
        if (!stopRequested.load())
            QMetaObject::invokeMethod(
                this, [this, rows] { ShowRows(std::move(*rows)); }, Qt::QueuedConnection);
    });
}

void ReplacedRecordingsDialog::ShowRows(std::vector<ReplacedRecordingRow> rows)
{
    rows_ = std::move(rows);
    for (const ReplacedRecordingRow& row : rows_) {
        QList<QStandardItem*> items;
        for (const std::string* text :
             {&row.day, &row.kept.originalPath, &row.mode, &row.phone, &row.startTime, &row.size})
            items.append(new QStandardItem(ToQString(*text)));
        model_->appendRow(items);
    }
    ShowCount();
    emit listed();
}

void ReplacedRecordingsDialog::ShowCount()
{
    countLabel_->setText(rows_.empty() ? QStringLiteral("上传路径中没有被替换的录音。")
                                       : QStringLiteral("上传时被替换的录音共 %1 个：").arg(rows_.size()));
}

const ReplacedRecordingRow* ReplacedRecordingsDialog::SelectedRecording() const
{
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    if (rows.isEmpty() || std::size_t(rows.front().row()) >= rows_.size())
        return nullptr;
    return &rows_[std::size_t(rows.front().row())];
}

// "恢复为" offers the recording's own name while it is free, else a free new one.
void ReplacedRecordingsDialog::ShowSelected()
{
    const ReplacedRecordingRow* row = SelectedRecording();
    if (row == nullptr) {
        nameEdit_->clear();
        nameTakenLabel_->clear();
        return;
    }
    const std::string ownName = FileNameOf(row->kept.originalPath);
    const std::string name = FreeRestoreName(uploadPath_, row->kept.originalPath);
    nameEdit_->setText(ToQString(name));
    nameTakenLabel_->setText(name == ownName ? QString()
                                             : QStringLiteral("%1 已有录音，不会被覆盖").arg(ToQString(ownName)));
}

void ReplacedRecordingsDialog::PlaySelected()
{
    if (player_->playSelected() == Player::Answer::NothingSelected)
        Warn(QStringLiteral("请先选择一条要播放的语音！"));
}

void ReplacedRecordingsDialog::RestoreSelected()
{
    const ReplacedRecordingRow* row = SelectedRecording();
    if (row == nullptr) {
        Warn(QStringLiteral("请先选择一条要恢复的录音！"));
        return;
    }
    const std::string name = nameEdit_->text().trimmed().toStdString();
    // A name the recording lists do not show would hide the recording from the program.
    if (name.find('/') != std::string::npos || !MatchesRecordingPattern(name)) {
        Warn(QStringLiteral("“恢复为”须是 VOC*.WAV 形式的文件名，例如 VOC00001_2.WAV。"));
        return;
    }
    const std::string keptPath = KeptPath(uploadPath_, row->kept.keptName);
    if (player_->state() != Player::State::Stopped && player_->currentFile() == keptPath)
        player_->stopPlayback();
    const std::string target = RestoreTarget(uploadPath_, row->kept.originalPath, name);
    const bool ownName = name == FileNameOf(row->kept.originalPath);
    if (const Result<void> restored = RestoreReplaced(uploadPath_, row->kept.keptName, ownName ? "" : name);
        !restored) {
        Warn(RestoreFailureText(restored.error(), target));
        ShowSelected();
        return;
    }
    const int index = view_->selectionModel()->selectedRows().front().row();
    rows_.erase(rows_.begin() + index);
    model_->removeRow(index);
    ShowSelected();
    ShowCount();
    ShowPassingNotice(this, QStringLiteral("已恢复：") + ToQString(target));
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
