// Long recordings are decoded and written a run of blocks at a time. Every IMA ADPCM block
// decodes on its own, so a recording must come out exactly as its pieces converted one by one,
// wherever the runs happen to end; and a failure part way must never pass for a finished file.
#include "audio/adpcm_converter.h"
#include "audio/loudness_outline.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sys/resource.h>

namespace {

std::string NoiseBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::uint32_t BlockBytes(const ImaFileSpec& format)
{
    return ((format.samplesPerBlock - 1) * format.channels) / 2 + 4 * format.channels;
}

// The "data" body of the converted file; fails the test when the conversion is refused.
std::string ConvertedData(const TempFolder& folder, const std::string& file)
{
    const std::string inputPath = folder.Write("in.wav", file);
    const std::string outputPath = folder.Path("out.wav");
    const Result<void> converted = ConvertToPcmWave(outputPath, inputPath);
    EXPECT_TRUE(converted) << converted.error().reason;
    const std::string output = TempFolder::Read(outputPath);
    const std::string data = ChunkBody(output, "data");
    EXPECT_EQ(output.size(), kWaveHeaderBytes + data.size()) << "sizes in the header do not match the samples";
    return data;
}

std::size_t FilesIn(const std::string& folder)
{
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++files;
    return files;
}

// Holds the size limit for files this process writes, and ignores the signal that exceeding it
// raises, so that writes beyond the limit fail with EFBIG as they do on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = SIG_DFL;
};

} // namespace

