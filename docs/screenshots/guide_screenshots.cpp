// Makes the user guide's pictures from the program's own windows, filled with sample recordings:
//
//   guide_screenshots OUTPUT_FOLDER CARD_FOLDER ARCHIVE_FOLDER
//
// CARD_FOLDER (the card's VOICE folder) and ARCHIVE_FOLDER (the upload folder) receive sample
// recordings of November 2026, the days of the guide's worked example; the pictures are PNG files
// in OUTPUT_FOLDER. scripts/make-screenshots.sh runs it under Xvfb with a private home, so that
// fonts and sizes are those of a desktop. Xvfb has no window manager: each window gets the title
// bar that Qt's style draws, with the window's own title.
#include "app/about_dialog.h"
#include "app/change_password_dialog.h"
#include "app/login_dialog.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/upload_commands.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "platform/atomic_file.h"
#include "platform/dialog_font.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "search/folder_tree.h"
#include "search/note_dialog.h"
#include "index/index_host.h"
#include "search/search_window.h"
#include "statistics/statistics_window.h"
#include "tools/sample_maker.h"

#include <QDateEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionTitleBar>
#include <QTableView>
#include <QThread>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Lets the windows lay out, list and paint for about ms milliseconds.
void Settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

template <typename T>
T* Named(QWidget& window, const char* name)
{
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        std::fprintf(stderr, "guide_screenshots: no control %s in %s\n", name, qPrintable(window.windowTitle()));
        std::exit(1);
    }
    return child;
}

// The window's content under the title bar Qt's style draws for it: title, icon and buttons.
QImage WithTitleBar(QWidget& window)
{
    const QPixmap content = window.grab();
    QStyleOptionTitleBar bar;
    bar.initFrom(&window);
    bar.text = window.windowTitle();
    bar.icon = window.windowIcon();
    bar.titleBarFlags = window.windowFlags() | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    bar.titleBarState = Qt::WindowActive;
    bar.state |= QStyle::State_Active;
    bar.subControls = QStyle::SC_TitleBarLabel | QStyle::SC_TitleBarSysMenu | QStyle::SC_TitleBarCloseButton;
    if (window.isWindow() && (window.windowFlags() & Qt::WindowMinMaxButtonsHint))
        bar.subControls |= QStyle::SC_TitleBarMinButton | QStyle::SC_TitleBarMaxButton;
    const int height = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, &bar, &window);
    bar.rect = QRect(0, 0, content.width(), height);
    QImage image(content.width(), content.height() + height, QImage::Format_RGB32);
    image.fill(window.palette().color(QPalette::Window));
    QPainter painter(&image);
    window.style()->drawComplexControl(QStyle::CC_TitleBar, &bar, &painter, &window);
    painter.drawPixmap(0, height, content);
    return image;
}

class Pictures {
public:
    explicit Pictures(QString folder) : folder_(std::move(folder)) {}

