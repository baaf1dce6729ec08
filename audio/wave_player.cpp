#include "audio/wave_player.h"

#include "audio/adpcm_converter.h"
#include "audio/riff_file.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>

namespace {

constexpr std::uint32_t kRiffHeaderBytes = 12;

// Refills every buffer the output has handed back; true once the data has ended.
bool RefillReturnedBuffers(WavePlayer& player)
{
    for (int k = 0; k < kWaveBufferCount; ++k) {
        if (player.headers[k].done.load()) {
            const bool end = FillBuffer(player, k);
            player.device->Write(player.headers[k]);
            if (end)
                return true;
        }
    }
    return false;
}

bool AllBuffersReturned(const WavePlayer& player)
{
    return std::all_of(player.headers.begin(), player.headers.end(),
                       [](const WaveBuffer& header) { return header.done.load(); });
}

// After the data has ended, the queued audio (up to four seconds) plays out before the reset.
// There is no time limit: an output that stops handing buffers back stalls the playback
// here as it would in the middle, and a stop ends the wait in both places.
void WaitForQueuedAudio(WavePlayer& player)
{
    while (!player.stop.load() && !AllBuffersReturned(player))
        player.wake.Wait();
}

} // namespace

void AutoResetEvent::Set()
{
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    signalled_.notify_one();
}

void AutoResetEvent::Wait()
{
    std::unique_lock lock(mutex_);
    ++waiters_;
    signalled_.wait(lock, [this] { return set_; });
    --waiters_;
    set_ = false;
}

bool AutoResetEvent::HasWaiter() const
{
    std::lock_guard lock(mutex_);
    return waiters_ > 0 && !set_;
}

Result<LoadedWave> LoadWaveStream(std::FILE* stream, std::uint64_t fileSize)
{
    unsigned char riff[kRiffHeaderBytes];
    unsigned char chunk[8];
    if (std::fread(riff, 1, sizeof riff, stream) != sizeof riff
        || std::fread(chunk, 1, sizeof chunk, stream) != sizeof chunk)
        return Failure{"the file ends before its format chunk"};
    // The first chunk is taken as the format whatever its id; it must hold the PCM fields.
    const std::uint32_t formatSize = ReadLe32(chunk + 4);
    unsigned char fields[kFormatFieldBytes];
    if (formatSize < kFormatFieldBytes || std::fread(fields, 1, sizeof fields, stream) != sizeof fields
        || !SkipForward(stream, formatSize - kFormatFieldBytes))
        return Failure{"the format chunk is cut short"};
    const std::optional<std::uint32_t> claimed = FindChunk(stream, "data");
    if (!claimed)
        return Failure{"no \"data\" chunk"};

    LoadedWave wave;
    wave.format = ParseWaveFormat(fields);
    try {
        wave.data.resize(
            static_cast<std::size_t>(std::min(std::uint64_t{*claimed}, BytesAfterPosition(stream, fileSize))));
    } catch (const std::bad_alloc&) {
        return Failure{"not enough memory for the wave data"};
    }
    // A file that shrank since its size was taken stops short: the bytes it lacks stay silent.
    if (std::fread(wave.data.data(), 1, wave.data.size(), stream) < wave.data.size() && std::ferror(stream))
        return Failure{std::string("the wave data cannot be read: ") + std::strerror(errno), errno};
    return wave;
}

Result<LoadedWave> LoadWaveFile(const std::string& path)
{
    const Result<OpenedFile> file = OpenRegularFile(path);
    if (!file)
        return file.error();
    Result<LoadedWave> wave = LoadWaveStream(file->stream.get(), file->size);
    if (!wave)
        return Failure{"cannot load " + path + ": " + wave.error().reason, wave.error().error, path};
    return wave;
}

WavePlayerSlot::WavePlayerSlot(WaveOutFactory makeDevice, QObject* parent)
    : QObject(parent), makeDevice_(std::move(makeDevice))
{
}

WavePlayerSlot::~WavePlayerSlot()
{
    setQuiet(true);
    WaveClose(*this);
}

void WavePlayerSlot::setQuiet(bool quiet)
{
    std::unique_lock lock(emitting_);
    quiet_.store(quiet);
}

