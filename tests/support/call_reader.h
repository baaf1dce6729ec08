#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Reads a saved call back with ffprobe and ffmpeg: readers that share no code with libsndfile,
// which writes the calls.
struct CallReadBack {
    std::string error; // empty when the file was read
    int sampleRate = 0; // as the stream declares it (Opus always decodes at 48000)
    int channels = 0;
    std::map<std::string, std::string> tags;  // keys in lower case, format and stream tags together
    std::vector<std::int16_t> samples;        // decoded to 16-bit mono at 8000 samples a second
};

CallReadBack ReadCallBack(const std::string& path);
