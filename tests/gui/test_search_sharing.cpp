#include "catalogue/recording_model.h"
#include "export/evidence_package.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "search/call_sharing.h"
#include "search/evidence_export.h"
#include "search/outline_slider.h"
#include "search/search_window.h"
#include "support/call_reader.h"
#include "support/find_child.h"
#include "support/temp_folder.h"
#include "support/window_wait.h"
#include "tools/sample_maker.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTableView>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

const bool configHomeSet = !PrivateConfigHome().path().empty();

// One folder of recordings listed in the search window, the first row selected; the save
// dialog, the questions, the boxes and the drag are the test's.
class SharingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(configHomeSet);
        SetMessageHandler([this](const MessageRequest& request) { messages.push_back(request.text.toStdString()); });
        SetQuestionHandler([this](const MessageRequest& request) {
            questions.push_back(request.text.toStdString());
            return replace;
        });
        fs::create_directories(archive.Path("Calls"));
        SampleSpec sample{'L', "075583765566", 23, 1, 2, 14, 40, 3500 * 8, 3};
        ASSERT_TRUE(WriteSampleFile(archive.Path("Calls/VOC00001.WAV"), sample));
        window = std::make_unique<SearchWindow>(
            nullptr, [this] { return std::vector<FolderRoot>{{archive.Path("Calls/"), kImageDisk}}; });
        window->show();
        list = Child<QTableView>(*window, "ListViewPlay");
        sharing = window->findChild<CallSharing*>("callSharing");
        ASSERT_NE(sharing, nullptr);
        sharing->SetDragStarter([this](QMimeData* data, QWidget*) { dropped.reset(data); });
        ListFolder();
    }
    void TearDown() override
    {
        SetMessageHandler({});
        SetQuestionHandler({});
    }

    void ListFolder()
    {
        bool ended = false;
        const auto counting = QObject::connect(window.get(), &SearchWindow::listingEnded, [&] { ended = true; });
        auto* tree = Child<QTreeView>(*window, "TVSpeakPath");
        tree->setCurrentIndex(tree->model()->index(0, 0));
        QMetaObject::invokeMethod(tree, "clicked", Q_ARG(QModelIndex, tree->currentIndex()));
        ASSERT_TRUE(WaitForWindow([&] { return ended; })) << "the folder was not listed within 5 s";
        QObject::disconnect(counting);
        ASSERT_EQ(list->model()->rowCount(), 1);
        list->selectRow(0);
    }

    // Waits for a save (or a file for sharing that could not be made) to end; its outcome.
    bool SaveAs(const QString& path, CallFormat format)
    {
        sharing->SetSaveChooser([&, path, format](QWidget*, const QString& suggested, CallFormat) {
            suggestedPath = suggested;
            return std::optional(CallSharing::SaveTarget{path, format});
        });
        std::optional<bool> saved;
        const auto watching = QObject::connect(sharing, &CallSharing::saveEnded, [&](bool ok) { saved = ok; });
        const std::size_t asked = questions.size();
        Child<QAction>(*list, "actSaveAs")->trigger();
        // A "No" to the overwrite question ends it at once.
        if (questions.size() == asked || replace) {
            EXPECT_TRUE(WaitForWindow([&] { return saved.has_value(); })) << "the save did not end within 5 s";
        }
        QObject::disconnect(watching);
        return saved.value_or(false);
    }

    void Drag()
    {
        const QPoint from = list->visualRect(list->model()->index(0, 1)).center();
        const QPoint to = from + QPoint(QApplication::startDragDistance() + 5, 0);
        QMouseEvent press(QEvent::MouseButtonPress, from, list->viewport()->mapToGlobal(from), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, list->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &press);
        QApplication::sendEvent(list->viewport(), &move);
    }
    void Release()
    {
        const QPoint at = list->visualRect(list->model()->index(0, 1)).center();
        QMouseEvent release(QEvent::MouseButtonRelease, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &release);
    }

    TempFolder archive;
    TempFolder saves;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool replace = false;
    QString suggestedPath;
    std::unique_ptr<QMimeData> dropped;
    std::unique_ptr<SearchWindow> window;
    QTableView* list = nullptr;
    CallSharing* sharing = nullptr;
};

