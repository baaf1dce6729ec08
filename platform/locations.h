#pragma once

#include <string>

// Where the program keeps its files on Linux. Each follows the XDG variables with the
// usual defaults; none of the folders is created here but by MakeOwnFolder.

// The user's home folder without a trailing "/".
std::string HomeDir();
// The login name of the user running the program (the user id when it has none).
std::string UserName();
// $XDG_CONFIG_HOME/sdvoice (default ~/.config/sdvoice), without a trailing "/".
std::string ConfigDir();
// The settings beyond the configuration file's two lines: ConfigDir() + "/sdvoice.conf" (INI).
std::string SettingsFilePath();
// $XDG_DATA_HOME/sdvoice (default ~/.local/share/sdvoice), without a trailing "/".
std::string DataDir();
// Makes a folder of the program's own (the configuration, the index) readable by the user only:
// creates it, and the folders above it as the umask allows, or tightens it when it exists and
// is not a shared folder (one with the sticky bit or writable by others, which it leaves).
// False when it cannot be made.
bool MakeOwnFolder(const std::string& folder);
// The fixed spreadsheet file of both list exports (~/vrxexcel.xlsx).
std::string ExportFilePath();
// The fixed spreadsheet file of the call statistics (~/vrxstat.xlsx).
std::string StatisticsExportFilePath();
// The default upload folder: the home folder with a trailing "/".
std::string DefaultUploadPath();
