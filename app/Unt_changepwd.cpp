#include "app/Unt_changepwd.h"

#include "app/Unt_public.h"
#include "app/config_file.h"
#include "app/message_box.h"
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
    box->setEchoMode(QLineEdit::Password);
    box->setMaxLength(kPasswordMaxLength);
    QFont bold = box->font();
    bold.setBold(true);
    box->setFont(bold);
    return box;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

TFrmChangePwd::TFrmChangePwd(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("更改密码"));

    gbinput = new QGroupBox(QStringLiteral("请输入密码："), this);
    gbinput->setObjectName(QStringLiteral("gbinput"));
    lbNewpwd = MakeLabel(gbinput, QStringLiteral("lbNewpwd"), QStringLiteral("新密码"));
    Edt_NewPwd = MakePasswordBox(gbinput, QStringLiteral("Edt_NewPwd"));
    lbSecpwd = MakeLabel(gbinput, QStringLiteral("lbSecpwd"), QStringLiteral("校验密码"));
    Edt_NewPwd2 = MakePasswordBox(gbinput, QStringLiteral("Edt_NewPwd2"));
    lbNewpwd->setBuddy(Edt_NewPwd);
    lbSecpwd->setBuddy(Edt_NewPwd2);

    auto* boxes = new QGridLayout(gbinput);
    boxes->addWidget(lbNewpwd, 0, 0);
    boxes->addWidget(Edt_NewPwd, 0, 1);
    boxes->addWidget(lbSecpwd, 1, 0);
    boxes->addWidget(Edt_NewPwd2, 1, 1);

    bbtnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    bbtnOK->setObjectName(QStringLiteral("bbtnOK"));
    bbtnOK->setDefault(true);
    bbtnClose = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    bbtnClose->setObjectName(QStringLiteral("bbtnClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bbtnOK);
    buttons->addWidget(bbtnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gbinput);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(bbtnOK, &QPushButton::clicked, this, &TFrmChangePwd::bbtnOKClick);
    connect(bbtnClose, &QPushButton::clicked, this, &TFrmChangePwd::reject);
}

void TFrmChangePwd::reject()
{
    done(ModalResult::Cancel);
}

void TFrmChangePwd::bbtnOKClick()
{
    const std::string password = TrimBlanksAndControls(Edt_NewPwd->text().toStdString());
    const std::string check = TrimBlanksAndControls(Edt_NewPwd2->text().toStdString());
    if (password != check || password.empty()) {
        ShowMessage(this, QStringLiteral("请输入口令,新口令必须与校验口令相同,且不能为空！"), QStringLiteral("提示"),
                    MessageIcon::Warning);
        return;
    }
    try {
        StorePassword(password);
    } catch (const ConfigFileError& error) {
        ShowExceptionBox(this, error);
        return;
    }
    ShowMessage(this, QStringLiteral("修改口令成功！"), QStringLiteral("提示"), MessageIcon::None);
    done(ModalResult::Ok);
}
