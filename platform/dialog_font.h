#pragma once

class QLineEdit;
class QWidget;

// "宋体" and "新宋体" are Windows faces that fontconfig maps to no Chinese font: map them to a
// Song face first and a Hei face second. Safe to call more than once.
void InstallFontSubstitutions();

// The dialog font rule: 9 points, "宋体", black text. Dialogs call it on themselves.
void ApplyFormFont(QWidget* window);

// Makes edit a password box that shows "*" for every character (Qt's styles draw "●").
void MakePasswordEdit(QLineEdit* edit);
