#include "tools/voctool_commands.h"

#include <cstdio>

int RunConvert(const CommandArgs&) { std::fputs("voctool: convert is not built yet\n", stderr); return 1; }
int RunPlay(const CommandArgs&) { std::fputs("voctool: play is not built yet\n", stderr); return 1; }
