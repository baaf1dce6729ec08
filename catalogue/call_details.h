#pragma once

#include "audio/call_file.h"
#include "catalogue/recording.h"

#include <string>

// What a saved call says about itself, made from the recording's header record: its tags and
// the name a save dialog suggests for it.

// title = the phone number and the start time, comment = the note's description, genre and
// album = the recording mode, date = the start day ("2023-01-02").
CallTags CallTagsOf(const RecordingHeader& header, const std::string& description);

// "2023-01-02 14时40分 075583765566 留言.mp3": start time, phone number and mode. Characters a
// file name cannot hold here or on the systems the file is shared with (/ \ : * ? " < > | and
// control characters) become "_"; an empty phone number is left out.
std::string SuggestedCallFileName(const RecordingHeader& header, CallFormat format);
