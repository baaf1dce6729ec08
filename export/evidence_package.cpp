#include "export/evidence_package.h"

#include "audio/adpcm_converter.h"
#include "catalogue/recording.h"
#include "export/evidence_parts.h"
#include "index/archive_index.h"
#include "platform/atomic_file.h"
#include "platform/sha256_digest.h"
#include "web/access_log.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The zip is read out of memory into its file in pieces of this size.
constexpr zip_uint64_t kCopyPiece = 1024 * 1024;

struct Part {
    std::string name;
    std::vector<zip_buffer_fragment_t> fragments; // the bytes, in pieces the part does not own
    std::uint64_t size = 0;
    std::string sha256;
};

Part MakePart(std::string name, std::vector<zip_buffer_fragment_t> fragments)
{
    Part part;
    part.name = std::move(name);
    part.fragments = std::move(fragments);
    Sha256 hash;
    for (const zip_buffer_fragment_t& fragment : part.fragments) {
        hash.Add(fragment.data, fragment.length);
        part.size += fragment.length;
    }
    part.sha256 = hash.FinishHex();
    return part;
}

Part TextPart(std::string name, const std::string& text)
{
    return MakePart(std::move(name), {{reinterpret_cast<zip_uint8_t*>(const_cast<char*>(text.data())), text.size()}});
}

// The recording's name inside the package: its own, with control characters made visible as "_".
std::string PartNameOf(const std::string& path)
{
    std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    for (char& c : name)
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '_' : c;
    return name;
}

// "VOC00001.WAV" -> "VOC00001-listen.wav".
std::string ListenNameOf(const std::string& recordingName)
{
    const std::size_t dot = recordingName.rfind('.');
    return recordingName.substr(0, dot == std::string::npos || dot == 0 ? recordingName.size() : dot) + "-listen.wav";
}

Result<std::string> ReadRecording(const std::string& path)
{
    Result<OpenedFile> opened = OpenRegularFile(path);
    if (!opened)
        return opened.error();
    std::string bytes;
    try {
        bytes.resize(opened->size);
    } catch (const std::bad_alloc&) {
        return Failure{"not enough memory for " + path, ENOMEM, path};
    }
    if (std::fread(bytes.data(), 1, bytes.size(), opened->stream.get()) != bytes.size())
        return Failure{"cannot read " + path + ": " + std::strerror(errno), errno, path};
    return bytes;
}

// The recording decoded as the player decodes it, from exactly the bytes the package holds.
Result<LoadedWave> Decoded(const std::string& recording, const std::string& path)
{
    const std::unique_ptr<std::FILE, FileCloser> stream(
        ::fmemopen(const_cast<char*>(recording.data()), recording.size(), "rb"));
    if (!stream)
        return Failure{"not enough memory for " + path, ENOMEM, path};
    Result<LoadedWave> wave = DecodeToPcmWave(stream.get(), recording.size());
    if (!wave)
        return Failure{"the recording " + path + " cannot be decoded: " + wave.error().reason, 0, path};
    return wave;
}

QJsonObject HeaderFields(const std::string& recording)
{
    if (recording.size() < kHeaderOffset + kHeaderSize)
        return {};
    unsigned char record[kHeaderSize];
    std::memcpy(record, recording.data() + kHeaderOffset, kHeaderSize);
    const RecordingHeader header = ParseRecordingHeader(record);
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(recording.size(), UINT32_MAX));
    return {{"record", QString::fromStdString(HexText(record, kHeaderSize))},
            {"mode", QString::fromStdString(ModeName(header.mode))},
            {"phone", QString::fromStdString(PhoneText(header))},
            {"start", QString::fromStdString(StartTimeText(header))},
            {"duration", QString::fromStdString(DurationText(size))}};
}

QJsonObject PartObject(const Part& part)
{
    return {{"name", QString::fromStdString(part.name)},
            {"size", static_cast<qint64>(part.size)},
            {"sha256", QString::fromStdString(part.sha256)}};
}

struct ManifestFacts {
    QDateTime time;
    const EvidenceRequest* request = nullptr;
    QJsonObject header;
    QString logHead;
    std::string keyFingerprint;
};

std::string ManifestText(const ManifestFacts& facts, const std::vector<const Part*>& parts)
{
    QJsonArray listed;
    for (const Part* part : parts)
        listed.append(PartObject(*part));
    QJsonObject manifest{{"format", kManifestFormat},
                         {"exported", facts.time.toString(Qt::ISODateWithMs)},
                         {"desk", QSysInfo::machineHostName()},
                         {"exported_by", facts.request->account},
                         {"recording", PartObject(*parts.front())},
                         {"header", facts.header},
                         {"key_sha256", QString::fromStdString(facts.keyFingerprint)},
                         {"parts", listed}};
    if (facts.request->note && !facts.request->note->empty())
        manifest["note"] = QJsonObject{{"description", QString::fromStdString(facts.request->note->description)},
                                       {"user_type", QString::fromStdString(facts.request->note->userType)}};
    if (!facts.logHead.isEmpty())
        manifest["access_log"] = QJsonObject{{"head", facts.logHead}};
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented).toStdString();
}

