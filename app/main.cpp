#include "app/main_window.h"
#include "app/startup.h"
#include "platform/dialog_font.h"

int main(int argc, char** argv)
{
    SdvoiceApplication application(argc, argv);
    InstallFontSubstitutions();
    return RunStartup(application, [] { return std::make_unique<MainWindow>(); });
}
