#include "app/main_window.h"
#include "app/upload_commands.h"
#include "app/upload_controller.h"
#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "catalogue/recording_model.h"
#include "catalogue/replaced_recordings.h"
#include "catalogue/upload_options_dialog.h"
#include "catalogue/upload_settings.h"
#include "index/index_host.h"
#include "platform/atomic_file.h"
#include "platform/config_file.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "support/find_child.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QSettings>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/mount.h>

namespace {

namespace fs = std::filesystem;

const bool kConfigHomeSet = !PrivateConfigHome().path().empty();

DialogResult RunAnswered(QDialog& dialog, const std::function<void()>& answer)
{
    QTimer::singleShot(0, &dialog, answer);
    return DialogResult(dialog.exec());
}

void Press(QWidget& widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
}

std::string Name(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "VOC%05d.WAV", number);
    return name;
}

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
    bool operator==(const Message&) const = default;
};

// The main window over a sample folder standing in for the card, with every message box
// recorded instead of shown.
class MainWindowFixture : public ::testing::Test {
protected:
    TempFolder root;
    std::string device = root.Path("VOICE") + "/";
    std::string archive = root.Path("archive/calls");
    std::vector<Message> messages;
    std::vector<std::string> questions;
    int uploadsFinished = 0;
    std::unique_ptr<MainWindow> window;

    void SetUp() override
    {
        ASSERT_TRUE(kConfigHomeSet);
        ASSERT_TRUE(WriteConfigLines({"/nowhere/old", "secret", "third line"}));
        fs::remove(SettingsFilePath()); // every option off
        ASSERT_TRUE(WriteSampleFolder(device, 6, 4000));
        SetMessageHandler([this](const MessageRequest& request) {
            messages.push_back({request.text.toStdString(), request.caption.toStdString(), request.icon});
        });
        window = OpenWindow();
        window->SetUploadPath(archive);
    }
    void TearDown() override { SetMessageHandler({}); }

    std::unique_ptr<MainWindow> OpenWindow()
    {
        auto opened = std::make_unique<MainWindow>();
        opened->SetDriveFinder([this] { return std::optional<std::string>(device); });
        QObject::connect(opened.get(), &MainWindow::uploadFinished, [this] { ++uploadsFinished; });
        opened->ScanDevice();
        EXPECT_TRUE(WaitForWindow([&opened] { return opened->deviceState() == DeviceState::Listed; }))
            << "the card listing did not end";
        return opened;
    }
    UploadCommands& commands() { return window->uploadCommands(); }

    // Clicks a command button that starts an upload and waits until the run has ended.
    void ClickAndWaitForUpload(const char* button)
    {
        const int before = uploadsFinished;
        Child<QPushButton>(*window, button)->click();
        ASSERT_TRUE(WaitForWindow([&] { return uploadsFinished > before; })) << "the upload did not end";
    }
    // Does what a user does on the window's thread while a copy of the worker waits for it.
    void OnWindowThread(const std::function<void()>& action)
    {
        QMetaObject::invokeMethod(window.get(), action, Qt::BlockingQueuedConnection);
    }

