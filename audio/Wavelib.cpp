#include "audio/Wavelib.h"

#include "audio/Adpcm.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

std::atomic<std::uint32_t> WaveTotalBytes{0};
std::atomic<std::uint32_t> WavePlayedBytes{0};
std::atomic<bool> WaveQuiet{false};

namespace {

constexpr std::uint32_t kRiffHeaderBytes = 12;
constexpr std::uint32_t kFormatFieldBytes = 16;

std::uint16_t ReadU16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadU32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(ReadU16(bytes)) | (static_cast<std::uint32_t>(ReadU16(bytes + 2)) << 16);
}

// Hands one notification to the listener's thread. WaveQuiet is looked at again on arrival,
// so that nothing queued before the owner went quiet reaches it afterwards.
void Notify(WavePlayer& player, std::function<void(WaveListener&)> notification)
{
    WaveListener* listener = player.listener.load();
    if (!listener || WaveQuiet.load())
        return;
    listener->PostToOwnThread([listener, notification = std::move(notification)] {
        if (!WaveQuiet.load())
            notification(*listener);
    });
}

void OpenPlayer(WavePlayerSlot& slot, const std::string& path, bool startPaused, std::optional<int> percent)
{
    // A player still in the slot is closed first, and its end is not reported: the listener
    // would take it for the end of the new playback.
    if (slot.player) {
        slot.player->listener.store(nullptr);
        WaveClose(slot);
    }
    std::unique_ptr<WavePlayer> player(new (std::nothrow) WavePlayer);
    if (!player)
        return;
    player->paused.store(startPaused);
    WaveQuiet.store(false);

    std::optional<LoadedWave> wave = LoadWaveFile(path);
    if (!wave)
        return;
    player->format = wave->format;
    player->data = std::move(wave->data);
    player->dataSize = static_cast<std::uint32_t>(player->data.size());
    player->position = percent ? WaveStartOffset(player->dataSize, *percent) : 0;
    WaveTotalBytes.store(player->dataSize);
    WavePlayedBytes.store(player->position);
    player->listener.store(slot.listener);
    player->sleep = slot.sleep;

    player->device = slot.makeDevice ? slot.makeDevice() : nullptr;
    WavePlayer* raw = player.get();
    if (!player->device || !player->device->Open(player->format, [raw](WaveBuffer&) { WaveOutDone(*raw); }))
        return;
    if (startPaused)
        player->device->Pause();
    try {
        player->worker = std::thread(WaveWorker, std::ref(*raw));
    } catch (const std::system_error&) {
        player->device->Close();
        return;
    }
    slot.player = std::move(player);
}

} // namespace

void SleepForReal(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

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
    signalled_.wait(lock, [this] { return set_; });
    set_ = false;
}

std::optional<LoadedWave> LoadWaveStream(std::FILE* stream, std::uint64_t fileSize)
{
    unsigned char riff[kRiffHeaderBytes];
    unsigned char chunk[8];
    if (std::fread(riff, 1, sizeof riff, stream) != sizeof riff || std::fread(chunk, 1, sizeof chunk, stream) != sizeof chunk)
        return std::nullopt;
    // The first chunk is taken as the format whatever its id; it must hold the PCM fields.
    const std::uint32_t formatSize = ReadU32(chunk + 4);
    unsigned char fields[kFormatFieldBytes];
    if (formatSize < kFormatFieldBytes || std::fread(fields, 1, sizeof fields, stream) != sizeof fields)
        return std::nullopt;
    const std::uint32_t rest = formatSize - kFormatFieldBytes;
    if (rest > 0 && ::fseeko(stream, static_cast<off_t>(rest), SEEK_CUR) != 0)
        return std::nullopt;
    const std::optional<std::uint32_t> claimed = FindChunk(stream, "data");
    if (!claimed)
        return std::nullopt;

    LoadedWave wave;
    wave.format.formatTag = ReadU16(fields);
    wave.format.channels = ReadU16(fields + 2);
    wave.format.samplesPerSecond = ReadU32(fields + 4);
    wave.format.averageBytesPerSecond = ReadU32(fields + 8);
    wave.format.blockAlign = ReadU16(fields + 12);
    wave.format.bitsPerSample = ReadU16(fields + 14);
    wave.format.extraSize = 0;

    const off_t dataStart = ::ftello(stream);
    const std::uint64_t available =
        dataStart >= 0 && fileSize > static_cast<std::uint64_t>(dataStart) ? fileSize - dataStart : 0;
    try {
        wave.data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(*claimed, available)));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    // Bytes the file stops short of stay silent.
    std::fread(wave.data.data(), 1, wave.data.size(), stream);
    return wave;
}

