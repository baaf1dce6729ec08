#pragma once

#include <cstdint>

// Little-endian fields of RIFF files and of the recorder's header record.

inline std::uint16_t ReadLe16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::uint32_t ReadLe32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(ReadLe16(bytes)) | (static_cast<std::uint32_t>(ReadLe16(bytes + 2)) << 16);
}

inline void WriteLe16(unsigned char* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

inline void WriteLe32(unsigned char* bytes, std::uint32_t value)
{
    WriteLe16(bytes, static_cast<std::uint16_t>(value & 0xFFFF));
    WriteLe16(bytes + 2, static_cast<std::uint16_t>(value >> 16));
}
