#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: a picture, the program's name with its version, and one button that closes it.
class TFrmAbout : public QDialog {
    Q_OBJECT

public:
    explicit TFrmAbout(QWidget* parent = nullptr);

public slots:
    void reject() override;

private:
    QLabel* imgLogo;
    QLabel* lbVersion;
    QPushButton* bbtnOK;
};