std::optional<LoadedWave> LoadWaveFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::FILE* stream = nullptr;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !(stream = ::fdopen(fd, "rb"))) {
        ::close(fd);
        return std::nullopt;
    }
    std::optional<LoadedWave> wave = LoadWaveStream(stream, static_cast<std::uint64_t>(info.st_size));
    std::fclose(stream);
    return wave;
}

WavePlayerSlot::WavePlayerSlot(WaveListener* listener, WaveOutFactory makeDevice, WaveSleeper sleep)
    : listener(listener), makeDevice(std::move(makeDevice)), sleep(std::move(sleep))
{
}

WavePlayerSlot::~WavePlayerSlot()
{
    WaveClose(*this);
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

void WaveOpen(WavePlayerSlot& slot, const std::string& path, bool startPaused)
{
    OpenPlayer(slot, path, startPaused, std::nullopt);
}

void WaveOpenAt(WavePlayerSlot& slot, const std::string& path, bool startPaused, int percent)
{
    OpenPlayer(slot, path, startPaused, percent);
}

void WaveSetPaused(WavePlayerSlot& slot, bool paused)
{
    WavePlayer* player = slot.player.get();
    if (!player)
        return;
    player->paused.store(paused);
    if (paused)
        player->device->Pause();
    else
        player->device->Restart();
}

void WaveRequestStop(WavePlayerSlot& slot)
{
    WavePlayer* player = slot.player.get();
    if (!player)
        return;
    player->stop.store(true);
    // A paused output returns no buffers, so the worker would never look at the flag.
    if (player->paused.load())
        player->wake.Set();
}

void WaveClose(WavePlayerSlot& slot)
{
    WavePlayer* player = slot.player.get();
    if (!player)
        return;
    if (player->worker.joinable()) {
        player->stop.store(true);
        player->wake.Set();
        player->worker.join();
    }
    if (player->device)
        player->device->Close();
    slot.player.reset();
}

bool FillBuffer(WavePlayer& player, int k)
{
    WaveBuffer& header = player.headers[k];
    unsigned char* buffer = player.buffers[k].data();
    header.done.store(false);
    header.data = buffer;
    const std::uint32_t remaining = player.dataSize - player.position;
    if (remaining >= kWaveBufferBytes) {
        std::memcpy(buffer, player.data.data() + player.position, kWaveBufferBytes);
        player.position += kWaveBufferBytes;
        header.length = kWaveBufferBytes;
        return false;
    }
    // The tail goes out in this fill; only the fill after it finds nothing and ends the data.
    if (remaining > 0)
        std::memcpy(buffer, player.data.data() + (player.dataSize - remaining), remaining);
    header.length = remaining;
    player.position = player.dataSize;
    return remaining == 0;
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

void WaveWorker(WavePlayer& player)
{
    PrimeBuffers(player);
    bool end = false;
    while (!player.stop.load() && !end) {
        player.wake.Wait();
        for (int k = 0; k < kWaveBufferCount && !end; ++k) {
            if (player.headers[k].done.load()) {
                end = FillBuffer(player, k);
                player.device->Write(player.headers[k]);
            }
        }
    }
    // Up to four seconds are still queued; whatever has not sounded after the wait is dropped.
    if (end && player.sleep)
        player.sleep(kEndOfDataWait);
    player.device->Reset();
    Notify(player, &WaveListener::OnWaveFinished);
}

void WaveOutDone(WavePlayer& player)
{
    player.wake.Set();
    // Every returned buffer counts as a full one, the empty and the partial ones included.
    const std::uint32_t played = WavePlayedBytes.fetch_add(kWaveBufferBytes) + kWaveBufferBytes;
    if (WaveQuiet.load())
        return;
    const std::uint32_t total = WaveTotalBytes.load();
    const int percent = WavePercent(played, total);
    Notify(player, [percent](WaveListener& listener) { listener.OnWaveProgress(percent); });
    const std::int64_t left = std::int64_t{total} - std::int64_t{played};
    if (left < kSliderCutoffBytes)
        Notify(player, &WaveListener::OnWaveDisableSlider);
    if (left < kPlayCutoffBytes)
        Notify(player, &WaveListener::OnWaveDisablePlay);
}
