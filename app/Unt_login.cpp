#include "app/Unt_login.h"

#include "app/Unt_public.h"
#include "app/config_file.h"
#include "app/message_box.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TFrmLogin::TFrmLogin(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("用户登录"));

    lbpasswd = new QLabel(QStringLiteral("请输入口令："), this);
    lbpasswd->setObjectName(QStringLiteral("lbpasswd"));
    edtPassWord = new QLineEdit(this);
    edtPassWord->setObjectName(QStringLiteral("edtPassWord"));
    edtPassWord->setEchoMode(QLineEdit::Password);
    lbpasswd->setBuddy(edtPassWord);

    bbtnOK = new QPushButton(QStringLiteral("确定"), this);
    bbtnOK->setObjectName(QStringLiteral("bbtnOK"));
    bbtnOK->setDefault(true);
    bbtnClose = new QPushButton(QStringLiteral("取消"), this);
    bbtnClose->setObjectName(QStringLiteral("bbtnClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bbtnOK);
    buttons->addWidget(bbtnClose);
    auto* layout = new QGridLayout(this);
    layout->addWidget(lbpasswd, 0, 0);
    layout->addWidget(edtPassWord, 0, 1);
    layout->addLayout(buttons, 1, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(bbtnOK, &QPushButton::clicked, this, &TFrmLogin::bbtnOKClick);
    connect(bbtnClose, &QPushButton::clicked, this, &TFrmLogin::reject);
}

bool TFrmLogin::NeedLogin()
{
    storedPassword_ = StoredPassword();
    return !storedPassword_.empty();
}

void TFrmLogin::reject()
{
    done(ModalResult::Cancel);
}

void TFrmLogin::showEvent(QShowEvent* event)
{
    ApplyFormFont(this);
    QDialog::showEvent(event);
    edtPassWord->setFocus();
}

void TFrmLogin::bbtnOKClick()
{
    // Compared exactly as typed: no trimming, letter case counts.
    if (edtPassWord->text().toStdString() == storedPassword_) {
        done(ModalResult::Ok);
        return;
    }
    ShowMessage(this, QStringLiteral("对不起，你输入的密码有误！"), QStringLiteral("提示"), MessageIcon::Warning);
}
