#pragma once

#include "catalogue/recording.h"

#include <string>
#include <vector>

// Picking the catalogue rows of one day, one phone number or one recording mode.

enum CategoryKind : int {
    kCategoryNone = 0,
    kCategoryDate = 1,
    kCategoryPhone = 2,
    kCategoryMode = 3,
};

// "2014年03月05日": four-digit year, two-digit month and day.
std::string DateCriterionText(int year, int month, int day);

// File names of the matching rows, top to bottom. Texts compare exactly as GBK bytes: the
// date compares the start time's first 14 bytes (its day), phone and mode the whole text.
std::vector<std::string> CollectByCategory(const std::vector<RecordingEntry>& rows, int categoryKind,
                                           const std::string& categoryText);
