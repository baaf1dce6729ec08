#pragma once

#include <string>

// What openpyxl, a spreadsheet reader that is not ours, finds in a workbook (see
// tests/export/read_sheet.py): "sheets N", then one line per row of the used range with its
// values TAB-separated, then "borders A1:H4". Fails the test and returns an empty text when the
// reader cannot run.
std::string ReadSheetWithOpenpyxl(const std::string& path);
