#pragma once

#include "platform/result.h"

#include <string>
#include <string_view>
#include <vector>

// The configuration file qzacfg.cfg: line 1 the upload folder, line 2 the access password,
// later lines kept untouched. The file is GB18030 text; the functions below take and give
// UTF-8. Every writer reads the file afresh, changes only its own line and replaces the whole
// file atomically with mode 0600, because it holds the password in plain text.

// A file that cannot be read fails with "Cannot open file <path>", one that cannot be written
// with "Cannot create file <path>"; the windows show that reason in the program's error box.

using ConfigLines = std::vector<std::string>;

// $XDG_CONFIG_HOME/sdvoice/qzacfg.cfg, worked out on the first call and reused afterwards.
const std::string& ConfigFilePath();

// Splits file bytes into lines: CR LF, a lone CR and a lone LF each end a line, the text
// ends at the end of the bytes (a final line ending does not start another line).
// The lines keep their bytes; nothing is decoded.
std::vector<std::string> SplitConfigLines(std::string_view bytes);

// The lines of the file in UTF-8. A missing file has no lines (the defaults apply);
// a file that exists but cannot be read fails.
Result<ConfigLines> ReadConfigLines(const std::string& path = ConfigFilePath());

// Replaces the file with the lines, each followed by CR LF, creating its folder when needed.
// On failure an existing file is left as it was.
Result<void> WriteConfigLines(const ConfigLines& lines, const std::string& path = ConfigFilePath());

// The password writer: replaces line 2, or appends it after a lone line 1, or writes the
// default upload folder and the password into a file without lines. Returns the lines written.
Result<ConfigLines> StorePassword(const std::string& password, const std::string& path = ConfigFilePath());

// The upload-path writer: replaces line 1 and keeps every other line, or writes the path as
// the only line into a file without lines. Returns the lines written.
Result<ConfigLines> SaveUploadPath(const std::string& uploadPath, const std::string& path = ConfigFilePath());

// Line 2 exactly as stored, or "" (no password) when the file is missing or shorter.
Result<std::string> StoredPassword(const std::string& path = ConfigFilePath());

// The login gate: true when a password is set.
Result<bool> NeedLogin(const std::string& path = ConfigFilePath());
