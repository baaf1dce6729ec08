#pragma once

#include "platform/result.h"

#include <array>
#include <memory>
#include <optional>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// SHA-256 fingerprints written as coreutils' sha256sum writes them: 64 lower-case hex digits.

inline constexpr std::size_t kSha256Bytes = 32;
using Sha256Bytes = std::array<unsigned char, kSha256Bytes>;

// A fingerprint taken over bytes that come a piece at a time. OpenSSL's digest, which uses the
// processor's SHA instructions where it has them: an upload hashes every byte it copies.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    void Add(const void* bytes, std::size_t size);
    void Add(std::string_view bytes) { Add(bytes.data(), bytes.size()); }
    // The fingerprint of everything added; the object starts afresh afterwards.
    Sha256Bytes Finish();
    std::string FinishHex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

std::string Sha256Hex(std::string_view bytes);
// The fingerprint of the whole file behind fd, read from its start with pread (its offset stays).
Result<std::string> Sha256HexOfFd(int fd);
// The fingerprint of the regular file at path, read in large pieces.
Result<std::string> Sha256HexOfFile(const std::string& path);

// Lower-case hex digits of the bytes, and the bytes of such digits (nothing but digits of either
// case, an even count); false when text is not that.
std::string HexText(const unsigned char* bytes, std::size_t size);
bool ParseHex(std::string_view text, unsigned char* bytes, std::size_t size);

// The lines of a SHA256SUMS file as `sha256sum` writes them and `sha256sum -c` reads them:
// "HASH  NAME", the name escaped (and the line begun with a backslash) when it holds a backslash or
// a line end.
struct SumsLine {
    std::string sha256; // hex
    std::string name;
};
std::string SumsText(const std::vector<SumsLine>& lines);
// The lines of such a file, binary-mode lines ("HASH *NAME") too; nothing when a line is not one.
std::optional<std::vector<SumsLine>> ParseSums(std::string_view text);
