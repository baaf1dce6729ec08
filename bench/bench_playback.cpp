// Playback of a one-hour recording (12.6 MB), one run each:
//  1. Player::play until the first buffer reaches the output, against `voctool convert` of the
//     same recording as a whole process (target: at most 0.1 times);
//  2. the same for a start at 75 % of the recording, as a seek restarts it (at most 0.1 times);
//  3. the peak memory a whole playback adds to the process, played through an output that hands
//     every buffer straight back (target: at most the recording's size plus 4 MB).
//
//   bench_playback [FOLDER]   (default: a fresh folder under /tmp, removed at the end)

#include "audio/player.h"
#include "platform/wave_out.h"
#include "bench/voctool_timing.h"
#include "tools/sample_maker.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kOneHourDataBytes = 12'600'000;
constexpr const char* kPlayThroughOption = "--play-through";

// A silent output that hands every buffer back as soon as it is written, from a thread of its
// own, and notes when the first one arrives.
class InstantOut : public WaveOut {
public:
    explicit InstantOut(std::atomic<Clock::rep>* firstWrite) : firstWrite_(firstWrite) {}
    ~InstantOut() override { Close(); }

    Result<void> Open(const WaveFormat& format, DoneCallback onDone) override
    {
        onDone_ = std::move(onDone);
        handing_ = std::thread([this] { HandBackWhatIsWritten(); });
        return CheckPlayableFormat(format);
    }
    void Write(WaveBuffer& buffer) override
    {
        Clock::rep unset = 0;
        if (firstWrite_)
            firstWrite_->compare_exchange_strong(unset, Clock::now().time_since_epoch().count());
        {
            const std::lock_guard lock(mutex_);
            queued_.push_back(&buffer);
        }
        written_.notify_one();
    }
    void Pause() override {}
    void Restart() override {}
    void Reset() override
    {
        const std::lock_guard handing(handingBack_);
        std::deque<WaveBuffer*> returned;
        {
            const std::lock_guard lock(mutex_);
            returned.swap(queued_);
        }
        for (WaveBuffer* buffer : returned)
            HandBack(*buffer);
    }
    void Close() override
    {
        {
            const std::lock_guard lock(mutex_);
            closing_ = true;
        }
        written_.notify_one();
        if (handing_.joinable())
            handing_.join();
    }

private:
    void HandBack(WaveBuffer& buffer)
    {
        buffer.done.store(true);
        onDone_(buffer);
    }
    void HandBackWhatIsWritten()
    {
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                written_.wait(lock, [this] { return closing_ || !queued_.empty(); });
                if (closing_)
                    return;
            }
            const std::lock_guard handing(handingBack_);
            WaveBuffer* buffer = nullptr;
            {
                const std::lock_guard lock(mutex_);
                if (queued_.empty())
                    continue; // a reset took it
                buffer = queued_.front();
                queued_.pop_front();
            }
            HandBack(*buffer);
        }
    }

    std::atomic<Clock::rep>* firstWrite_;
    DoneCallback onDone_;
    std::thread handing_;
    std::mutex handingBack_; // held while a buffer is handed back, so that Reset waits for it
    std::mutex mutex_;       // guards what follows
    std::condition_variable written_;
    std::deque<WaveBuffer*> queued_;
    bool closing_ = false;
};

// A field of /proc/self/status in kB, such as "VmRSS:".
long StatusKilobytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    long value = 0;
    while (status >> name) {
        if (name == field && status >> value)
            return value;
        status.ignore(4096, '\n');
    }
    return -1;
}

// Runs in a child process: plays the recording to its end and prints the resident memory before
// the playback and the peak after it, in kB.
int PlayThrough(const std::string& recording)
{
    int argc = 1;
    char name[] = "bench_playback";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    Player player([] { return std::make_unique<InstantOut>(nullptr); });
    QObject::connect(&player, &Player::ended, &application, &QCoreApplication::quit);
    const long before = StatusKilobytes("VmRSS:");
    QTimer::singleShot(0, &player, [&] { player.play(recording); });
    QCoreApplication::exec();
    std::printf("%ld %ld\n", before, StatusKilobytes("VmHWM:"));
    return 0;
}

// From play() to the first buffer handed to the output, starting at percent of the recording.
double FirstBufferMilliseconds(const std::string& recording, int percent)
{
    std::atomic<Clock::rep> firstWrite{0};
    Player player([&firstWrite] { return std::make_unique<InstantOut>(&firstWrite); });
    const Clock::time_point start = Clock::now();
    player.seek(percent);
    player.play(recording);
    while (firstWrite.load() == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double milliseconds = MillisecondsSince(start, Clock::time_point(Clock::duration(firstWrite.load())));
    player.shutDown();
    return milliseconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == kPlayThroughOption)
        return PlayThrough(argv[2]);
    QCoreApplication application(argc, argv);
    const bool keep = argc > 1;
    const fs::path folder = keep ? fs::path(argv[1])
                                 : fs::temp_directory_path() / ("bench_playback_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string recording = (folder / "VOC00001.WAV").string();
    if (!fs::exists(recording) && !WriteSampleFile(recording, SampleSpecFor(0, kOneHourDataBytes))) {
        std::fprintf(stderr, "cannot write %s\n", recording.c_str());
        return 1;
    }

    const QString voctool = QCoreApplication::applicationDirPath() + "/../tools/voctool";
    const std::string converted = (folder / "voctool.wav").string();
    VoctoolMilliseconds(voctool, recording, converted); // warms the cache
    const double voctoolMs = VoctoolMilliseconds(voctool, recording, converted);
    const double startMs = FirstBufferMilliseconds(recording, 0);
    const double seekMs = FirstBufferMilliseconds(recording, 75);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {kPlayThroughOption, QString::fromStdString(recording)});
    long before = 0;
    long peak = 0;
    if (!child.waitForFinished(-1)
        || std::sscanf(child.readAllStandardOutput().constData(), "%ld %ld", &before, &peak) != 2) {
        std::fprintf(stderr, "the playback in a child process failed\n");
        return 1;
    }
    const double addedMb = static_cast<double>(peak - before) / 1024;
    const double fileMb = static_cast<double>(fs::file_size(recording)) / (1024 * 1024);

    std::printf("voctool convert, one hour:   %8.1f ms\n", voctoolMs);
    std::printf("play to first buffer:        %8.1f ms  (%.3fx, target <= 0.1x)\n", startMs, startMs / voctoolMs);
    std::printf("play at 75%% to first buffer: %8.1f ms  (%.3fx, target <= 0.1x)\n", seekMs, seekMs / voctoolMs);
    std::printf("memory added by playing:     %8.1f MB  (file %.1f MB; target <= file + 4 MB)\n", addedMb, fileMb);
    if (!keep)
        fs::remove_all(folder);
    return 0;
}
