#include "export/evidence_package.h"
#include "platform/locations.h"
#include "search/archive_verification.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"
#include "web/access_log.h"

#include <QFile>

#include <algorithm>
#include <map>

namespace {

const char* const kEvidenceUsage = "evidence FILE OUT.zip";
const char* const kVerifyEvidenceUsage = "verify-evidence FILE.zip [--key PUBLIC_KEY.pem]";
const char* const kVerifyUsage = "verify DIR [--recursive]";

QString FingerprintText(FingerprintState state)
{
    switch (state) {
    case FingerprintState::Whole:
        return Voctool::tr("whole");
    case FingerprintState::Changed:
        return Voctool::tr("changed");
    case FingerprintState::Missing:
        return Voctool::tr("missing");
    case FingerprintState::Unrecorded:
        return Voctool::tr("no fingerprint recorded");
    case FingerprintState::Unreadable:
        return Voctool::tr("cannot be read");
    }
    return {};
}

QString StateText(PartState state)
{
    switch (state) {
    case PartState::Whole:
        return Voctool::tr("whole");
    case PartState::Changed:
        return Voctool::tr("changed");
    case PartState::Missing:
        return Voctool::tr("missing");
    case PartState::Unexpected:
        return Voctool::tr("not part of the package");
    case PartState::BadSignature:
        return Voctool::tr("not the key's signature of SHA256SUMS");
    case PartState::ForeignKey:
        return Voctool::tr("another key than the one trusted");
    }
    return {};
}

// The key to trust: the one --key names, else this desk's own, else none (the package's own is used);
// nothing after telling why the file --key names holds no key.
std::optional<std::optional<PublicKey>> TrustedKey(const CommandArgs& args)
{
    if (args.size() == 1)
        return ReadPublicKey(DataDir());
    QFile file(QString::fromStdString(args[2]));
    const std::optional<PublicKey> key =
        file.open(QIODevice::ReadOnly) ? ParsePublicKeyPem(file.read(64 * 1024).toStdString()) : std::nullopt;
    if (!key) {
        Say(Voctool::tr("%1 is no public key in PEM form"), {args[2]});
        return std::nullopt;
    }
    return key;
}

} // namespace

int RunEvidence(const CommandArgs& args)
{
    if (args.size() != 2 || args[0].starts_with("--") || args[1].starts_with("--"))
        return SayUsage(kEvidenceUsage);
    EvidenceRequest request;
    request.recordingPath = args[0];
    request.outputPath = args[1];
    request.keyFolder = DataDir();
    std::string message;
    request.note = NoteFromConfiguredIndex(args[0], message);
    if (!message.empty())
        Say(message);
    request.logPath = AccessLog::DefaultPath();
    request.account = QString::fromStdString(UserName());
    const Result<EvidenceExported> exported = ExportEvidence(request);
    if (!exported) {
        Say(Voctool::tr("the evidence package was not written: %1"), {exported.error().reason});
        return 1;
    }
    Tell(Voctool::tr("%1 written; the recording's SHA-256: %2"), {args[1], exported->recordingSha256});
    Tell(Voctool::tr("signed with the desk's key %1"), {exported->keyFingerprint});
    if (!exported->logHead.isEmpty())
        Tell(Voctool::tr("the export's entry in the access log: %1"), {exported->logHead.toStdString()});
    return FinishOutput();
}

int RunVerifyEvidence(const CommandArgs& args)
{
    if (!(args.size() == 1 || (args.size() == 3 && args[1] == "--key")) || args[0].starts_with("--"))
        return SayUsage(kVerifyEvidenceUsage);
    const std::optional<std::optional<PublicKey>> trusted = TrustedKey(args);
    if (!trusted)
        return 1;
    const Result<EvidenceCheck> check = VerifyEvidence(args[0], *trusted);
    if (!check) {
        Say(check.error().reason);
        return 1;
    }
    for (const PartCheck& part : check->parts)
        Tell(QStringLiteral("%1: ") + StateText(part.state), {part.name});
    if (check->keyFromPackage)
        Tell(Voctool::tr("checked with the package's own key %1: compare it with the key the exporting desk "
                         "shows"),
             {check->keyFingerprint});
    else
        Tell(Voctool::tr("checked with the key %1"), {check->keyFingerprint});
    Tell(check->whole() ? Voctool::tr("the package is whole") : Voctool::tr("the package was changed"));
    const int written = FinishOutput();
    return written != 0 ? written : check->whole() ? 0 : 1;
}

int RunVerify(const CommandArgs& args)
{
    const bool recursive = args.size() == 2 && args[1] == "--recursive";
    if ((args.size() != 1 && !recursive) || args[0].starts_with("--"))
        return SayUsage(kVerifyUsage);
    std::map<FingerprintState, int> counts;
    const bool opened = VerifyArchive(
        args[0], recursive ? FolderScope::WithSubfolders : FolderScope::FolderOnly,
        [&](const VerifiedRecording& recording) {
            ++counts[recording.state];
            Tell(QStringLiteral("%1%2: ") + FingerprintText(recording.state), {recording.folder, recording.name});
            return true;
        });
    if (!opened) {
        Say(Voctool::tr("cannot open the folder %1"), {args[0]});
        return 1;
    }
    Tell(Voctool::tr("%1 whole, %2 changed, %3 missing, %4 unreadable, %5 without a recorded fingerprint"),
         {std::to_string(counts[FingerprintState::Whole]), std::to_string(counts[FingerprintState::Changed]),
          std::to_string(counts[FingerprintState::Missing]), std::to_string(counts[FingerprintState::Unreadable]),
          std::to_string(counts[FingerprintState::Unrecorded])});
    const bool damaged = std::any_of(counts.begin(), counts.end(),
                                     [](const auto& count) { return IsDamage(count.first) && count.second > 0; });
    const int written = FinishOutput();
    return written != 0 ? written : damaged ? 1 : 0;
}
