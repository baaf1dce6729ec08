#include "support/audio_files.h"

#include "audio/wave_player.h"
#include "platform/byte_order.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string U16(std::uint32_t value)
{
    unsigned char bytes[2];
    WriteLe16(bytes, static_cast<std::uint16_t>(value));
    return std::string(bytes, bytes + 2);
}

std::string U32(std::uint32_t value)
{
    unsigned char bytes[4];
    WriteLe32(bytes, value);
    return std::string(bytes, bytes + 4);
}

const unsigned char* BytesAt(const std::string& bytes, std::size_t at)
{
    return reinterpret_cast<const unsigned char*>(bytes.data() + at);
}

} // namespace

std::string Chunk(const std::string& id, const std::string& body)
{
    return Chunk(id, static_cast<std::uint32_t>(body.size()), body);
}

std::string Chunk(const std::string& id, std::uint32_t declaredSize, const std::string& body)
{
    return id.substr(0, 4) + U32(declaredSize) + body;
}

std::string MakeWaveFile(const ImaFileSpec& layout, const std::string& data)
{
    return MakeWaveFile(layout, static_cast<std::uint32_t>(data.size()), data);
}

std::string MakeWaveFile(const ImaFileSpec& layout, std::uint32_t declaredDataBytes, const std::string& data)
{
    const std::uint32_t blockAlign = layout.formatTag == 1
                                         ? layout.channels * layout.bitsPerSample / 8
                                         : ((layout.samplesPerBlock - 1) * layout.channels) / 2 + 4 * layout.channels;
    std::string format =
        U16(layout.formatTag) + U16(layout.channels) + U32(layout.samplesPerSecond)
        + U32(layout.samplesPerSecond * blockAlign / (layout.samplesPerBlock ? layout.samplesPerBlock : 1))
        + U16(blockAlign) + U16(layout.bitsPerSample) + U16(2) + U16(layout.samplesPerBlock);
    format.resize(layout.formatBodyBytes, '\0');
    const std::string body = layout.formType.substr(0, 4) + layout.chunksBeforeFormat + Chunk("fmt ", format)
                             + layout.chunksBeforeData + Chunk("data", declaredDataBytes, data);
    return "RIFF" + U32(static_cast<std::uint32_t>(body.size())) + body;
}

std::vector<std::int16_t> SamplesOf(const std::string& bytes)
{
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(U16At(bytes, 2 * i));
    return samples;
}

std::uint16_t U16At(const std::string& bytes, std::size_t at)
{
    return ReadLe16(BytesAt(bytes, at));
}

std::uint32_t U32At(const std::string& bytes, std::size_t at)
{
    return ReadLe32(BytesAt(bytes, at));
}

std::FILE* OpenBrokenSource(BrokenSource& source)
{
    cookie_io_functions_t calls{};
    calls.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
        auto& source = *static_cast<BrokenSource*>(cookie);
        if (source.position >= source.end) {
            if (!source.fails)
                return 0;
            errno = EIO;
            return -1;
        }
        const std::size_t count = std::min(size, source.end - source.position);
        std::memcpy(buffer, source.bytes->data() + source.position, count);
        source.position += count;
        return static_cast<ssize_t>(count);
    };
    calls.seek = [](void* cookie, off64_t* offset, int whence) -> int {
        auto& source = *static_cast<BrokenSource*>(cookie);
        const off64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? static_cast<off64_t>(source.position)
                                                  : static_cast<off64_t>(source.bytes->size());
        if (base + *offset < 0)
            return -1;
        source.position = static_cast<std::size_t>(base + *offset);
        *offset = base + *offset;
        return 0;
    };
    return ::fopencookie(&source, "rb", calls);
}

void PlayerReports::Listen(WavePlayerSlot& slot)
{
    QObject::connect(&slot, &WavePlayerSlot::progress,
                     [this](int percent) { Record("progress " + std::to_string(percent)); });
    QObject::connect(&slot, &WavePlayerSlot::sliderDisabled, [this] { Record("slider off"); });
    QObject::connect(&slot, &WavePlayerSlot::playDisabled, [this] { Record("play off"); });
    QObject::connect(&slot, &WavePlayerSlot::finished, [this] { Record("finished"); });
}

void PlayerReports::Record(std::string event)
{
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    changed_.notify_all();
}

std::vector<std::string> PlayerReports::Events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

long PlayerReports::Count(const std::string& text) const
{
    std::lock_guard lock(mutex_);
    return std::count_if(events_.begin(), events_.end(),
                         [&](const std::string& event) { return event.starts_with(text); });
}

void PlayerReports::Clear()
{
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool PlayerReports::WaitForFinished(std::chrono::milliseconds safetyLimit) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, safetyLimit,
                             [this] { return std::find(events_.begin(), events_.end(), "finished") != events_.end(); });
}

std::string ChunkBody(const std::string& file, const std::string& id)
{
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = U32At(file, at + 4);
        if (file.compare(at, 4, id) == 0)
            return file.substr(at + 8, size);
        at += 8 + static_cast<std::size_t>(size) + (size & 1);
    }
    return {};
}

std::vector<std::int16_t> ReadWaveSamples(const std::string& path)
{
    return SamplesOf(ChunkBody(TempFolder::Read(path), "data"));
}

int SpawnProgram(const std::vector<std::string>& argv, const std::string& outputPath, const std::string& errorPath)
{
    if (argv.empty())
        return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

bool RunProgram(const std::vector<std::string>& argv)
{
    const int pid = SpawnProgram(argv, "/dev/null", "/dev/null");
    if (pid < 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HaveProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        if (::access((folders.substr(start, end - start) + "/" + name).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}
