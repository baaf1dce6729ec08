#include "tools/voctool_commands.h"

#include <cstdio>

int RunList(const CommandArgs&) { std::fputs("voctool: list is not built yet\n", stderr); return 1; }
int RunSearch(const CommandArgs&) { std::fputs("voctool: search is not built yet\n", stderr); return 1; }
