#include "index/archive_index.h"
#include "platform/message_box.h"
#include "support/find_child.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "web/access_log.h"
#include "web/account_store.h"
#include "web/recording_ids.h"
#include "web/web_access_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

namespace {

using namespace std::chrono_literals;

// A systemctl of the test's own: it notes its arguments, keeps the unit's state in a file, and
// answers as a desktop without a user instance of systemd does while the file "nobus" exists, as
// one without the unit while "nounit" exists, and fails to start the server (leaving the unit
// enabled, the file "enabled") while "failstart" exists.
// The server it starts writes its certificate a moment later.
constexpr std::string_view kFakeSystemctl = R"(#!/bin/sh
here=$(dirname "$0")
echo "$*" >> "$here/calls"
if [ -e "$here/nobus" ]; then
  echo "Failed to connect to bus: No medium found" >&2
  exit 1
fi
if [ -e "$here/nounit" ]; then
  echo "Failed to enable unit: Unit file sdvoice-web.service does not exist." >&2
  exit 1
fi
case "$2" in
  enable|disable) [ "$2" = enable ] && touch "$here/enabled" || rm -f "$here/enabled" ;;
esac
if [ -e "$here/failstart" ] && [ "$2" = enable ]; then
  echo "Job for sdvoice-web.service failed because the control process exited with error code." >&2
  exit 1
fi
case "$2" in
  is-active) state=$(cat "$here/state" 2>/dev/null || echo inactive); echo "$state"; [ "$state" = active ] ;;
  enable) echo active > "$here/state"
    (sleep 1; printf -- '-----BEGIN CERTIFICATE-----\nAAEC\n-----END CERTIFICATE-----\n' > "$here/cert.pem") \
      > /dev/null 2>&1 & ;;
  disable) echo inactive > "$here/state" ;;
esac
)";

class WebAccessDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string systemctl = folder.Write("systemctl", kFakeSystemctl);
        std::filesystem::permissions(systemctl, std::filesystem::perms::owner_all);
        paths.accountsFile = QString::fromStdString(folder.Path("web-accounts"));
        paths.logFile = QString::fromStdString(folder.Path("web-access.log"));
        paths.settingsFile = QString::fromStdString(folder.Path("sdvoice.conf"));
        paths.systemctl = QString::fromStdString(systemctl);
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request.text); });
        SetQuestionHandler([](const MessageRequest&) { return true; });
    }
    void TearDown() override
    {
        dialog.reset();
        SetMessageHandler({});
        SetQuestionHandler({});
    }

    void Open()
    {
        dialog = std::make_unique<WebAccessDialog>(paths);
        WaitUntilIdle();
    }
    // Hashing a password takes a moment on purpose, more on a busy machine.
    void WaitUntilIdle()
    {
        ASSERT_TRUE(WaitForWindow([this] { return !dialog->busy(); }, 20s)) << "the dialog stays busy";
    }
    void Click(const char* button)
    {
        Child<QPushButton>(*dialog, button)->click();
        WaitUntilIdle();
    }
    void TypeAccount(const QString& name, int roleIndex, const QString& password, const QString& again)
    {
        Child<QLineEdit>(*dialog, "edtAccountName")->setText(name);
        Child<QComboBox>(*dialog, "cbRole")->setCurrentIndex(roleIndex);
        Child<QLineEdit>(*dialog, "edtPassword")->setText(password);
        Child<QLineEdit>(*dialog, "edtPasswordAgain")->setText(again);
    }
    void Select(const QString& name)
    {
        auto* list = Child<QTreeWidget>(*dialog, "listAccounts");
        const QList<QTreeWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        list->setCurrentItem(found.front());
    }
    std::optional<WebRole> Verify(const QString& name, const QByteArray& password) const
    {
        return AccountStore(paths.accountsFile).Verify(name, password);
    }
    QString ServerState() const { return Child<QLabel>(*dialog, "lblServerState")->text(); }

    TempFolder folder;
    WebAccessPaths paths;
    std::vector<QString> messages;
    std::unique_ptr<WebAccessDialog> dialog;
};

