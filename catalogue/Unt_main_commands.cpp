#include "catalogue/Unt_main.h"

// The upload, deletion and upload-path commands of the main window.

void TFrmMain::btnDelClick()
{
}

void TFrmMain::btnPathClick()
{
}

void TFrmMain::btnuponeClick()
{
}

void TFrmMain::btnuptypeClick()
{
}

void TFrmMain::btnupallClick()
{
}

void TFrmMain::btnstopClick()
{
}

void TFrmMain::btncloseClick()
{
    close();
}

void TFrmMain::A3Click()
{
    close();
}