    void Select(std::initializer_list<int> rows)
    {
        Child<QTableView>(*window, "ListViewVoice")->clearSelection();
        for (const int row : rows)
            Child<QTableView>(*window, "ListViewVoice")
                ->selectionModel()
                ->select(window->recordingModel().index(row, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Answers every overwrite question with the button chosen by answer.
    void AnswerWith(std::function<QPushButton*(OverwriteQuestionDialog&)> answer)
    {
        commands().askOverwrite = [this, answer](OverwriteQuestionDialog& dialog) {
            questions.push_back(Child<QPlainTextEdit>(dialog, "mmTip")->toPlainText().toStdString());
            EXPECT_FALSE(Child<QPushButton>(*window, "btnupall")->isEnabled());
            EXPECT_FALSE(Child<QPushButton>(*window, "btnclose")->isEnabled());
            EXPECT_FALSE(Child<QAction>(*window, "actReplaced")->isEnabled());
            EXPECT_TRUE(Child<QPushButton>(*window, "btnstop")->isEnabled());
            EXPECT_FALSE(Child<QLabel>(*window, "PanelShow")->isVisible());
            return RunAnswered(dialog, [&dialog, answer] { answer(dialog)->click(); });
        };
    }
    // The upload folder's entries but its fingerprints file.
    std::vector<std::string> ArchiveNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(archive))
            if (entry.path().filename() != "SHA256SUMS")
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Numbers() const
    {
        std::vector<std::string> numbers;
        for (const RecordingEntry& entry : window->recordingModel().entries())
            numbers.push_back(entry.number());
        return numbers;
    }
    bool WindowIdle() const
    {
        return Child<QPushButton>(*window, "btnDel")->isEnabled() && Child<QPushButton>(*window, "btnPath")->isEnabled()
               && Child<QPushButton>(*window, "btnupone")->isEnabled()
               && Child<QPushButton>(*window, "btnuptype")->isEnabled()
               && Child<QPushButton>(*window, "btnupall")->isEnabled()
               && Child<QPushButton>(*window, "btnclose")->isEnabled()
               && Child<QProgressBar>(*window, "Pbarup")->isHidden() && Child<QLabel>(*window, "PanelShow")->isHidden()
               && Child<QLabel>(*window, "PanelShow")->text() == QStringLiteral("正在传输语音列表...");
    }
};

// A card that stops answering, as a card whose reader hangs does: a FAT image served by a fusefat
// process of the test's own, in a mount namespace of this process, without the kernel keeping
// names or attributes, so that while the process is stopped every look at the card waits.
class StallingCard {
public:
    ~StallingCard()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        Resume();
        ::umount2(mountPoint_.c_str(), MNT_DETACH);
        if (!process_.waitForFinished(3000))
            process_.kill();
    }
    // Serves image's files at mountPoint; empty on success, else why it could not.
    std::string Mount(const std::string& image, const std::string& mountPoint)
    {
        if (::access("/usr/bin/fusefat", X_OK) != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
            return "fusefat or /dev/fuse is missing";
        if (std::string why = EnterPrivateMountNamespace(); !why.empty())
            return why;
        mountPoint_ = mountPoint;
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral("/usr/bin/fusefat"),
                       {"-f", "-o", "rw+,entry_timeout=0,attr_timeout=0", QString::fromStdString(image),
                        QString::fromStdString(mountPoint)});
        if (!process_.waitForStarted(3000)
            || !WaitForWindow([&] { return fs::exists(mountPoint + "/VOICE"); }, std::chrono::seconds(3)))
            return "fusefat did not mount the image";
        return {};
    }
    void Stop() { ::kill(pid_t(process_.processId()), SIGSTOP); }
    void Resume() { ::kill(pid_t(process_.processId()), SIGCONT); }

private:
    QProcess process_;
    std::string mountPoint_;
};

const Message kDone{"数据上传完毕！", "提示", MessageIcon::Warning};
const Message kFailed{"数据上传失败！", "提示", MessageIcon::Warning};

} // namespace

