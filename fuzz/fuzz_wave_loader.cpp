// Feeds arbitrary bytes to the player's wave loader, then runs the buffer fills over what it
// loaded from a start offset taken from the input, checking that they stay inside the data.
#include "audio/wave_player.h"

#include <cstdio>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::FILE* stream = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!stream)
        return 0;
    Result<LoadedWave> wave = LoadWaveStream(stream, size);
    std::fclose(stream);
    if (!wave)
        return 0;
    if (wave->data.size() > size)
        __builtin_trap();

    auto player = std::make_unique<WavePlayer>();
    player->source = MemorySource(std::move(wave->data));
    player->dataSize = player->source.size;
    player->dataEnd = player->dataSize;
    player->position = WaveStartOffset(player->dataSize, data[size - 1] % 128);
    int fills = 0;
    for (int k = 0; !FillBuffer(*player, k); k = (k + 1) % kWaveBufferCount) {
        if (player->position > player->dataSize || ++fills > 1 + static_cast<int>(size / kWaveBufferBytes))
            __builtin_trap();
    }
    return 0;
}
