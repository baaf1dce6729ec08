// Feeds arbitrary bytes to the range decoder the player uses, as if they were a recording on
// disk: the output decoded in 8000-byte pieces from an offset taken from the input must be the
// whole-file decoder's output from there, byte for byte.
#include "audio/adpcm_converter.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::FILE* StreamOf(const std::uint8_t* data, std::size_t size)
{
    return ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::FILE* wholeStream = StreamOf(data, size);
    if (!wholeStream)
        return 0;
    const auto whole = DecodeRecording(wholeStream, size);
    std::fclose(wholeStream);
    Result<RecordingDecoder> decoder = RecordingDecoder::Open(FileStream(StreamOf(data, size)), size);
    if (!whole || !decoder) {
        if (whole.has_value() != decoder.has_value())
            __builtin_trap(); // the two refuse the same recordings
        return 0;
    }
    if (decoder->OutputBytes() != whole->size() * 2)
        __builtin_trap();
    std::vector<unsigned char> expected(whole->size() * 2);
    for (std::size_t i = 0; i < whole->size(); ++i) {
        const auto value = static_cast<std::uint16_t>((*whole)[i]);
        expected[2 * i] = static_cast<unsigned char>(value & 0xFF);
        expected[2 * i + 1] = static_cast<unsigned char>(value >> 8);
    }
    std::size_t offset = data[size - 1] * 2000u % (expected.size() + 1);
    unsigned char piece[8000];
    for (std::size_t got; (got = decoder->DecodeBytes(offset, piece, sizeof piece)) > 0; offset += got) {
        if (got > sizeof piece || offset + got > expected.size()
            || std::memcmp(piece, expected.data() + offset, got) != 0)
            __builtin_trap();
    }
    if (offset != expected.size())
        __builtin_trap(); // an intact recording is decoded to its end
    return 0;
}
