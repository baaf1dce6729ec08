#include "audio/adpcm_converter.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace {

// Real IMA ADPCM blocks of 256 bytes (505 samples) of speech-like audio.
std::string MonoAudio(std::uint32_t bytes, std::uint32_t seed = 3)
{
    const std::uint32_t blocks = (bytes + 255) / 256;
    const std::vector<unsigned char> encoded = EncodeImaAdpcm(MakeSampleAudio(blocks * 505, seed), 256);
    return std::string(encoded.begin(), encoded.begin() + bytes);
}

// Two mono encodings woven into stereo blocks: both headers, then their 4-byte groups in turn.
std::string StereoAudio(std::uint32_t blocks)
{
    const std::string left = MonoAudio(blocks * 256, 5);
    const std::string right = MonoAudio(blocks * 256, 9);
    std::string stereo;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        stereo += left.substr(b * 256, 4) + right.substr(b * 256, 4);
        for (std::uint32_t g = 4; g < 256; g += 4)
            stereo += left.substr(b * 256 + g, 4) + right.substr(b * 256 + g, 4);
    }
    return stereo;
}

struct Conversion {
    bool ok = false;
    std::string output;
    std::string refusal;
};

Conversion Convert(const TempFolder& folder, const std::string& input)
{
    const std::string inputPath = folder.Write("in.wav", input);
    const std::string outputPath = folder.Path("out.wav");
    Conversion result;
    const Result<void> converted = ConvertToPcmWave(outputPath, inputPath);
    result.ok = converted.has_value();
    result.refusal = converted.error().reason;
    result.output = TempFolder::Read(outputPath);
    return result;
}

std::vector<std::int16_t> DecodedSamples(const Conversion& conversion)
{
    return SamplesOf(conversion.output.substr(std::min<std::size_t>(kWaveHeaderBytes, conversion.output.size())));
}

std::string OneBlock(std::int16_t predictor, std::uint16_t index, const std::string& codes)
{
    return std::string{static_cast<char>(predictor & 0xFF), static_cast<char>((predictor >> 8) & 0xFF),
                       static_cast<char>(index & 0xFF), static_cast<char>(index >> 8)} +
           codes;
}

} // namespace

TEST(AdpcmConvert, BlockArithmeticCountsWholeAndPartialBlocks)
{
    TempFolder folder;
    const ImaFileSpec mono;
    const Conversion whole = Convert(folder, MakeWaveFile(mono, MonoAudio(2560)));
    ASSERT_TRUE(whole.ok) << whole.refusal;
    EXPECT_EQ(whole.output.size(), 10160u);
    EXPECT_EQ(U32At(whole.output, 4), 10152u);
    EXPECT_EQ(U32At(whole.output, 48), 10100u);
    EXPECT_EQ(U32At(whole.output, 56), 10100u);

    // 2600 bytes: ten blocks and a 40-byte eleventh that yields 73 samples and no more.
    const Conversion partial = Convert(folder, MakeWaveFile(mono, MonoAudio(2600)));
    ASSERT_TRUE(partial.ok) << partial.refusal;
    EXPECT_EQ(U32At(partial.output, 56), 5123u * 2);
    const Conversion eleven = Convert(folder, MakeWaveFile(mono, MonoAudio(11 * 256)));
    const std::vector<std::int16_t> full = DecodedSamples(eleven);
    const std::vector<std::int16_t> cut = DecodedSamples(partial);
    ASSERT_EQ(cut.size(), 5123u);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));
}

