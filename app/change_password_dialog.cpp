#include "app/change_password_dialog.h"

#include "platform/config_file.h"
#include "platform/dialog_font.h"
#include "platform/dialog_result.h"
#include "platform/message_box.h"
#include "platform/text_codec.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr int kPasswordMaxLength = 20;

QLineEdit* MakePasswordBox(QWidget* parent, const QString& name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    MakePasswordEdit(box);
    box->setMaxLength(kPasswordMaxLength);
    QFont bold = box->font();
    bold.setBold(true);
    box->setFont(bold);
    return box;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QWidget* buddy)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setBuddy(buddy);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, QStyle::StandardPixmap icon, const QString& text)
{
    auto* button = new QPushButton(parent->style()->standardIcon(icon), text, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

ChangePasswordDialog::ChangePasswordDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("更改密码"));

    auto* inputBox = new QGroupBox(QStringLiteral("请输入密码："), this);
    inputBox->setObjectName(QStringLiteral("gbinput"));
    newPasswordEdit_ = MakePasswordBox(inputBox, QStringLiteral("Edt_NewPwd"));
    checkPasswordEdit_ = MakePasswordBox(inputBox, QStringLiteral("Edt_NewPwd2"));
    auto* boxes = new QGridLayout(inputBox);
    boxes->addWidget(MakeLabel(inputBox, QStringLiteral("lbNewpwd"), QStringLiteral("新密码"), newPasswordEdit_), 0, 0);
    boxes->addWidget(newPasswordEdit_, 0, 1);
    boxes->addWidget(MakeLabel(inputBox, QStringLiteral("lbSecpwd"), QStringLiteral("校验密码"), checkPasswordEdit_), 1,
                     0);
    boxes->addWidget(checkPasswordEdit_, 1, 1);

    QPushButton* okButton = MakeButton(this, QStringLiteral("bbtnOK"), QStyle::SP_DialogOkButton, QStringLiteral("OK"));
    okButton->setDefault(true);
    QPushButton* cancelButton =
        MakeButton(this, QStringLiteral("bbtnClose"), QStyle::SP_DialogCancelButton, QStringLiteral("Cancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(inputBox);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &ChangePasswordDialog::Accept);
    connect(cancelButton, &QPushButton::clicked, this, &ChangePasswordDialog::reject);
}

void ChangePasswordDialog::reject()
{
    done(ToDialogCode(DialogResult::Cancel));
}

void ChangePasswordDialog::Accept()
{
    const std::string password = TrimBlanksAndControls(newPasswordEdit_->text().toStdString());
    const std::string check = TrimBlanksAndControls(checkPasswordEdit_->text().toStdString());
    if (password != check || password.empty()) {
        ShowMessage(this, QStringLiteral("请输入口令,新口令必须与校验口令相同,且不能为空！"), QStringLiteral("提示"),
                    MessageIcon::Warning);
        return;
    }
    if (const Result<ConfigLines> stored = StorePassword(password); !stored) {
        ShowErrorBox(this, stored.error());
        return;
    }
    ShowMessage(this, QStringLiteral("修改口令成功！"), QStringLiteral("提示"), MessageIcon::None);
    done(ToDialogCode(DialogResult::Ok));
}