void WavePlayerSlot::ReportProgress(std::uint32_t played, std::uint32_t total)
{
    std::shared_lock lock(emitting_);
    if (quiet_.load())
        return;
    emit progress(WavePercent(played, total));
    const std::int64_t left = std::int64_t{total} - std::int64_t{played};
    if (left < kSliderCutoffBytes)
        emit sliderDisabled();
    if (left < kPlayCutoffBytes)
        emit playDisabled();
}

void WavePlayerSlot::ReportStarted()
{
    std::shared_lock lock(emitting_);
    if (!quiet_.load())
        emit started();
}

void WavePlayerSlot::ReportFinished()
{
    std::shared_lock lock(emitting_);
    if (!quiet_.load())
        emit finished();
}

SoundSource MemorySource(std::vector<unsigned char> data)
{
    SoundSource source;
    source.size = static_cast<std::uint32_t>(data.size());
    source.read = [data = std::move(data)](std::uint32_t offset, unsigned char* out, std::size_t count) {
        const std::size_t copied =
            std::min<std::size_t>(count, data.size() - std::min<std::size_t>(offset, data.size()));
        std::memcpy(out, data.data() + offset, copied);
        return copied;
    };
    return source;
}

Result<void> WavePlayerSlot::Open(const std::string& path, bool startPaused, std::optional<int> percent)
{
    CloseReplaced();
    Result<LoadedWave> wave = LoadWaveFile(path);
    if (!wave)
        return wave.error();
    std::unique_ptr<WavePlayer> player(new (std::nothrow) WavePlayer);
    if (!player)
        return Failure{"not enough memory for the player"};
    player->source = MemorySource(std::move(wave->data));
    player->dataSize = player->source.size;
    player->dataEnd = player->dataSize;
    player->position = percent ? WaveStartOffset(player->dataSize, *percent) : 0;
    player->playedBytes.store(player->position);
    return Open(std::move(player), wave->format, startPaused);
}

void WavePlayerSlot::CloseReplaced()
{
    if (player_) {
        player_->reportTo.store(nullptr); // the end of the old playback would pass for the new one's
        WaveClose(*this);
    }
}

Result<void> WavePlayerSlot::Open(std::unique_ptr<WavePlayer> player, const WaveFormat& format, bool startPaused)
{
    setQuiet(false);
    player->format = format;
    player->reportTo.store(this);
    player->device = makeDevice_ ? makeDevice_() : nullptr;
    if (!player->device)
        return Failure{"cannot open the sound output: there is none"};
    WavePlayer* raw = player.get();
    if (Result<void> opened = player->device->Open(player->format, [raw](WaveBuffer&) { WaveOutDone(*raw); }); !opened)
        return Failure{"cannot open the sound output: " + opened.error().reason, opened.error().error};
    if (startPaused)
        player->device->Pause();
    try {
        player->worker = std::thread(WaveWorker, std::ref(*raw));
    } catch (const std::system_error& error) {
        player->device->Close();
        return Failure{std::string("cannot start the player: ") + error.what(), error.code().value()};
    }
    player_ = std::move(player);
    return {};
}

std::uint32_t WaveStartOffset(std::uint32_t dataSize, int percent)
{
    const auto share = static_cast<std::uint64_t>(std::clamp(percent, 0, 100));
    return static_cast<std::uint32_t>(std::uint64_t{dataSize} * share / 100 / kStartOffsetStep * kStartOffsetStep);
}

int WavePercent(std::uint32_t played, std::uint32_t total)
{
    if (total == 0)
        return 0;
    return static_cast<int>(std::min<std::uint64_t>(std::uint64_t{played} * 100 / total, INT_MAX));
}

Result<void> WaveOpen(WavePlayerSlot& slot, const std::string& path, bool startPaused)
{
    return slot.Open(path, startPaused, std::nullopt);
}

Result<void> WaveOpenAt(WavePlayerSlot& slot, const std::string& path, bool startPaused, int percent)
{
    return slot.Open(path, startPaused, percent);
}

