#pragma once

#include "platform/dialog_result.h"

#include <QObject>
#include <QString>
#include <functional>

class CategoryUploadDialog;
class OverwriteQuestionDialog;
class UploadOptionsDialog;
class QWidget;

// The modal questions of the main window's upload, category and upload-folder commands. Tests
// replace them so that they answer the real dialogs without a modal loop.
class UploadCommands : public QObject {
public:
    explicit UploadCommands(QObject* parent);

    // Shows the overwrite question modally and returns its answer.
    std::function<DialogResult(OverwriteQuestionDialog&)> askOverwrite;
    // Shows the category dialog modally and returns its answer.
    std::function<DialogResult(CategoryUploadDialog&)> askCategory;
    // Shows the dialog "上传选项" modally and returns its answer.
    std::function<DialogResult(UploadOptionsDialog&)> askUploadOptions;
    // The folder chooser: an empty text when the user cancels.
    std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)> chooseFolder;
};
