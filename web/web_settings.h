#pragma once

#include "platform/result.h"

#include <QString>
#include <QtGlobal>

// How many connections to the archive index the server holds at most, unless the settings say.
inline constexpr int kDefaultIndexConnections = 4;

// The server's settings, group [web] of the settings file (sdvoice.conf): port, the files of its
// certificate and private key (PEM), and how many index connections it shares among its requests
// (database_connections, 1 to 64). Without certificate and key named the server makes a self-signed
// pair at its first start, at the default paths in the configuration folder.
struct WebSettings {
    quint16 port = 8443;
    QString certificateFile;
    QString keyFile;
    int databaseConnections = kDefaultIndexConnections;
};

QString DefaultSettingsPath(); // SettingsFilePath()
WebSettings ReadWebSettings(const QString& settingsPath = DefaultSettingsPath());
// Stores the port, keeping everything else of the file.
Result<void> SaveWebPort(quint16 port, const QString& settingsPath = DefaultSettingsPath());

// The SHA-256 fingerprint of the (first) certificate in a PEM file, as browsers show it:
// "AB:CD:...", 32 pairs.
Result<QString> CertificateFingerprint(const QString& certificateFile);
