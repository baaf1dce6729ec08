#include "catalogue/category_upload_dialog.h"

#include "platform/common_widgets.h"
#include "platform/dialog_result.h"
#include "styling/flat_styler.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CategoryUploadDialog::CategoryUploadDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("分类上传"));
    setModal(true);
    BuildControls();

    // Today's date, and the mode "留言" chosen.
    datePicker_->setDate(QDate::currentDate());
    byModeButton_->setChecked(true);
    modeBox_->setCurrentIndex(0);
    AttachFlatStyler(this);
}

void CategoryUploadDialog::BuildControls()
{
    byDateButton_ = MakeNamed<QRadioButton>("RadioButton1", QStringLiteral("按日期上传"), this);
    datePicker_ = MakeNamed<QDateEdit>("dtPick", this);
    datePicker_->setCalendarPopup(true);
    datePicker_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    byPhoneButton_ = MakeNamed<QRadioButton>("RadioButton2", QStringLiteral("按电话号码上传"), this);
    phoneEdit_ = MakeNamed<QLineEdit>("edtPhone", this);
    byModeButton_ = MakeNamed<QRadioButton>("RadioButton3", QStringLiteral("按录音方式"), this);
    modeBox_ = MakeNamed<QComboBox>("cbVoicetype", this);
    modeBox_->setEditable(false);
    modeBox_->addItems({QStringLiteral("留言"), QStringLiteral("被叫"), QStringLiteral("主叫"), QStringLiteral("现场"),
                        QStringLiteral("其他")});

    auto* radios = new QButtonGroup(this);
    for (QRadioButton* radio : {byDateButton_, byPhoneButton_, byModeButton_})
        radios->addButton(radio);

    auto* okButton = MakeNamed<QPushButton>("bbtnOK", QStringLiteral("确 定"), this);
    okButton->setDefault(true);
    auto* cancelButton = MakeNamed<QPushButton>("bbtnClose", QStringLiteral("取 消"), this);
    cancelButton->setAutoDefault(false);
    connect(okButton, &QPushButton::clicked, this, &CategoryUploadDialog::Accept);
    connect(cancelButton, &QPushButton::clicked, this, &CategoryUploadDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(byDateButton_, 0, 0);
    grid->addWidget(datePicker_, 0, 1);
    grid->addWidget(byPhoneButton_, 1, 0);
    grid->addWidget(phoneEdit_, 1, 1);
    grid->addWidget(byModeButton_, 2, 0);
    grid->addWidget(modeBox_, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

void CategoryUploadDialog::Accept()
{
    category_ = UploadCategory{};
    if (byDateButton_->isChecked()) {
        const QDate date = datePicker_->date();
        category_ = {CategoryKind::Date, DateCriterionText(date.year(), date.month(), date.day())};
    } else if (byPhoneButton_->isChecked()) {
        category_ = {CategoryKind::Phone, phoneEdit_->text().toStdString()};
    } else if (byModeButton_->isChecked()) {
        category_ = {CategoryKind::Mode, modeBox_->currentText().toStdString()};
    }
    done(ToDialogCode(DialogResult::Ok));
}

void CategoryUploadDialog::reject()
{
    done(ToDialogCode(DialogResult::Cancel));
}
