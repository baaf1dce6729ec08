#include "catalogue/upload_settings.h"

#include <QSettings>
#include <algorithm>

UploadSettings ReadUploadSettings(const std::string& settingsPath)
{
    const QSettings file(QString::fromStdString(settingsPath), QSettings::IniFormat);
    UploadSettings settings;
    settings.automatic = file.value(QStringLiteral("upload/automatic"), false).toBool();
    settings.options.skipIdentical = file.value(QStringLiteral("upload/skip_identical"), false).toBool();
    settings.options.monthFolders = file.value(QStringLiteral("upload/subfolders")).toString() == QLatin1String("month");
    bool isNumber = false;
    const int days = file.value(QStringLiteral("upload/keep_replaced_days")).toInt(&isNumber);
    if (isNumber)
        settings.options.keepReplacedDays = std::clamp(days, 0, kMaxKeepReplacedDays);
    return settings;
}

Result<void> WriteUploadSettings(const std::string& settingsPath, const UploadSettings& settings)
{
    QSettings file(QString::fromStdString(settingsPath), QSettings::IniFormat);
    file.setValue(QStringLiteral("upload/automatic"), settings.automatic);
    file.setValue(QStringLiteral("upload/skip_identical"), settings.options.skipIdentical);
    file.setValue(QStringLiteral("upload/subfolders"),
                  settings.options.monthFolders ? QStringLiteral("month") : QStringLiteral("none"));
    file.setValue(QStringLiteral("upload/keep_replaced_days"), settings.options.keepReplacedDays);
    file.sync();
    if (file.status() != QSettings::NoError)
        return Failure{"cannot write the settings file " + settingsPath, 0, settingsPath};
    return {};
}
