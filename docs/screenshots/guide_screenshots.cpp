// Makes the user guide's pictures from the program's own windows, filled with sample recordings:
//
//   guide_screenshots OUTPUT_FOLDER CARD_FOLDER ARCHIVE_FOLDER
//
// CARD_FOLDER (the card's VOICE folder) and ARCHIVE_FOLDER (the upload folder) receive sample
// recordings; the pictures are PNG files in OUTPUT_FOLDER. scripts/make-screenshots.sh runs it
// under Xvfb with a private home, so that fonts and sizes are those of a desktop.
#include "app/about_dialog.h"
#include "app/change_password_dialog.h"
#include "app/login_dialog.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "catalogue/catalogue_scan.h"
#include "catalogue/category_upload_dialog.h"
#include "catalogue/overwrite_question_dialog.h"
#include "platform/dialog_font.h"
#include "search/folder_tree.h"
#include "search/note_dialog.h"
#include "search/search_window.h"
#include "statistics/statistics_window.h"
#include "tools/sample_maker.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QThread>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
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

class Pictures {
public:
    explicit Pictures(QString folder) : folder_(std::move(folder)) {}

    void Take(QWidget& window, const char* name)
    {
        window.show();
        window.raise();
        Settle(400);
        const QString path = folder_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
        if (!window.grab().save(path)) {
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
}

// The archive folder listed in the search window, its third recording playing (through SDL's
// dummy output where there is no sound card).
void TakeSearchWindow(Pictures& pictures, const std::string& archive)
{
    SearchWindow window(
        nullptr, [&] { return std::vector<FolderRoot>{{archive, kImageDisk}}; }, {}, ArchiveIndex::OpenConfigured());
    window.show();
    Settle(300);
    auto* tree = Named<QTreeView>(window, "TVSpeakPath");
    SelectRow(*tree, 0);
    emit tree->clicked(tree->currentIndex());
    Settle(500);
    SelectRow(*Named<QTableView>(window, "ListViewPlay"), 2);
    Named<QPushButton>(window, "btnplay")->click();
    Settle(2500);
    pictures.Take(window, "search-window");
    NoteDialog note({"客户同意报价，下周一签合同。", "客户"}, {"供应商", "客户", "同事"}, &window);
    pictures.Take(note, "note-dialog");
    Named<QPushButton>(window, "btnstop")->click();
    Settle(300);
}

// The statistics of the card's recordings, once counted.
void TakeStatisticsWindow(Pictures& pictures, const std::string& card)
{
    StatisticsWindow window(ListRecordings(card), std::nullopt);
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
    if (!WriteSampleFolder(card, 40) || !WriteSampleFolder(archive, 25)) {
        std::fputs("guide_screenshots: cannot write the sample recordings\n", stderr);
        return 1;
    }
    Pictures pictures(QString::fromLocal8Bit(argv[1]));
    TakeMainWindow(pictures, card, archive);
    TakeSearchWindow(pictures, archive);
    TakeStatisticsWindow(pictures, card);
    return 0;
}
