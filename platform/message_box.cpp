#include "platform/message_box.h"

#include "platform/qt_text.h"
#include "platform/result.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace {

MessageHandler& CurrentHandler()
{
    static MessageHandler handler;
    return handler;
}

QuestionHandler& CurrentQuestionHandler()
{
    static QuestionHandler handler;
    return handler;
}

QMessageBox::Icon ToQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void ShowMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon)
{
    const MessageRequest request{owner, text, caption, icon};
    if (CurrentHandler()) {
        CurrentHandler()(request);
        return;
    }
    QMessageBox box(ToQtIcon(icon), caption, text, QMessageBox::Ok, owner);
    box.exec();
}

void SetMessageHandler(MessageHandler handler)
{
    CurrentHandler() = std::move(handler);
}

bool AskYesNo(QWidget* owner, const QString& text, const QString& caption)
{
    const MessageRequest request{owner, text, caption, MessageIcon::None};
    if (CurrentQuestionHandler())
        return CurrentQuestionHandler()(request);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void SetQuestionHandler(QuestionHandler handler)
{
    CurrentQuestionHandler() = std::move(handler);
}

void ShowErrorBox(QWidget* owner, const QString& text)
{
    ShowMessage(owner, text, QGuiApplication::applicationDisplayName(), MessageIcon::Error);
}

void ShowErrorBox(QWidget* owner, const Failure& failure)
{
    ShowErrorBox(owner, ToQString(failure.reason));
}
