#include "audio/adpcm_converter.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <filesystem>

// The converter must agree sample for sample with two independent IMA ADPCM decoders on
// every complete block: libsndfile (sndfile-convert) and SoX, run as external programs.

namespace {

// Values in the complete blocks of an IMA ADPCM file, from its own format and data chunks.
std::size_t CompleteBlockValues(const std::string& path)
{
    const std::string file = TempFolder::Read(path);
    const std::string format = ChunkBody(file, "fmt ");
    if (format.size() < 20 || U16At(format, 0) != 0x0011)
        return 0;
    const std::size_t channels = U16At(format, 2);
    const std::size_t blockAlign = U16At(format, 12);
    const std::size_t samplesPerBlock = U16At(format, 18);
    return ChunkBody(file, "data").size() / blockAlign * samplesPerBlock * channels;
}

// Speech from espeak-ng, in mono at its own rate and at 8000 Hz, and in stereo (the speech
// against itself reversed), each encoded by both tools. Empty when a tool is missing.
std::vector<std::string> SpeechRecordings(const TempFolder& folder)
{
    std::vector<std::string> made;
    if (!HaveProgram("espeak-ng") || !HaveProgram("sox"))
        return made;
    const std::string speech = folder.Path("speech.wav");
    if (!RunProgram({"espeak-ng", "-w", speech, "Call recorded at nine o'clock. The number is 13800138000. "
                                                "Please leave a message after the tone."}))
        return made;
    const std::string narrow = folder.Path("speech8k.wav");
    const std::string reversed = folder.Path("reversed.wav");
    const std::string stereo = folder.Path("stereo.wav");
    RunProgram({"sox", speech, "-r", "8000", narrow});
    RunProgram({"sox", speech, reversed, "reverse"});
    RunProgram({"sox", "-M", speech, reversed, stereo});
    for (const std::string& source : {speech, narrow, stereo}) {
        const std::string stem = source.substr(0, source.size() - 4);
        if (HaveProgram("sndfile-convert") && RunProgram({"sndfile-convert", "-ima-adpcm", source, stem + "_sndfile.wav"}))
            made.push_back(stem + "_sndfile.wav");
        if (RunProgram({"sox", source, "-e", "ima-adpcm", stem + "_sox.wav"}))
            made.push_back(stem + "_sox.wav");
    }
    return made;
}

std::vector<std::int16_t> DecodeWith(const std::string& tool, const std::string& input, const std::string& output)
{
    const bool ran = tool == "sndfile-convert"
                         ? RunProgram({"sndfile-convert", "-pcm16", input, output})
                         : RunProgram({"sox", input, "-e", "signed-integer", "-b", "16", output});
    return ran ? ReadWaveSamples(output) : std::vector<std::int16_t>{};
}

} // namespace

TEST(AdpcmReference, DecoderAgreesWithLibsndfileAndSoxOnEveryCompleteBlock)
{
    std::vector<std::string> tools;
    for (const char* tool : {"sndfile-convert", "sox"}) {
        if (HaveProgram(tool))
            tools.emplace_back(tool);
    }
    if (tools.empty())
        GTEST_SKIP() << "neither sndfile-convert (sndfile-programs) nor sox is installed: no reference decoder";

    TempFolder folder;
    std::vector<std::string> recordings;
    // What "voctool make-sample" writes, and a recording ending in a partial block.
    ASSERT_TRUE(WriteSampleFolder(folder.Path("card"), 3, 0));
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path("card")))
        recordings.push_back(entry.path().string());
    ASSERT_TRUE(WriteSampleFile(folder.Path("partial.wav"), SampleSpecFor(4, 256 * 30 + 77)));
    recordings.push_back(folder.Path("partial.wav"));

    const std::vector<std::string> speech = SpeechRecordings(folder);
    if (speech.empty())
        std::cout << "[ NOTE     ] espeak-ng or sox missing: speech recordings not compared\n";
    else
        EXPECT_EQ(speech.size(), tools.size() == 2 ? 6u : 3u) << "an encoder failed on the speech";
    recordings.insert(recordings.end(), speech.begin(), speech.end());

    for (const std::string& recording : recordings) {
        const std::size_t compared = CompleteBlockValues(recording);
        ASSERT_GT(compared, 0u) << recording;
        const std::string ours = folder.Path("ours.wav");
        const Result<void> converted = ConvertToPcmWave(ours, recording);
        ASSERT_TRUE(converted) << recording << ": " << converted.error().reason;
        const std::vector<std::int16_t> decoded = ReadWaveSamples(ours);
        ASSERT_GE(decoded.size(), compared) << recording;
        for (const std::string& tool : tools) {
            const std::vector<std::int16_t> reference = DecodeWith(tool, recording, folder.Path("reference.wav"));
            ASSERT_GE(reference.size(), compared) << tool << " on " << recording;
            const auto mismatch = std::mismatch(decoded.begin(), decoded.begin() + compared, reference.begin());
            EXPECT_EQ(mismatch.first, decoded.begin() + compared)
                << tool << " differs on " << recording << " at value " << (mismatch.first - decoded.begin())
                << " of " << compared << ": ours " << *mismatch.first << ", theirs " << *mismatch.second;
        }
    }
}
