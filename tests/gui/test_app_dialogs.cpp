#include "app/about_dialog.h"
#include "app/change_password_dialog.h"
#include "app/login_dialog.h"
#include "app/startup.h"
#include "platform/config_file.h"
#include "platform/dialog_result.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "support/find_child.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The windows use the configuration path worked out on first use, so the whole run points
// $XDG_CONFIG_HOME at a private folder before any test asks for it.
class ConfigHomeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/sdvoice-gui-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home_ = pattern;
        ::setenv("XDG_CONFIG_HOME", pattern, 1);
        ASSERT_EQ(ConfigFilePath(), home_ + "/sdvoice/qzacfg.cfg");
    }
    void TearDown() override { fs::remove_all(home_); }

private:
    std::string home_;
};
[[maybe_unused]] ::testing::Environment* const kConfigHome =
    ::testing::AddGlobalTestEnvironment(new ConfigHomeEnvironment);

void PressKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

class AppDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(ConfigFolder());
        SetMessageHandler([this](const MessageRequest& request) { messages_.push_back(request); });
    }
    void TearDown() override
    {
        SetMessageHandler({});
        fs::remove_all(ConfigFolder());
    }

    static std::string ConfigFolder() { return fs::path(ConfigFilePath()).parent_path(); }
    static void PutConfig(const std::string& bytes)
    {
        fs::create_directories(ConfigFolder());
        std::ofstream(ConfigFilePath(), std::ios::binary) << bytes;
    }

    std::vector<MessageRequest> messages_;
};

// ---- login dialog ----

TEST_F(AppDialogsTest, LoginAcceptsOnlyTheStoredPasswordAsTyped)
{
    PutConfig("D:\\\r\nSecret\r\n");
    LoginDialog login;
    ASSERT_TRUE(login.NeedLogin().value());
    login.show();
    EXPECT_EQ(login.windowTitle(), QStringLiteral("用户登录"));
    EXPECT_EQ(Child<QLabel>(&login, "lbpasswd")->text(), QStringLiteral("请输入口令："));
    auto* password = Child<QLineEdit>(&login, "edtPassWord");
    auto* ok = Child<QPushButton>(&login, "bbtnOK");
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    password->setText(QStringLiteral("密码 ab"));
    EXPECT_EQ(password->displayText(), QStringLiteral("*****"));
    password->clear();
    ok->setFocus();
    login.hide();
    login.show(); // every showing puts the focus back into the password box
    EXPECT_EQ(login.focusWidget(), password);
    EXPECT_EQ(login.font().pointSize(), 9);
    EXPECT_EQ(login.font().family(), QStringLiteral("宋体"));
    for (const QString& face : {QStringLiteral("宋体"), QStringLiteral("新宋体")})
        EXPECT_EQ(QFont::substitutes(face).join(u',').toLower(), QStringLiteral("noto serif cjk sc,noto sans cjk sc"));

    for (const QString& wrong :
         {QStringLiteral("secret"), QStringLiteral("Secret "), QStringLiteral(" Secret"), QString()}) {
        messages_.clear();
        password->setText(wrong);
        ok->click();
        ASSERT_EQ(messages_.size(), 1u) << wrong.toStdString();
        EXPECT_EQ(messages_[0].text, QStringLiteral("对不起，你输入的密码有误！"));
        EXPECT_EQ(messages_[0].caption, QStringLiteral("提示"));
        EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
        EXPECT_EQ(messages_[0].owner, &login);
        EXPECT_TRUE(login.isVisible());
        EXPECT_EQ(password->text(), wrong);
    }

    messages_.clear();
    password->setText(QStringLiteral("Secret"));
    PressKey(password, Qt::Key_Return);
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(login.isVisible());
    EXPECT_EQ(login.result(), ToDialogCode(DialogResult::Ok));
}

TEST_F(AppDialogsTest, LoginComparesChineseAndStoredBlanksExactly)
{
    PutConfig("D:\\\r\n\xC3\xDC \xC2\xEB \r\n"); // "密 码 " in GB18030
    LoginDialog login;
    ASSERT_TRUE(login.NeedLogin().value());
    login.show();
    auto* password = Child<QLineEdit>(&login, "edtPassWord");
    password->setText(QStringLiteral("密 码"));
    Child<QPushButton>(&login, "bbtnOK")->click();
    EXPECT_EQ(messages_.size(), 1u);
    password->setText(QStringLiteral("密 码 "));
    Child<QPushButton>(&login, "bbtnOK")->click();
    EXPECT_EQ(login.result(), ToDialogCode(DialogResult::Ok));
}

