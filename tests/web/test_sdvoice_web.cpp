// sdvoice-web as an administrator starts it: what the index's owner has to say reaches its standard error.

#include "support/temp_folder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(SdvoiceWeb, SaysAtStartThatItsIndexWasDamagedAndSetAside)
{
    const TempFolder temp;
    std::filesystem::create_directories(temp.Path("data/sdvoice"));
    TempFolder::WriteFile(temp.Path("data/sdvoice/archive.db"), std::string(4096, 'x'));
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", QString::fromStdString(temp.Path("data")));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(temp.Path("config")));
    server.setProcessEnvironment(environment);
    server.start(QStringLiteral(SDVOICE_WEB_PROGRAM), {"--plain", "--port", "0"});
    QByteArray output;
    while (!output.contains("Listening on") && server.waitForReadyRead(10000))
        output += server.readAllStandardOutput();
    EXPECT_TRUE(output.contains("Listening on")) << "sdvoice-web did not start within 10 s: " << output.toStdString();
    server.terminate();
    EXPECT_TRUE(server.waitForFinished(5000)) << "sdvoice-web did not stop within 5 s";
    const QString said = QString::fromUtf8(server.readAllStandardError());
    EXPECT_TRUE(said.contains(QString::fromStdString(temp.Path("data/sdvoice/archive.db")) + " 已损坏"))
        << said.toStdString();
    EXPECT_TRUE(std::filesystem::exists(temp.Path("data/sdvoice/archive.db")));
}

} // namespace