std::string ReadmeText(const ManifestFacts& facts, const std::string& recordingName, const std::string& listenName)
{
    const QString text = QStringLiteral(
        "证据包核验说明\n"
        "\n"
        "本证据包于 %1（世界时）由 sdvoice 在电脑 %2 上导出，内含：\n"
        "  · %3：录音设备写下的原始录音，逐字节未改\n"
        "  · %4：由原始录音解码的 WAV 文件，供收听\n"
        "  · manifest.json：清单，有各部分的名称、大小和 SHA-256 指纹，录音头信息，录音说明，导出时访问日志的链头\n"
        "  · SHA256SUMS：录音、WAV、清单和本说明的 SHA-256 指纹\n"
        "  · SHA256SUMS.sig：导出电脑的密钥对 SHA256SUMS 的 Ed25519 签名\n"
        "  · public-key.pem：该密钥的公钥，其指纹为\n"
        "        %5\n"
        "\n"
        "一、不用本软件核验（Linux 或装有 coreutils 和 OpenSSL 3 的电脑）\n"
        "  1. 解压后在解压出的文件夹中运行：\n"
        "         sha256sum -c SHA256SUMS\n"
        "     每一行都应显示“成功”（英文环境为 OK）。\n"
        "  2. 核验签名：\n"
        "         openssl pkeyutl -verify -pubin -inkey public-key.pem -rawin -in SHA256SUMS -sigfile SHA256SUMS.sig\n"
        "     应显示 Signature Verified Successfully。\n"
        "  3. 核对公钥确是导出电脑的公钥：\n"
        "         openssl pkey -pubin -in public-key.pem -outform DER | tail -c 32 | sha256sum\n"
        "     显示的指纹应与上面的指纹相同，也应与导出方另行告知的公钥指纹相同。\n"
        "\n"
        "二、用本软件核验\n"
        "         voctool verify-evidence 证据包.zip\n"
        "     逐一列出各部分：全部“完好”且退出状态为 0 即证据包未被改动；否则指出被改动、缺少或多出的部分，退出状态为 "
        "1。\n"
        "     在导出的电脑上核验时，签名用该电脑自己的公钥核对；在别的电脑上可用 --key 指定导出方提供的公钥文件。\n");
    return text
        .arg(facts.time.toString(Qt::ISODate), QSysInfo::machineHostName(), QString::fromStdString(recordingName),
             QString::fromStdString(listenName), QString::fromStdString(facts.keyFingerprint))
        .toStdString();
}

// The export's entry in the access log when the desk has one; its hash is the chain's head.
Result<QString> LogExport(const EvidenceRequest& request, const std::string& name, const std::string& sha256)
{
    if (request.logPath.isEmpty() || !QFileInfo::exists(request.logPath))
        return QString();
    const QString exported = QString::fromStdString(name + " sha256=" + sha256);
    Result<QString> head = AccessLog(request.logPath)
                               .Append({QDateTime::currentDateTimeUtc(), request.account, WebAction::EvidenceExport,
                                        exported, request.address});
    if (!head)
        return Failure{"the access log cannot be written, so nothing was exported: " + head.error().reason,
                       head.error().error, head.error().path};
    return head;
}

Failure ZipFailure(zip_error_t* error, const std::string& path)
{
    return Failure{"cannot write " + path + ": " + zip_error_strerror(error), 0, path};
}