// The file a drag or the clipboard carries: one local file URL to a file that plays as long as
// the recording, in the format chosen last.
void ExpectPlayableFileUrl(const QMimeData* data, const char* extension)
{
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->urls().size(), 1);
    const QUrl url = data->urls().front();
    ASSERT_TRUE(url.isLocalFile()) << url.toString().toStdString();
    const std::string file = url.toLocalFile().toStdString();
    EXPECT_TRUE(file.ends_with(std::string(" 075583765566 留言.") + extension)) << file;
    const CallReadBack call = ReadCallBack(file);
    EXPECT_EQ(call.error, "");
    EXPECT_NEAR(static_cast<double>(call.samples.size()), 55230.0, 505) << "the samples of 28000 bytes of IMA ADPCM";
}

TEST_F(SharingTest, SaveAsSuggestsTheCallsNameAndAsksBeforeReplacing)
{
    const QString target = QString::fromStdString(saves.Path("call.mp3"));
    ASSERT_TRUE(SaveAs(target, CallFormat::Mp3));
    EXPECT_TRUE(suggestedPath.endsWith(QStringLiteral("/2023-01-02 14时40分 075583765566 留言.wav")))
        << suggestedPath.toStdString();
    EXPECT_EQ(ReadCallBack(target.toStdString()).tags["genre"], "留言");
    EXPECT_TRUE(questions.empty());

    TempFolder::WriteFile(target.toStdString(), "old");
    replace = false;
    SaveAs(target, CallFormat::Mp3);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "此文件夹已包含一个名为“call.mp3”的同名文件，是否覆盖同名文件？");
    EXPECT_EQ(TempFolder::Read(target.toStdString()), "old");
    replace = true;
    ASSERT_TRUE(SaveAs(target, CallFormat::Mp3));
    EXPECT_TRUE(suggestedPath.endsWith(QStringLiteral("留言.mp3"))) << "the format chosen last is suggested";
    EXPECT_NE(TempFolder::Read(target.toStdString()), "old");

    EXPECT_FALSE(SaveAs(QString::fromStdString(saves.Path("missing/call.wav")), CallFormat::Wav));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("无法保存“call.wav”：")) << messages[0];

    // The recording damaged after it was listed is refused as the player refuses it.
    TempFolder::WriteFile(archive.Path("Calls/VOC00001.WAV"), std::string(300, 'x'));
    SaveAs(QString::fromStdString(saves.Path("damaged.wav")), CallFormat::Wav);
    EXPECT_EQ(messages.back(), "播放错误的语音格式！");
    EXPECT_FALSE(fs::exists(saves.Path("damaged.wav")));
}

TEST_F(SharingTest, SaveAsSaysWhereItSavedWithoutAClick)
{
    const QString target = QString::fromStdString(saves.Path("call.flac"));
    ASSERT_TRUE(SaveAs(target, CallFormat::Flac));
    auto* notice = Child<QLabel>(*window, "passingNotice");
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), QStringLiteral("已保存到：") + target);
    EXPECT_TRUE(messages.empty());

    // A click puts it away; a save that fails says so in its box, not in a notice.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), notice->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(notice, &press);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_FALSE(SaveAs(QString::fromStdString(saves.Path("missing/call.wav")), CallFormat::Wav));
    EXPECT_FALSE(notice->isVisible());
    EXPECT_EQ(messages.size(), 1u);
}

