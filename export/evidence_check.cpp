#include "export/evidence_package.h"

#include "export/evidence_parts.h"
#include "platform/sha256_digest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <zip.h>

#include <algorithm>
#include <map>
#include <memory>

// Checking a package written by ExportEvidence (evidence_package.cpp).

namespace {

// The text parts are kept to be read; none of ours comes near this size.
constexpr std::uint64_t kLargestTextPart = 1024 * 1024;
// Reading stops here: a zip that claims more (a decompression bomb) holds no recording of ours.
constexpr std::uint64_t kLargestPart = 5ull * 1024 * 1024 * 1024;
constexpr std::size_t kReadPiece = 1024 * 1024;

struct Entry {
    std::string name;
    std::string sha256; // empty when it cannot be read whole (its own check fails, or it is too large)
    std::string bytes;  // the bytes of a text part
    bool duplicate = false;
};

bool IsTextPart(const std::string& name)
{
    return name == kManifestPart || name == kSumsPart || name == kSignaturePart || name == kPublicKeyPart;
}

// Reads one entry whole, hashing it; a read that fails (the zip's own CRC check among others) leaves sha256 empty.
Entry ReadEntry(zip_t* archive, zip_uint64_t index, std::vector<char>& piece)
{
    const char* name = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
    Entry entry;
    entry.name = name != nullptr ? name : "";
    const std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen_index(archive, index, 0), zip_fclose);
    if (!file)
        return entry;
    const bool keep = IsTextPart(entry.name);
    Sha256 hash;
    std::uint64_t total = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(file.get(), piece.data(), piece.size());
        if (got < 0)
            return entry;
        if (got == 0)
            break;
        total += static_cast<std::uint64_t>(got);
        if (total > (keep ? kLargestTextPart : kLargestPart))
            return entry;
        hash.Add(piece.data(), static_cast<std::size_t>(got));
        if (keep)
            entry.bytes.append(piece.data(), static_cast<std::size_t>(got));
    }
    entry.sha256 = hash.FinishHex();
    return entry;
}

// The parts the manifest lists with their hashes; nothing when it is not a manifest.
std::optional<std::vector<SumsLine>> ManifestParts(const std::string& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(bytes));
    if (!document.isObject() || document.object()["format"].toString() != kManifestFormat)
        return std::nullopt;
    std::vector<SumsLine> parts;
    for (const QJsonValue& part : document.object()["parts"].toArray())
        parts.push_back({part["sha256"].toString().toStdString(), part["name"].toString().toStdString()});
    return parts;
}

// Whether SHA256SUMS says what the manifest says: the manifest's parts with their hashes, and the
// manifest itself with the hash its bytes have.
bool SumsAgreeWithManifest(const std::optional<std::vector<SumsLine>>& sums, const Entry* manifest)
{
    if (!sums || manifest == nullptr)
        return false;
    std::optional<std::vector<SumsLine>> expected = ManifestParts(manifest->bytes);
    if (!expected)
        return false;
    expected->push_back({manifest->sha256, kManifestPart});
    const auto same = [](const SumsLine& a, const SumsLine& b) { return a.sha256 == b.sha256 && a.name == b.name; };
    return sums->size() == expected->size() && std::equal(sums->begin(), sums->end(), expected->begin(), same);
}

class PackageCheck {
public:
    PackageCheck(std::vector<Entry> entries, const std::optional<PublicKey>& trustedKey);
    EvidenceCheck Finish() &&;

private:
    const Entry* Find(const std::string& name) const;
    void Judge(const std::string& name, PartState state) { states_[name] = state; }
    bool SignatureHolds(const std::optional<PublicKey>& key) const;
    void JudgeListed(const std::vector<SumsLine>& listed);

    std::vector<Entry> entries_;
    std::map<std::string, PartState> states_;
    EvidenceCheck check_;
};

