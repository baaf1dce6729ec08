// Feeds arbitrary bytes to the recording converter as if they were a file on disk.
#include "audio/adpcm_converter.h"

#include <cstdio>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::FILE* stream = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!stream)
        return 0;
    const auto samples = DecodeRecording(stream, size);
    std::fclose(stream);
    // A recording of n bytes never yields more than four values per byte.
    if (samples && samples->size() > 4 * size)
        __builtin_trap();
    return 0;
}
