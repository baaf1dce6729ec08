#include "audio/adpcm_converter.h"
#include "export/evidence_key.h"
#include "export/evidence_package.h"
#include "platform/sha256_digest.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"
#include "web/access_log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using States = std::map<std::string, PartState>;

States StatesOf(const EvidenceCheck& check)
{
    States states;
    for (const PartCheck& part : check.parts)
        states[part.name] = part.state;
    return states;
}

// The parts of an intact package, all whole.
States Intact()
{
    States states;
    for (const char* name : {"VOC00007.WAV", "VOC00007-listen.wav", "manifest.json", "核验说明.txt", "SHA256SUMS",
                             "SHA256SUMS.sig", "public-key.pem"})
        states[name] = PartState::Whole;
    return states;
}

States IntactBut(std::initializer_list<std::pair<const std::string, PartState>> changes)
{
    States states = Intact();
    for (const auto& [name, state] : changes)
        states[name] = state;
    return states;
}

std::string ZipPart(const std::string& zipPath, const std::string& name)
{
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_RDONLY, nullptr);
    zip_stat_t stat;
    zip_file_t* file = archive && zip_stat(archive, name.c_str(), 0, &stat) == 0 ? zip_fopen(archive, name.c_str(), 0)
                                                                                 : nullptr;
    std::string bytes(file ? stat.size : 0, '\0');
    if (file && zip_fread(file, bytes.data(), bytes.size()) != static_cast<zip_int64_t>(bytes.size()))
        bytes.clear();
    if (file)
        zip_fclose(file);
    if (archive)
        zip_discard(archive);
    return bytes;
}

// A copy of the package with the part's bytes changed (the zip's own checks made to match), or the
// part removed when change is empty and added when it is missing.
std::string Altered(const std::string& zipPath, const std::string& name,
                    const std::function<void(std::string&)>& change, const std::string& copyPath)
{
    TempFolder::WriteFile(copyPath, TempFolder::Read(zipPath));
    std::string bytes = ZipPart(zipPath, name);
    zip_t* archive = zip_open(copyPath.c_str(), 0, nullptr);
    const zip_int64_t index = zip_name_locate(archive, name.c_str(), 0);
    if (!change) {
        zip_delete(archive, static_cast<zip_uint64_t>(index));
    } else {
        change(bytes);
        static std::string kept;
        kept = bytes;
        zip_source_t* source = zip_source_buffer(archive, kept.data(), kept.size(), 0);
        if (index < 0)
            zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        else
            zip_file_replace(archive, static_cast<zip_uint64_t>(index), source, 0);
    }
    EXPECT_EQ(zip_close(archive), 0);
    return copyPath;
}

void FlipByte(std::string& bytes, std::size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
}

class Evidence : public ::testing::Test {
protected:
    void SetUp() override
    {
        SampleSpec sample = SampleSpecFor(6, 3500 * 4);
        sample.phone = "13800138000";
        ASSERT_TRUE(WriteSampleFile(recording_, sample));
        ASSERT_TRUE(AccessLog(QString::fromStdString(logPath_))
                        .Append({QDateTime::currentDateTimeUtc(), "li", WebAction::Play, "1", "192.168.1.20"}));
    }

    Result<EvidenceExported> Export(const std::string& output)
    {
        EvidenceRequest request;
        request.recordingPath = recording_;
        request.outputPath = output;
        request.keyFolder = keyFolder_;
        request.note = RecordingNote{"客户同意续约", "大客户"};
        request.logPath = QString::fromStdString(logPath_);
        request.account = "wang";
        return ExportEvidence(request);
    }

    States Check(const std::string& zipPath, std::optional<PublicKey> key = std::nullopt)
    {
        const Result<EvidenceCheck> check = VerifyEvidence(zipPath, key ? key : ReadPublicKey(keyFolder_));
        EXPECT_TRUE(check) << (check ? "" : check.error().reason);
        return check ? StatesOf(*check) : States{};
    }

    TempFolder folder_;
    std::string recording_ = folder_.Path("VOC00007.WAV");
    std::string keyFolder_ = folder_.Path("data/sdvoice");
    std::string logPath_ = folder_.Path("config/web-access.log");
};

