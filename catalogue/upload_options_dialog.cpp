#include "catalogue/upload_options_dialog.h"

#include "platform/common_widgets.h"
#include "platform/dialog_result.h"
#include "styling/flat_styler.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

UploadOptionsDialog::UploadOptionsDialog(const UploadSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("上传选项"));
    setModal(true);
    automaticBox_ = MakeNamed<QCheckBox>("chkAutomatic", QStringLiteral("插入录音卡后自动上传全部录音"), this);
    automaticBox_->setChecked(settings.automatic);
    skipIdenticalBox_ = MakeNamed<QCheckBox>("chkSkipIdentical", QStringLiteral("跳过已上传的相同录音"), this);
    skipIdenticalBox_->setChecked(settings.options.skipIdentical);
    monthFoldersBox_ = MakeNamed<QCheckBox>("chkMonthFolders", QStringLiteral("按月份分文件夹保存"), this);
    monthFoldersBox_->setChecked(settings.options.monthFolders);
    keepDaysBox_ = MakeNamed<QSpinBox>("spnKeepDays", this);
    keepDaysBox_->setRange(0, kMaxKeepReplacedDays);
    keepDaysBox_->setValue(settings.options.keepReplacedDays);

    auto* okButton = MakeNamed<QPushButton>("bbtnOK", QStringLiteral("确 定"), this);
    okButton->setDefault(true);
    auto* cancelButton = MakeNamed<QPushButton>("bbtnClose", QStringLiteral("取 消"), this);
    cancelButton->setAutoDefault(false);
    connect(okButton, &QPushButton::clicked, this, [this] { done(ToDialogCode(DialogResult::Ok)); });
    connect(cancelButton, &QPushButton::clicked, this, &UploadOptionsDialog::reject);

    auto* days = new QFormLayout;
    days->addRow(QStringLiteral("被替换的录音保留天数"), keepDaysBox_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    for (QCheckBox* box : {automaticBox_, skipIdenticalBox_, monthFoldersBox_})
        layout->addWidget(box);
    layout->addLayout(days);
    layout->addLayout(buttons);
    AttachFlatStyler(this);
}

UploadSettings UploadOptionsDialog::settings() const
{
    UploadSettings settings;
    settings.automatic = automaticBox_->isChecked();
    settings.options.skipIdentical = skipIdenticalBox_->isChecked();
    settings.options.monthFolders = monthFoldersBox_->isChecked();
    settings.options.keepReplacedDays = keepDaysBox_->value();
    return settings;
}

void UploadOptionsDialog::reject()
{
    done(ToDialogCode(DialogResult::Cancel));
}
