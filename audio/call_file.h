#pragma once

#include "audio/riff_file.h"
#include "platform/result.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

// Saving a decoded recording as a file other programs play: WAV (16-bit PCM), FLAC, MP3 or
// Opus in Ogg, written through libsndfile with the call's details as tags. The file is written
// beside its target under a temporary name and renamed over it only when complete, so that a
// full disk, a read-only folder or a stop leaves no partial file and an existing file as it was.

enum class CallFormat { Wav, Flac, Mp3, Opus };

// The format a file name's extension asks for (".wav", ".flac", ".mp3", ".opus", or ".ogg" for
// Opus in Ogg; any letter case); nothing for any other name.
std::optional<CallFormat> CallFormatOfPath(std::string_view path);
// "wav", "flac", "mp3" or "opus".
std::string_view CallFormatExtension(CallFormat format);

// The details a saved call carries; empty texts are left out.
struct CallTags {
    std::string title;
    std::string comment;
    std::string genre;
    std::string album;
    std::string date;

    bool empty() const { return title.empty() && comment.empty() && genre.empty() && album.empty() && date.empty(); }
};

// Writes the 16-bit PCM of wave to outputPath in format with tags. stopRequested, when given,
// is looked at between runs of samples: a stop fails with the reason "stopped" and leaves nothing.
// Every failure names outputPath as its path, with the errno of the failing call when there is one.
Result<void> WriteCallFile(const LoadedWave& wave, CallFormat format, const CallTags& tags,
                           const std::string& outputPath, const std::atomic<bool>* stopRequested = nullptr);

// Decodes the recording at recordingPath and writes it as WriteCallFile does. A recording that
// cannot be read or decoded fails with the decoder's reason and recordingPath as its path.
Result<void> SaveRecordingAs(const std::string& recordingPath, CallFormat format, const CallTags& tags,
                             const std::string& outputPath, const std::atomic<bool>* stopRequested = nullptr);
// The same from a descriptor the caller keeps open (see OpenRegularFile(int)).
Result<void> SaveRecordingAs(int recordingFd, CallFormat format, const CallTags& tags, const std::string& outputPath,
                             const std::atomic<bool>* stopRequested = nullptr);
