#pragma once

#include "catalogue/upload.h"
#include "platform/result.h"

#include <string>

// The upload options the user sets in "上传选项...", kept in the group [upload] of sdvoice.conf
// (never in the configuration file of the upload folder and password):
//   automatic=true           the upload of all rows starts by itself when a card has been listed
//   skip_identical=true      UploadOptions::skipIdentical
//   subfolders=month         UploadOptions::monthFolders
//   keep_replaced_days=30    UploadOptions::keepReplacedDays (0 keeps nothing)
// Every option is off when the file or the key is missing, and the days are 30.
struct UploadSettings {
    bool automatic = false;
    UploadOptions options;
};

inline constexpr int kMaxKeepReplacedDays = 3650;

UploadSettings ReadUploadSettings(const std::string& settingsPath);
// Writes the group [upload], leaving the file's other groups as they are.
Result<void> WriteUploadSettings(const std::string& settingsPath, const UploadSettings& settings);