TEST(OverwriteDialog, EachButtonTheCloseBoxAndTheKeysGiveTheirCodes)
{
    OverwriteQuestionDialog dialog(QStringLiteral("VOC00001.WAV"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("确认文件替换"));
    EXPECT_EQ(Child<QPlainTextEdit>(dialog, "mmTip")->toPlainText(),
              QStringLiteral(
                  "此文件夹已包含一个名为“VOC00001.WAV”的同名文件，继续上传，存在的文件将被覆盖，是否覆盖同名文件？"));
    EXPECT_TRUE(Child<QPlainTextEdit>(dialog, "mmTip")->isReadOnly());
    EXPECT_EQ(Child<QPushButton>(dialog, "btnyes")->text(), QStringLiteral("是"));
    EXPECT_EQ(Child<QPushButton>(dialog, "btnyesall")->text(), QStringLiteral("全部"));
    EXPECT_EQ(Child<QPushButton>(dialog, "btnno")->text(), QStringLiteral("否"));
    EXPECT_EQ(Child<QPushButton>(dialog, "btnnoall")->text(), QStringLiteral("取消"));
    EXPECT_TRUE(Child<QPushButton>(dialog, "btnyes")->isDefault());

    const std::vector<std::pair<const char*, DialogResult>> buttons{{"btnyes", DialogResult::Yes},
                                                                    {"btnyesall", DialogResult::YesToAll},
                                                                    {"btnno", DialogResult::No},
                                                                    {"btnnoall", DialogResult::NoToAll}};
    for (const auto& [name, result] : buttons) {
        QPushButton* button = Child<QPushButton>(dialog, name);
        EXPECT_EQ(RunAnswered(dialog, [button] { button->click(); }), result) << name;
    }
    EXPECT_EQ(RunAnswered(dialog, [&dialog] { dialog.close(); }), DialogResult::Cancel);
    EXPECT_EQ(RunAnswered(dialog, [&dialog] { Press(dialog, Qt::Key_Escape); }), DialogResult::NoToAll);
    EXPECT_EQ(RunAnswered(dialog, [&dialog] { Press(dialog, Qt::Key_Return); }), DialogResult::Yes);
}

TEST(CategoryDialog, OpensOnModeAndFillsKindAndTextFromTheChosenRadio)
{
    {
        CategoryUploadDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("分类上传"));
        EXPECT_TRUE(Child<QRadioButton>(dialog, "RadioButton3")->isChecked());
        EXPECT_FALSE(Child<QRadioButton>(dialog, "RadioButton1")->isChecked()
                     || Child<QRadioButton>(dialog, "RadioButton2")->isChecked());
        EXPECT_EQ(Child<QDateEdit>(dialog, "dtPick")->date(), QDate::currentDate());
        EXPECT_FALSE(Child<QComboBox>(dialog, "cbVoicetype")->isEditable());
        QStringList items;
        for (int i = 0; i < Child<QComboBox>(dialog, "cbVoicetype")->count(); ++i)
            items << Child<QComboBox>(dialog, "cbVoicetype")->itemText(i);
        EXPECT_EQ(items, (QStringList{"留言", "被叫", "主叫", "现场", "其他"}));
        EXPECT_EQ(Child<QComboBox>(dialog, "cbVoicetype")->currentText(), QStringLiteral("留言"));
        EXPECT_EQ(dialog.category().kind, CategoryKind::None);
        EXPECT_EQ(RunAnswered(dialog, [&dialog] { Child<QPushButton>(dialog, "bbtnOK")->click(); }), DialogResult::Ok);
        EXPECT_EQ(dialog.category().kind, CategoryKind::Mode);
        EXPECT_EQ(dialog.category().text, "留言");
    }
    struct Case {
        std::function<void(CategoryUploadDialog&)> fill;
        CategoryKind kind;
        std::string text;
    };
    const std::vector<Case> cases{
        {[](CategoryUploadDialog& d) {
             Child<QRadioButton>(d, "RadioButton1")->setChecked(true);
             Child<QDateEdit>(d, "dtPick")->setDate(QDate(2014, 3, 5));
         },
         CategoryKind::Date, "2014年03月05日"},
        {[](CategoryUploadDialog& d) {
             Child<QRadioButton>(d, "RadioButton2")->setChecked(true);
             Child<QLineEdit>(d, "edtPhone")->setText(" 138 ");
         },
         CategoryKind::Phone, " 138 "},
        {[](CategoryUploadDialog& d) { Child<QRadioButton>(d, "RadioButton2")->setChecked(true); }, CategoryKind::Phone,
         ""},
        {[](CategoryUploadDialog& d) {
             Child<QLineEdit>(d, "edtPhone")->setText("138");
             Child<QComboBox>(d, "cbVoicetype")->setCurrentIndex(4);
         },
         CategoryKind::Mode, "其他"},
    };
    for (const Case& c : cases) {
        CategoryUploadDialog dialog;
        c.fill(dialog);
        EXPECT_EQ(RunAnswered(dialog, [&dialog] { Press(dialog, Qt::Key_Return); }), DialogResult::Ok);
        EXPECT_EQ(dialog.category().kind, c.kind);
        EXPECT_EQ(dialog.category().text, c.text);
    }
    for (const auto& cancel : std::vector<std::function<void(CategoryUploadDialog&)>>{
             [](CategoryUploadDialog& d) { Child<QPushButton>(d, "bbtnClose")->click(); },
             [](CategoryUploadDialog& d) { d.close(); }, [](CategoryUploadDialog& d) { Press(d, Qt::Key_Escape); }}) {
        CategoryUploadDialog dialog;
        EXPECT_EQ(RunAnswered(dialog, [&dialog, cancel] { cancel(dialog); }), DialogResult::Cancel);
        EXPECT_EQ(dialog.category().kind, CategoryKind::None);
    }
}