TEST(AdpcmStream, LongRecordingsComeOutAsTheirPiecesConvertedOneByOne)
{
    TempFolder folder;
    ImaFileSpec mono;
    ImaFileSpec stereo;
    stereo.channels = 2;
    ImaFileSpec hugeStereoBlocks = stereo;
    hugeStereoBlocks.samplesPerBlock = 65529;
    ImaFileSpec tinyBlocks;
    tinyBlocks.samplesPerBlock = 9;
    const struct {
        const char* name;
        ImaFileSpec format;
        std::size_t blocks;
    } layouts[] = {{"mono", mono, 2500}, {"stereo", stereo, 1300}, {"stereo blocks of 65529", hugeStereoBlocks, 11},
                   {"mono blocks of 9", tinyBlocks, 150'000}};
    for (const auto& layout : layouts) {
        const std::uint32_t blockBytes = BlockBytes(layout.format);
        // Ends in a partial block that holds its headers and part of its groups.
        const std::size_t tailBytes = std::min<std::size_t>(blockBytes - 1, 4 * layout.format.channels + 20);
        const std::string audio = NoiseBytes(layout.blocks * blockBytes + tailBytes, 11);
        const std::string whole = ConvertedData(folder, MakeWaveFile(layout.format, audio));
        ASSERT_GT(whole.size(), 2u * 1024 * 1024) << layout.name;

        const std::size_t pieceBytes = std::max<std::size_t>(1, layout.blocks / 7) * blockBytes;
        std::string pieces;
        for (std::size_t at = 0; at < audio.size(); at += pieceBytes)
            pieces += ConvertedData(folder, MakeWaveFile(layout.format, audio.substr(at, pieceBytes)));
        ASSERT_EQ(whole.size(), pieces.size()) << layout.name;
        EXPECT_TRUE(whole == pieces) << layout.name << ": first difference at byte "
                                     << std::mismatch(whole.begin(), whole.end(), pieces.begin()).first - whole.begin();
    }

    ImaFileSpec pcm16;
    pcm16.formatTag = 1;
    pcm16.bitsPerSample = 16;
    pcm16.channels = 2;
    const std::string wide = NoiseBytes(3'000'000, 5);
    EXPECT_TRUE(ConvertedData(folder, MakeWaveFile(pcm16, wide)) == wide) << "16-bit PCM";

    ImaFileSpec pcm8 = pcm16;
    pcm8.bitsPerSample = 8;
    const std::string narrow = NoiseBytes(1'500'001, 7);
    const std::vector<std::int16_t> converted = SamplesOf(ConvertedData(folder, MakeWaveFile(pcm8, narrow)));
    ASSERT_EQ(converted.size(), narrow.size() - 1) << "8-bit PCM keeps whole sample pairs";
    for (std::size_t i = 0; i < converted.size(); ++i) {
        const auto expected = static_cast<std::int16_t>((static_cast<unsigned char>(narrow[i]) - 128) * 256);
        ASSERT_EQ(converted[i], expected) << "8-bit PCM sample " << i;
    }
}

TEST(AdpcmStream, FailedWritePartWayLeavesThePreviousOutputAndNoTemporaryFile)
{
    TempFolder folder;
    const std::string inputPath = folder.Write("in.wav", MakeWaveFile(ImaFileSpec{}, NoiseBytes(3000 * 256, 3)));
    const std::string outputPath = folder.Write("out.wav", "previous recording");
    {
        // The output would be about 3 MB: the first megabyte and a half is written, then the disk is "full".
        const FileSizeLimit limit(1'500'000);
        const Result<void> full = ConvertToPcmWave(outputPath, inputPath);
        ASSERT_FALSE(full);
        EXPECT_NE(full.error().reason.find("cannot write " + outputPath), std::string::npos) << full.error().reason;
        EXPECT_EQ(full.error().error, EFBIG);
    }
    EXPECT_EQ(TempFolder::Read(outputPath), "previous recording");
    EXPECT_EQ(FilesIn(folder.path()), 2u) << "a temporary file was left behind";

    // With room again the same conversion succeeds.
    const Result<void> converted = ConvertToPcmWave(outputPath, inputPath);
    EXPECT_TRUE(converted) << converted.error().reason;
    EXPECT_EQ(ReadWaveSamples(outputPath).size(), 3000u * 505);
}

TEST(AdpcmStream, ReadErrorIsRefusedWhileAFileEndingEarlyDecodesToSilence)
{
    const std::string file = MakeWaveFile(ImaFileSpec{}, NoiseBytes(3000 * 256, 9));
    const std::size_t dataStart = file.size() - 3000 * 256;

    BrokenSource intact{&file, 0, file.size(), false};
    std::FILE* stream = OpenBrokenSource(intact);
    ASSERT_NE(stream, nullptr);
    const auto complete = DecodeRecording(stream, file.size());
    std::fclose(stream);
    ASSERT_TRUE(complete) << complete.error().reason;
    ASSERT_EQ(complete->size(), 3000u * 505);

    // The file shrank after its size was taken: what it still holds decodes, the rest is silence.
    BrokenSource shortened{&file, 0, dataStart + 2200 * 256, false};
    stream = OpenBrokenSource(shortened);
    const auto silenced = DecodeRecording(stream, file.size());
    std::fclose(stream);
    ASSERT_TRUE(silenced) << silenced.error().reason;
    ASSERT_EQ(silenced->size(), complete->size());
    EXPECT_TRUE(std::equal(complete->begin(), complete->begin() + 2200 * 505, silenced->begin()));
    EXPECT_TRUE(std::all_of(silenced->begin() + 2200 * 505, silenced->end(), [](std::int16_t value) { return value == 0; }));

    // Cut 100 bytes into a block that is decoded side by side with seven others when whole: the
    // values of its first 96 code bytes come out, the rest and the blocks after it are silence.
    BrokenSource cutInABlock{&file, 0, dataStart + 2200 * 256 + 100, false};
    stream = OpenBrokenSource(cutInABlock);
    const auto cut = DecodeRecording(stream, file.size());
    std::fclose(stream);
    ASSERT_TRUE(cut) << cut.error().reason;
    const std::size_t present = 2200 * 505 + 1 + 2 * 96;
    EXPECT_TRUE(std::equal(complete->begin(), complete->begin() + present, cut->begin()));
    EXPECT_TRUE(std::all_of(cut->begin() + present, cut->end(), [](std::int16_t value) { return value == 0; }));

    // A read error (a card pulled part way) is not silence: the decoding is refused.
    for (const std::size_t failAt : {dataStart, dataStart + 100 * 256 + 7, dataStart + 2200 * 256}) {
        BrokenSource failing{&file, 0, failAt, true};
        stream = OpenBrokenSource(failing);
        const auto failed = DecodeRecording(stream, file.size());
        ASSERT_FALSE(failed) << "failing at byte " << failAt;
        EXPECT_EQ(failed.error().error, EIO);
        EXPECT_NE(failed.error().reason.find(std::strerror(EIO)), std::string::npos) << failed.error().reason;
        std::fclose(stream);
    }
}

TEST(LoudnessOutlineFromFile, EqualsTheOutlineOfTheWholeDecodedSoundForAnyNumberOfPoints)
{
    TempFolder folder;
    for (const std::uint16_t channels : {1, 2}) {
        ImaFileSpec layout;
        layout.channels = channels;
        const std::string path =
            folder.Write("noise.wav", MakeWaveFile(layout, NoiseBytes(BlockBytes(layout) * 37 + 100, channels)));
        const Result<LoadedWave> decoded = DecodeToPcmWave(path);
        ASSERT_TRUE(decoded) << decoded.error().reason;
        for (const std::size_t points : {std::size_t{1}, std::size_t{7}, kOutlinePoints, decoded->data.size()}) {
            const Result<Outline> outline = OutlineOfRecording(path, points);
            ASSERT_TRUE(outline) << outline.error().reason;
            EXPECT_EQ(*outline, PeakOutline(*decoded, points)) << channels << " channels, " << points << " points";
        }
    }
    EXPECT_FALSE(OutlineOfRecording(folder.Write("damaged.wav", "RIFF")));
}
