#pragma once

#include "platform/result.h"
#include "statistics/call_statistics.h"

#include <cstddef>
#include <string>

// The picture of the charts for voctool stats --png. Drawing it needs Qt Widgets and Qt Charts,
// which voctool does not link: every other command would pay for loading them at its start. The
// drawing lives in a module that voctool loads only for a picture.

// The widths a picture may be drawn at, in pixels: from a phone's screen to the window's picture.
inline constexpr int kChartPictureNarrowest = 300;
inline constexpr int kChartPictureWidest = 1600;

inline constexpr char kChartPictureModule[] = "sdvoice_chart_picture.so";
inline constexpr char kChartPictureFunction[] = "sdvoice_write_chart_picture";
// The module's function: writes the picture of statistics, with periods of kind, width pixels
// wide, to path as a PNG file; false with the reason in error (errorSize bytes, ended by a zero byte) when it cannot.
using WriteChartPictureFunction = bool (*)(const CallStatistics* statistics, int kind, int width, const char* path,
                                           char* error, std::size_t errorSize);

// Loads the module from moduleFolder and writes the picture through it.
Result<void> WriteChartPicture(const std::string& moduleFolder, const CallStatistics& statistics, PeriodKind kind,
                               int width, const std::string& path);
