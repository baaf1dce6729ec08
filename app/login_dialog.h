#pragma once

#include "platform/result.h"

#include <QDialog>
#include <string>

class QLineEdit;

// The login dialog of the start-up. It answers DialogResult::Ok only after the stored password
// was typed exactly; every other way out answers DialogResult::Cancel.
class LoginDialog : public QDialog {
    Q_OBJECT

public:
    explicit LoginDialog(QWidget* parent = nullptr);

    // The login gate: loads the stored password and tells whether one is set, or why the
    // configuration file cannot be read.
    Result<bool> NeedLogin();

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Accept();

    QLineEdit* passwordEdit_ = nullptr;
    std::string storedPassword_;
};
