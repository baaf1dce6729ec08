#pragma once

#include <QString>
#include <functional>

struct Failure;
class QWidget;

// Every message box of the program goes through ShowMessage, so that window tests can
// replace the real QMessageBox with a recorder and never block in a modal loop.
enum class MessageIcon { None, Information, Warning, Error };

struct MessageRequest {
    QWidget* owner = nullptr;
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::None;
};

using MessageHandler = std::function<void(const MessageRequest&)>;

void ShowMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon);

// Installs a replacement handler (tests); an empty handler restores the real message box.
void SetMessageHandler(MessageHandler handler);

// A question with the buttons Yes and No through the same replaceable path: true for Yes.
using QuestionHandler = std::function<bool(const MessageRequest&)>;
bool AskYesNo(QWidget* owner, const QString& text, const QString& caption);
// Installs a replacement answerer (tests); an empty handler restores the real question box.
void SetQuestionHandler(QuestionHandler handler);

// The program's error box for a failure a command or the start-up cannot go on from: the
// reason as text, the application's name as caption and the error icon.
void ShowErrorBox(QWidget* owner, const QString& text);
void ShowErrorBox(QWidget* owner, const Failure& failure);
