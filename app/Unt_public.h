#pragma once

#include <QString>
#include <exception>

class QWidget;

// Result codes of the modal dialogs, passed to QDialog::done().
namespace ModalResult {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
constexpr int NoToAll = 9;
constexpr int YesToAll = 10;
} // namespace ModalResult

// "宋体" and "新宋体" are Windows faces that fontconfig maps to no Chinese font: map them to a
// Song face first and a Hei face second. Safe to call more than once.
void InstallFontSubstitutions();

// The dialog font rule: 9 points, "宋体", black text. Windows call it on themselves.
void ApplyFormFont(QWidget* window);

// The program's error box for a failure that escaped a command or the start-up: the
// exception's text, the application's name as caption and the error icon. An exception of
// an unknown kind is shown with an empty text.
void ShowExceptionBox(QWidget* owner, const std::exception& error);
void ShowExceptionBox(QWidget* owner, const QString& text);
