#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::string Utf8Of(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

TEST(TextCodec, GbkTextsHaveTheirCodePageBytesAndSortInPinyinOrder)
{
    EXPECT_EQ(Utf8ToGb18030("主叫"), "\xD6\xF7\xBD\xD0");
    EXPECT_EQ(Gb18030ToUtf8("\xD6\xF7\xBD\xD0"), "主叫");
    EXPECT_EQ(Utf8ToGb18030("设备状态：设备已连接"), "\xC9\xE8\xB1\xB8\xD7\xB4\xCC\xAC\xA3\xBA\xC9\xE8\xB1\xB8\xD2\xD1\xC1\xAC\xBD\xD3");
    EXPECT_EQ(Utf8ToGb18030("VOC00001.WAV"), "VOC00001.WAV");
    EXPECT_EQ(Utf8ToGb18030(""), "");
    EXPECT_EQ(Gb18030ToUtf8(""), "");

    const std::vector<std::string> pinyinOrder{"被叫", "留言", "其他", "现场", "主叫"};
    for (std::size_t i = 1; i < pinyinOrder.size(); ++i)
        EXPECT_LT(Utf8ToGb18030(pinyinOrder[i - 1]), Utf8ToGb18030(pinyinOrder[i])) << pinyinOrder[i];

    EXPECT_EQ(Gb18030Length("VOC00001.WAV"), 12u);
    EXPECT_EQ(Gb18030Length("VOC录音1.WAV"), 12u);     // 14 bytes of UTF-8
    EXPECT_EQ(Gb18030Length("VOCß123.WAV"), 14u);      // 12 bytes of UTF-8; ß is outside GBK
    EXPECT_EQ(Gb18030Length("2014年03月05日"), 14u);
}

TEST(TextCodec, EveryCharacterSurvivesTheRoundTrip)
{
    std::vector<char32_t> broken;
    std::string all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        // Surrogates are no characters; glibc has no GB18030 bytes for a few private-use
        // code points of the BMP, whose UTF-8 bytes therefore pass through unchanged.
        if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0xE000 && c <= 0xF8FF))
            continue;
        const std::string text = Utf8Of(c);
        all += text;
        if (Gb18030ToUtf8(Utf8ToGb18030(text)) != text && broken.size() < 10)
            broken.push_back(c);
    }
    EXPECT_TRUE(broken.empty()) << "first broken code point U+" << std::hex << static_cast<unsigned>(broken.front());
    // The same in one long text, as a file name list or a sheet would pass it.
    const std::string encoded = Utf8ToGb18030(all);
    EXPECT_TRUE(Gb18030ToUtf8(encoded) == all);
    EXPECT_EQ(encoded.find("\\x"), std::string::npos);
}

TEST(TextCodec, UndecodableBytesStayVisibleAndNothingIsLost)
{
    // A recorder's phone field may hold any bytes: each one that does not decode shows as \xNN.
    EXPECT_EQ(Gb18030ToUtf8("138\xFF" "00"), "138\\xFF00");
    EXPECT_EQ(Gb18030ToUtf8("\x80"), "\\x80");
    EXPECT_EQ(Gb18030ToUtf8("\xD6"), "\\xD6");                  // cut after a lead byte
    EXPECT_EQ(Gb18030ToUtf8("\xD6\xF7\xD6"), "主\\xD6");
    EXPECT_EQ(Gb18030ToUtf8("\x81\x30"), "\\x810");             // four-byte sequence cut short
    EXPECT_EQ(Gb18030ToUtf8("\xD6\x7F" "1"), "\\xD6\x7F" "1");   // 0x7F is no trail byte
    EXPECT_EQ(Gb18030ToUtf8(std::string("1\0" "2", 3)), std::string("1\0" "2", 3));

    // Bytes that are not UTF-8 go through unchanged, so a name read from disk keeps its bytes.
    EXPECT_EQ(Utf8ToGb18030("abc\xFF主"), "abc\xFF\xD6\xF7");
    EXPECT_EQ(Utf8ToGb18030("\xC3"), "\xC3");
    EXPECT_EQ(Utf8ToGb18030("\xE4\xB8"), "\xE4\xB8");
    EXPECT_EQ(Utf8ToGb18030("\xED\xA0\x80"), "\xED\xA0\x80");  // an encoded surrogate
    EXPECT_EQ(Gb18030Length("\xFF\xFE"), 2u);

    // Long texts pass the converter's inner buffer in several rounds.
    std::string longText;
    for (int i = 0; i < 2000; ++i)
        longText += "留言\xFF";
    const std::string decoded = Gb18030ToUtf8(Utf8ToGb18030(longText));
    EXPECT_EQ(decoded.size(), 2000u * (6 + 4));
}

TEST(TextCodec, ThreadsConvertIndependently)
{
    const std::string text = "现场录音 138\xFF";
    const std::string expected = Utf8ToGb18030(text);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i)
                if (Utf8ToGb18030(text) != expected || Gb18030ToUtf8(expected) != Gb18030ToUtf8(expected))
                    ++mismatches[t];
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace

TEST(TrimBlanksAndControlsTest, RemovesOuterBlanksAndControlCharactersOnly)
{
    EXPECT_EQ(TrimBlanksAndControls("  pass word \t\r\n"), "pass word");
    EXPECT_EQ(TrimBlanksAndControls("\x01\x1F" "abc\x7F"), "abc\x7F");
    EXPECT_EQ(TrimBlanksAndControls("   "), "");
    EXPECT_EQ(TrimBlanksAndControls(""), "");
    EXPECT_EQ(TrimBlanksAndControls(" 密码 "), "密码");
    EXPECT_EQ(TrimBlanksAndControls("　密码　"), "　密码　");  // ideographic space is a character, kept
}
