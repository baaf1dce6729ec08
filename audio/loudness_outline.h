#pragma once

#include "audio/riff_file.h"
#include "platform/background_job.h"

#include <QObject>
#include <QString>

#include <atomic>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The loudness outline of a recording: the largest sample magnitude (0 to 32768) of each of
// kOutlinePoints equal spans of its decoded samples, fine enough for a slider of any width.
inline constexpr std::size_t kOutlinePoints = 2048;
using Outline = std::vector<std::uint16_t>;

Outline PeakOutline(const LoadedWave& wave, std::size_t points = kOutlinePoints);
// The same outline of the recording at path, decoded run by run: the sound is never held whole,
// which makes this much quicker than decoding the recording into memory first. Once stop is set,
// the decoding ends at the next run of blocks and the outline fails.
Result<Outline> OutlineOfRecording(const std::string& path, std::size_t points = kOutlinePoints,
                                   const std::atomic<bool>* stop = nullptr);
// The same over a descriptor the caller keeps open (see OpenRegularFile(int)).
Result<Outline> OutlineOfRecording(int fd, std::size_t points = kOutlinePoints,
                                   const std::atomic<bool>* stop = nullptr);
// The outline drawn in columns: each column the largest of the points it covers.
Outline OutlineColumns(const Outline& outline, int columns);

// The outlines of the recordings a window shows, each computed once in a worker and kept for
// its recording (a file changed since is computed again). One computation at a time: a
// request for another recording replaces the one going on.
class LoudnessOutlines : public QObject {
    Q_OBJECT

public:
    explicit LoudnessOutlines(QObject* parent = nullptr);
    ~LoudnessOutlines() override;

    // The recording's outline when it is known; otherwise nothing, and the computation starts
    // (outlineReady follows). A recording that cannot be decoded has an empty outline.
    std::shared_ptr<const Outline> Find(const std::string& path);

signals:
    void outlineReady(const QString& path);

private:
    struct Key {
        std::string path;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        auto operator<=>(const Key&) const = default;
    };
    void Keep(const Key& key, std::shared_ptr<const Outline> outline);

    std::map<Key, std::shared_ptr<const Outline>> known_;
    Key pending_;
    BackgroundJob job_;
};