TEST_F(AppDialogsTest, EveryOtherWayOutOfTheLoginIsCancel)
{
    PutConfig("D:\\\r\npw\r\n");
    const std::function<void(LoginDialog&)> ways[] = {
        [](LoginDialog& login) { Child<QPushButton>(&login, "bbtnClose")->click(); },
        [](LoginDialog& login) { PressKey(Child<QLineEdit>(&login, "edtPassWord"), Qt::Key_Escape); },
        [](LoginDialog& login) { login.close(); },
    };
    for (const auto& leave : ways) {
        LoginDialog login;
        ASSERT_TRUE(login.NeedLogin().value());
        login.show();
        Child<QLineEdit>(&login, "edtPassWord")->setText(QStringLiteral("pw"));
        leave(login);
        EXPECT_FALSE(login.isVisible());
        EXPECT_EQ(login.result(), ToDialogCode(DialogResult::Cancel));
    }
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(Child<QPushButton>(std::make_unique<LoginDialog>().get(), "bbtnClose")->text(), QStringLiteral("取消"));
}

// ---- password change ----

struct ChangePwdDialog {
    ChangePasswordDialog dialog;
    QLineEdit* first = Child<QLineEdit>(&dialog, "Edt_NewPwd");
    QLineEdit* second = Child<QLineEdit>(&dialog, "Edt_NewPwd2");
    QPushButton* ok = Child<QPushButton>(&dialog, "bbtnOK");

    ChangePwdDialog() { dialog.show(); }
    void Enter(const QString& a, const QString& b)
    {
        first->setText(a);
        second->setText(b);
        ok->click();
    }
};