// The index's owner learns the folders a run wrote into, so that a search of every known folder
// finds the uploaded recordings before the folder has been listed.
TEST(UploadController, TheFoldersARunWroteIntoBecomeKnownToTheIndex)
{
    ASSERT_TRUE(kConfigHomeSet);
    fs::remove(SettingsFilePath()); // every option off
    TempFolder root;
    const std::string device = root.Path("VOICE") + "/";
    ASSERT_TRUE(WriteSampleFolder(device, 2, 4000));
    fs::create_directories(root.Path("archive"));
    IndexLocation location;
    location.sqlitePath = root.Path("archive.db");
    IndexHost index(location);
    UploadController controller([&index] { return &index; });
    std::optional<QString> message;
    QObject::connect(&controller, &UploadController::finished, [&](const QString& text) { message = text; });
    ASSERT_TRUE(controller.Start({Name(1), Name(2)}, device, root.Path("archive") + "/", false));
    ASSERT_TRUE(WaitForWindow([&] { return message.has_value(); })) << "the upload did not end";
    EXPECT_EQ(message->toStdString(), "数据上传完毕！");

    std::optional<std::vector<std::string>> known;
    index.Request<std::vector<std::string>>(
        &controller, [](ArchiveIndex* opened) { return opened ? opened->KnownFolders() : std::vector<std::string>{}; },
        [&known](std::vector<std::string> folders) { known = std::move(folders); });
    ASSERT_TRUE(WaitForWindow([&] { return known.has_value(); })) << "the index did not answer";
    EXPECT_EQ(*known, std::vector<std::string>{root.Path("archive") + "/"});
}

TEST_F(MainWindowFixture, UploadAllThenAskBeforeReplacingOnTheNextRun)
{
    ASSERT_EQ(window->recordingModel().rowCount(), 6);
    ClickAndWaitForUpload("btnupall");
    EXPECT_EQ(window->uploadPath(), archive + "/");
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3), Name(4), Name(5), Name(6)}));
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(4)), TempFolder::Read(device + Name(4)));
    EXPECT_EQ(messages, std::vector<Message>{kDone});
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(WindowIdle());

    // Second run over rows 2 and 3: "全部" at the first question covers the second file.
    messages.clear();
    AnswerWith([](OverwriteQuestionDialog& dialog) { return Child<QPushButton>(dialog, "btnyesall"); });
    Select({2, 1});
    ClickAndWaitForUpload("btnupone");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find("“" + Name(2) + "”"), std::string::npos);
    EXPECT_EQ(messages, std::vector<Message>{kDone});

    // The next run asks again; "否" keeps the archived file.
    questions.clear();
    messages.clear();
    fs::remove(archive + "/" + Name(3));
    std::ofstream(archive + "/" + Name(2), std::ios::trunc) << "kept";
    AnswerWith([](OverwriteQuestionDialog& dialog) { return Child<QPushButton>(dialog, "btnno"); });
    ClickAndWaitForUpload("btnupone");
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(2)), "kept");
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(3)), TempFolder::Read(device + Name(3)));
    EXPECT_TRUE(WindowIdle());
}

// Into month folders the upload folder itself receives nothing: the end names where the files went.
TEST_F(MainWindowFixture, AnUploadIntoMonthFoldersEndsWithTheFoldersNamed)
{
    UploadSettings settings;
    settings.options.monthFolders = true;
    ASSERT_TRUE(WriteUploadSettings(SettingsFilePath(), settings));
    ClickAndWaitForUpload("btnupall");
    const std::string summary =
        "数据上传完毕！\n录音卡：" + device.substr(0, device.size() - 1)
        + "（共 6 个录音）\n复制：6 个\n跳过相同录音：0 个\n替换：0 个\n未上传：0 个\n保存在：\n" + archive
        + "/2023年01月";
    EXPECT_EQ(messages, (std::vector<Message>{{summary, "提示", MessageIcon::Warning}}));
}

TEST_F(MainWindowFixture, CancelAtTheQuestionSaysHowManyFilesTheRunCopied)
{
    fs::create_directories(archive);
    std::ofstream(archive + "/" + Name(3)) << "old";
    AnswerWith([](OverwriteQuestionDialog& dialog) { return Child<QPushButton>(dialog, "btnnoall"); });
    ClickAndWaitForUpload("btnupall");
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3)}));
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(3)), "old");
    const Message twoCopied{"数据上传完毕！\n上传已取消，共复制了 2 个文件。", "提示", MessageIcon::Warning};
    EXPECT_EQ(messages, std::vector<Message>{twoCopied});

    // "取消" at the first file: nothing was copied, and the message says so.
    messages.clear();
    ClickAndWaitForUpload("btnupall");
    const Message noneCopied{"上传已取消，共复制了 0 个文件。", "提示", MessageIcon::Warning};
    EXPECT_EQ(messages, std::vector<Message>{noneCopied});
    EXPECT_TRUE(WindowIdle());
}

