#pragma once

#include <QDialog>

class QLineEdit;

// Sets a new access password (line 2 of the configuration file). It takes effect at the next start.
class ChangePasswordDialog : public QDialog {
    Q_OBJECT

public:
    explicit ChangePasswordDialog(QWidget* parent = nullptr);

    void reject() override;

private:
    void Accept();

    QLineEdit* newPasswordEdit_ = nullptr;
    QLineEdit* checkPasswordEdit_ = nullptr;
};