TEST_F(AppDialogsTest, ChangePasswordShowsItsControls)
{
    ChangePwdDialog change;
    EXPECT_EQ(change.dialog.windowTitle(), QStringLiteral("更改密码"));
    EXPECT_EQ(Child<QWidget>(&change.dialog, "gbinput")->property("title").toString(), QStringLiteral("请输入密码："));
    EXPECT_EQ(Child<QLabel>(&change.dialog, "lbNewpwd")->text(), QStringLiteral("新密码"));
    EXPECT_EQ(Child<QLabel>(&change.dialog, "lbSecpwd")->text(), QStringLiteral("校验密码"));
    for (QLineEdit* box : {change.first, change.second}) {
        EXPECT_EQ(box->echoMode(), QLineEdit::Password);
        box->setText(QStringLiteral("pw"));
        EXPECT_EQ(box->displayText(), QStringLiteral("**"));
        box->clear();
        EXPECT_EQ(box->maxLength(), 20);
        EXPECT_TRUE(box->font().bold());
    }
    EXPECT_EQ(change.ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(change.ok->isDefault());
    EXPECT_EQ(Child<QPushButton>(&change.dialog, "bbtnClose")->text(), QStringLiteral("Cancel"));
}

TEST_F(AppDialogsTest, ChangePasswordRefusesMismatchedOrEmptyInputAndTouchesNoFile)
{
    const QString warning = QStringLiteral("请输入口令,新口令必须与校验口令相同,且不能为空！");
    ChangePwdDialog change;
    const std::pair<QString, QString> refused[] = {
        {QStringLiteral("abc"), QStringLiteral("abd")},
        {QStringLiteral("abc"), QStringLiteral("ABC")},
        {QString(), QString()},
        {QStringLiteral("   "), QStringLiteral(" \t ")},
    };
    for (const auto& [a, b] : refused) {
        messages_.clear();
        change.Enter(a, b);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].text, warning);
        EXPECT_EQ(messages_[0].caption, QStringLiteral("提示"));
        EXPECT_EQ(messages_[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(change.dialog.isVisible());
        EXPECT_EQ(change.first->text(), a);
        EXPECT_EQ(change.second->text(), b);
        EXPECT_FALSE(fs::exists(ConfigFilePath()));
    }
}

TEST_F(AppDialogsTest, ChangePasswordStoresTheTrimmedPasswordForTheNextLogin)
{
    {
        ChangePwdDialog change;
        change.Enter(QStringLiteral("  new pw\t"), QStringLiteral(" new pw  "));
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].text, QStringLiteral("修改口令成功！"));
        EXPECT_EQ(messages_[0].caption, QStringLiteral("提示"));
        EXPECT_EQ(messages_[0].icon, MessageIcon::None);
        EXPECT_FALSE(change.dialog.isVisible());
        EXPECT_EQ(change.dialog.result(), ToDialogCode(DialogResult::Ok));
    }
    EXPECT_EQ(ReadConfigLines().value(), (ConfigLines{DefaultUploadPath(), "new pw"}));

    messages_.clear();
    LoginDialog login;
    ASSERT_TRUE(login.NeedLogin().value());
    login.show();
    Child<QLineEdit>(&login, "edtPassWord")->setText(QStringLiteral("new pw"));
    Child<QPushButton>(&login, "bbtnOK")->click();
    EXPECT_EQ(login.result(), ToDialogCode(DialogResult::Ok));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(AppDialogsTest, ChangePasswordReportsAFileThatCannotBeWrittenAndStaysOpen)
{
    // A plain file where the configuration folder should be: the file cannot be created.
    fs::create_directories(fs::path(ConfigFolder()).parent_path());
    std::ofstream(ConfigFolder()) << "in the way";
    ChangePwdDialog change;
    change.Enter(QStringLiteral("pw"), QStringLiteral("pw"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, QStringLiteral("Cannot create file ") + QString::fromStdString(ConfigFilePath()));
    EXPECT_EQ(messages_[0].icon, MessageIcon::Error);
    EXPECT_TRUE(change.dialog.isVisible());

    // A folder in place of the file: it cannot be read.
    fs::remove(ConfigFolder());
    fs::create_directories(ConfigFilePath());
    messages_.clear();
    change.Enter(QStringLiteral("pw"), QStringLiteral("pw"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, QStringLiteral("Cannot open file ") + QString::fromStdString(ConfigFilePath()));
    EXPECT_TRUE(change.dialog.isVisible());
}

TEST_F(AppDialogsTest, CancellingThePasswordChangeStoresNothing)
{
    for (int way = 0; way < 2; ++way) {
        ChangePwdDialog change;
        change.first->setText(QStringLiteral("pw"));
        change.second->setText(QStringLiteral("pw"));
        if (way == 0)
            Child<QPushButton>(&change.dialog, "bbtnClose")->click();
        else
            PressKey(change.second, Qt::Key_Escape);
        EXPECT_FALSE(change.dialog.isVisible());
        EXPECT_EQ(change.dialog.result(), ToDialogCode(DialogResult::Cancel));
    }
    EXPECT_FALSE(fs::exists(ConfigFilePath()));
    EXPECT_TRUE(messages_.empty());
}

// ---- about box ----

TEST_F(AppDialogsTest, AboutBoxShowsNameVersionAndPictureAndClosesWithOk)
{
    AboutDialog about;
    about.show();
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于"));
    EXPECT_EQ(Child<QLabel>(&about, "lbVersion")->text(), QStringLiteral("SD卡录音设备语音管理软件R6.01.02"));
    EXPECT_FALSE(Child<QLabel>(&about, "imgLogo")->pixmap().isNull());
    auto* ok = Child<QPushButton>(&about, "bbtnOK");
    EXPECT_EQ(ok->text(), QStringLiteral("确认"));
    ok->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), ToDialogCode(DialogResult::Ok));
    EXPECT_TRUE(messages_.empty());
}

// ---- start-up ----

struct StartupLog {
    int created = 0;
    bool shown = false;
    std::string uploadPath;
    int loginsSeen = 0;
};

// Stands in for the main window: reads the upload folder at creation as the real one does and
// closes itself as soon as it is shown, which ends the event loop.
class FakeMainWindow : public QWidget {
public:
    explicit FakeMainWindow(StartupLog& log) : log_(log)
    {
        ++log_.created;
        log_.uploadPath = DefaultUploadPath();
        const Result<ConfigLines> lines = ReadConfigLines();
        if (!lines)
            ShowErrorBox(this, lines.error());
        else if (!lines->empty())
            log_.uploadPath = lines->front();
    }

protected:
    void showEvent(QShowEvent*) override
    {
        log_.shown = true;
        QTimer::singleShot(0, this, &QWidget::close);
    }

private:
    StartupLog& log_;
};

