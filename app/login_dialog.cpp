#include "app/login_dialog.h"

#include "platform/config_file.h"
#include "platform/dialog_font.h"
#include "platform/dialog_result.h"
#include "platform/message_box.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

LoginDialog::LoginDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("用户登录"));
    // Applied before the controls exist as well: set only when shown, after the controls have
    // taken their fonts, the face would change but not what the controls draw with.
    ApplyFormFont(this);

    auto* prompt = new QLabel(QStringLiteral("请输入口令："), this);
    prompt->setObjectName(QStringLiteral("lbpasswd"));
    passwordEdit_ = new QLineEdit(this);
    passwordEdit_->setObjectName(QStringLiteral("edtPassWord"));
    MakePasswordEdit(passwordEdit_);
    prompt->setBuddy(passwordEdit_);

    auto* okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setObjectName(QStringLiteral("bbtnOK"));
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("bbtnClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QGridLayout(this);
    layout->addWidget(prompt, 0, 0);
    layout->addWidget(passwordEdit_, 0, 1);
    layout->addLayout(buttons, 1, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &LoginDialog::Accept);
    connect(cancelButton, &QPushButton::clicked, this, &LoginDialog::reject);
}

Result<bool> LoginDialog::NeedLogin()
{
    Result<std::string> stored = StoredPassword();
    if (!stored)
        return stored.error();
    storedPassword_ = std::move(*stored);
    return !storedPassword_.empty();
}

void LoginDialog::reject()
{
    done(ToDialogCode(DialogResult::Cancel));
}

void LoginDialog::showEvent(QShowEvent* event)
{
    ApplyFormFont(this);
    QDialog::showEvent(event);
    passwordEdit_->setFocus();
}

void LoginDialog::Accept()
{
    // Compared exactly as typed: no trimming, letter case counts.
    if (passwordEdit_->text().toStdString() == storedPassword_) {
        done(ToDialogCode(DialogResult::Ok));
        return;
    }
    ShowMessage(this, QStringLiteral("对不起，你输入的密码有误！"), QStringLiteral("提示"), MessageIcon::Warning);
}
