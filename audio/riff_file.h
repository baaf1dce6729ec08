#pragma once

#include "platform/result.h"
#include "platform/wave_out.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Reading RIFF files, the recorder's recordings and the player's wave files alike: opening
// them without letting a special file hang the program, and walking their chunks, whose sizes
// are never trusted.

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

struct OpenedFile {
    FileStream stream;
    std::uint64_t size = 0; // the file's size when it was opened
};

// Opens a regular file for reading. The open does not block, so that a FIFO at path cannot
// hang it; anything but a regular file is refused.
Result<OpenedFile> OpenRegularFile(const std::string& path);
// The same over a descriptor already open (the caller keeps it), read from its start. The stream
// shares the descriptor's file position: one reader at a time, each placing itself before it reads.
Result<OpenedFile> OpenRegularFile(int fd);

// Starting at the stream's position, skips chunks (by exactly their body size, no pad byte)
// until one whose id matches; returns its body size with the stream at the body's start,
// or nothing when fewer than 8 bytes remain or a skip cannot be made.
std::optional<std::uint32_t> FindChunk(std::FILE* stream, const char (&id)[5]);

// The fields every "fmt " body starts with: the 16 bytes at fields. extraSize stays 0.
inline constexpr std::uint32_t kFormatFieldBytes = 16;
WaveFormat ParseWaveFormat(const unsigned char* fields);

// Moves the stream forward by bytes; false when it cannot.
bool SkipForward(std::FILE* stream, std::uint32_t bytes);

// How many of a file's fileSize bytes lie after the stream's position.
std::uint64_t BytesAfterPosition(std::FILE* stream, std::uint64_t fileSize);

// A PCM wave held in memory: its format and the whole body of its "data" chunk.
struct LoadedWave {
    WaveFormat format;
    std::vector<unsigned char> data;
};
