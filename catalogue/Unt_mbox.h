#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// The question "确认文件替换" asked before an upload replaces a file of the same name.
// Results: "是" 6, "全部" 10, "否" 7, "取消" 9, the title-bar close 2.
class TFrmMbox : public QDialog {
    Q_OBJECT

public:
    explicit TFrmMbox(const QString& fileName, QWidget* parent = nullptr);

    QPlainTextEdit* mmTip = nullptr;
    QPushButton* btnyes = nullptr;
    QPushButton* btnyesall = nullptr;
    QPushButton* btnno = nullptr;
    QPushButton* btnnoall = nullptr;

    void btnyesClick();
    void btnyesallClick();
    void btnnoClick();
    void btnnoallClick();

    // The close button of the title bar.
    void reject() override;

protected:
    // Esc answers as the Cancel button "取消" does.
    void keyPressEvent(QKeyEvent* event) override;
};

// The message of the question for one file name.
QString OverwriteQuestionText(const QString& fileName);