// Adds the part, stored as it is: the recordings are compressed already or compress poorly, and
// storing keeps an hour's export within a second.
bool AddPart(zip_t* archive, const Part& part, time_t time)
{
    zip_source_t* source = zip_source_buffer_fragment(archive, part.fragments.data(), part.fragments.size(), 0);
    if (source == nullptr)
        return false;
    const zip_int64_t index = zip_file_add(archive, part.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    const auto at = static_cast<zip_uint64_t>(index);
    return zip_set_file_compression(archive, at, ZIP_CM_STORE, 0) == 0 && zip_file_set_mtime(archive, at, time, 0) == 0;
}

// Builds the zip in memory, then writes it through a temporary file beside path.
Result<void> WriteZip(const std::string& path, const std::vector<const Part*>& parts, time_t time)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
    if (archive == nullptr) {
        if (buffer)
            zip_source_free(buffer);
        return ZipFailure(&error, path);
    }
    zip_source_keep(buffer); // its bytes are read after the archive is closed
    const std::unique_ptr<zip_source_t, decltype(&zip_source_free)> kept(buffer, zip_source_free);
    for (const Part* part : parts) {
        if (!AddPart(archive, *part, time)) {
            const Failure failure = ZipFailure(zip_get_error(archive), path);
            zip_discard(archive);
            return failure;
        }
    }
    if (zip_close(archive) != 0) {
        const Failure failure = ZipFailure(zip_get_error(archive), path);
        zip_discard(archive);
        return failure;
    }
    TempFile temp = CreateTempFileForSave(path, kPrivateFileMode);
    if (temp.fd < 0)
        return Failure{"cannot create " + path + ": " + std::strerror(errno), errno, path};
    std::vector<char> piece(kCopyPiece);
    bool written = zip_source_open(buffer) == 0;
    for (zip_int64_t got = 0; written && (got = zip_source_read(buffer, piece.data(), piece.size())) != 0;)
        written = got > 0 && WriteAllBytes(temp.fd, piece.data(), static_cast<std::size_t>(got));
    if (!written) {
        const int failed = errno;
        DiscardTempFile(temp);
        return Failure{"cannot write " + path + ": " + std::strerror(failed), failed, path};
    }
    zip_source_close(buffer);
    return CommitTempFile(temp, path);
}

zip_buffer_fragment_t Fragment(const void* bytes, std::size_t size)
{
    return {static_cast<zip_uint8_t*>(const_cast<void*>(bytes)), size};
}

} // namespace

std::optional<RecordingNote> NoteFromConfiguredIndex(const std::string& path, std::string& message)
{
    const IndexLocation location = ConfiguredIndexLocation();
    if (location.driver == QStringLiteral("QSQLITE") && !QFileInfo::exists(QString::fromStdString(location.sqlitePath)))
        return std::nullopt;
    const std::optional<RecordingHead> head = ReadRecordingHead(path);
    if (!head)
        return std::nullopt;
    ArchiveIndex::Opened opened = ArchiveIndex::OpenConfigured();
    message = opened.message;
    if (!opened.index)
        return std::nullopt;
    RecordingNote note = opened.index->NoteOf(IdentityOf(PartNameOf(path), *head));
    return note.empty() ? std::nullopt : std::optional(note);
}

Result<EvidenceExported> ExportEvidence(const EvidenceRequest& request)
{
    const Result<std::string> recording = ReadRecording(request.recordingPath);
    if (!recording)
        return recording.error();
    const Result<LoadedWave> wave = Decoded(*recording, request.recordingPath);
    if (!wave)
        return wave.error();
    const Result<DeskKey> key = LoadOrMakeDeskKey(request.keyFolder);
    if (!key)
        return key.error();
    const auto waveHeader = WaveHeaderBytes(static_cast<std::uint32_t>(wave->data.size()));
    const Part original = MakePart(PartNameOf(request.recordingPath), {Fragment(recording->data(), recording->size())});
    const Part listen = MakePart(ListenNameOf(original.name), {Fragment(waveHeader.data(), waveHeader.size()),
                                                               Fragment(wave->data.data(), wave->data.size())});
    const Result<QString> logHead = LogExport(request, original.name, original.sha256);
    if (!logHead)
        return logHead.error();
    const ManifestFacts facts{QDateTime::currentDateTimeUtc(), &request, HeaderFields(*recording), *logHead,
                              KeyFingerprint(key->publicKey())};
    const std::string readmeText = ReadmeText(facts, original.name, listen.name);
    const Part readme = TextPart(kReadmePart, readmeText);
    const std::string manifestText = ManifestText(facts, {&original, &listen, &readme});
    const Part manifest = TextPart(kManifestPart, manifestText);
    const std::string sumsText = SumsText({{original.sha256, original.name},
                                           {listen.sha256, listen.name},
                                           {readme.sha256, readme.name},
                                           {manifest.sha256, manifest.name}});
    const Part sums = TextPart(kSumsPart, sumsText);
    const Signature signature = key->Sign(sumsText);
    const Part signaturePart = MakePart(kSignaturePart, {Fragment(signature.data(), signature.size())});
    const std::string pemText = PublicKeyPem(key->publicKey());
    const Part pem = TextPart(kPublicKeyPart, pemText);
    const Result<void> written = WriteZip(request.outputPath,
                                          {&readme, &manifest, &sums, &signaturePart, &pem, &original, &listen},
                                          facts.time.toSecsSinceEpoch());
    if (!written)
        return written.error();
    return EvidenceExported{original.sha256, *logHead, facts.keyFingerprint};
}
