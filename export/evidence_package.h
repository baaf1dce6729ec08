#pragma once

#include "export/evidence_key.h"
#include "index/note_store.h"
#include "platform/result.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

// A signed export of one call, for handing to a lawyer, an auditor or a court: one zip holding
//   VOC00001.WAV         the recording byte for byte
//   VOC00001-listen.wav  the same call decoded to 16-bit PCM, to listen to
//   manifest.json        name, size and SHA-256 of each of those parts and of the text below, the header
//                        record's fields, the note, the access log's chain head at the export
//   核验说明.txt          how to check the package, in Chinese
//   SHA256SUMS           the SHA-256 of the four parts above, as `sha256sum -c` reads them
//   SHA256SUMS.sig       the desk key's Ed25519 signature of SHA256SUMS (64 bytes)
//   public-key.pem       the desk key's public half
// Everything but the signature and the key is held by SHA256SUMS, and SHA256SUMS by the signature,
// so that a change anywhere shows, and `sha256sum` and `openssl pkeyutl` check it without this program.

struct EvidenceRequest {
    std::string recordingPath;
    std::string outputPath;            // the zip; written beside it and renamed into place
    std::string keyFolder;             // where the desk's key is kept (DataDir()); made there at first use
    std::optional<RecordingNote> note; // the recording's note, where the index has one
    QString logPath;                   // the access log: when the file exists the export is an entry of it
    QString account;                   // who exports, for the log entry
    QString address = QStringLiteral("desk");
};

struct EvidenceExported {
    std::string recordingSha256;
    QString logHead;            // the hash of the export's own log entry; empty without a log
    std::string keyFingerprint; // see KeyFingerprint
};

// Writes the package. The export's log entry is appended before the package is written, and a
// package whose entry cannot be written is not written at all. A recording that cannot be read or
// decoded fails with the reason; outputPath is then untouched.
Result<EvidenceExported> ExportEvidence(const EvidenceRequest& request);

// The note of the recording at path in the index the settings name, for an export from the command
// line (the windows and the server pass the note they have). Nothing when there is no index (none
// is made) or it has no note; message says why an index could not be used.
std::optional<RecordingNote> NoteFromConfiguredIndex(const std::string& path, std::string& message);

// What checking a package found about each of its parts.
enum class PartState {
    Whole,
    Changed,      // its bytes are not those the package lists (for SHA256SUMS: it no longer agrees with the
                  // manifest)
    Missing,      // listed, but not in the zip
    Unexpected,   // in the zip, but listed nowhere
    BadSignature, // SHA256SUMS.sig is not the key's signature of SHA256SUMS
    ForeignKey,   // public-key.pem is not the key the check trusts
};
struct PartCheck {
    std::string name;
    PartState state = PartState::Whole;
};
struct EvidenceCheck {
    std::vector<PartCheck> parts; // in the zip's order, the missing ones after them
    std::string keyFingerprint;   // of the key the signature was checked with
    bool keyFromPackage = false;  // that key is only the package's own: compare its fingerprint by hand

    bool whole() const;
};

// Checks every part's hash and the signature. The signature is checked with trustedKey when given,
// else with the package's own key (keyFromPackage). Fails only when the file is no zip that can be read.
Result<EvidenceCheck> VerifyEvidence(const std::string& zipPath, const std::optional<PublicKey>& trustedKey);
