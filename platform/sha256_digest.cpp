#include "platform/sha256_digest.h"

#include "platform/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Large enough that the reads cost little beside the hashing, small enough to stay in the cache.
constexpr std::size_t kReadPiece = 256 * 1024;

} // namespace

struct Sha256::Context {
    Context() : digest(EVP_MD_CTX_new())
    {
        if (digest == nullptr || EVP_DigestInit_ex(digest, EVP_sha256(), nullptr) != 1)
            throw std::bad_alloc();
    }
    ~Context() { EVP_MD_CTX_free(digest); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    EVP_MD_CTX* digest;
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Add(const void* bytes, std::size_t size)
{
    EVP_DigestUpdate(context_->digest, bytes, size);
}

Sha256Bytes Sha256::Finish()
{
    Sha256Bytes digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->digest, digest.data(), &length);
    EVP_DigestInit_ex(context_->digest, EVP_sha256(), nullptr);
    return digest;
}

std::string Sha256::FinishHex()
{
    const Sha256Bytes digest = Finish();
    return HexText(digest.data(), digest.size());
}

std::string Sha256Hex(std::string_view bytes)
{
    Sha256 hash;
    hash.Add(bytes);
    return hash.FinishHex();
}

Result<std::string> Sha256HexOfFd(int fd)
{
    Sha256 hash;
    std::vector<unsigned char> piece(kReadPiece);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, piece.data(), piece.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure{std::string("cannot read: ") + std::strerror(errno), errno};
        if (got == 0)
            return hash.FinishHex();
        hash.Add(piece.data(), static_cast<std::size_t>(got));
        offset += got;
    }
}

Result<std::string> Sha256HexOfFile(const std::string& path)
{
    // Not blocking: a pipe named like a recording must fail here, not wait for a writer.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0)
        return Failure{"cannot open " + path + ": " + std::strerror(errno), errno, path};
    if (!S_ISREG(status.st_mode))
        return Failure{"cannot open " + path + ": not a regular file", EINVAL, path};
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Result<std::string> digest = Sha256HexOfFd(fd.get());
    if (!digest)
        return Failure{"cannot read " + path + ": " + std::strerror(digest.error().error), digest.error().error, path};
    return digest;
}

std::string HexText(const unsigned char* bytes, std::size_t size)
{
    std::string text(size * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), bytes, size);
    text.pop_back();
    return text;
}

bool ParseHex(std::string_view text, unsigned char* bytes, std::size_t size)
{
    std::size_t parsed = 0;
    const char* end = nullptr;
    return text.size() == 2 * size && sodium_hex2bin(bytes, size, text.data(), text.size(), nullptr, &parsed, &end) == 0
           && parsed == size && end == text.data() + text.size();
}

std::string SumsText(const std::vector<SumsLine>& lines)
{
    std::string text;
    for (const SumsLine& line : lines) {
        const bool escaped = line.name.find_first_of("\\\n\r") != std::string::npos;
        std::string name;
        for (const char c : line.name)
            name += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
        text += (escaped ? "\\" : "") + line.sha256 + "  " + name + '\n';
    }
    return text;
}

std::optional<std::vector<SumsLine>> ParseSums(std::string_view text)
{
    constexpr std::size_t kDigits = 2 * kSha256Bytes;
    std::vector<SumsLine> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const bool escaped = line.starts_with('\\');
        line.remove_prefix(escaped ? 1 : 0);
        Sha256Bytes digest{};
        if (line.size() < kDigits + 3 || !ParseHex(line.substr(0, kDigits), digest.data(), digest.size())
            || line[kDigits] != ' ' || (line[kDigits + 1] != ' ' && line[kDigits + 1] != '*'))
            return std::nullopt;
        SumsLine parsed{HexText(digest.data(), digest.size()), {}};
        for (std::size_t i = kDigits + 2; i < line.size(); ++i) {
            if (!escaped || line[i] != '\\' || i + 1 == line.size()) {
                parsed.name += line[i];
                continue;
            }
            const char next = line[++i];
            parsed.name += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        }
        lines.push_back(std::move(parsed));
    }
    return lines;
}
