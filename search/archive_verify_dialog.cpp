#include "search/archive_verify_dialog.h"

#include "platform/common_widgets.h"
#include "platform/dialog_font.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "styling/flat_styler.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

constexpr FingerprintState kStates[] = {FingerprintState::Whole, FingerprintState::Changed, FingerprintState::Missing,
                                        FingerprintState::Unreadable, FingerprintState::Unrecorded};

QString StateText(FingerprintState state)
{
    switch (state) {
    case FingerprintState::Whole:
        return QStringLiteral("完好");
    case FingerprintState::Changed:
        return QStringLiteral("已被修改");
    case FingerprintState::Missing:
        return QStringLiteral("缺失");
    case FingerprintState::Unrecorded:
        return QStringLiteral("无校验记录");
    case FingerprintState::Unreadable:
        return QStringLiteral("无法读取");
    }
    return {};
}

QString Duration(qint64 seconds)
{
    return seconds >= 3600 ? QStringLiteral("%1:%2:%3")
                                 .arg(seconds / 3600)
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                           : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ArchiveVerifyDialog::ArchiveVerifyDialog(const std::string& folder, ListExporter exporter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      exportList_(std::move(exporter))
{
    setObjectName(QStringLiteral("FrmVerifyArchive"));
    setWindowTitle(QStringLiteral("校验存档"));
    setModal(true);
    ApplyFormFont(this);
    BuildControls();
    folderEdit_->setText(ToQString(folder));
    AttachFlatStyler(this);
    resize(760, 460);
}

void ArchiveVerifyDialog::BuildControls()
{
    auto* folderLabel = new QLabel(QStringLiteral("文件夹："), this);
    folderEdit_ = MakeNamed<QLineEdit>("edtFolder", this);
    folderLabel->setBuddy(folderEdit_);
    auto* browseButton = MakeNamed<QPushButton>("btnBrowse", QStringLiteral("浏览..."), this);
    subfoldersBox_ = MakeNamed<QCheckBox>("chkSubfolders", QStringLiteral("包含子文件夹"), this);
    verifyButton_ = MakeNamed<QPushButton>("btnVerify", QStringLiteral("开始校验"), this);
    progressBar_ = MakeNamed<QProgressBar>("prgVerify", this);
    progressBar_->setRange(0, 1000);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    progressLabel_ = MakeNamed<QLabel>("lblProgress", this);

    model_ = new QStandardItemModel(0, 3, this);
    model_->setHorizontalHeaderLabels({QStringLiteral("文件夹"), QStringLiteral("文件名"), QStringLiteral("校验结果")});
    view_ = MakeNamed<QTableView>("ListViewVerified", this);
    view_->setModel(model_);
    view_->setAccessibleName(QStringLiteral("校验结果列表"));
    SetUpRecordingView(view_, QAbstractItemView::SingleSelection, {360, 160, 100});

    exportButton_ = MakeNamed<QPushButton>("btnExport", QStringLiteral("导出Excel"), this);
    auto* closeButton = MakeNamed<QPushButton>("btnclose", QStringLiteral("关闭"), this);
    for (QPushButton* button : {browseButton, verifyButton_, exportButton_, closeButton})
        button->setAutoDefault(false);
    exportButton_->setEnabled(false);
    connect(browseButton, &QPushButton::clicked, this, &ArchiveVerifyDialog::ChooseFolder);
    connect(verifyButton_, &QPushButton::clicked, this, &ArchiveVerifyDialog::StartCheck);
    connect(exportButton_, &QPushButton::clicked, this, [this] {
        if (exportList_)
            exportList_(*model_, this, model_->columnCount());
    });
    connect(closeButton, &QPushButton::clicked, this, &ArchiveVerifyDialog::reject);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderLabel);
    folderRow->addWidget(folderEdit_, 1);
    folderRow->addWidget(browseButton);
    folderRow->addWidget(subfoldersBox_);
    folderRow->addWidget(verifyButton_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(exportButton_);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addWidget(progressBar_);
    layout->addWidget(progressLabel_);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
}

void ArchiveVerifyDialog::ChooseFolder()
{
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("选择要校验的文件夹"), folderEdit_->text());
    if (!chosen.isEmpty())
        folderEdit_->setText(chosen);
}

// The worker first counts what it will read, for the progress, then reports each recording checked.
void ArchiveVerifyDialog::StartCheck()
{
    const std::string root = folderEdit_->text().trimmed().toStdString();
    const FolderScope scope = subfoldersBox_->isChecked() ? FolderScope::WithSubfolders : FolderScope::FolderOnly;
    if (root.empty())
        return;
    model_->removeRows(0, model_->rowCount());
    counts_.clear();
    verifyButton_->setEnabled(false);
    exportButton_->setEnabled(false);
    progressBar_->setValue(0);
    progressLabel_->setText(QStringLiteral("正在统计要校验的文件..."));
    clock_.start();
    auto opened = std::make_shared<bool>(false);
    check_.Start(
        [this, root, scope, opened](const std::atomic<bool>& stop) {
            Progress progress{MeasureArchive(root, scope, &stop)};
            *opened = VerifyArchive(root, scope, [&](const VerifiedRecording& recording) {
                if (stop.load())
                    return false;
                progress.files += recording.state == FingerprintState::Missing ? 0 : 1;
                progress.bytes += recording.bytes;
                QMetaObject::invokeMethod(
                    this, [this, root, recording, progress] { AddRow(root, recording), ShowProgress(progress); },
                    Qt::QueuedConnection);
                return true;
            });
        },
        [this, root, opened](const std::atomic<bool>& stop) {
            if (!stop.load())
                QMetaObject::invokeMethod(
                    this, [this, root, opened] { EndCheck(*opened, root); }, Qt::QueuedConnection);
        });
}

void ArchiveVerifyDialog::AddRow(const std::string& root, const VerifiedRecording& recording)
{
    ++counts_[recording.state];
    QList<QStandardItem*> items{new QStandardItem(ToQString(root + "/" + recording.folder)),
                                new QStandardItem(ToQString(recording.name)),
                                new QStandardItem(StateText(recording.state))};
    if (IsDamage(recording.state))
        items.back()->setForeground(Qt::red);
    model_->appendRow(items);
}

// The rate is of the bytes read so far; the time left, of those still to read at that rate.
void ArchiveVerifyDialog::ShowProgress(const Progress& progress)
{
    const double seconds = std::max<qint64>(clock_.elapsed(), 1) / 1000.0;
    const double rate = progress.bytes / seconds;
    const std::uint64_t left = progress.total.bytes > progress.bytes ? progress.total.bytes - progress.bytes : 0;
    if (progress.total.bytes > 0)
        progressBar_->setValue(
            static_cast<int>(std::min<std::uint64_t>(1000, progress.bytes * 1000 / progress.total.bytes)));
    progressLabel_->setText(QStringLiteral("已校验 %1/%2 个文件，%3 MB/s，剩余约 %4")
                                .arg(progress.files)
                                .arg(progress.total.files)
                                .arg(rate / 1e6, 0, 'f', 1)
                                .arg(Duration(rate > 0 ? static_cast<qint64>(left / rate) : 0)));
}

void ArchiveVerifyDialog::EndCheck(bool opened, const std::string& root)
{
    verifyButton_->setEnabled(true);
    exportButton_->setEnabled(model_->rowCount() > 0);
    if (!opened) {
        progressLabel_->clear();
        ShowMessage(this, QStringLiteral("无法打开文件夹“%1”。").arg(ToQString(root)), QStringLiteral("提示"),
                    MessageIcon::Warning);
        emit verified();
        return;
    }
    progressBar_->setValue(progressBar_->maximum());
    QStringList counts;
    for (FingerprintState state : kStates)
        counts << StateText(state) + " " + QString::number(counts_[state]);
    progressLabel_->setText(QStringLiteral("校验完毕，用时 %1：").arg(Duration(clock_.elapsed() / 1000))
                            + counts.join(QStringLiteral("，")));
    emit verified();
}

void ArchiveVerifyDialog::done(int result)
{
    check_.RequestStop();
    QDialog::done(result);
}
