#pragma once

#include <QString>
#include <string>

// Where the archive index lives: a SQLite file, or a PostgreSQL server named in the settings file.
struct IndexLocation {
    QString driver = QStringLiteral("QSQLITE"); // or "QPSQL"
    std::string sqlitePath;
    QString host;
    int port = 0; // 0: the driver's default
    QString database;
    QString user;
    QString password;
    // How long a SQLite write waits for another program that holds the index before it fails.
    int busyTimeoutMilliseconds = 5000;
};

// $XDG_DATA_HOME/sdvoice/archive.db.
std::string DefaultIndexPath();
// $XDG_CONFIG_HOME/sdvoice/sdvoice.conf.
std::string IndexSettingsPath();
// The server the settings file names in its group [index] (driver=QPSQL, host, port, database,
// user, password), else the SQLite file at DefaultIndexPath().
IndexLocation ConfiguredIndexLocation(const std::string& settingsPath = IndexSettingsPath());
