#include "audio/loudness_outline.h"

#include "audio/adpcm_converter.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

// Outlines are small (4 KiB); past this many recordings the oldest computations are dropped.
constexpr std::size_t kKeptOutlines = 256;

// The largest magnitude of count little-endian samples: the extremes first, in a loop the
// compiler can keep in registers, then the larger of the two.
int PeakOf(const unsigned char* bytes, std::size_t count)
{
    int lowest = 0;
    int highest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int value = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    return std::max(highest, -lowest);
}

// The largest magnitude of count samples. The extremes are kept eight lanes at a time in
// vector registers (GCC's vector extension): left to itself at -O2 the compiler keeps this
// loop scalar, and it took a third of the outline's time.
int PeakOfValues(const std::int16_t* values, std::size_t count)
{
    using Lanes = std::int16_t __attribute__((vector_size(16)));
    constexpr std::size_t kLanes = sizeof(Lanes) / sizeof(std::int16_t);
    Lanes lowest = {};
    Lanes highest = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        Lanes next;
        std::memcpy(&next, values + i, sizeof next);
        lowest = next < lowest ? next : lowest;
        highest = next > highest ? next : highest;
    }
    int low = 0;
    int high = 0;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        low = std::min<int>(low, lowest[lane]);
        high = std::max<int>(high, highest[lane]);
    }
    for (; i < count; ++i) {
        low = std::min<int>(low, values[i]);
        high = std::max<int>(high, values[i]);
    }
    return std::max(high, -low);
}

// The outline of a recording opened by the caller, decoded run by run.
Result<Outline> OutlineOfOpened(Result<OpenedFile> input, std::size_t points, const std::atomic<bool>* stop)
{
    Outline outline;
    std::uint64_t total = 0;
    std::uint64_t seen = 0;
    std::size_t point = 0;
    // Point p covers the values from total * p / points up to total * (p + 1) / points, as in PeakOutline.
    const auto spanEnd = [&] { return point + 1 < points ? total * (point + 1) / points : total; };
    const auto begin = [&](std::uint64_t values) {
        total = values;
        outline.assign(values == 0 ? 0 : points, 0);
    };
    const auto take = [&](std::int16_t* values, std::size_t count) -> Result<void> {
        if (stop && stop->load())
            return Failure{"the outline was no longer wanted"};
        std::size_t done = 0;
        while (done < count) {
            while (seen >= spanEnd() && point + 1 < points)
                ++point;
            const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, spanEnd() - seen));
            const int peak = PeakOfValues(values + done, part);
            outline[point] = static_cast<std::uint16_t>(std::max<int>(outline[point], peak));
            done += part;
            seen += part;
        }
        return {};
    };
    if (Result<void> decoded = DecodeRecordingRuns(std::move(input), begin, take); !decoded)
        return decoded.error();
    return outline;
}

} // namespace

Result<Outline> OutlineOfRecording(const std::string& path, std::size_t points, const std::atomic<bool>* stop)
{
    return OutlineOfOpened(OpenRegularFile(path), points, stop);
}

Result<Outline> OutlineOfRecording(int fd, std::size_t points, const std::atomic<bool>* stop)
{
    return OutlineOfOpened(OpenRegularFile(fd), points, stop);
}

Outline PeakOutline(const LoadedWave& wave, std::size_t points)
{
    const std::size_t samples = wave.data.size() / 2;
    Outline outline(samples == 0 ? 0 : points, 0);
    for (std::size_t point = 0; point < outline.size(); ++point) {
        const std::size_t begin = samples * point / points;
        const std::size_t end = samples * (point + 1) / points;
        outline[point] = static_cast<std::uint16_t>(PeakOf(wave.data.data() + 2 * begin, end - begin));
    }
    return outline;
}

Outline OutlineColumns(const Outline& outline, int columns)
{
    Outline drawn(outline.empty() ? 0 : std::max(columns, 0), 0);
    const std::size_t count = drawn.size();
    for (std::size_t column = 0; column < count; ++column) {
        const std::size_t begin = outline.size() * column / count;
        const std::size_t end = std::max(begin + 1, outline.size() * (column + 1) / count);
        drawn[column] = *std::max_element(outline.begin() + begin, outline.begin() + end);
    }
    return drawn;
}

LoudnessOutlines::LoudnessOutlines(QObject* parent) : QObject(parent)
{
}

LoudnessOutlines::~LoudnessOutlines() = default;

std::shared_ptr<const Outline> LoudnessOutlines::Find(const std::string& path)
{
    std::error_code error;
    Key key{path, std::filesystem::file_size(path, error), {}};
    if (!error)
        key.modified = std::filesystem::last_write_time(path, error);
    if (error)
        return nullptr;
    if (const auto known = known_.find(key); known != known_.end())
        return known->second;
    if (key == pending_ && job_.running())
        return nullptr;
    pending_ = key;
    job_.Start([this, key](const std::atomic<bool>& stopRequested) {
        const Result<Outline> computed = OutlineOfRecording(key.path, kOutlinePoints, &stopRequested);
        if (stopRequested.load())
            return;
        auto outline = std::make_shared<const Outline>(computed ? *computed : Outline{});
        QMetaObject::invokeMethod(this, [this, key, outline] { Keep(key, outline); }, Qt::QueuedConnection);
    });
    return nullptr;
}

void LoudnessOutlines::Keep(const Key& key, std::shared_ptr<const Outline> outline)
{
    if (known_.size() >= kKeptOutlines)
        known_.clear();
    known_[key] = std::move(outline);
    emit outlineReady(QString::fromStdString(key.path));
}
