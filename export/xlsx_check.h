#pragma once

#include "platform/result.h"

#include <string>

// libxlsxwriter stages each part of a workbook in temporary files and does not notice when
// writing one of them fails (a full disk): it then packs a damaged part and reports success.
// This check reads the written package back: every XML part must inflate to its recorded size
// and end by closing the element it opens with, and the sheet must hold rowCount rows of
// cellCount cells in all.
Result<void> CheckWorkbookComplete(const std::string& path, long rowCount, long cellCount);