// Runs the start-up with the fake main window; whenever the login dialog is up, `answer` acts on it.
StartupLog RunStartupWith(const std::function<void(LoginDialog&)>& answer)
{
    StartupLog log;
    QTimer loginWatcher;
    QObject::connect(&loginWatcher, &QTimer::timeout, [&] {
        if (auto* login = qobject_cast<LoginDialog*>(QApplication::activeModalWidget())) {
            ++log.loginsSeen;
            answer(*login);
        }
    });
    loginWatcher.start(1);
    const int exitCode = RunStartup(*qApp, [&] { return std::make_unique<FakeMainWindow>(log); });
    EXPECT_EQ(exitCode, 0);
    return log;
}

void TypePassword(LoginDialog& login, const QString& text)
{
    Child<QLineEdit>(&login, "edtPassWord")->setText(text);
    Child<QPushButton>(&login, "bbtnOK")->click();
}

TEST_F(AppDialogsTest, QtsOwnTextsAreChineseWhateverTheDesktopLanguage)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    InstallChineseTranslations();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), QStringLiteral("x"), QMessageBox::Ok);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);
}

TEST_F(AppDialogsTest, StartupWithoutPasswordShowsTheMainWindowAtOnce)
{
    const auto noAnswer = [](LoginDialog& login) { login.reject(); };

    StartupLog log = RunStartupWith(noAnswer);
    EXPECT_TRUE(log.shown);
    EXPECT_EQ(log.loginsSeen, 0);
    EXPECT_EQ(log.uploadPath, DefaultUploadPath());
    EXPECT_FALSE(fs::exists(ConfigFilePath())); // start-up never creates the file

    PutConfig("E:\\\xC2\xBC\xD2\xF4");
    log = RunStartupWith(noAnswer);
    EXPECT_TRUE(log.shown);
    EXPECT_EQ(log.loginsSeen, 0);
    EXPECT_EQ(log.uploadPath, "E:\\录音");

    PutConfig("/srv/a\n\nthird\n");
    log = RunStartupWith(noAnswer);
    EXPECT_TRUE(log.shown);
    EXPECT_EQ(log.loginsSeen, 0);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(AppDialogsTest, StartupShowsTheMainWindowOnlyAfterTheRightPassword)
{
    PutConfig("/srv/a\r\npw\r\n");
    StartupLog log = RunStartupWith([](LoginDialog& login) { login.reject(); });
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(log.loginsSeen, 1);
    EXPECT_FALSE(log.shown);

    int attempts = 0;
    log = RunStartupWith([&](LoginDialog& login) { TypePassword(login, ++attempts == 1 ? "PW" : "pw"); });
    EXPECT_EQ(attempts, 2);
    EXPECT_TRUE(log.shown);
    EXPECT_EQ(log.uploadPath, "/srv/a");
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, QStringLiteral("对不起，你输入的密码有误！"));
}

TEST_F(AppDialogsTest, StartupWithAnUnreadableFileReportsItAndEnds)
{
    fs::create_directories(ConfigFilePath());
    const StartupLog log = RunStartupWith([](LoginDialog& login) { login.done(ToDialogCode(DialogResult::Ok)); });
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(log.loginsSeen, 0);
    EXPECT_FALSE(log.shown);
    const QString expected = QStringLiteral("Cannot open file ") + QString::fromStdString(ConfigFilePath());
    ASSERT_EQ(messages_.size(), 2u); // once from the main window, once from the start-up
    for (const MessageRequest& message : messages_) {
        EXPECT_EQ(message.text, expected);
        EXPECT_EQ(message.icon, MessageIcon::Error);
    }
}

TEST_F(AppDialogsTest, StartupShowsAnExceptionFromTheMainWindowAndEnds)
{
    EXPECT_EQ(RunStartup(*qApp, []() -> std::unique_ptr<QWidget> { throw std::runtime_error("no window"); }), 0);
    EXPECT_EQ(RunStartup(*qApp, []() -> std::unique_ptr<QWidget> { throw 42; }), 0);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0].text, QStringLiteral("no window"));
    EXPECT_EQ(messages_[0].icon, MessageIcon::Error);
    EXPECT_EQ(messages_[1].text, QString());
}

} // namespace
