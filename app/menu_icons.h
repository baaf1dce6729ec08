#pragma once

#include <QIcon>

// The four menu icons of the main window, drawn here so that the program needs no image files.
enum class MenuIcon { Search, Exit, Spreadsheet, About };

QIcon DrawMenuIcon(MenuIcon kind);