TEST_F(MainWindowFixture, StopButtonClickedDuringACopyEndsTheRunAfterTheNextFile)
{
    int copies = 0;
    window->uploadController().SetCopyCall([&](const std::string& source, const std::string& target, TempFile& temp) {
        if (++copies == 2)
            OnWindowThread([this] { Child<QPushButton>(*window, "btnstop")->click(); });
        return CopyToTempFile(source, target, temp);
    });
    ClickAndWaitForUpload("btnupall");
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3)}));
    EXPECT_EQ(messages, std::vector<Message>{kDone});
    EXPECT_TRUE(WindowIdle());
}

TEST_F(MainWindowFixture, ClosingTheWindowDuringACopyEndsTheRunAfterTheNextFile)
{
    int copies = 0;
    window->uploadController().SetCopyCall([&](const std::string& source, const std::string& target, TempFile& temp) {
        if (++copies == 2)
            OnWindowThread([this] { window->close(); });
        return CopyToTempFile(source, target, temp);
    });
    ClickAndWaitForUpload("btnupall");
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3)}));
}

TEST_F(MainWindowFixture, FailedCopyAndNothingSelectedAreReported)
{
    Child<QPushButton>(*window, "btnupone")->click();
    EXPECT_EQ(messages, (std::vector<Message>{{"请选择要上传的文件。", "提示信息", MessageIcon::Information}}));
    messages.clear();
    Child<QPushButton>(*window, "btnDel")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "提示");
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(window->recordingModel().rowCount(), 6);

    messages.clear();
    window->uploadController().SetCopyCall([](const std::string& source, const std::string& target, TempFile& temp) {
        return CopyToTempFile(source, target, temp, [](int, void*, std::size_t) -> ssize_t {
            errno = EIO;
            return -1;
        });
    });
    ClickAndWaitForUpload("btnupall");
    Message failed = kFailed;
    failed.text += "\n" + window->recordingModel().entry(0).fileName() + "：" + std::strerror(EIO);
    EXPECT_EQ(messages, std::vector<Message>{failed}) << "names the file and the reason";
    EXPECT_TRUE(ArchiveNames().empty());
    EXPECT_TRUE(WindowIdle());
}

// The bar and the panel name the file asked about, however quickly the files before it went; a
// failed copy's box is shown while the run still holds the window, which is freed once it closes.
TEST_F(MainWindowFixture, TheQuestionNamesItsFileAndTheFailureBoxHoldsTheRunUntilItCloses)
{
    fs::create_directories(archive);
    std::ofstream(archive + "/" + Name(5)) << "archived";
    auto* bar = Child<QProgressBar>(*window, "Pbarup");
    auto* panel = Child<QLabel>(*window, "PanelShow");
    commands().askOverwrite = [&](OverwriteQuestionDialog& dialog) {
        EXPECT_EQ(bar->value(), 5);
        EXPECT_EQ(panel->text().toStdString(), "正在上传文件:" + Name(5));
        return RunAnswered(dialog, [&dialog] { Child<QPushButton>(dialog, "btnyes")->click(); });
    };
    window->uploadController().SetCopyCall(
        [this](const std::string& source, const std::string& target, TempFile& temp) {
            if (source == device + Name(6))
                return Result<void>(Failure{"the card is gone"});
            return CopyToTempFile(source, target, temp);
        });
    bool boxShown = false;
    SetMessageHandler([&](const MessageRequest& request) {
        // A real box runs the window's events until it is closed.
        EXPECT_TRUE(WaitForWindow([&] { return !window->uploadController().running(); })) << "the run did not end";
        QCoreApplication::processEvents();
        boxShown = true;
        EXPECT_EQ(request.text.toStdString(), kFailed.text + "\n" + Name(6) + "：the card is gone");
        EXPECT_TRUE(bar->isVisible());
        EXPECT_EQ(bar->value(), 6);
        EXPECT_FALSE(Child<QPushButton>(*window, "btnupall")->isEnabled());
        EXPECT_FALSE(Child<QPushButton>(*window, "btnclose")->isEnabled());
    });
    window->show();
    ClickAndWaitForUpload("btnupall");
    EXPECT_TRUE(boxShown);
    EXPECT_TRUE(WindowIdle());
}

