// Makes the user guide's pictures from the program's own windows, filled with sample recordings:
//
//   guide_screenshots OUTPUT_FOLDER CARD_FOLDER ARCHIVE_FOLDER
//
// CARD_FOLDER (the card's VOICE folder) receives sample recordings of November 2026, the days of
// the guide's worked example, and the main window uploads them into ARCHIVE_FOLDER (the upload
// folder): every picture shows the same recordings, with the same dates and numbers. The
// pictures are PNG files in OUTPUT_FOLDER. scripts/make-screenshots.sh runs it under Xvfb with a
// private home, so that fonts and sizes are those of a desktop. Xvfb has no window manager: each
// window gets the title bar that Qt's style draws, with the window's own title.
#include "app/about_dialog.h"
#include "app/change_password_dialog.h"
#include "app/login_dialog.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/upload_controller.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "catalogue/replaced_recordings.h"
#include "catalogue/replaced_recordings_dialog.h"
#include "catalogue/upload_options_dialog.h"
#include "catalogue/upload_settings.h"
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
#include "web/access_log.h"
#include "web/account_store.h"
#include "web/web_access_dialog.h"

#include <QDateEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
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
        Save(WithTitleBar(window), name);
    }

    void Save(const QImage& image, const char* name)
    {
        const QString path = folder_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
        if (!image.save(path)) {
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

// The working days of the guide's fortnight: today is Thursday 12 November 2026.
constexpr int kWorkingDays[] = {2, 3, 4, 5, 6, 9, 10, 11, 12};

// The card: recordings numbered from 1, three a working day of November 2026 from Monday the 2nd
// on, two of them today; every seventh one is a call of the worked example's customer, the first
// of them on Tuesday the 3rd.
constexpr int kCardRecordings = 26;
static_assert(kCardRecordings <= 3 * static_cast<int>(std::size(kWorkingDays)));

bool WriteRecordings(const std::string& folder)
{
    std::filesystem::create_directories(folder);
    for (int i = 0; i < kCardRecordings; ++i) {
        SampleSpec sample = SampleSpecFor(static_cast<std::uint32_t>(i), 0);
        sample.year = 26;
        sample.month = 11;
        sample.day = kWorkingDays[i / 3];
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

// The upload of the whole card into the archive folder, slowed down so that the picture catches
// it halfway; the search window later lists what it copied.
void TakeUpload(Pictures& pictures, MainWindow& window)
{
    window.uploadController().SetCopyCall([](const std::string& source, const std::string& target, TempFile& temp) {
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

// The menu "语音管理" open over the main window's corner, its first item selected.
void TakeMenu(Pictures& pictures, MainWindow& window)
{
    QMenuBar* bar = window.menuBar();
    QAction* voiceMenu = bar->actions().constFirst();
    QMenu* menu = voiceMenu->menu();
    menu->popup(bar->mapToGlobal(bar->actionGeometry(voiceMenu).bottomLeft()));
    bar->setActiveAction(voiceMenu);
    Settle(300);
    menu->setActiveAction(menu->actions().constFirst());
    Settle(300);
    QImage image = window.grab().toImage();
    QPainter painter(&image);
    painter.drawPixmap(window.mapFromGlobal(menu->pos()), menu->grab());
    painter.end();
    pictures.Save(image.copy(0, 0, 300, 120), "flat-menu");
    menu->hide();
    Settle(200);
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
    TakeMenu(pictures, window);

    CategoryUploadDialog category(&window);
    pictures.Take(category, "category-upload");
    OverwriteQuestionDialog overwrite(QStringLiteral("VOC00001.WAV"), &window);
    pictures.Take(overwrite, "overwrite-question");
    UploadSettings recommended;
    recommended.options.skipIdentical = true;
    UploadOptionsDialog options(recommended, &window);
    pictures.Take(options, "upload-options");
    ChangePasswordDialog password(&window);
    pictures.Take(password, "change-password");
    AboutDialog about(&window);
    pictures.Take(about, "about");
    LoginDialog login;
    pictures.Take(login, "login");
    TakeUpload(pictures, window);
}

// The row of the list that shows the recording fileName.
int RowOfFile(const QTableView& list, const char* fileName)
{
    constexpr int kFileNameColumn = 1;
    for (int row = 0; row < list.model()->rowCount(); ++row) {
        if (list.model()->index(row, kFileNameColumn).data().toString() == QLatin1String(fileName))
            return row;
    }
    std::fprintf(stderr, "guide_screenshots: %s is not listed\n", fileName);
    std::exit(1);
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
// searched from 3 November on, Tuesday's call playing (through SDL's dummy output where there
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
    auto* results = Named<QTableView>(window, "ListViewPlay");
    SelectRow(*results, RowOfFile(*results, "VOC00004.WAV"));
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

// "被替换的录音" after uploads on two days replaced three archived calls, the second one selected:
// its name is taken by the newer copy, so the dialog offers a new one.
void TakeReplacedRecordings(Pictures& pictures, const std::string& archive)
{
    using namespace std::chrono;
    for (const auto& [name, day] :
         {std::pair{"VOC00004.WAV", 2026y / 11 / 10}, std::pair{"VOC00009.WAV", 2026y / 11 / 10},
          std::pair{"VOC00017.WAV", 2026y / 11 / 12}}) {
        if (!KeepReplaced(archive, name, day)) {
            std::fprintf(stderr, "guide_screenshots: cannot keep %s as replaced\n", name);
            std::exit(1);
        }
    }
    ReplacedRecordingsDialog dialog(archive);
    dialog.show();
    Settle(500);
    SelectRow(*Named<QTableView>(dialog, "ListViewReplaced"), 1);
    pictures.Take(dialog, "replaced-recordings");
}

// The dialog "网页访问" with three colleagues' accounts, a morning of the access log and the
// fingerprint of a certificate (made-up bytes: only its fingerprint shows), the server shown as
// running (`true` stands in for systemctl and answers that the unit is active).
void TakeWebAccessDialog(Pictures& pictures)
{
    WebAccessPaths paths = WebAccessPaths::Installed();
    paths.systemctl = QStringLiteral("true");
    AccountStore accounts(paths.accountsFile);
    AccessLog log(paths.logFile);
    const QDateTime morning(QDate(2026, 11, 20), QTime(9, 12));
    const QString office = QStringLiteral("192.168.1.");
    constexpr std::string_view certificate =
        "-----BEGIN CERTIFICATE-----\nc2R2b2ljZS13ZWItZ3VpZGU=\n"
        "-----END CERTIFICATE-----\n";
    const bool written =
        MakeOwnFolder(ConfigDir()) && WriteFileAtomically(ConfigDir() + "/web-certificate.pem", certificate, 0600)
        && accounts.Add(QStringLiteral("wang"), WebRole::Admin, "guide-admin")
        && accounts.Add(QStringLiteral("li"), WebRole::Note, "guide-note")
        && accounts.Add(QStringLiteral("zhao"), WebRole::Listen, "guide-listen")
        && log.Append({morning, QStringLiteral("li"), WebAction::Login, {}, office + "23"})
        && log.Append({morning.addSecs(40), QStringLiteral("li"), WebAction::Play, "17", office + "23"})
        && log.Append({morning.addSecs(95), QStringLiteral("li"), WebAction::NoteChange, "17", office + "23"})
        && log.Append({morning.addSecs(600), QStringLiteral("zhao"), WebAction::Download, "9", office + "41"});
    if (!written) {
        std::fputs("guide_screenshots: cannot write the web accounts and log\n", stderr);
        std::exit(1);
    }
    WebAccessDialog dialog(paths);
    while (dialog.busy())
        Settle(100);
    pictures.Take(dialog, "web-access");
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
    if (!WriteRecordings(card)) {
        std::fputs("guide_screenshots: cannot write the sample recordings\n", stderr);
        return 1;
    }
    Pictures pictures(QString::fromLocal8Bit(argv[1]));
    TakeMainWindow(pictures, card, archive);
    TakeSearchWindow(pictures, archive);
    TakeStatisticsWindow(pictures, card);
    TakeReplacedRecordings(pictures, archive);
    TakeWebAccessDialog(pictures);
    return 0;
}
