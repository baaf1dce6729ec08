#pragma once

#include <QDialog>
#include <string>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The dialog "分类上传": asks for one day, one phone number or one recording mode.
// After "确 定" (result 1) categoryKind and categoryText hold the criterion; "取 消", Esc and
// the title-bar close give result 2.
class TFrmBytype : public QDialog {
    Q_OBJECT

public:
    explicit TFrmBytype(QWidget* parent = nullptr);

    QRadioButton* RadioButton1 = nullptr; // 按日期上传
    QDateEdit* dtPick = nullptr;
    QRadioButton* RadioButton2 = nullptr; // 按电话号码上传
    QLineEdit* edtPhone = nullptr;
    QRadioButton* RadioButton3 = nullptr; // 按录音方式
    QComboBox* cbVoicetype = nullptr;
    QPushButton* bbtnOK = nullptr;
    QPushButton* bbtnClose = nullptr;

    int categoryKind = 0;     // a CategoryKind
    std::string categoryText; // UTF-8

    void btnUpClick();
    void btnCloseClick();
    void reject() override;

private:
    void FormCreate();
};