TEST_F(MainWindowFixture, CategoryUploadTakesTheMatchingRowsOrSaysNoneMatched)
{
    const std::string mode = window->recordingModel().entry(0).mode();
    std::vector<std::string> expected;
    for (const RecordingEntry& entry : window->recordingModel().entries())
        if (entry.mode() == mode)
            expected.push_back(entry.fileName());
    commands().askCategory = [&](CategoryUploadDialog& dialog) {
        Child<QComboBox>(dialog, "cbVoicetype")->setCurrentText(QString::fromStdString(mode));
        return RunAnswered(dialog, [&dialog] { Child<QPushButton>(dialog, "bbtnOK")->click(); });
    };
    Child<QPushButton>(*window, "btnclose")->click(); // a stop request outside a run must not stop the next run
    ClickAndWaitForUpload("btnuptype");
    EXPECT_EQ(ArchiveNames(), expected);
    EXPECT_EQ(messages, std::vector<Message>{kDone});

    messages.clear();
    fs::remove_all(archive);
    commands().askCategory = [](CategoryUploadDialog& dialog) {
        Child<QRadioButton>(dialog, "RadioButton2")->setChecked(true);
        Child<QLineEdit>(dialog, "edtPhone")->setText("no such number");
        return RunAnswered(dialog, [&dialog] { Child<QPushButton>(dialog, "bbtnOK")->click(); });
    };
    Child<QPushButton>(*window, "btnuptype")->click();
    EXPECT_EQ(messages, (std::vector<Message>{{"没有检索到匹配的语音！", "提示", MessageIcon::Warning}}));
    EXPECT_FALSE(fs::exists(archive)); // no folder made when nothing matched

    messages.clear();
    commands().askCategory = [](CategoryUploadDialog& dialog) {
        return RunAnswered(dialog, [&dialog] { Child<QPushButton>(dialog, "bbtnClose")->click(); });
    };
    Child<QPushButton>(*window, "btnuptype")->click();
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowFixture, DeletingRowsTwoAndFiveKeepsTheOtherNumbersAndFiles)
{
    Select({1, 4});
    Child<QPushButton>(*window, "btnDel")->click();
    EXPECT_EQ(Numbers(), (std::vector<std::string>{"1", "3", "4", "6"}));
    for (const int number : {1, 3, 4, 6})
        EXPECT_TRUE(fs::exists(device + Name(number))) << number;
    EXPECT_FALSE(fs::exists(device + Name(2)));
    EXPECT_FALSE(fs::exists(device + Name(5)));
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowFixture, NewUploadFolderAndPasswordSurviveARestart)
{
    fs::create_directories(archive);
    const std::string chosen = root.Path("new archive");
    fs::create_directories(chosen);
    QString askedTitle;
    QString askedStart;
    commands().chooseFolder = [&](QWidget*, const QString& title, const QString& start) {
        askedTitle = title;
        askedStart = start;
        return QString();
    };
    Child<QPushButton>(*window, "btnPath")->click();
    EXPECT_EQ(askedTitle, QStringLiteral("选择上传路径："));
    EXPECT_EQ(askedStart.toStdString(), archive);
    EXPECT_EQ(window->uploadPath(), archive);
    EXPECT_EQ(ReadConfigLines().value()[0], "/nowhere/old");

    fs::remove_all(archive);
    commands().chooseFolder = [&](QWidget*, const QString&, const QString& start) {
        askedStart = start;
        return QString::fromStdString(chosen);
    };
    Child<QPushButton>(*window, "btnPath")->click();
    EXPECT_TRUE(askedStart.isEmpty()); // a folder that is gone opens nothing
    EXPECT_EQ(window->uploadPath(), chosen);
    EXPECT_EQ(Child<QLineEdit>(*window, "EdtPath")->text().toStdString(), chosen);
    EXPECT_EQ(messages, (std::vector<Message>{{"路径设置为：" + chosen, "提示", MessageIcon::Warning}}));
    EXPECT_EQ(ReadConfigLines().value(), (ConfigLines{chosen, "secret", "third line"}));

    window.reset();
    window = OpenWindow();
    EXPECT_EQ(window->uploadPath(), chosen);
    EXPECT_EQ(Child<QLineEdit>(*window, "EdtPath")->text().toStdString(), chosen);
    EXPECT_TRUE(NeedLogin().value());
    EXPECT_EQ(StoredPassword().value(), "secret");
    ClickAndWaitForUpload("btnupall");
    EXPECT_EQ(fs::directory_iterator(chosen) == fs::directory_iterator(), false);
}