TEST_F(WebAccessDialogTest, AccountsChangedInTheDialogReachTheStoreAndTheLogWhichShowsItsNewestEntries)
{
    AccessLog log(paths.logFile);
    ASSERT_TRUE(log.Append({QDateTime::currentDateTime(), QStringLiteral("li"), WebAction::Play, QStringLiteral("42"),
                            QStringLiteral("192.168.1.9")}));
    Open();
    auto* logList = Child<QTreeWidget>(*dialog, "listLog");
    ASSERT_EQ(logList->topLevelItemCount(), 1);
    EXPECT_EQ(logList->topLevelItem(0)->text(1), QStringLiteral("li"));
    EXPECT_EQ(logList->topLevelItem(0)->text(2), QStringLiteral("播放"));
    EXPECT_EQ(logList->topLevelItem(0)->text(3), QStringLiteral("42"));

    TypeAccount(QStringLiteral("wang"), 1, QStringLiteral("秘密123456"), QStringLiteral("秘密123456"));
    Click("btnAddAccount");
    EXPECT_EQ(Verify(QStringLiteral("wang"), QStringLiteral("秘密123456").toUtf8()), WebRole::Note);
    EXPECT_EQ(Child<QTreeWidget>(*dialog, "listAccounts")->topLevelItemCount(), 1);
    EXPECT_TRUE(Child<QLineEdit>(*dialog, "edtPassword")->text().isEmpty()) << "a password left in the dialog";
    EXPECT_TRUE(messages.empty());

    // Refused before anything is written: a password typed differently twice, an empty one, a taken name.
    TypeAccount(QStringLiteral("zhao"), 0, QStringLiteral("one12345"), QStringLiteral("two12345"));
    Click("btnAddAccount");
    TypeAccount(QStringLiteral("zhao"), 0, QString(), QString());
    Click("btnAddAccount");
    TypeAccount(QStringLiteral("wang"), 0, QStringLiteral("x2345678"), QStringLiteral("x2345678"));
    Click("btnAddAccount");
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(Verify(QStringLiteral("zhao"), "one12345"), std::nullopt);
    EXPECT_EQ(Verify(QStringLiteral("wang"), QStringLiteral("秘密123456").toUtf8()), WebRole::Note);

    Select(QStringLiteral("wang"));
    Child<QComboBox>(*dialog, "cbRole")->setCurrentIndex(2);
    Click("btnSetRole");
    EXPECT_EQ(Verify(QStringLiteral("wang"), QStringLiteral("秘密123456").toUtf8()), WebRole::Admin);

    Select(QStringLiteral("wang"));
    TypeAccount(QStringLiteral("wang"), 2, QStringLiteral("new words"), QStringLiteral("new words"));
    Click("btnResetPassword");
    EXPECT_EQ(Verify(QStringLiteral("wang"), QStringLiteral("秘密123456").toUtf8()), std::nullopt);
    EXPECT_EQ(Verify(QStringLiteral("wang"), "new words"), WebRole::Admin);

    Select(QStringLiteral("wang"));
    Click("btnRemoveAccount");
    const Result<QList<WebAccount>> left = AccountStore(paths.accountsFile).List();
    ASSERT_TRUE(left);
    EXPECT_TRUE(left->isEmpty());
    EXPECT_EQ(Child<QTreeWidget>(*dialog, "listAccounts")->topLevelItemCount(), 0);
    EXPECT_EQ(messages.size(), 3u);

    // The four changes are logged as the desk's, the newest at the top.
    ASSERT_EQ(logList->topLevelItemCount(), 5);
    EXPECT_EQ(logList->topLevelItem(0)->text(2), QStringLiteral("修改账号"));
    EXPECT_EQ(logList->topLevelItem(0)->text(3), QStringLiteral("wang"));
    EXPECT_EQ(logList->topLevelItem(0)->text(4), QStringLiteral("本机"));
}

TEST_F(WebAccessDialogTest, ServerTurnsOnAndOffThroughTheUserUnitOrSaysWhyItCannot)
{
    QSettings(paths.settingsFile, QSettings::IniFormat)
        .setValue("web/certificate", QString::fromStdString(folder.Path("cert.pem")));
    Open();
    EXPECT_EQ(ServerState(), QStringLiteral("已停止"));
    Click("btnServerOn");
    EXPECT_EQ(ServerState(), QStringLiteral("已开启"));
    auto* fingerprint = Child<QLabel>(*dialog, "lblFingerprint");
    EXPECT_TRUE(WaitForWindow([fingerprint] { return fingerprint->text().count(u':') == 31; }))
        << "no fingerprint once the server has made its certificate: " << fingerprint->text().toStdString();
    Child<QSpinBox>(*dialog, "spnPort")->setValue(9443);
    Click("btnSavePort");
    EXPECT_EQ(QSettings(paths.settingsFile, QSettings::IniFormat).value("web/port").toInt(), 9443);
    Click("btnServerOff");
    EXPECT_EQ(ServerState(), QStringLiteral("已停止"));
    EXPECT_EQ(QString::fromStdString(TempFolder::Read(folder.Path("calls"))),
              QStringLiteral("--user is-active sdvoice-web.service\n"
                             "--user enable --now sdvoice-web.service\n--user is-active sdvoice-web.service\n"
                             "--user try-restart sdvoice-web.service\n--user is-active sdvoice-web.service\n"
                             "--user disable --now sdvoice-web.service\n--user is-active sdvoice-web.service\n"));
    EXPECT_TRUE(messages.empty());

    // Without a user instance of systemd, and without systemctl at all.
    folder.Write("nobus", "");
    Click("btnServerOn");
    paths.systemctl = QString::fromStdString(folder.Path("no-such-program"));
    Open();
    Click("btnServerOff");
    ASSERT_EQ(messages.size(), 2u);
    for (const QString& message : messages)
        EXPECT_TRUE(message.contains(QStringLiteral("本机没有用户的 systemd 服务"))) << message.toStdString();
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("无法开启网页访问")));
    EXPECT_TRUE(messages[1].startsWith(QStringLiteral("无法停止网页访问")));
    EXPECT_NE(ServerState(), QStringLiteral("已开启"));
}

