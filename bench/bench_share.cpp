// Saving a one-hour recording (12.6 MB of IMA ADPCM) as MP3 and as Opus with SaveRecordingAs
// (decoding included), each beside `sndfile-convert` writing the same format from the same
// decoded PCM (a wave file written first); and the loudness outline of the recording, made from
// the file as the window makes it, against the time of decoding the recording into memory. One
// run each, wall time. Targets: each save at most 1.3x sndfile-convert; the outline at most 0.5x
// the decode.
// Usage: bench_share [FOLDER]   (default: a new /tmp folder, removed afterwards)

#include "audio/adpcm_converter.h"
#include "audio/call_file.h"
#include "audio/loudness_outline.h"
#include "tools/sample_maker.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kOneHourDataBytes = 12'600'000;

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Fail(const std::string& what)
{
    std::fprintf(stderr, "bench_share: %s\n", what.c_str());
    return false;
}

bool CompareSaves(const std::string& recording, const std::string& pcm, const fs::path& folder)
{
    for (const CallFormat format : {CallFormat::Mp3, CallFormat::Opus}) {
        const std::string extension(CallFormatExtension(format));
        const std::string ours = (folder / ("ours." + extension)).string();
        const std::string theirs = (folder / ("theirs." + extension)).string();
        bool saved = false;
        const double saving = Seconds([&] { saved = SaveRecordingAs(recording, format, {}, ours).has_value(); });
        int status = 0;
        const double converting =
            Seconds([&] { status = std::system(("sndfile-convert '" + pcm + "' '" + theirs + "'").c_str()); });
        if (!saved || status != 0)
            return Fail("cannot write " + extension);
        std::printf("%-5s SaveRecordingAs %.2f s, sndfile-convert %.2f s: %.2fx (target at most 1.3x); %ju vs %ju bytes\n",
                    extension.c_str(), saving, converting, saving / converting, fs::file_size(ours),
                    fs::file_size(theirs));
    }
    return true;
}

bool Run(const fs::path& folder)
{
    const std::string recording = (folder / "VOC00001.WAV").string();
    if (!WriteSampleFile(recording, SampleSpecFor(0, kOneHourDataBytes)))
        return Fail("cannot write the recording");
    Result<LoadedWave> wave = Failure{};
    const double decoding = Seconds([&] { wave = DecodeToPcmWave(recording); });
    if (!wave)
        return Fail("cannot decode the recording");
    // The outline as the window gets it: from the file, decoded run by run without keeping the sound.
    Result<Outline> outline = Failure{};
    const double outlining = Seconds([&] { outline = OutlineOfRecording(recording); });
    if (!outline || *outline != PeakOutline(*wave))
        return Fail("the outline from the file differs from the outline of the decoded sound");
    std::printf("outline from the file %.3f s against a decode into memory of %.3f s: %.2fx (target at most 0.5x)\n",
                outlining, decoding, outlining / decoding);
    const std::string pcm = (folder / "decoded.wav").string();
    if (!WriteCallFile(*wave, CallFormat::Wav, {}, pcm))
        return Fail("cannot write the decoded PCM");
    return CompareSaves(recording, pcm, folder);
}

} // namespace

int main(int argc, char** argv)
{
    const bool own = argc < 2;
    const fs::path folder = own ? fs::temp_directory_path() / ("bench_share." + std::to_string(::getpid())) : argv[1];
    fs::create_directories(folder);
    const bool ok = Run(folder);
    if (own)
        fs::remove_all(folder);
    return ok ? 0 : 1;
}
