#include "search/result_file_commands.h"

#include "catalogue/card_commands.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "search/archive_search.h"

#include <QFileDialog>
#include <QFileInfo>

QString ChooseRecordingFile(QWidget* owner)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(), QStringLiteral("WAV文件 (VOC*.WAV)"));
}

std::optional<RecordingEntry> AddedRecordingRow(QWidget* owner, const QString& chosen, int number)
{
    if (chosen.isEmpty())
        return std::nullopt;
    const QFileInfo file(chosen);
    const std::string name = file.fileName().toStdString();
    if (!HasRecordingName(name)) {
        ShowMessage(owner, QStringLiteral("请先选择一个命名规范的文件！"), QStringLiteral("提示"),
                    MessageIcon::Warning);
        return std::nullopt;
    }
    return MakeRecordingEntry(file.absolutePath().toStdString() + "/", name, number);
}

bool DeleteRowFile(QWidget* owner, const std::string& path)
{
    if (DeleteRecordingFile(path))
        return true;
    ShowMessage(owner, ToQString(UndeletedFilesMessage({path})), QStringLiteral("提示"), MessageIcon::Warning);
    return false;
}