TEST(AdpcmConvert, ChunksAreWalkedByTheirExactSize)
{
    TempFolder folder;
    const std::string audio = MonoAudio(512);
    const std::vector<std::int16_t> expected = DecodedSamples(Convert(folder, MakeWaveFile(ImaFileSpec{}, audio)));
    ASSERT_EQ(expected.size(), 1010u);

    ImaFileSpec otherForm;
    otherForm.formType = "AVI ";
    EXPECT_EQ(DecodedSamples(Convert(folder, MakeWaveFile(otherForm, audio))), expected);

    // An 84-byte format body: 64 bytes kept, the rest (here a lookalike "data" header) skipped.
    ImaFileSpec longFormat;
    longFormat.formatBodyBytes = 84;
    std::string file = MakeWaveFile(longFormat, audio);
    file.replace(12 + 8 + 64, 12, Chunk("data", std::string(4, '\x11')));
    EXPECT_EQ(DecodedSamples(Convert(folder, file)), expected);

    // An odd chunk is followed directly by the next header, with no pad byte.
    ImaFileSpec oddChunks;
    oddChunks.chunksBeforeFormat = Chunk("LIST", "abc");
    oddChunks.chunksBeforeData = Chunk("note", "x") + Chunk("fact", std::string(4, '\0'));
    EXPECT_EQ(DecodedSamples(Convert(folder, MakeWaveFile(oddChunks, audio))), expected);

    // A chunk claiming nearly 4 GiB ends the search instead of wrapping the position back.
    ImaFileSpec hugeChunk;
    hugeChunk.chunksBeforeData = Chunk("junk", 0xFFFFFFF8u, "");
    const Conversion lost = Convert(folder, MakeWaveFile(hugeChunk, audio));
    EXPECT_FALSE(lost.ok);
    EXPECT_EQ(lost.refusal, "no \"data\" chunk");
}

TEST(AdpcmConvert, OutputHeaderIsAlwaysOneChannelAt8000)
{
    TempFolder folder;
    ImaFileSpec stereo;
    stereo.channels = 2;
    stereo.samplesPerSecond = 11025;
    const Conversion converted = Convert(folder, MakeWaveFile(stereo, StereoAudio(2)));
    ASSERT_TRUE(converted.ok) << converted.refusal;
    const std::string& out = converted.output;
    EXPECT_EQ(out.substr(0, 4), "RIFF");
    EXPECT_EQ(out.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32At(out, 16), 20u);
    EXPECT_EQ(U16At(out, 20), 1);
    EXPECT_EQ(U16At(out, 22), 1);
    EXPECT_EQ(U32At(out, 24), 8000u);
    EXPECT_EQ(U32At(out, 28), 16000u);
    EXPECT_EQ(U16At(out, 32), 2);
    EXPECT_EQ(U16At(out, 34), 16);
    EXPECT_EQ(U16At(out, 36), 0);
    EXPECT_EQ(out.substr(40, 4), "fact");
    EXPECT_EQ(U32At(out, 44), 4u);
    EXPECT_EQ(out.substr(52, 4), "data");
    const std::uint32_t dataBytes = 2 * 505 * 2 * 2;
    EXPECT_EQ(U32At(out, 48), dataBytes);
    EXPECT_EQ(U32At(out, 56), dataBytes);
    EXPECT_EQ(U32At(out, 4), dataBytes + 52);

    // The two channels come out interleaved, each as its own mono decoding.
    const std::vector<std::int16_t> both = DecodedSamples(converted);
    const std::vector<std::int16_t> left = DecodedSamples(Convert(folder, MakeWaveFile(ImaFileSpec{}, MonoAudio(512, 5))));
    const std::vector<std::int16_t> right = DecodedSamples(Convert(folder, MakeWaveFile(ImaFileSpec{}, MonoAudio(512, 9))));
    ASSERT_EQ(both.size(), 2 * left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        ASSERT_EQ(both[2 * i], left[i]) << "left sample " << i;
        ASSERT_EQ(both[2 * i + 1], right[i]) << "right sample " << i;
    }
}

