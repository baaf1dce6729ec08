#include "catalogue/overwrite_question_dialog.h"

#include "platform/dialog_font.h"
#include "platform/dialog_result.h"

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

OverwriteQuestionDialog::OverwriteQuestionDialog(const QString& fileName, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("确认文件替换"));
    setModal(true);
    ApplyFormFont(this);

    message_ = new QPlainTextEdit(OverwriteQuestionText(fileName), this);
    message_->setObjectName(QStringLiteral("mmTip"));
    message_->setReadOnly(true);
    message_->setFrameShape(QFrame::NoFrame);
    message_->setFocusPolicy(Qt::NoFocus);
    message_->setBackgroundRole(QPalette::Button);
    message_->viewport()->setBackgroundRole(QPalette::Button);
    message_->setFixedHeight(60);

    auto* buttons = new QHBoxLayout;
    QPushButton* yesButton =
        AddButton("btnyes", QStringLiteral("是"), QStyle::SP_DialogYesButton, ToDialogCode(DialogResult::Yes));
    buttons->addWidget(yesButton);
    buttons->addWidget(AddButton("btnyesall", QStringLiteral("全部"), QStyle::SP_DialogApplyButton,
                                 ToDialogCode(DialogResult::YesToAll)));
    buttons->addWidget(
        AddButton("btnno", QStringLiteral("否"), QStyle::SP_DialogNoButton, ToDialogCode(DialogResult::No)));
    buttons->addWidget(AddButton("btnnoall", QStringLiteral("取消"), QStyle::SP_DialogCancelButton,
                                 ToDialogCode(DialogResult::NoToAll)));
    yesButton->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addLayout(buttons);
    resize(420, 130);
}

QPushButton* OverwriteQuestionDialog::AddButton(const char* objectName, const QString& text,
                                                QStyle::StandardPixmap icon, int result)
{
    auto* button = new QPushButton(style()->standardIcon(icon), text, this);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    return button;
}

void OverwriteQuestionDialog::reject()
{
    done(ToDialogCode(DialogResult::Cancel));
}

// Esc answers as "取消" does: the run ends, whereas the title-bar close replaces the file.
void OverwriteQuestionDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        done(ToDialogCode(DialogResult::NoToAll));
        return;
    }
    QDialog::keyPressEvent(event);
}