// What cannot work is refused with its reason before anything is written, a systemctl failure is
// told in Chinese with the step to take and a failed start leaves the unit off, the fields are
// empty after an account is added, and the log names the recordings by folder and file.
TEST_F(WebAccessDialogTest, RefusesWhatCannotWorkAndLeavesNothingHalfDone)
{
    const std::string month = "/srv/录音/2023年01月/";
    paths.index.sqlitePath = folder.Path("archive.db");
    {
        ArchiveIndex::Opened index = ArchiveIndex::Open(paths.index);
        ASSERT_TRUE(index.index) << index.message;
        ASSERT_TRUE(index.index->KnowFolder(month));
    }
    ASSERT_TRUE(AccessLog(paths.logFile)
                    .Append({QDateTime::currentDateTime(), QStringLiteral("li"), WebAction::Play,
                             RecordingId(month, "VOC00001.WAV"), QStringLiteral("192.168.1.9")}));
    Open();
    EXPECT_EQ(Child<QTreeWidget>(*dialog, "listLog")->topLevelItem(0)->text(3),
              QStringLiteral("2023年01月/VOC00001.WAV"));

    for (const QString& name : {QStringLiteral("a/b"), QStringLiteral("li si"), QStringLiteral("li\tsi")}) {
        TypeAccount(name, 0, QStringLiteral("12345678"), QStringLiteral("12345678"));
        Click("btnAddAccount");
    }
    TypeAccount(QStringLiteral("zhao"), 0, QStringLiteral("1234567"), QStringLiteral("1234567"));
    Click("btnAddAccount");
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_TRUE(messages[3].contains(u'8')) << messages[3].toStdString();
    EXPECT_TRUE(AccountStore(paths.accountsFile).List()->isEmpty());
    TypeAccount(QStringLiteral("zhao"), 0, QStringLiteral("12345678"), QStringLiteral("12345678"));
    Click("btnAddAccount");
    EXPECT_EQ(Verify(QStringLiteral("zhao"), "12345678"), WebRole::Listen);
    for (const char* field : {"edtAccountName", "edtPassword", "edtPasswordAgain"})
        EXPECT_TRUE(Child<QLineEdit>(*dialog, field)->text().isEmpty()) << field;

    Child<QSpinBox>(*dialog, "spnPort")->setValue(80);
    Click("btnSavePort");
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_TRUE(messages[4].contains(QStringLiteral("1024"))) << messages[4].toStdString();
    EXPECT_FALSE(QSettings(paths.settingsFile, QSettings::IniFormat).contains("web/port"));
    EXPECT_FALSE(Child<QLabel>(*dialog, "lblAddress")->text().contains(QStringLiteral(":80")));

    folder.Write("failstart", "");
    Click("btnServerOn");
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_TRUE(messages[5].contains(QStringLiteral("journalctl --user -u sdvoice-web"))) << messages[5].toStdString();
    EXPECT_FALSE(std::filesystem::exists(folder.Path("enabled"))) << "the unit stays enabled after the failed start";
    std::filesystem::remove(folder.Path("failstart"));
    folder.Write("nounit", "");
    Click("btnServerOn");
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_TRUE(messages[6].contains(QStringLiteral("重新安装"))) << messages[6].toStdString();
    for (const QString& message : messages) {
        EXPECT_FALSE(message.contains(QStringLiteral("Job for"))) << "systemctl's own words";
        EXPECT_FALSE(message.contains(QStringLiteral("does not exist"))) << "systemctl's own words";
    }
}

} // namespace
