#include "app/config_file.h"
#include "app/message_box.h"
#include "catalogue/Unt_bytype.h"
#include "catalogue/Unt_main.h"
#include "catalogue/Unt_mbox.h"
#include "catalogue/recording_model.h"
#include "catalogue/upload_commands.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// The configuration file lives in a folder of this test process, set before anything asks
// for its path (the path is worked out once per process).
TempFolder& ConfigHome()
{
    static TempFolder folder;
    return folder;
}
const bool kConfigHomeSet = [] {
    ::setenv("XDG_CONFIG_HOME", ConfigHome().path().c_str(), 1);
    return true;
}();

int RunAnswered(QDialog& dialog, const std::function<void()>& answer)
{
    QTimer::singleShot(0, &dialog, answer);
    return dialog.exec();
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
    std::unique_ptr<TFrmMain> window;

    void SetUp() override
    {
        ASSERT_TRUE(kConfigHomeSet);
        WriteConfigLines({"/nowhere/old", "secret", "third line"});
        ASSERT_TRUE(WriteSampleFolder(device, 6, 4000));
        SetMessageHandler([this](const MessageRequest& request) {
            messages.push_back({request.text.toStdString(), request.caption.toStdString(), request.icon});
        });
        window = OpenWindow();
        window->uploadPath = archive;
    }
    void TearDown() override { SetMessageHandler({}); }

    std::unique_ptr<TFrmMain> OpenWindow()
    {
        auto opened = std::make_unique<TFrmMain>();
        opened->SetDriveFinder([this] { return std::optional<std::string>(device); });
        opened->IDTIMERTimer();
        return opened;
    }
    UploadCommands& commands() { return window->uploadCommands(); }

    void Select(std::initializer_list<int> rows)
    {
        window->ListViewVoice->clearSelection();
        for (const int row : rows)
            window->ListViewVoice->selectionModel()->select(window->voiceModel->index(row, 0),
                                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Answers every overwrite question with the button chosen by answer.
    void AnswerWith(std::function<QPushButton*(TFrmMbox&)> answer)
    {
        commands().execOverwriteQuestion = [this, answer](TFrmMbox& dialog) {
            questions.push_back(dialog.mmTip->toPlainText().toStdString());
            EXPECT_FALSE(window->btnupall->isEnabled());
            EXPECT_FALSE(window->btnclose->isEnabled());
            EXPECT_TRUE(window->btnstop->isEnabled());
            EXPECT_FALSE(window->PanelShow->isVisible());
            return RunAnswered(dialog, [&dialog, answer] { answer(dialog)->click(); });
        };
    }
    std::vector<std::string> ArchiveNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(archive))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Numbers() const
    {
        std::vector<std::string> numbers;
        for (const RecordingEntry& entry : window->voiceModel->entries())
            numbers.push_back(entry.number());
        return numbers;
    }
    bool WindowIdle() const
    {
        return window->btnDel->isEnabled() && window->btnPath->isEnabled() && window->btnupone->isEnabled()
               && window->btnuptype->isEnabled() && window->btnupall->isEnabled() && window->btnclose->isEnabled()
               && window->Pbarup->isHidden() && window->PanelShow->isHidden()
               && window->PanelShow->text() == QStringLiteral("正在传输语音列表...");
    }
};

const Message kDone{"数据上传完毕！", "提示", MessageIcon::Warning};
const Message kFailed{"数据上传失败！", "提示", MessageIcon::Warning};

} // namespace

