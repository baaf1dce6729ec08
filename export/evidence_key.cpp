#include "export/evidence_key.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"
#include "platform/sha256_digest.h"
#include "platform/unique_fd.h"

#include <QByteArray>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An Ed25519 public key in DER (SubjectPublicKeyInfo): these 12 bytes, then the key's 32.
constexpr unsigned char kKeyInfoPrefix[] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
constexpr std::string_view kPemBegin = "-----BEGIN PUBLIC KEY-----\n";
constexpr std::string_view kPemEnd = "-----END PUBLIC KEY-----\n";
// Longer than any key file: a bigger file is not ours.
constexpr ssize_t kLongestKeyFile = 4096;

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

Failure SystemFailure(const std::string& what, const std::string& path)
{
    const int error = errno;
    return Failure{what + " " + path + ": " + std::strerror(error), error, path};
}

// A key file's text; nothing when it is missing (errno ENOENT) or cannot be read.
std::optional<std::string> ReadKeyFile(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid())
        return std::nullopt;
    std::string text(kLongestKeyFile, '\0');
    const ssize_t got = ::read(fd.get(), text.data(), text.size());
    if (got == kLongestKeyFile)
        errno = EFBIG;
    if (got < 0 || got == kLongestKeyFile)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(got));
    return text;
}

Result<DeskKey> KeyOfText(const std::string& text, const std::string& path)
{
    std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
    std::string_view digits(text);
    if (digits.ends_with('\n'))
        digits.remove_suffix(1);
    if (!ParseHex(digits, seed.data(), seed.size()))
        return Failure{"The signing key " + path + " is damaged: restore it from its backup", EINVAL, path};
    DeskKey key = DeskKey::FromSeed(seed.data());
    sodium_memzero(seed.data(), seed.size());
    return key;
}

// Makes a new key and writes both halves; the caller holds the folder's lock.
Result<DeskKey> MakeDeskKey(const std::string& folder)
{
    std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
    randombytes_buf(seed.data(), seed.size());
    DeskKey key = DeskKey::FromSeed(seed.data());
    std::string text = HexText(seed.data(), seed.size()) + '\n';
    sodium_memzero(seed.data(), seed.size());
    const Result<void> written = WriteFileAtomically(PrivateKeyPath(folder), text, kPrivateFileMode, true);
    sodium_memzero(text.data(), text.size());
    if (!written)
        return written.error();
    if (Result<void> shown = WriteFileAtomically(PublicKeyPath(folder), PublicKeyPem(key.publicKey()), 0644, true);
        !shown)
        return shown.error();
    return key;
}

} // namespace

DeskKey::DeskKey(DeskKey&& other) noexcept : publicKey_(other.publicKey_), secretKey_(other.secretKey_)
{
    sodium_memzero(other.secretKey_.data(), other.secretKey_.size());
}

DeskKey& DeskKey::operator=(DeskKey&& other) noexcept
{
    publicKey_ = other.publicKey_;
    secretKey_ = other.secretKey_;
    sodium_memzero(other.secretKey_.data(), other.secretKey_.size());
    return *this;
}

DeskKey::~DeskKey()
{
    sodium_memzero(secretKey_.data(), secretKey_.size());
}

DeskKey DeskKey::FromSeed(const unsigned char* seed)
{
    SodiumReady();
    DeskKey key;
    crypto_sign_seed_keypair(key.publicKey_.data(), key.secretKey_.data(), seed);
    return key;
}

Signature DeskKey::Sign(std::string_view message) const
{
    Signature signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), secretKey_.data());
    return signature;
}

std::string PrivateKeyPath(const std::string& folder)
{
    return folder + "/evidence-key";
}

std::string PublicKeyPath(const std::string& folder)
{
    return folder + "/evidence-key.pem";
}

Result<DeskKey> LoadOrMakeDeskKey(const std::string& folder)
{
    if (!SodiumReady())
        return Failure{"The signing library cannot start"};
    if (!MakeOwnFolder(folder))
        return SystemFailure("Cannot make the folder", folder);
    // The folder's lock: a second program making the key at the same moment waits and then reads it.
    const UniqueFd lock = LockFolder(folder);
    if (!lock.valid())
        return SystemFailure("Cannot lock the folder", folder);
    const std::string path = PrivateKeyPath(folder);
    std::optional<std::string> text = ReadKeyFile(path);
    if (!text) {
        if (errno != ENOENT)
            return SystemFailure("Cannot read the signing key", path);
        return MakeDeskKey(folder);
    }
    TightenToPrivate(path);
    Result<DeskKey> key = KeyOfText(*text, path);
    sodium_memzero(text->data(), text->size());
    // The public half is written again when it was lost or does not belong to the private one.
    if (key && ReadPublicKey(folder) != key->publicKey())
        static_cast<void>(WriteFileAtomically(PublicKeyPath(folder), PublicKeyPem(key->publicKey()), 0644, true));
    return key;
}

std::optional<PublicKey> ReadPublicKey(const std::string& folder)
{
    const std::optional<std::string> text = ReadKeyFile(PublicKeyPath(folder));
    return text ? ParsePublicKeyPem(*text) : std::nullopt;
}

bool SignatureMatches(const PublicKey& key, const Signature& signature, std::string_view message)
{
    return SodiumReady()
           && crypto_sign_verify_detached(signature.data(), reinterpret_cast<const unsigned char*>(message.data()),
                                          message.size(), key.data())
                  == 0;
}

std::string PublicKeyPem(const PublicKey& key)
{
    QByteArray der(reinterpret_cast<const char*>(kKeyInfoPrefix), sizeof kKeyInfoPrefix);
    der.append(reinterpret_cast<const char*>(key.data()), static_cast<qsizetype>(key.size()));
    return std::string(kPemBegin) + der.toBase64().toStdString() + '\n' + std::string(kPemEnd);
}

std::optional<PublicKey> ParsePublicKeyPem(std::string_view text)
{
    const std::size_t begin = text.find(kPemBegin);
    const std::size_t end = text.find(kPemEnd);
    if (begin == std::string_view::npos || end == std::string_view::npos || end < begin)
        return std::nullopt;
    const std::string_view body = text.substr(begin + kPemBegin.size(), end - begin - kPemBegin.size());
    const QByteArray::FromBase64Result der =
        QByteArray::fromBase64Encoding(QByteArray(body.data(), static_cast<qsizetype>(body.size())).replace('\n', ""),
                                       QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray prefix(reinterpret_cast<const char*>(kKeyInfoPrefix), sizeof kKeyInfoPrefix);
    if (!der || der.decoded.size() != prefix.size() + static_cast<qsizetype>(crypto_sign_PUBLICKEYBYTES)
        || !der.decoded.startsWith(prefix))
        return std::nullopt;
    PublicKey key{};
    std::memcpy(key.data(), der.decoded.constData() + prefix.size(), key.size());
    return key;
}

std::string KeyFingerprint(const PublicKey& key)
{
    return Sha256Hex(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}