// The package is one that the check accepts with the desk's key, and the notice names that key;
// a package that cannot be written says why in a box.
TEST_F(SharingTest, ExportEvidenceWritesAPackageSignedWithTheDesksKey)
{
    const TempFolder dataHome;
    ASSERT_EQ(::setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1), 0);
    auto* evidence = window->findChild<EvidenceExport*>("evidenceExport");
    ASSERT_NE(evidence, nullptr);
    const auto exportTo = [&](const std::string& zip) {
        evidence->SetOutputChooser([zip](QWidget*, const QString&) { return QString::fromStdString(zip); });
        std::optional<bool> written;
        const auto watching = QObject::connect(evidence, &EvidenceExport::exportEnded, [&](bool ok) { written = ok; });
        Child<QAction>(*list, "actExportEvidence")->trigger();
        EXPECT_TRUE(WaitForWindow([&] { return written.has_value(); })) << "the export did not end within 5 s";
        QObject::disconnect(watching);
        return written.value_or(false);
    };

    const std::string zip = saves.Path("call.zip");
    ASSERT_TRUE(exportTo(zip));
    const std::optional<PublicKey> key = ReadPublicKey(DataDir());
    ASSERT_TRUE(key.has_value());
    const Result<EvidenceCheck> check = VerifyEvidence(zip, key);
    ASSERT_TRUE(check);
    EXPECT_TRUE(check->whole());
    EXPECT_NE(Child<QLabel>(*window, "passingNotice")->text().toStdString().find(KeyFingerprint(*key)),
              std::string::npos);
    EXPECT_TRUE(messages.empty());

    EXPECT_FALSE(exportTo(saves.Path("missing/call.zip")));
    EXPECT_EQ(messages.size(), 1u);
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(SharingTest, DragAndCopyCarryAFileUrlOfTheLastChosenFormat)
{
    Drag();
    ASSERT_TRUE(WaitForWindow([&] { return dropped != nullptr; })) << "no drag started within 5 s";
    ExpectPlayableFileUrl(dropped.get(), "wav");

    ASSERT_TRUE(SaveAs(QString::fromStdString(saves.Path("call.opus")), CallFormat::Opus));
    QApplication::clipboard()->clear();
    list->setFocus();
    Child<QAction>(*list, "actCopy")->trigger();
    ASSERT_TRUE(WaitForWindow([] {
        const QMimeData* copied = QApplication::clipboard()->mimeData();
        return copied && copied->hasUrls();
    }))
        << "nothing was copied within 5 s";
    ExpectPlayableFileUrl(QApplication::clipboard()->mimeData(), "opus");

    // A copy asked for while a drag waits for its file leaves later drags working.
    ASSERT_TRUE(SaveAs(QString::fromStdString(saves.Path("call.flac")), CallFormat::Flac)); // no file made yet
    dropped.reset();
    QApplication::clipboard()->clear();
    Drag();
    Child<QAction>(*list, "actCopy")->trigger();
    Release();
    ASSERT_TRUE(WaitForWindow([] {
        const QMimeData* copied = QApplication::clipboard()->mimeData();
        return copied && copied->hasUrls();
    })) << "nothing was copied within 5 s";
    Drag();
    ASSERT_TRUE(WaitForWindow([&] { return dropped != nullptr; })) << "no drag after a copy within 5 s";
}

// A recording loud in its first half and silent in its second: the slider's drawn columns
// over the silent half are flat, those over the loud half are not.
TEST_F(SharingTest, PositionSliderOutlinesTheSelectedRecording)
{
    const std::string path = archive.Path("Calls/VOC00001.WAV");
    std::string bytes = TempFolder::Read(path);
    const std::size_t data = bytes.find("data") + 8;
    const std::size_t blocks = (bytes.size() - data) / 256;
    // An IMA ADPCM block of zeros starts at 0 with the smallest step and stays silent.
    std::fill(bytes.begin() + static_cast<long>(data + blocks / 2 * 256), bytes.end(), '\0');
    TempFolder::WriteFile(path, bytes);
    list->clearSelection();
    list->selectRow(0);

    auto* slider = Child<OutlineSlider>(*window, "positionSlider");
    ASSERT_TRUE(WaitForWindow([&] { return slider->HasOutline(); })) << "no outline within 5 s";
    const QImage image = slider->grab().toImage();
    const int middle = (image.height() - 1) / 2;
    // Rows of ink in one column: the pixels that differ from the slider's background.
    const QRgb background = image.pixel(image.width() / 2, 0);
    const auto inked = [&](int x) {
        int rows = 0;
        for (int y = 0; y < image.height(); ++y)
            rows += image.pixel(x, y) != background ? 1 : 0;
        return rows;
    };
    const int handleEnd = image.width() / 8; // the handle stands at the left end
    int loudest = 0;
    for (int x = handleEnd; x < image.width() * 45 / 100; ++x)
        loudest = std::max(loudest, inked(x));
    int silentest = 0;
    for (int x = image.width() * 55 / 100; x < image.width() - 4; ++x)
        silentest = std::max(silentest, inked(x));
    EXPECT_GE(loudest, image.height() / 3) << "the loud half stands out";
    EXPECT_LE(silentest, 1) << "the silent half is a flat line";
    EXPECT_NE(image.pixel(image.width() * 3 / 4, middle), background) << "the silent half is drawn";
}

} // namespace
