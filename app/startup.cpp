#include "app/startup.h"

#include "app/login_dialog.h"
#include "platform/dialog_font.h"
#include "platform/atomic_file.h"
#include "platform/dialog_result.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/termination_signals.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>

namespace {

// Creates the login dialog, asks it whether a password is set, and shows it when one is.
// A configuration file that cannot be read is said in the error box and lets nobody in.
bool PassLoginGate()
{
    LoginDialog login;
    const Result<bool> needed = login.NeedLogin();
    if (!needed) {
        ShowErrorBox(nullptr, needed.error());
        return false;
    }
    return !*needed || login.exec() == ToDialogCode(DialogResult::Ok);
}

QString TextOf(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

} // namespace

void InstallChineseTranslations()
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    static QTranslator* translator = nullptr;
    if (translator != nullptr)
        return;
    translator = new QTranslator(qApp);
    // Without the translations package the texts stay in English, which is no reason to stop.
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

SdvoiceApplication::SdvoiceApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    InstallChineseTranslations();
}

bool SdvoiceApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorBox(activeWindow(), TextOf(error));
    } catch (...) {
        ShowErrorBox(activeWindow(), QString());
    }
    return false;
}

int RunStartup(QApplication& application, const MainWindowFactory& createMainWindow)
{
    try {
        InstallFontSubstitutions();
        // The settings are the user's only; QSettings keeps the mode of the file it rewrites.
        MakeOwnFolder(ConfigDir());
        MakePrivateFile(SettingsFilePath());
        // A termination signal closes every window, as "退出" and the windows' own close commands
        // do (a playback stops, an upload ends), and then the event loops.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::received, &application, [] {
            QApplication::closeAllWindows();
            QCoreApplication::quit();
        });
        const std::unique_ptr<QWidget> mainWindow = createMainWindow();
        if (PassLoginGate()) {
            mainWindow->show();
            application.exec();
        }
    } catch (const std::exception& error) {
        ShowErrorBox(nullptr, TextOf(error));
    } catch (...) {
        ShowErrorBox(nullptr, QString());
    }
    return 0;
}
