#pragma once

#include <QDialog>

// The about box: a picture, the program's name with its version, and one button that closes it.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    void reject() override;
};
