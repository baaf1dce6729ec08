#pragma once

#include <QDialog>
#include <QStyle>

class QPlainTextEdit;
class QPushButton;

// The question "确认文件替换" asked before an upload replaces a file of the same name.
// exec() answers a DialogResult: "是" Yes, "全部" YesToAll, "否" No, "取消" and Esc NoToAll (the
// run ends), the title-bar close Cancel.
class OverwriteQuestionDialog : public QDialog {
    Q_OBJECT

public:
    explicit OverwriteQuestionDialog(const QString& fileName, QWidget* parent = nullptr);

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* AddButton(const char* objectName, const QString& text, QStyle::StandardPixmap icon, int result);

    QPlainTextEdit* message_ = nullptr;
};

// The message of the question for one file name.
QString OverwriteQuestionText(const QString& fileName);