Result<void> WaveOpenRecording(WavePlayerSlot& slot, const std::string& path, int percent)
{
    slot.CloseReplaced();
    std::unique_ptr<WavePlayer> player(new (std::nothrow) WavePlayer);
    if (!player)
        return Failure{"not enough memory for the player"};
    player->startPercent = percent;
    player->openSource = [path]() -> Result<SoundSource> {
        Result<RecordingDecoder> opened = RecordingDecoder::Open(path);
        if (!opened)
            return opened.error();
        auto decoder = std::make_shared<RecordingDecoder>(std::move(*opened));
        SoundSource source;
        source.size = decoder->OutputBytes();
        source.read = [decoder](std::uint32_t offset, unsigned char* out, std::size_t count) {
            return decoder->DecodeBytes(offset, out, count);
        };
        return source;
    };
    return slot.Open(std::move(player), RecordingDecoder::OutputFormat(), false);
}

void WaveSetPaused(WavePlayerSlot& slot, bool paused)
{
    WavePlayer* player = slot.player_.get();
    if (!player)
        return;
    if (paused)
        player->device->Pause();
    else
        player->device->Restart();
}

void WaveRequestStop(WavePlayerSlot& slot)
{
    WavePlayer* player = slot.player_.get();
    if (!player)
        return;
    player->stop.store(true);
    // A paused output hands no buffer back, and the end of the data may be waiting for the
    // last ones: the worker must not wait for a buffer to see the flag.
    player->wake.Set();
}

void WaveClose(WavePlayerSlot& slot)
{
    WavePlayer* player = slot.player_.get();
    if (!player)
        return;
    if (player->worker.joinable()) {
        WaveRequestStop(slot);
        player->worker.join();
    }
    player->device->Close();
    slot.player_.reset();
}

bool FillBuffer(WavePlayer& player, int k)
{
    WaveBuffer& header = player.headers[k];
    unsigned char* buffer = player.buffers[k].data();
    header.done.store(false);
    header.data = buffer;
    const std::uint32_t wanted = std::min(player.dataEnd - player.position, kWaveBufferBytes);
    const auto got = static_cast<std::uint32_t>(wanted > 0 ? player.source.read(player.position, buffer, wanted) : 0);
    header.length = got;
    player.position += got;
    if (got == kWaveBufferBytes)
        return false;
    // The tail goes out in this fill (the data ends here, or the source can give no more); only
    // the fill after it finds nothing and ends the data.
    player.dataEnd = player.position;
    return got == 0;
}

void PrimeBuffers(WavePlayer& player)
{
    for (int k = 0; k < kWaveBufferCount; ++k) {
        player.headers[k].length = kWaveBufferBytes;
        player.headers[k].data = player.buffers[k].data();
        FillBuffer(player, k);
        player.device->Write(player.headers[k]);
    }
}

namespace {

// Opens the recording the player was given; false, with the refusal noted, when it cannot.
bool OpenSource(WavePlayer& player)
{
    Result<SoundSource> source = player.openSource();
    if (!source) {
        player.refusal = source.error();
        return false;
    }
    player.source = std::move(*source);
    player.dataSize = player.source.size;
    player.dataEnd = player.dataSize;
    player.position = WaveStartOffset(player.dataSize, player.startPercent);
    player.playedBytes.store(player.position);
    return true;
}

} // namespace

void WaveWorker(WavePlayer& player)
{
    if (player.openSource && !OpenSource(player)) {
        player.ended.store(true);
        if (WavePlayerSlot* slot = player.reportTo.load())
            slot->ReportFinished();
        return;
    }
    PrimeBuffers(player);
    player.started.store(true);
    if (WavePlayerSlot* slot = player.reportTo.load())
        slot->ReportStarted();
    bool end = false;
    while (!player.stop.load() && !end) {
        player.wake.Wait();
        end = RefillReturnedBuffers(player);
    }
    if (end)
        WaitForQueuedAudio(player);
    player.device->Reset();
    player.ended.store(true);
    if (WavePlayerSlot* slot = player.reportTo.load())
        slot->ReportFinished();
}

void WaveOutDone(WavePlayer& player)
{
    player.wake.Set();
    // Every returned buffer counts as a full one, the empty and the partial ones included.
    const std::uint32_t played = player.playedBytes.fetch_add(kWaveBufferBytes) + kWaveBufferBytes;
    if (WavePlayerSlot* slot = player.reportTo.load())
        slot->ReportProgress(played, player.dataSize);
}