    void Take(QWidget& window, const char* name)
    {
        window.show();
        window.raise();
        Settle(400);
        const QString path = folder_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
        if (!WithTitleBar(window).save(path)) {
            std::fprintf(stderr, "guide_screenshots: cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        std::printf("%s\n", qPrintable(path));
    }

private:
    QString folder_;
};

// Selects row of view, as a click does.
void SelectRow(QAbstractItemView& view, int row)
{
    view.setCurrentIndex(view.model()->index(row, 0));
    view.selectionModel()->select(view.currentIndex(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// count recordings numbered from 1, two to four a working day from day firstDay of November
// 2026 on; every seventh one is a call of the worked example's customer.
bool WriteRecordings(const std::string& folder, int count, int firstDay)
{
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        SampleSpec sample = SampleSpecFor(static_cast<std::uint32_t>(i), 0);
        sample.year = 26;
        sample.month = 11;
        sample.day = firstDay + i / 3;
        sample.hour = 9 + (i * 5) % 9;
        sample.minute = (i * 23) % 60;
        if (i % 7 == 3)
            sample.phone = "13912345678";
        char name[16];
        std::snprintf(name, sizeof name, "VOC%05d.WAV", i + 1);
        if (!WriteSampleFile(folder + name, sample))
            return false;
    }
    return true;
}

// An upload into a new folder, slowed down so that the picture catches it halfway.
void TakeUpload(Pictures& pictures, MainWindow& window, const std::string& uploadFolder)
{
    window.SetUploadPath(uploadFolder);
    window.uploadCommands().uploader.SetCopyCall(
        [](const std::string& source, const std::string& target, TempFile& temp) {
            QThread::msleep(150);
            return CopyToTempFile(source, target, temp);
        });
    bool finished = false;
    QObject::connect(&window, &MainWindow::uploadFinished, [&] { finished = true; });
    // "数据上传完毕！" would wait for a click that never comes.
    SetMessageHandler([](const MessageRequest& request) { std::printf("message: %s\n", qPrintable(request.text)); });
    Named<QPushButton>(window, "btnupall")->click();
    Settle(1800);
    pictures.Take(window, "main-uploading");
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    SetMessageHandler({});
}

void TakeMainWindow(Pictures& pictures, const std::string& card, const std::string& archive)
{
    bool attached = false;
    MainWindow window;
    window.SetDriveFinder([&]() -> std::optional<std::string> {
        if (!attached)
            return std::nullopt;
        return card;
    });
    window.SetUploadPath(archive);
    window.ScanDevice();
    pictures.Take(window, "main-no-card");
    attached = true;
    window.ScanDevice();
    while (window.deviceState() == DeviceState::Listing)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Settle(300);
    auto* list = Named<QTableView>(window, "ListViewVoice");
    SelectRow(*list, 2);
    list->selectionModel()->select(list->model()->index(4, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    pictures.Take(window, "main-window");

    CategoryUploadDialog category(&window);
    pictures.Take(category, "category-upload");
    OverwriteQuestionDialog overwrite(QStringLiteral("VOC00003.WAV"), &window);
    pictures.Take(overwrite, "overwrite-question");
    ChangePasswordDialog password(&window);
    pictures.Take(password, "change-password");
    AboutDialog about(&window);
    pictures.Take(about, "about");
    LoginDialog login;
    pictures.Take(login, "login");
    TakeUpload(pictures, window, (std::filesystem::path(archive).parent_path().parent_path() / "2026-3/").string());
}

// The tree's roots as the program makes them, less the build machine's own mounts (a
// container's bind mounts, which no desktop has): the home folder, "/" and what is mounted
// under /media, the card among them.
std::vector<FolderRoot> DesktopFolderRoots()
{
    std::vector<FolderRoot> roots = MachineFolderRoots();
    std::erase_if(roots, [](const FolderRoot& root) {
        const bool mountedMedium = root.path.starts_with("/media/") && root.path != "/media/";
        return root.path != "/" && !mountedMedium && !root.path.starts_with(HomeDir());
    });
    return roots;
}

// Opens the tree down to folder, as clicks on the triangles do, and selects it.
void OpenFolderInTree(QTreeView& tree, const std::string& folder)
{
    QModelIndex node;
    for (int row = 0; row < tree.model()->rowCount(); ++row) {
        const QModelIndex root = tree.model()->index(row, 0);
        const std::string path = root.data().toString().toStdString();
        if (path != "/" && folder.starts_with(path))
            node = root;
    }
    if (!node.isValid()) {
        std::fprintf(stderr, "guide_screenshots: no tree root holds %s\n", folder.c_str());
        std::exit(1);
    }
    std::string rest = folder.substr(node.data().toString().toStdString().size());
    while (!rest.empty()) {
        const std::string name = rest.substr(0, rest.find('/'));
        rest = rest.substr(std::min(rest.size(), name.size() + 1));
        tree.expand(node);
        Settle(200);
        const QModelIndex parent = node;
        for (int row = 0; row < tree.model()->rowCount(parent); ++row)
            if (tree.model()->index(row, 0, parent).data().toString().toStdString() == name)
                node = tree.model()->index(row, 0, parent);
        if (node == parent) {
            std::fprintf(stderr, "guide_screenshots: no folder %s in the tree\n", name.c_str());
            std::exit(1);
        }
    }
    tree.setCurrentIndex(node);
    tree.selectionModel()->select(node, QItemSelectionModel::ClearAndSelect);
    emit tree.clicked(node);
}

// The guide's worked example: the archive folder opened in the tree, the customer's calls
// searched from 3 November on, the second one playing (through SDL's dummy output where there
// is no sound card).
void TakeSearchWindow(Pictures& pictures, const std::string& archive)
{
    IndexHost index(ConfiguredIndexLocation());
    SearchWindow window(nullptr, DesktopFolderRoots, {}, &index);
    window.show();
    Settle(300);
    OpenFolderInTree(*Named<QTreeView>(window, "TVSpeakPath"), archive);
    Settle(800);
    Named<QDateEdit>(window, "DateTimePicker01")->setDate(QDate(2026, 11, 3));
    Named<QDateEdit>(window, "DateTimePicker11")->setDate(QDate(2026, 11, 12));
    Named<QLineEdit>(window, "edtPhone")->setText(QStringLiteral("1391234"));
    Named<QPushButton>(window, "btnSearch")->click();
    Settle(800);
    SelectRow(*Named<QTableView>(window, "ListViewPlay"), 1);
    Named<QPushButton>(window, "btnplay")->click();
    Settle(2500);
    pictures.Take(window, "search-window");
    // The loudness outline in the position slider, under the list.
    pictures.Take(*Named<QWidget>(window, "playerControls"), "share-outline");
    NoteDialog note({"客户同意报价，下周一签合同。", "客户"}, {"供应商", "客户", "同事"}, &window);
    pictures.Take(note, "note-dialog");
    Named<QPushButton>(window, "btnstop")->click();
    Settle(300);
}

// The statistics of the card's recordings, once counted.
void TakeStatisticsWindow(Pictures& pictures, const std::string& card)
{
    StatisticsWindow window(std::make_shared<const std::vector<RecordingEntry>>(ListRecordings(card)), nullptr);
    window.show();
    Settle(800);
    pictures.Take(window, "call-statistics");
}

} // namespace

int main(int argc, char** argv)
{
    SdvoiceApplication application(argc, argv);
    InstallFontSubstitutions();
    if (argc != 4) {
        std::fputs("usage: guide_screenshots OUTPUT_FOLDER CARD_FOLDER ARCHIVE_FOLDER\n", stderr);
        return 2;
    }
    const std::string card = std::string(argv[2]) + "/";
    const std::string archive = std::string(argv[3]) + "/";
    if (!WriteRecordings(card, 40, 1) || !WriteRecordings(archive, 25, 2)) {
        std::fputs("guide_screenshots: cannot write the sample recordings\n", stderr);
        return 1;
    }
    Pictures pictures(QString::fromLocal8Bit(argv[1]));
    TakeMainWindow(pictures, card, archive);
    TakeSearchWindow(pictures, archive);
    TakeStatisticsWindow(pictures, card);
    return 0;
}