TEST(AdpcmConvert, PredictorSaturatesAndStepIndexStaysWithinItsTable)
{
    EXPECT_EQ(DiffTable()[88 * 16 + 7], 61436);
    EXPECT_EQ(DiffTable()[88 * 16 + 15], -61436);
    EXPECT_EQ(NextIndexTable()[88 * 16 + 7], 88 * 16);
    EXPECT_EQ(NextIndexTable()[0 * 16 + 3], 0);

    TempFolder folder;
    ImaFileSpec nine;
    nine.samplesPerBlock = 9; // a header and one group of 8 codes
    const auto decode = [&](const std::string& block) { return DecodedSamples(Convert(folder, MakeWaveFile(nine, block))); };

    // Top of the table: differences above 32767 must push to the limits, not wrap around.
    EXPECT_EQ(decode(OneBlock(32000, 88, std::string("\x77\xFF\xC4\x00", 4))),
              (std::vector<std::int16_t>{32000, 32767, 32767, -28669, -32768, 4094, -32768, -28673, -24949}));
    // Bottom of the table: small magnitudes keep the index at 0.
    EXPECT_EQ(decode(OneBlock(0, 0, std::string("\x11\x32\x80\x19", 4))),
              (std::vector<std::int16_t>{0, 1, 2, 5, 9, 9, 9, 8, 9}));
    // A header index beyond 88 is held at 88.
    EXPECT_EQ(decode(OneBlock(0, 200, "\x12\x34\x56\x78")), decode(OneBlock(0, 88, "\x12\x34\x56\x78")));
}

TEST(AdpcmConvert, RefusedInputsLeaveTheOutputUntouched)
{
    TempFolder folder;
    const std::string audio = MonoAudio(512);
    const auto layout = [](auto change) {
        ImaFileSpec layout;
        change(layout);
        return layout;
    };
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"not RIFF", "RIFX" + MakeWaveFile(ImaFileSpec{}, audio).substr(4)},
        {"no fmt", std::string("RIFF\x10\0\0\0WAVE", 12) + Chunk("data", audio)},
        {"no data", MakeWaveFile(ImaFileSpec{}, audio).substr(0, 40) + Chunk("fact", "1234")},
        {"other format tag", MakeWaveFile(layout([](ImaFileSpec& s) { s.formatTag = 0x55; }), audio)},
        {"zero channels", MakeWaveFile(layout([](ImaFileSpec& s) { s.channels = 0; }), audio)},
        {"three channels", MakeWaveFile(layout([](ImaFileSpec& s) { s.channels = 3; }), audio)},
        {"zero samples per block", MakeWaveFile(layout([](ImaFileSpec& s) { s.samplesPerBlock = 0; }), audio)},
        {"blocks off the groups", MakeWaveFile(layout([](ImaFileSpec& s) { s.samplesPerBlock = 506; }), audio)},
        {"format chunk too short", MakeWaveFile(layout([](ImaFileSpec& s) { s.formatBodyBytes = 16; }), audio)},
        {"24-bit PCM", MakeWaveFile(layout([](ImaFileSpec& s) { s.formatTag = 1; s.bitsPerSample = 24; }), audio)},
        {"zero-bit PCM", MakeWaveFile(layout([](ImaFileSpec& s) { s.formatTag = 1; s.bitsPerSample = 0; }), audio)},
        {"empty file", ""},
    };
    const std::string outputPath = folder.Write("out.wav", "previous recording");
    for (const auto& [name, input] : refused) {
        const std::string inputPath = folder.Write("in.wav", input);
        const Result<void> converted = ConvertToPcmWave(outputPath, inputPath);
        EXPECT_FALSE(converted) << name;
        EXPECT_FALSE(converted.error().reason.empty()) << name;
        EXPECT_EQ(TempFolder::Read(outputPath), "previous recording") << name;
    }
    const Result<void> missing = ConvertToPcmWave(outputPath, folder.Path("missing.wav"));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error().error, ENOENT);
    EXPECT_FALSE(ConvertToPcmWave(outputPath, folder.path()));
    EXPECT_FALSE(ConvertToPcmWave(folder.Path("no/such/folder/out.wav"),
                                  folder.Write("in.wav", MakeWaveFile(ImaFileSpec{}, audio))));
    EXPECT_EQ(TempFolder::Read(outputPath), "previous recording");

    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path()))
        ++files;
    EXPECT_EQ(files, 2u) << "a temporary file was left behind";
}

