#pragma once

#include "catalogue/recording_model.h"

#include <string>
#include <vector>

// The texts of one column of a list model, top to bottom.
inline std::vector<std::string> Column(const RecordingModel& model, int column)
{
    std::vector<std::string> texts;
    for (const RecordingEntry& entry : model.entries())
        texts.push_back(entry.texts[column]);
    return texts;
}
