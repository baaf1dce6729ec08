#pragma once

#include "platform/result.h"

#include <sodium.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

// The desk's Ed25519 key that signs evidence exports. It is made at its first use and kept in
// the program's data folder ($XDG_DATA_HOME/sdvoice, beside the archive index) rather than with
// the settings: settings are copied from desk to desk, a signing key must stay with its desk.
// The private half (evidence-key, 0600) holds the key's 32-byte seed in hex; the public half
// (evidence-key.pem) is the usual PEM form that `openssl pkeyutl -verify` reads.

using PublicKey = std::array<unsigned char, crypto_sign_PUBLICKEYBYTES>;
using Signature = std::array<unsigned char, crypto_sign_BYTES>;

class DeskKey {
public:
    DeskKey() = default;
    DeskKey(const DeskKey&) = delete;
    DeskKey& operator=(const DeskKey&) = delete;
    DeskKey(DeskKey&& other) noexcept;
    DeskKey& operator=(DeskKey&& other) noexcept;
    ~DeskKey(); // wipes the private half from memory

    // The key of the seed (crypto_sign_SEEDBYTES bytes).
    static DeskKey FromSeed(const unsigned char* seed);
    const PublicKey& publicKey() const { return publicKey_; }
    Signature Sign(std::string_view message) const;

private:
    PublicKey publicKey_{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey_{};
};

// The files of the key in folder.
std::string PrivateKeyPath(const std::string& folder);
std::string PublicKeyPath(const std::string& folder);
// The key kept in folder (DataDir() for the desk), made and written there (through the safe write
// path, the private half 0600) when there is none. Several programs making it at once make one key.
Result<DeskKey> LoadOrMakeDeskKey(const std::string& folder);
// The public half kept in folder; nothing when the desk has no key yet or it cannot be read.
std::optional<PublicKey> ReadPublicKey(const std::string& folder);

bool SignatureMatches(const PublicKey& key, const Signature& signature, std::string_view message);
// The key as PEM text ("-----BEGIN PUBLIC KEY-----" ...), and read back from such text.
std::string PublicKeyPem(const PublicKey& key);
std::optional<PublicKey> ParsePublicKeyPem(std::string_view text);
// The SHA-256 of the key's 32 bytes in hex, as
// `openssl pkey -pubin -in evidence-key.pem -outform DER | tail -c 32 | sha256sum` prints it.
std::string KeyFingerprint(const PublicKey& key);
