#include "app/startup.h"

#include "app/Unt_login.h"
#include "app/Unt_public.h"

#include <QWidget>

namespace {

// Creates the login dialog, asks it whether a password is set, and shows it when one is.
int PassLoginGate()
{
    TFrmLogin login;
    return login.NeedLogin() ? login.exec() : ModalResult::Ok;
}

} // namespace

SdvoiceApplication::SdvoiceApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool SdvoiceApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowExceptionBox(activeWindow(), error);
    } catch (...) {
        ShowExceptionBox(activeWindow(), QString());
    }
    return false;
}

int RunStartup(QApplication& application, const MainWindowFactory& createMainWindow)
{
    try {
        InstallFontSubstitutions();
        const std::unique_ptr<QWidget> mainWindow = createMainWindow();
        if (PassLoginGate() == ModalResult::Ok) {
            mainWindow->show();
            application.exec();
        }
    } catch (const std::exception& error) {
        ShowExceptionBox(nullptr, error);
    } catch (...) {
        ShowExceptionBox(nullptr, QString());
    }
    return 0;
}
