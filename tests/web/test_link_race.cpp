// A name in a known folder swapped again and again, by one rename each time, between a recording
// of the archive and a symbolic link to a recording outside it, while the audio of that name is
// asked for range by range: no answer may carry a byte of the outside recording.

#include "audio/adpcm_converter.h"
#include "index/archive_index.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"
#include "web/content_routes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint32_t kDataBytes = 3500 * 8;
constexpr int kRequests = 2000;

// The decoded WAV bytes of the recording at path from first on, count of them.
QByteArray DecodedRange(const std::string& path, qint64 first, qint64 count)
{
    Result<RecordingDecoder> decoder = RecordingDecoder::Open(path);
    if (!decoder)
        return {};
    QByteArray bytes(count, '\0');
    bytes.resize(qint64(decoder->DecodeBytes(std::uint64_t(first - kWaveHeaderBytes),
                                             reinterpret_cast<unsigned char*>(bytes.data()), std::size_t(count))));
    return bytes;
}

TEST(LinkRace, ASwappedNameNeverServesTheFileOutside)
{
    const TempFolder temp;
    const std::string archive = temp.Path("archive/");
    const std::string outside = temp.Path("outside/VOC00001.WAV");
    ASSERT_TRUE(WriteSampleFolder(archive, 1, kDataBytes));
    std::filesystem::create_directory(temp.Path("outside"));
    SampleSpec distinct = SampleSpecFor(0, kDataBytes);
    distinct.seed = 977; // other sound, same length: only its bytes tell it apart
    ASSERT_TRUE(WriteSampleFile(outside, distinct));
    const std::string name = archive + "VOC00001.WAV";
    ASSERT_EQ(::link(name.c_str(), (archive + ".regular").c_str()), 0);

    AccessLog log(QString::fromStdString(temp.Path("access.log")));
    IndexLocation location;
    location.sqlitePath = temp.Path("index.db");
    ASSERT_TRUE(ArchiveIndex::Open(location).index->KnowFolder(archive));
    const QList<WebRoute> routes = ContentRoutes(log, location);
    const auto audio =
        std::find_if(routes.begin(), routes.end(), [](const WebRoute& route) { return route.path == "/api/audio"; });
    ASSERT_NE(audio, routes.end());

    std::atomic<bool> stop = false;
    std::thread swapper([&] {
        const std::string next = archive + ".next";
        for (int turn = 0; !stop.load(); ++turn) {
            std::filesystem::remove(next);
            const int made = turn % 2 == 0 ? ::symlink(outside.c_str(), next.c_str())
                                           : ::link((archive + ".regular").c_str(), next.c_str());
            if (made != 0 || std::rename(next.c_str(), name.c_str()) != 0)
                ADD_FAILURE() << "the swap failed at turn " << turn;
        }
    });
    int served = 0;
    int outsideBytes = 0;
    int otherBytes = 0;
    for (int i = 0; i < kRequests; ++i) {
        const qint64 first = kWaveHeaderBytes + (i * 7919) % (kDataBytes * 3);
        WebRequest request;
        request.method = "GET";
        request.path = "/api/audio";
        request.query = {{"id", RecordingId(archive, "VOC00001.WAV")}};
        request.range = "bytes=" + QByteArray::number(first) + "-" + QByteArray::number(first + 1999);
        const WebResponse response = audio->handle(request);
        if (response.status != 206)
            continue; // the name was a link when it was opened
        ++served;
        QByteArray body(response.sourceSize, '\0');
        body.resize(response.source->Read(0, body.data(), body.size()));
        if (body == DecodedRange(outside, first, 2000))
            ++outsideBytes;
        else if (body != DecodedRange(archive + ".regular", first, 2000))
            ++otherBytes;
    }
    stop = true;
    swapper.join();
    EXPECT_GT(served, 0);
    EXPECT_EQ(outsideBytes, 0) << "of " << served << " answers";
    EXPECT_EQ(otherBytes, 0) << "of " << served << " answers";
}

} // namespace
