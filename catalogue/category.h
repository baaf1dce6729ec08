#pragma once

#include "catalogue/recording.h"

#include <string>
#include <vector>

// Picking the catalogue rows of one day, one phone number or one recording mode.

enum class CategoryKind { None, Date, Phone, Mode };

// One criterion: the start day as DateCriterionText gives it, the phone number or the mode text.
struct UploadCategory {
    CategoryKind kind = CategoryKind::None;
    std::string text; // UTF-8
};

// "2014年03月05日": four-digit year, two-digit month and day.
std::string DateCriterionText(int year, int month, int day);

// File names of the matching rows, top to bottom. Texts compare exactly as GBK bytes: the
// date compares the start time's first 14 bytes (its day), phone and mode the whole text.
std::vector<std::string> CollectByCategory(const std::vector<RecordingEntry>& rows, CategoryKind kind,
                                           const std::string& text);
