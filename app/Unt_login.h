#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

// The login dialog of the start-up. It closes with ModalResult::Ok only after the stored
// password was typed exactly; every other way out gives ModalResult::Cancel.
class TFrmLogin : public QDialog {
    Q_OBJECT

public:
    explicit TFrmLogin(QWidget* parent = nullptr);

    // The login gate: loads the stored password and tells whether one is set.
    // Throws ConfigFileError when the configuration file cannot be read.
    bool NeedLogin();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void bbtnOKClick();

    QLabel* lbpasswd;
    QLineEdit* edtPassWord;
    QPushButton* bbtnOK;
    QPushButton* bbtnClose;
    std::string storedPassword_;
};