TEST(AdpcmConvert, UntrustedDataSizesDecodeOnlyWhatTheFileHolds)
{
    TempFolder folder;
    const std::string audio = MonoAudio(152);
    const std::vector<std::int16_t> honest = DecodedSamples(Convert(folder, MakeWaveFile(ImaFileSpec{}, audio)));
    ASSERT_EQ(honest.size(), 2u * 152 - 7);

    // A 200-byte file claiming almost 4 GiB of data.
    const std::string boastful = MakeWaveFile(ImaFileSpec{}, 0xFFFFFFF0u, audio);
    ASSERT_EQ(boastful.size(), 200u);
    const Conversion capped = Convert(folder, boastful);
    ASSERT_TRUE(capped.ok) << capped.refusal;
    EXPECT_EQ(DecodedSamples(capped), honest);

    // Less than a block header gives no samples at all.
    const Conversion tiny = Convert(folder, MakeWaveFile(ImaFileSpec{}, audio.substr(0, 2)));
    ASSERT_TRUE(tiny.ok) << tiny.refusal;
    EXPECT_EQ(tiny.output.size(), kWaveHeaderBytes);
    EXPECT_EQ(U32At(tiny.output, 56), 0u);

    // A stereo tail holding the headers and only the left group: the right channel's values
    // of that group stay silent instead of being read from the chunk after the data.
    ImaFileSpec stereo;
    stereo.channels = 2;
    const std::string twoBlocks = StereoAudio(2);
    const std::vector<std::int16_t> complete = DecodedSamples(Convert(folder, MakeWaveFile(stereo, twoBlocks)));
    std::string file = MakeWaveFile(stereo, twoBlocks.substr(0, 512 + 12));
    file += Chunk("junk", std::string(64, '\x77'));
    const std::vector<std::int16_t> tail = DecodedSamples(Convert(folder, file));
    ASSERT_EQ(tail.size(), 1010u + 10u);
    for (std::size_t p = 1010; p < tail.size(); ++p) {
        if (p < 1012 || p % 2 == 0)
            EXPECT_EQ(tail[p], complete[p]) << "value " << p;
        else
            EXPECT_EQ(tail[p], 0) << "value " << p;
    }
}

TEST(AdpcmConvert, PcmInputIsWrittenAsSixteenBitSamples)
{
    TempFolder folder;
    folder.Write("out.wav", "previous recording");
    ImaFileSpec pcm16;
    pcm16.formatTag = 1;
    pcm16.bitsPerSample = 16;
    pcm16.formatBodyBytes = 16;
    const std::string samples("\x00\x00\xE8\x03\x18\xFC\xFF\x7F\x00\x80\x01", 11); // odd last byte dropped
    const Conversion wide = Convert(folder, MakeWaveFile(pcm16, samples));
    ASSERT_TRUE(wide.ok) << wide.refusal;
    EXPECT_EQ(DecodedSamples(wide), (std::vector<std::int16_t>{0, 1000, -1000, 32767, -32768}));

    ImaFileSpec pcm8 = pcm16;
    pcm8.bitsPerSample = 8;
    pcm8.channels = 2;
    const Conversion narrow = Convert(folder, MakeWaveFile(pcm8, std::string("\x00\x80\xFF\x81", 4)));
    ASSERT_TRUE(narrow.ok) << narrow.refusal;
    EXPECT_EQ(DecodedSamples(narrow), (std::vector<std::int16_t>{-32768, 0, 32512, 256}));
    EXPECT_EQ(U16At(narrow.output, 22), 1);
}

TEST(AdpcmConvert, OutputReplacesASymbolicLinkInsteadOfFollowingIt)
{
    TempFolder folder;
    const std::string victim = folder.Write("victim", "keep me");
    const std::string outputPath = folder.Path("out.wav");
    ASSERT_EQ(::symlink(victim.c_str(), outputPath.c_str()), 0);
    const std::string inputPath = folder.Write("in.wav", MakeWaveFile(ImaFileSpec{}, MonoAudio(256)));
    ASSERT_TRUE(ConvertToPcmWave(outputPath, inputPath));
    struct stat info {};
    ASSERT_EQ(::lstat(outputPath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(TempFolder::Read(victim), "keep me");
    EXPECT_EQ(ReadWaveSamples(outputPath).size(), 505u);
}
