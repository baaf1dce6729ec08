#include "app/Unt_public.h"
#include "app/startup.h"
#include "catalogue/Unt_main.h"

int main(int argc, char** argv)
{
    SdvoiceApplication application(argc, argv);
    InstallFontSubstitutions();
    return RunStartup(application, [] { return std::make_unique<TFrmMain>(); });
}
