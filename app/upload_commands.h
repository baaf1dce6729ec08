#pragma once

#include "catalogue/upload_worker.h"
#include "platform/dialog_result.h"

#include <QObject>
#include <QString>
#include <functional>

class CategoryUploadDialog;
class MainWindow;
class OverwriteQuestionDialog;
class UploadOptionsDialog;
class QWidget;

// What the main window's upload, category and upload-folder commands keep: the upload worker and
// the modal questions they ask. Tests replace the questions so that they answer the real
// dialogs without a modal loop.
class UploadCommands : public QObject {
public:
    explicit UploadCommands(MainWindow& window);

    UploadWorker uploader;
    // Shows the overwrite question modally and returns its answer.
    std::function<DialogResult(OverwriteQuestionDialog&)> askOverwrite;
    // Shows the category dialog modally and returns its answer.
    std::function<DialogResult(CategoryUploadDialog&)> askCategory;
    // Shows the dialog "上传选项" modally and returns its answer.
    std::function<DialogResult(UploadOptionsDialog&)> askUploadOptions;
    // The folder chooser: an empty text when the user cancels.
    std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)> chooseFolder;
};
