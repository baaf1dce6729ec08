#pragma once

#include <QApplication>
#include <functional>
#include <memory>

// The application object of the program. An exception that escapes an event handler is shown
// in the program's error box and the program goes on.
class SdvoiceApplication : public QApplication {
public:
    SdvoiceApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The program speaks Chinese whatever the desktop's language: Qt's own texts (the buttons of
// message boxes, the folder dialog) come in Simplified Chinese and dates follow the Chinese
// locale. Safe to call more than once.
void InstallChineseTranslations();

// Builds the main window; its construction reads the upload folder from the configuration file.
using MainWindowFactory = std::function<std::unique_ptr<QWidget>()>;

// The start-up after the application object exists: creates the main window, asks the login
// gate, and runs the event loop with the main window shown only when the login passed (or no
// password is set). A cancelled login ends without ever showing the main window. SIGTERM,
// SIGINT and SIGHUP end the program as its exit command does. A failure on the way is shown in
// the error box. Returns 0 in every case, the program's exit status.
int RunStartup(QApplication& application, const MainWindowFactory& createMainWindow);
