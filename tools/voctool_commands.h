#pragma once

#include <string>
#include <vector>

// Each voctool command takes the words after its name and returns the process exit code.
// Messages for the user go to stderr, rows to stdout (UTF-8).
using CommandArgs = std::vector<std::string>;

int RunMakeSample(const CommandArgs& args); // make-sample DIR [COUNT]
int RunList(const CommandArgs& args);       // list DIR
int RunSearch(const CommandArgs& args);     // search DIR --from D --to D [--mode NAME] [--phone TEXT]
int RunConvert(const CommandArgs& args);    // convert INPUT OUTPUT
int RunPlay(const CommandArgs& args);       // play FILE [--from PERCENT]
