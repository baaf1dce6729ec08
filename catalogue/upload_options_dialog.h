#pragma once

#include "catalogue/upload_settings.h"

#include <QDialog>

class QCheckBox;
class QSpinBox;

// The dialog "上传选项": the upload options of sdvoice.conf's group [upload]. "确 定" answers
// DialogResult::Ok and settings() then holds the choice; "取 消", Esc and the title-bar close
// answer DialogResult::Cancel.
class UploadOptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit UploadOptionsDialog(const UploadSettings& settings, QWidget* parent = nullptr);

    UploadSettings settings() const;

    void reject() override;

private:
    QCheckBox* automaticBox_ = nullptr;
    QCheckBox* skipIdenticalBox_ = nullptr;
    QCheckBox* monthFoldersBox_ = nullptr;
    QSpinBox* keepDaysBox_ = nullptr;
};