TEST(OverwriteDialog, EachButtonTheCloseBoxAndTheKeysGiveTheirCodes)
{
    TFrmMbox dialog(QStringLiteral("VOC00001.WAV"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("确认文件替换"));
    EXPECT_EQ(dialog.mmTip->toPlainText(),
              QStringLiteral("此文件夹已包含一个名为“VOC00001.WAV”的同名文件，继续上传，存在的文件将被覆盖，是否覆盖同名文件？"));
    EXPECT_TRUE(dialog.mmTip->isReadOnly());
    EXPECT_EQ(dialog.btnyes->text(), QStringLiteral("是"));
    EXPECT_EQ(dialog.btnyesall->text(), QStringLiteral("全部"));
    EXPECT_EQ(dialog.btnno->text(), QStringLiteral("否"));
    EXPECT_EQ(dialog.btnnoall->text(), QStringLiteral("取消"));
    EXPECT_TRUE(dialog.btnyes->isDefault());

    const std::vector<std::pair<QPushButton*, int>> buttons{
        {dialog.btnyes, 6}, {dialog.btnyesall, 10}, {dialog.btnno, 7}, {dialog.btnnoall, 9}};
    for (const auto& [button, code] : buttons)
        EXPECT_EQ(RunAnswered(dialog, [button] { button->click(); }), code) << button->text().toStdString();
    EXPECT_EQ(RunAnswered(dialog, [&dialog] { dialog.close(); }), 2);
    EXPECT_EQ(RunAnswered(dialog, [&dialog] { Press(dialog, Qt::Key_Escape); }), 9);
    EXPECT_EQ(RunAnswered(dialog, [&dialog] { Press(dialog, Qt::Key_Return); }), 6);
}

TEST(CategoryDialog, OpensOnModeAndFillsKindAndTextFromTheChosenRadio)
{
    {
        TFrmBytype dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("分类上传"));
        EXPECT_TRUE(dialog.RadioButton3->isChecked());
        EXPECT_FALSE(dialog.RadioButton1->isChecked() || dialog.RadioButton2->isChecked());
        EXPECT_EQ(dialog.dtPick->date(), QDate::currentDate());
        EXPECT_FALSE(dialog.cbVoicetype->isEditable());
        QStringList items;
        for (int i = 0; i < dialog.cbVoicetype->count(); ++i)
            items << dialog.cbVoicetype->itemText(i);
        EXPECT_EQ(items, (QStringList{"留言", "被叫", "主叫", "现场", "其他"}));
        EXPECT_EQ(dialog.cbVoicetype->currentText(), QStringLiteral("留言"));
        EXPECT_EQ(dialog.categoryKind, 0);
        EXPECT_EQ(RunAnswered(dialog, [&dialog] { dialog.bbtnOK->click(); }), 1);
        EXPECT_EQ(dialog.categoryKind, 3);
        EXPECT_EQ(dialog.categoryText, "留言");
    }
    struct Case {
        std::function<void(TFrmBytype&)> fill;
        int kind;
        std::string text;
    };
    const std::vector<Case> cases{
        {[](TFrmBytype& d) { d.RadioButton1->setChecked(true); d.dtPick->setDate(QDate(2014, 3, 5)); }, 1,
         "2014年03月05日"},
        {[](TFrmBytype& d) { d.RadioButton2->setChecked(true); d.edtPhone->setText(" 138 "); }, 2, " 138 "},
        {[](TFrmBytype& d) { d.RadioButton2->setChecked(true); }, 2, ""},
        {[](TFrmBytype& d) { d.edtPhone->setText("138"); d.cbVoicetype->setCurrentIndex(4); }, 3, "其他"},
    };
    for (const Case& c : cases) {
        TFrmBytype dialog;
        c.fill(dialog);
        EXPECT_EQ(RunAnswered(dialog, [&dialog] { Press(dialog, Qt::Key_Return); }), 1);
        EXPECT_EQ(dialog.categoryKind, c.kind);
        EXPECT_EQ(dialog.categoryText, c.text);
    }
    for (const auto& cancel : std::vector<std::function<void(TFrmBytype&)>>{
             [](TFrmBytype& d) { d.bbtnClose->click(); }, [](TFrmBytype& d) { d.close(); },
             [](TFrmBytype& d) { Press(d, Qt::Key_Escape); }}) {
        TFrmBytype dialog;
        EXPECT_EQ(RunAnswered(dialog, [&dialog, cancel] { cancel(dialog); }), 2);
        EXPECT_EQ(dialog.categoryKind, 0);
    }
}

TEST_F(MainWindowFixture, UploadAllThenAskBeforeReplacingOnTheNextRun)
{
    ASSERT_EQ(window->voiceModel->rowCount(), 6);
    window->btnupallClick();
    EXPECT_EQ(window->uploadPath, archive + "/");
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3), Name(4), Name(5), Name(6)}));
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(4)), TempFolder::Read(device + Name(4)));
    EXPECT_EQ(messages, std::vector<Message>{kDone});
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(WindowIdle());

    // Second run over rows 2 and 3: "全部" at the first question covers the second file.
    messages.clear();
    AnswerWith([](TFrmMbox& dialog) { return dialog.btnyesall; });
    Select({2, 1});
    window->btnuponeClick();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find("“" + Name(2) + "”"), std::string::npos);
    EXPECT_EQ(messages, std::vector<Message>{kDone});

    // The next run asks again; "否" keeps the archived file.
    questions.clear();
    messages.clear();
    fs::remove(archive + "/" + Name(3));
    std::ofstream(archive + "/" + Name(2), std::ios::trunc) << "kept";
    AnswerWith([](TFrmMbox& dialog) { return dialog.btnno; });
    window->btnuponeClick();
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(2)), "kept");
    EXPECT_EQ(TempFolder::Read(archive + "/" + Name(3)), TempFolder::Read(device + Name(3)));
    EXPECT_TRUE(WindowIdle());
}

TEST_F(MainWindowFixture, StopButtonClickedDuringACopyEndsTheRunAfterTheNextFile)
{
    int copies = 0;
    commands().uploader.SetCopyCall([&](const std::string& source, const std::string& target, TempFile& temp) {
        // A click made while this copy blocks reaches the window at the run's next event pass.
        if (++copies == 2)
            QTimer::singleShot(0, window->btnstop, &QPushButton::click);
        return CopyToTempFile(source, target, temp);
    });
    window->btnupallClick();
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3)}));
    EXPECT_EQ(messages, std::vector<Message>{kDone});
    EXPECT_TRUE(WindowIdle());
}

