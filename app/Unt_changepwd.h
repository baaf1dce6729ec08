#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Sets a new access password (line 2 of the configuration file). It takes effect at the next start.
class TFrmChangePwd : public QDialog {
    Q_OBJECT

public:
    explicit TFrmChangePwd(QWidget* parent = nullptr);

public slots:
    void reject() override;

private:
    void bbtnOKClick();

    QGroupBox* gbinput;
    QLabel* lbNewpwd;
    QLineEdit* Edt_NewPwd;
    QLabel* lbSecpwd;
    QLineEdit* Edt_NewPwd2;
    QPushButton* bbtnOK;
    QPushButton* bbtnClose;
};