TEST_F(Evidence, PackageHoldsTheRecordingAndItsFactsAndPassesTheChecksOfCoreutilsAndOpenssl)
{
    const std::string zipPath = folder_.Path("evidence.zip");
    const Result<EvidenceExported> exported = Export(zipPath);
    ASSERT_TRUE(exported) << exported.error().reason;
    EXPECT_EQ(exported->recordingSha256, *Sha256HexOfFile(recording_));
    EXPECT_EQ(Check(zipPath), Intact());

    // The export is the log's newest entry, and the manifest holds its hash as the chain's head.
    AccessLog log(QString::fromStdString(logPath_));
    const LogCheck chain = *log.Verify();
    EXPECT_TRUE(chain.whole());
    EXPECT_EQ(chain.head, exported->logHead);
    EXPECT_EQ(log.Newest(1)->front().action, WebAction::EvidenceExport);
    const QJsonObject manifest =
        QJsonDocument::fromJson(QByteArray::fromStdString(ZipPart(zipPath, "manifest.json"))).object();
    EXPECT_EQ(manifest["access_log"]["head"].toString(), exported->logHead);
    EXPECT_EQ(manifest["note"]["description"].toString(), "客户同意续约");
    EXPECT_EQ(manifest["header"]["phone"].toString(), "13800138000");
    EXPECT_EQ(manifest["recording"]["sha256"].toString().toStdString(), exported->recordingSha256);

    // The private key is the owner's alone; the decoded wave is the converter's.
    struct stat status {};
    ASSERT_EQ(::stat(PrivateKeyPath(keyFolder_).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_TRUE(ConvertToPcmWave(folder_.Path("converted.wav"), recording_));

    if (!HaveProgram("unzip") || !HaveProgram("sha256sum"))
        GTEST_SKIP() << "unzip or sha256sum is missing";
    const std::string out = folder_.Path("out");
    ASSERT_TRUE(RunProgram({"unzip", "-q", zipPath, "-d", out}));
    EXPECT_EQ(TempFolder::Read(out + "/VOC00007.WAV"), TempFolder::Read(recording_));
    EXPECT_EQ(TempFolder::Read(out + "/VOC00007-listen.wav"), TempFolder::Read(folder_.Path("converted.wav")));
    EXPECT_TRUE(RunProgram({"sh", "-c", "cd '" + out + "' && sha256sum --quiet -c SHA256SUMS"}));
    if (HaveProgram("openssl")) {
        EXPECT_TRUE(RunProgram({"openssl", "pkeyutl", "-verify", "-pubin", "-inkey", out + "/public-key.pem", "-rawin",
                                "-in", out + "/SHA256SUMS", "-sigfile", out + "/SHA256SUMS.sig"}));
    }
}

TEST_F(Evidence, VerifyNamesThePartThatWasChangedRemovedAddedOrSignedByAnotherKey)
{
    const std::string zipPath = folder_.Path("evidence.zip");
    ASSERT_TRUE(Export(zipPath));
    const auto check = [&](const std::string& name, const std::function<void(std::string&)>& change) {
        return Check(Altered(zipPath, name, change, folder_.Path("altered.zip")));
    };
    const auto flip = [](std::size_t at) { return [at](std::string& bytes) { FlipByte(bytes, at); }; };
    EXPECT_EQ(check("VOC00007.WAV", flip(3000)), IntactBut({{"VOC00007.WAV", PartState::Changed}}));
    EXPECT_EQ(check("VOC00007-listen.wav", flip(100)), IntactBut({{"VOC00007-listen.wav", PartState::Changed}}));
    EXPECT_EQ(check("manifest.json", flip(40)), IntactBut({{"manifest.json", PartState::Changed}}));
    EXPECT_EQ(check("核验说明.txt", flip(10)), IntactBut({{"核验说明.txt", PartState::Changed}}));
    EXPECT_EQ(check("SHA256SUMS.sig", flip(7)), IntactBut({{"SHA256SUMS.sig", PartState::BadSignature}}));
    EXPECT_EQ(check("SHA256SUMS", flip(3)), IntactBut({{"SHA256SUMS", PartState::Changed}}));
    EXPECT_EQ(check("VOC00007-listen.wav", nullptr), IntactBut({{"VOC00007-listen.wav", PartState::Missing}}));
    EXPECT_EQ(check("extra.txt", [](std::string& bytes) { bytes = "x"; }),
              IntactBut({{"extra.txt", PartState::Unexpected}}));

    // A byte changed in the zip file itself, without making the zip's own check match.
    std::string raw = TempFolder::Read(zipPath);
    const std::string recording = TempFolder::Read(recording_);
    FlipByte(raw, raw.find(recording.substr(2000, 64)) + 10);
    EXPECT_EQ(Check(folder_.Write("raw.zip", raw)), IntactBut({{"VOC00007.WAV", PartState::Changed}}));

    // Signed anew by another key: with the desk's own key left in, and with the other key's put in.
    const DeskKey other = *LoadOrMakeDeskKey(folder_.Path("other"));
    const std::string sums = ZipPart(zipPath, "SHA256SUMS");
    const Signature forged = other.Sign(sums);
    const auto resign = [&](std::string& bytes) { bytes.assign(forged.begin(), forged.end()); };
    const std::string resigned = Altered(zipPath, "SHA256SUMS.sig", resign, folder_.Path("resigned.zip"));
    EXPECT_EQ(Check(resigned), IntactBut({{"SHA256SUMS.sig", PartState::BadSignature}}));
    const auto rekey = [&](std::string& bytes) { bytes = PublicKeyPem(other.publicKey()); };
    const std::string rekeyed = Altered(resigned, "public-key.pem", rekey, folder_.Path("rekeyed.zip"));
    EXPECT_EQ(Check(rekeyed),
              IntactBut({{"SHA256SUMS.sig", PartState::BadSignature}, {"public-key.pem", PartState::ForeignKey}}));
    // Away from the desk only the package's own key is there: whole, but the key must be compared by hand.
    const Result<EvidenceCheck> away = VerifyEvidence(rekeyed, std::nullopt);
    EXPECT_TRUE(away->whole());
    EXPECT_TRUE(away->keyFromPackage);
    EXPECT_EQ(away->keyFingerprint, KeyFingerprint(other.publicKey()));
    EXPECT_NE(away->keyFingerprint, KeyFingerprint(*ReadPublicKey(keyFolder_)));

    EXPECT_FALSE(VerifyEvidence(recording_, std::nullopt)); // no zip at all
}

TEST_F(Evidence, NothingIsWrittenForARecordingThatCannotBeDecodedOrALogThatCannotBeWritten)
{
    const std::string zipPath = folder_.Path("evidence.zip");
    const std::string bytes = TempFolder::Read(recording_);
    TempFolder::WriteFile(recording_, bytes.substr(0, 200));
    EXPECT_FALSE(Export(zipPath));
    TempFolder::WriteFile(recording_, bytes);
    std::filesystem::remove(logPath_);
    std::filesystem::create_directory(logPath_); // a log that no entry can be appended to
    EXPECT_FALSE(Export(zipPath));
    EXPECT_FALSE(std::filesystem::exists(zipPath));
    std::filesystem::remove(logPath_);
    EXPECT_TRUE(Export(zipPath)); // without a log there is no entry to write
    EXPECT_FALSE(std::filesystem::exists(logPath_));
}

TEST(EvidenceKey, ProgramsMakingTheKeyAtOnceMakeOneKeyAndKeepIt)
{
    const TempFolder folder;
    const std::string keyFolder = folder.Path("sdvoice");
    std::vector<PublicKey> keys(4);
    std::vector<std::thread> threads;
    for (PublicKey& key : keys)
        threads.emplace_back([&] { key = LoadOrMakeDeskKey(keyFolder)->publicKey(); });
    for (std::thread& thread : threads)
        thread.join();
    for (const PublicKey& key : keys)
        EXPECT_EQ(key, keys.front());
    EXPECT_EQ(ReadPublicKey(keyFolder), keys.front());
    const std::string message = "SHA256SUMS";
    const DeskKey again = *LoadOrMakeDeskKey(keyFolder);
    EXPECT_TRUE(SignatureMatches(keys.front(), again.Sign(message), message));

    // A damaged private key is refused, never replaced by a new one.
    TempFolder::WriteFile(PrivateKeyPath(keyFolder), "not a key\n");
    EXPECT_FALSE(LoadOrMakeDeskKey(keyFolder));
    EXPECT_EQ(TempFolder::Read(PrivateKeyPath(keyFolder)), "not a key\n");
}

} // namespace