TEST_F(MainWindowFixture, AnAboutBoxOpenedDuringAnUploadDoesNotStopTheCopies)
{
    int copies = 0;
    window->uploadController().SetCopyCall([&](const std::string& source, const std::string& target, TempFile& temp) {
        if (++copies == 1) // the user opens "关于系统" while the first file is copied
            QMetaObject::invokeMethod(
                window.get(), [this] { Child<QAction>(*window, "E1")->trigger(); }, Qt::QueuedConnection);
        return CopyToTempFile(source, target, temp);
    });
    std::vector<std::string> archivedWhileOpen;
    QObject::connect(window.get(), &MainWindow::uploadFinished, window.get(), [&] {
        if (QWidget* about = QApplication::activeModalWidget()) {
            archivedWhileOpen = ArchiveNames();
            about->close();
        }
    });
    ClickAndWaitForUpload("btnupall");
    EXPECT_EQ(archivedWhileOpen.size(), 6u) << "the run ended while the about box was open";
    EXPECT_EQ(messages, std::vector<Message>{kDone});
}

TEST_F(MainWindowFixture, UploadOptionsGoToTheirOwnFileAndAnInsertedCardIsArchivedWithASummary)
{
    ClickAndWaitForUpload("btnupall");
    messages.clear();
    const std::string configBefore = TempFolder::Read(ConfigFilePath());
    commands().askUploadOptions = [](UploadOptionsDialog& dialog) {
        Child<QCheckBox>(dialog, "chkAutomatic")->setChecked(true);
        Child<QCheckBox>(dialog, "chkSkipIdentical")->setChecked(true);
        return RunAnswered(dialog, [&dialog] { Child<QPushButton>(dialog, "bbtnOK")->click(); });
    };
    Child<QAction>(*window, "E3")->trigger();
    const QSettings written(QString::fromStdString(SettingsFilePath()), QSettings::IniFormat);
    EXPECT_TRUE(written.value("upload/automatic").toBool());
    EXPECT_TRUE(written.value("upload/skip_identical").toBool());
    EXPECT_EQ(written.value("upload/subfolders").toString(), QStringLiteral("none"));
    EXPECT_EQ(written.value("upload/keep_replaced_days").toInt(), 30);
    EXPECT_EQ(TempFolder::Read(ConfigFilePath()), configBefore);

    // Another card: the six recordings already archived, the third one now another call, and a
    // seventh. Its arrival starts the upload; only the changed recording is asked about.
    const std::string card = root.Path("card2/VOICE") + "/";
    fs::create_directories(card);
    for (int number = 1; number <= 6; ++number)
        ASSERT_TRUE(CopyFileAtomically(device + Name(number), card + Name(number)));
    ASSERT_TRUE(WriteSampleFile(card + Name(3), SampleSpecFor(40, 4000)));
    ASSERT_TRUE(WriteSampleFile(card + Name(7), SampleSpecFor(41, 4000)));
    const std::string oldThird = TempFolder::Read(archive + "/" + Name(3));
    AnswerWith([](OverwriteQuestionDialog& dialog) { return Child<QPushButton>(dialog, "btnyes"); });
    window->SetDriveFinder([card] { return std::optional<std::string>(card); });
    window->ScanDevice();
    ASSERT_TRUE(WaitForWindow([this] { return uploadsFinished == 2; })) << "no upload started by the card";
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(3)), TempFolder::Read(card + Name(3)));
    ASSERT_EQ(ListReplaced(archive + "/").size(), 1u);
    EXPECT_EQ(TempFolder::Read(archive + "/.replaced/" + ListReplaced(archive + "/")[0].keptName), oldThird);
    const std::string summary =
        "数据上传完毕！\n录音卡：" + root.Path("card2/VOICE")
        + "（共 7 个录音）\n复制：2 个\n跳过相同录音：5 个\n替换：1 个\n未上传：0 个\n保存在：\n" + archive
        + "\n被替换的录音保存在：" + archive + "/.replaced/";
    EXPECT_EQ(messages, (std::vector<Message>{{summary, "提示 - 录音卡 card2", MessageIcon::Warning}}));
    EXPECT_TRUE(WindowIdle());
}

