#include "catalogue/Unt_mbox.h"

#include "app/Unt_public.h"
#include "catalogue/upload.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

QString OverwriteQuestionText(const QString& fileName)
{
    return QStringLiteral("此文件夹已包含一个名为“%1”的同名文件，继续上传，存在的文件将被覆盖，是否覆盖同名文件？")
        .arg(fileName);
}

TFrmMbox::TFrmMbox(const QString& fileName, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("确认文件替换"));
    setModal(true);
    ApplyFormFont(this);

    mmTip = new QPlainTextEdit(OverwriteQuestionText(fileName), this);
    mmTip->setObjectName(QStringLiteral("mmTip"));
    mmTip->setReadOnly(true);
    mmTip->setFrameShape(QFrame::NoFrame);
    mmTip->setFocusPolicy(Qt::NoFocus);
    mmTip->setBackgroundRole(QPalette::Button);
    mmTip->viewport()->setBackgroundRole(QPalette::Button);
    mmTip->setFixedHeight(60);

    const auto makeButton = [this](const char* name, const QString& caption) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        return button;
    };
    btnyes = makeButton("btnyes", QStringLiteral("是"));
    btnyesall = makeButton("btnyesall", QStringLiteral("全部"));
    btnno = makeButton("btnno", QStringLiteral("否"));
    btnnoall = makeButton("btnnoall", QStringLiteral("取消"));
    btnyes->setDefault(true);
    btnyes->setIcon(style()->standardIcon(QStyle::SP_DialogYesButton));
    btnyesall->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    btnno->setIcon(style()->standardIcon(QStyle::SP_DialogNoButton));
    btnnoall->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    connect(btnyes, &QPushButton::clicked, this, &TFrmMbox::btnyesClick);
    connect(btnyesall, &QPushButton::clicked, this, &TFrmMbox::btnyesallClick);
    connect(btnno, &QPushButton::clicked, this, &TFrmMbox::btnnoClick);
    connect(btnnoall, &QPushButton::clicked, this, &TFrmMbox::btnnoallClick);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {btnyes, btnyesall, btnno, btnnoall})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mmTip);
    layout->addLayout(buttons);
    resize(420, 130);
}

void TFrmMbox::btnyesClick() { done(kAnswerYes); }
void TFrmMbox::btnyesallClick() { done(kAnswerYesToAll); }
void TFrmMbox::btnnoClick() { done(kAnswerNo); }
void TFrmMbox::btnnoallClick() { done(kAnswerCancel); }
void TFrmMbox::reject() { done(kAnswerClosed); }

void TFrmMbox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnnoallClick();
        return;
    }
    QDialog::keyPressEvent(event);
}