PackageCheck::PackageCheck(std::vector<Entry> entries, const std::optional<PublicKey>& trustedKey)
    : entries_(std::move(entries))
{
    const Entry* pem = Find(kPublicKeyPart);
    const std::optional<PublicKey> packageKey = pem ? ParsePublicKeyPem(pem->bytes) : std::nullopt;
    if (pem && !packageKey)
        Judge(kPublicKeyPart, PartState::Changed);
    else if (pem && trustedKey && packageKey != trustedKey)
        Judge(kPublicKeyPart, PartState::ForeignKey);
    const std::optional<PublicKey> key = trustedKey ? trustedKey : packageKey;
    check_.keyFromPackage = !trustedKey;
    check_.keyFingerprint = key ? KeyFingerprint(*key) : std::string();

    const Entry* sums = Find(kSumsPart);
    const std::optional<std::vector<SumsLine>> listed = sums ? ParseSums(sums->bytes) : std::nullopt;
    const std::optional<std::vector<SumsLine>> manifestParts =
        Find(kManifestPart) ? ManifestParts(Find(kManifestPart)->bytes) : std::nullopt;
    if (SignatureHolds(key)) {
        JudgeListed(*listed);
    } else if (SumsAgreeWithManifest(listed, Find(kManifestPart))) {
        // SHA256SUMS is what the manifest implies: the signature is what was changed (or made by another key).
        Judge(kSignaturePart, PartState::BadSignature);
        JudgeListed(*listed);
    } else {
        // SHA256SUMS itself was changed: the parts are judged by what the manifest lists, and a manifest
        // that lists nothing readable was changed too.
        Judge(kSumsPart, PartState::Changed);
        if (Find(kManifestPart))
            Judge(kManifestPart, manifestParts ? PartState::Whole : PartState::Changed);
        JudgeListed(manifestParts.value_or(std::vector<SumsLine>{}));
    }
    for (const char* fixed : {kManifestPart, kSumsPart, kSignaturePart, kPublicKeyPart}) {
        if (!Find(fixed))
            Judge(fixed, PartState::Missing);
    }
}

const Entry* PackageCheck::Find(const std::string& name) const
{
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const Entry& entry) { return entry.name == name && !entry.duplicate; });
    return found == entries_.end() ? nullptr : &*found;
}

bool PackageCheck::SignatureHolds(const std::optional<PublicKey>& key) const
{
    const Entry* sums = Find(kSumsPart);
    const Entry* signature = Find(kSignaturePart);
    if (!key || !sums || !signature || signature->bytes.size() != crypto_sign_BYTES || !ParseSums(sums->bytes))
        return false;
    Signature bytes{};
    std::copy(signature->bytes.begin(), signature->bytes.end(), bytes.begin());
    return SignatureMatches(*key, bytes, sums->bytes);
}

// Each listed part must be in the zip with its hash.
void PackageCheck::JudgeListed(const std::vector<SumsLine>& listed)
{
    for (const SumsLine& line : listed) {
        const Entry* entry = Find(line.name);
        if (!entry)
            Judge(line.name, PartState::Missing);
        else if (entry->sha256 != line.sha256)
            Judge(line.name, PartState::Changed);
        else if (!states_.contains(line.name))
            Judge(line.name, PartState::Whole);
    }
}

EvidenceCheck PackageCheck::Finish() &&
{
    for (const Entry& entry : entries_) {
        const auto judged = states_.find(entry.name);
        const bool fixed = entry.name == kSumsPart || entry.name == kSignaturePart || entry.name == kPublicKeyPart;
        const PartState state = entry.duplicate           ? PartState::Unexpected
                                : judged != states_.end() ? judged->second
                                : fixed                   ? PartState::Whole
                                                          : PartState::Unexpected;
        check_.parts.push_back({entry.name, state});
        if (judged != states_.end() && !entry.duplicate)
            states_.erase(judged);
    }
    for (const auto& [name, state] : states_)
        check_.parts.push_back({name, state});
    return std::move(check_);
}

} // namespace

bool EvidenceCheck::whole() const
{
    return !parts.empty() && std::all_of(parts.begin(), parts.end(), [](const PartCheck& part) {
        return part.state == PartState::Whole;
    });
}

Result<EvidenceCheck> VerifyEvidence(const std::string& zipPath, const std::optional<PublicKey>& trustedKey)
{
    int code = 0;
    const std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
        zip_open(zipPath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code), zip_discard);
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const Failure failure{"cannot read " + zipPath + ": " + zip_error_strerror(&error), 0, zipPath};
        zip_error_fini(&error);
        return failure;
    }
    std::vector<Entry> entries;
    std::vector<char> piece(kReadPiece);
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        Entry entry = ReadEntry(archive.get(), static_cast<zip_uint64_t>(i), piece);
        entry.duplicate =
            std::any_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == entry.name; });
        entries.push_back(std::move(entry));
    }
    return PackageCheck(std::move(entries), trustedKey).Finish();
}
