#pragma once

#include "catalogue/upload.h"

#include <QObject>
#include <QString>
#include <functional>

class QWidget;
class TFrmBytype;
class TFrmMain;
class TFrmMbox;

// What the main window's upload, category, deletion and upload-folder commands keep: the
// upload run and the modal questions they ask. Tests replace the questions so that they
// answer the real dialogs without a modal loop.
class UploadCommands : public QObject {
public:
    explicit UploadCommands(TFrmMain& window);

    Uploader uploader;
    // Shows the overwrite question modally and returns its result.
    std::function<int(TFrmMbox&)> execOverwriteQuestion;
    // Shows the category dialog modally and returns its result.
    std::function<int(TFrmBytype&)> execCategoryDialog;
    // The folder chooser: an empty text when the user cancels.
    std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)> chooseFolder;

private:
    UploadWindow WindowCallbacks(TFrmMain& window);
};
