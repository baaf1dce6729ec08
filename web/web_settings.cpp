#include "web/web_settings.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSettings>

QString DefaultSettingsPath()
{
    return QString::fromStdString(SettingsFilePath());
}

WebSettings ReadWebSettings(const QString& settingsPath)
{
    const QSettings settings(settingsPath, QSettings::IniFormat);
    WebSettings web;
    bool valid = false;
    const uint port = settings.value("web/port").toUInt(&valid);
    if (valid && port > 0 && port <= 65535)
        web.port = static_cast<quint16>(port);
    const int connections = settings.value("web/database_connections").toInt(&valid);
    if (valid && connections >= 1 && connections <= 64)
        web.databaseConnections = connections;
    const QString folder = QString::fromStdString(ConfigDir());
    web.certificateFile = settings.value("web/certificate", folder + "/web-certificate.pem").toString();
    web.keyFile = settings.value("web/key", folder + "/web-key.pem").toString();
    return web;
}

Result<void> SaveWebPort(quint16 port, const QString& settingsPath)
{
    MakePrivateFile(settingsPath.toStdString());
    QSettings settings(settingsPath, QSettings::IniFormat);
    settings.setValue("web/port", port);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return Failure{"Cannot create file " + settingsPath.toStdString(), 0, settingsPath.toStdString()};
    return {};
}

Result<QString> CertificateFingerprint(const QString& certificateFile)
{
    QFile file(certificateFile);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{"Cannot open file " + certificateFile.toStdString(), 0, certificateFile.toStdString()};
    const QByteArray pem = file.read(1024 * 1024);
    constexpr QByteArrayView begin = "-----BEGIN CERTIFICATE-----";
    const qsizetype start = pem.indexOf(begin);
    const qsizetype end = pem.indexOf("-----END CERTIFICATE-----", start);
    if (start < 0 || end < 0)
        return Failure{"No certificate in file " + certificateFile.toStdString(), 0, certificateFile.toStdString()};
    const QByteArray base64 = pem.mid(start + begin.size(), end - start - begin.size()).simplified().replace(' ', "");
    const auto der = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!der || der.decoded.isEmpty())
        return Failure{"No certificate in file " + certificateFile.toStdString(), 0, certificateFile.toStdString()};
    const QByteArray digest = QCryptographicHash::hash(der.decoded, QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex(':').toUpper());
}