TEST_F(MainWindowFixture, ClosingTheWindowDuringACopyEndsTheRunAfterTheNextFile)
{
    int copies = 0;
    commands().uploader.SetCopyCall([&](const std::string& source, const std::string& target, TempFile& temp) {
        if (++copies == 2)
            QTimer::singleShot(0, window.get(), [this] { window->close(); });
        return CopyToTempFile(source, target, temp);
    });
    window->btnupallClick();
    EXPECT_EQ(ArchiveNames(), (std::vector<std::string>{Name(1), Name(2), Name(3)}));
}

TEST_F(MainWindowFixture, FailedCopyAndNothingSelectedAreReported)
{
    window->btnuponeClick();
    EXPECT_EQ(messages, (std::vector<Message>{{"请选择要上传的文件。", "提示信息", MessageIcon::Information}}));
    messages.clear();
    window->btnDelClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "提示");
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(window->voiceModel->rowCount(), 6);

    messages.clear();
    commands().uploader.SetCopyCall([](const std::string& source, const std::string& target, TempFile& temp) {
        return CopyToTempFile(source, target, temp, [](int, void*, std::size_t) -> ssize_t {
            errno = EIO;
            return -1;
        });
    });
    window->btnupallClick();
    EXPECT_EQ(messages, std::vector<Message>{kFailed});
    EXPECT_TRUE(ArchiveNames().empty());
    EXPECT_TRUE(WindowIdle());
}

TEST_F(MainWindowFixture, CategoryUploadTakesTheMatchingRowsOrSaysNoneMatched)
{
    const std::string mode = window->voiceModel->entry(0).mode();
    std::vector<std::string> expected;
    for (const RecordingEntry& entry : window->voiceModel->entries())
        if (entry.mode() == mode)
            expected.push_back(entry.fileName());
    commands().execCategoryDialog = [&](TFrmBytype& dialog) {
        dialog.cbVoicetype->setCurrentText(QString::fromStdString(mode));
        return RunAnswered(dialog, [&dialog] { dialog.bbtnOK->click(); });
    };
    window->btncloseClick(); // a stop request outside a run must not stop the next run
    window->btnuptypeClick();
    EXPECT_EQ(ArchiveNames(), expected);
    EXPECT_EQ(messages, std::vector<Message>{kDone});

    messages.clear();
    fs::remove_all(archive);
    commands().execCategoryDialog = [](TFrmBytype& dialog) {
        dialog.RadioButton2->setChecked(true);
        dialog.edtPhone->setText("no such number");
        return RunAnswered(dialog, [&dialog] { dialog.bbtnOK->click(); });
    };
    window->btnuptypeClick();
    EXPECT_EQ(messages, (std::vector<Message>{{"没有检索到匹配的语音！", "提示", MessageIcon::Warning}}));
    EXPECT_FALSE(fs::exists(archive)); // no folder made when nothing matched

    messages.clear();
    commands().execCategoryDialog = [](TFrmBytype& dialog) {
        return RunAnswered(dialog, [&dialog] { dialog.bbtnClose->click(); });
    };
    window->btnuptypeClick();
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowFixture, DeletingRowsTwoAndFiveKeepsTheOtherNumbersAndFiles)
{
    Select({1, 4});
    window->btnDelClick();
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
    window->btnPathClick();
    EXPECT_EQ(askedTitle, QStringLiteral("选择上传路径："));
    EXPECT_EQ(askedStart.toStdString(), archive);
    EXPECT_EQ(window->uploadPath, archive);
    EXPECT_EQ(ReadConfigLines()[0], "/nowhere/old");

    fs::remove_all(archive);
    commands().chooseFolder = [&](QWidget*, const QString&, const QString& start) {
        askedStart = start;
        return QString::fromStdString(chosen);
    };
    window->btnPathClick();
    EXPECT_TRUE(askedStart.isEmpty()); // a folder that is gone opens nothing
    EXPECT_EQ(window->uploadPath, chosen);
    EXPECT_EQ(window->EdtPath->text().toStdString(), chosen);
    EXPECT_EQ(messages, (std::vector<Message>{{"路径设置为：" + chosen, "提示", MessageIcon::Warning}}));
    EXPECT_EQ(ReadConfigLines(), (ConfigLines{chosen, "secret", "third line"}));
    EXPECT_EQ(window->LbPath->count(), 3);

    window.reset();
    window = OpenWindow();
    EXPECT_EQ(window->uploadPath, chosen);
    EXPECT_EQ(window->EdtPath->text().toStdString(), chosen);
    EXPECT_TRUE(NeedLogin());
    EXPECT_EQ(StoredPassword(), "secret");
    window->btnupallClick();
    EXPECT_EQ(fs::directory_iterator(chosen) == fs::directory_iterator(), false);
}
