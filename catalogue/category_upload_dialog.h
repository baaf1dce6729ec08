#pragma once

#include "catalogue/category.h"

#include <QDialog>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;

// The dialog "分类上传": asks for one day, one phone number or one recording mode.
// "确 定" answers DialogResult::Ok and category() then holds the criterion; "取 消", Esc and the
// title-bar close answer DialogResult::Cancel.
class CategoryUploadDialog : public QDialog {
    Q_OBJECT

public:
    explicit CategoryUploadDialog(QWidget* parent = nullptr);

    UploadCategory category() const { return category_; }

    void reject() override;

private:
    void BuildControls();
    void Accept();

    QRadioButton* byDateButton_ = nullptr;
    QDateEdit* datePicker_ = nullptr;
    QRadioButton* byPhoneButton_ = nullptr;
    QLineEdit* phoneEdit_ = nullptr;
    QRadioButton* byModeButton_ = nullptr;
    QComboBox* modeBox_ = nullptr;
    UploadCategory category_;
};
