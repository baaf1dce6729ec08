#include "web/access_log.h"
#include "web/account_store.h"
#include "web/self_signed_certificate.h"
#include "web/web_server.h"
#include "web/web_settings.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <sys/stat.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The status curl gets for the login page over HTTPS (the certificate is self-signed: not checked).
std::string CurlStatus(quint16 port)
{
    const std::string command =
        "curl -sk --max-time 5 -o /dev/null -w '%{http_code}' https://127.0.0.1:" + std::to_string(port) + "/login";
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[64];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        ::pclose(pipe);
    }
    return output;
}

TEST(WebSettings, ReadsThePortAndNamedFilesWithDefaults)
{
    const TempFolder folder;
    const QString settings = QString::fromStdString(folder.Path("sdvoice.conf"));
    EXPECT_EQ(ReadWebSettings(settings).port, 8443);
    EXPECT_TRUE(ReadWebSettings(settings).certificateFile.endsWith("/sdvoice/web-certificate.pem"));
    TempFolder::WriteFile(settings.toStdString(), "[index]\ndriver=QSQLITE\n[web]\nport=99999\nkey=/etc/k.pem\n");
    EXPECT_EQ(ReadWebSettings(settings).port, 8443); // out of range
    EXPECT_EQ(ReadWebSettings(settings).keyFile, "/etc/k.pem");
    ASSERT_TRUE(SaveWebPort(9443, settings));
    EXPECT_EQ(ReadWebSettings(settings).port, 9443);
    EXPECT_TRUE(ReadAll(settings).contains("driver=QSQLITE"));
}

TEST(WebSettings, SelfSignedCertificateIsMadeOnceAndServesHttps)
{
    const TempFolder folder;
    const QString certificate = QString::fromStdString(folder.Path("config/web-certificate.pem"));
    const QString key = QString::fromStdString(folder.Path("config/web-key.pem"));
    ASSERT_TRUE(MakeCertificateIfMissing(certificate, key));
    for (const QString& path : {certificate, key}) {
        struct stat status {};
        ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    const Result<QString> fingerprint = CertificateFingerprint(certificate);
    ASSERT_TRUE(fingerprint);
    EXPECT_TRUE(QRegularExpression("^([0-9A-F]{2}:){31}[0-9A-F]{2}$").match(*fingerprint).hasMatch())
        << fingerprint->toStdString();

    // A second start keeps the pair; a pair with one file missing is refused, never half replaced.
    const QByteArray keyPem = ReadAll(key);
    ASSERT_TRUE(MakeCertificateIfMissing(certificate, key));
    EXPECT_EQ(ReadAll(key), keyPem);
    ASSERT_TRUE(QFile::remove(certificate));
    EXPECT_FALSE(MakeCertificateIfMissing(certificate, key));
    EXPECT_EQ(ReadAll(key), keyPem);
    EXPECT_FALSE(QFile::exists(certificate));
    EXPECT_FALSE(CertificateFingerprint(key));

    ASSERT_TRUE(QFile::remove(key));
    ASSERT_TRUE(MakeCertificateIfMissing(certificate, key));
    AccountStore accounts(QString::fromStdString(folder.Path("web-accounts")));
    AccessLog log(QString::fromStdString(folder.Path("web-access.log")));
    WebServerOptions options;
    options.certificatePem = ReadAll(certificate);
    options.keyPem = ReadAll(key);
    WebServer server(options, accounts, log, {});
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(CurlStatus(server.Port()), "200");
}

} // namespace