// A card that does not answer before the first file: the click shows the run at once and
// disables its commands while the window waits for the card, drawing and answering; the run
// goes on when the card answers.
TEST_F(MainWindowFixture, AnUploadShowsItWaitsForAStalledCardFromTheClick)
{
    const std::string image = root.Path("card.img");
    std::string output;
    if (!RunShell("mkfs.vfat -C '" + image + "' 4096 >/dev/null && mmd -i '" + image + "' ::VOICE && mcopy -i '" + image
                      + "' '" + device + "'VOC*.WAV ::VOICE/",
                  &output))
        GTEST_SKIP() << "cannot make a FAT image with dosfstools and mtools: " << output;
    fs::create_directory(root.Path("card"));
    StallingCard card;
    if (const std::string why = card.Mount(image, root.Path("card")); !why.empty())
        GTEST_SKIP() << "cannot serve a card that stalls here: " << why;
    device = root.Path("card") + "/VOICE/";
    window->ScanDevice();
    ASSERT_TRUE(WaitForWindow([this] { return window->deviceState() == DeviceState::Listed; }));
    ASSERT_EQ(window->recordingModel().rowCount(), 6);

    const auto* panel = Child<QLabel>(*window, "PanelShow");
    const auto waitingForCard = [&] {
        bool disabled = true;
        for (const char* name : {"btnDel", "btnPath", "btnupone", "btnuptype", "btnupall", "btnclose"})
            disabled = disabled && !Child<QPushButton>(*window, name)->isEnabled();
        return disabled && Child<QPushButton>(*window, "btnstop")->isEnabled() && !panel->isHidden()
               && panel->text() == QStringLiteral("正在等待录音卡...")
               && !Child<QProgressBar>(*window, "Pbarup")->isHidden();
    };
    card.Stop();
    Child<QPushButton>(*window, "btnupall")->click();
    EXPECT_TRUE(waitingForCard()) << "the click left the window as it was";
    EXPECT_FALSE(WaitForWindow([&] { return !waitingForCard(); }, std::chrono::milliseconds(300)))
        << "the window stopped waiting for a card that did not answer";
    card.Resume();
    ASSERT_TRUE(WaitForWindow([this] { return uploadsFinished == 1; })) << "the upload did not end";
    EXPECT_EQ(messages, std::vector<Message>{kDone});
    EXPECT_EQ(ArchiveNames().size(), 6u);
    EXPECT_TRUE(WindowIdle());
}

// Two cards uploaded as they arrive: the second card's summary waits until the first card's box
// is closed, and each box names its card.
TEST_F(MainWindowFixture, ASecondCardsSummaryWaitsUntilTheFirstIsClosed)
{
    UploadSettings settings;
    settings.automatic = true;
    ASSERT_TRUE(WriteUploadSettings(SettingsFilePath(), settings));
    const std::string first = root.Path("CARD_A/VOICE") + "/";
    const std::string second = root.Path("CARD_B/VOICE") + "/";
    fs::create_directories(first);
    fs::create_directories(second);
    for (int number = 1; number <= 6; ++number)
        ASSERT_TRUE(CopyFileAtomically(device + Name(number), first + Name(number)));
    ASSERT_TRUE(WriteSampleFile(second + Name(7), SampleSpecFor(41, 4000)));
    int runsEnded = 0;
    QObject::connect(&window->uploadController(), &UploadController::finished, [&] { ++runsEnded; });
    int boxesOpen = 0;
    int mostBoxesOpen = 0;
    SetMessageHandler([&](const MessageRequest& request) {
        mostBoxesOpen = std::max(mostBoxesOpen, ++boxesOpen);
        messages.push_back({request.text.toStdString(), request.caption.toStdString(), request.icon});
        // A real box runs the window's events until it is closed: the second card comes and is
        // uploaded meanwhile.
        if (messages.size() == 1) {
            device = second;
            window->ScanDevice();
            // The first run counts as ended once its box is closed.
            EXPECT_TRUE(WaitForWindow([&] { return runsEnded == 1; })) << "the second card's upload did not end";
            EXPECT_FALSE(Child<QPushButton>(*window, "btnupall")->isEnabled());
        }
        --boxesOpen;
    });
    device = first;
    window->ScanDevice();
    ASSERT_TRUE(WaitForWindow([this] { return uploadsFinished == 2; })) << "the two uploads did not end";
    EXPECT_EQ(mostBoxesOpen, 1) << "two summary boxes were open at once";
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].caption, "提示 - 录音卡 CARD_A");
    EXPECT_EQ(messages[1].caption, "提示 - 录音卡 CARD_B");
    EXPECT_EQ(ArchiveNames().size(), 7u);
    EXPECT_TRUE(WindowIdle());
}
