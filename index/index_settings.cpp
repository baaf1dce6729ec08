#include "index/index_settings.h"

#include "platform/locations.h"

#include <QSettings>

std::string DefaultIndexPath()
{
    return DataDir() + "/archive.db";
}

std::string IndexSettingsPath()
{
    return SettingsFilePath();
}

IndexLocation ConfiguredIndexLocation(const std::string& settingsPath)
{
    IndexLocation location;
    location.sqlitePath = DefaultIndexPath();
    const QSettings settings(QString::fromStdString(settingsPath), QSettings::IniFormat);
    if (settings.value(QStringLiteral("index/driver")).toString() != QLatin1String("QPSQL"))
        return location;
    location.driver = QStringLiteral("QPSQL");
    location.host = settings.value(QStringLiteral("index/host")).toString();
    location.port = settings.value(QStringLiteral("index/port"), 0).toInt();
    location.database = settings.value(QStringLiteral("index/database")).toString();
    location.user = settings.value(QStringLiteral("index/user")).toString();
    location.password = settings.value(QStringLiteral("index/password")).toString();
    return location;
}
