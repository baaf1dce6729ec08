#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Realistic recorder files for trying the program without a recorder, and for tests and
// benchmarks: a RIFF WAVE file with an IMA ADPCM "fmt " chunk, a 23-byte recorder record at
// file offset 256 inside a chunk the audio converter skips, and a "data" chunk of valid
// IMA ADPCM blocks (mono, 8000 Hz, 256-byte blocks of 505 samples).

struct SampleSpec {
    char mode = 'Z';
    std::string phone;            // GB18030 bytes, at most 17 are stored
    int year = 14, month = 3, day = 5, hour = 9, minute = 7; // stored as single bytes
    std::uint32_t dataBytes = 3500 * 10; // size of the "data" body (whole blocks or not)
    std::uint32_t seed = 1;       // varies the synthetic audio
};

// The whole file image of one recording.
std::vector<unsigned char> MakeSampleRecording(const SampleSpec& sample);

// Encodes 16-bit mono samples as IMA ADPCM blocks of blockBytes (header + nibbles).
std::vector<unsigned char> EncodeImaAdpcm(const std::vector<std::int16_t>& samples, int blockBytes = 256);

// Synthetic speech-like audio: a few voiced tones with a syllable envelope.
std::vector<std::int16_t> MakeSampleAudio(std::uint32_t sampleCount, std::uint32_t seed);

// The sample of the index-th file of a realistic card: varied modes, phone numbers
// and start times; index 0 is the first file.
SampleSpec SampleSpecFor(std::uint32_t index, std::uint32_t dataBytes);

// Writes count recordings VOC00001.WAV ... into dir (created when missing).
// Returns false when a file cannot be written.
bool WriteSampleFolder(const std::string& dir, std::uint32_t count, std::uint32_t dataBytes = 3500 * 10,
                       std::uint32_t firstNumber = 1);
// Writes one recording; false when the file cannot be written.
bool WriteSampleFile(const std::string& path, const SampleSpec& sample);
