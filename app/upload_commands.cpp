#include "app/upload_commands.h"

#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "catalogue/upload_options_dialog.h"

#include <QFileDialog>

UploadCommands::UploadCommands(QObject* parent) : QObject(parent)
{
    askOverwrite = [](OverwriteQuestionDialog& dialog) { return DialogResult(dialog.exec()); };
    askCategory = [](CategoryUploadDialog& dialog) { return DialogResult(dialog.exec()); };
    askUploadOptions = [](UploadOptionsDialog& dialog) { return DialogResult(dialog.exec()); };
    chooseFolder = [](QWidget* owner, const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(owner, title, startFolder);
    };
}
