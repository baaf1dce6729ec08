#include "web/content_routes.h"

#include "audio/adpcm_converter.h"
#include "index/archive_index.h"
#include "web/listenings.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kRecordings = 12;

// An index that knows one archive folder of kRecordings recordings, a folder beside it that the
// index does not know, the routes over them and their access log.
class ContentRoutesTest : public ::testing::Test {
protected:
    ContentRoutesTest()
    {
        EXPECT_TRUE(WriteSampleFolder(archive(), kRecordings, 3500 * 4));
        EXPECT_TRUE(WriteSampleFolder(foreign(), 1, 3500));
        location_.sqlitePath = temp_.Path("index.db");
        ArchiveIndex::Opened opened = ArchiveIndex::Open(location_);
        EXPECT_TRUE(opened.index);
        EXPECT_TRUE(opened.index->KnowFolder(archive()));
        routes_ = ContentRoutes(log_, location_);
    }

    std::string archive() const { return temp_.Path("archive/"); }
    std::string foreign() const { return temp_.Path("foreign/"); }
    QString IdOf(const std::string& name) const { return RecordingId(archive(), name); }

    WebResponse Ask(const QByteArray& method, const QString& path, QList<QPair<QString, QString>> parameters = {},
                    const QByteArray& range = {}, WebRole role = WebRole::Note)
    {
        WebRequest request;
        request.method = method;
        request.path = path;
        (method == "POST" ? request.form : request.query) = std::move(parameters);
        request.range = range;
        request.address = QStringLiteral("192.0.2.7");
        request.account = QStringLiteral("li");
        request.session = session_;
        request.role = role;
        for (const WebRoute& route : routes_) {
            const bool matches = route.path.endsWith(QLatin1Char('/')) ? path.startsWith(route.path)
                                                                       : path == route.path;
            // The server answers HEAD through the GET route.
            if ((route.method == method || (method == "HEAD" && route.method == "GET")) && matches)
                return route.handle(request);
        }
        ADD_FAILURE() << "no route for " << method.constData() << " " << path.toStdString();
        return {};
    }

    static QJsonObject JsonOf(const WebResponse& response) { return QJsonDocument::fromJson(response.body).object(); }

    // The body of a response, read from its source piece by piece as the server reads it.
    static QByteArray BodyOf(const WebResponse& response)
    {
        if (!response.source)
            return response.body;
        QByteArray body;
        char piece[1000];
        while (body.size() < response.sourceSize) {
            const qint64 read = response.source->Read(body.size(), piece, sizeof piece);
            if (read <= 0)
                break;
            body.append(piece, read);
        }
        return body;
    }

    QList<AccessEntry> Logged() { return log_.Newest(100).value(); }

    TempFolder temp_;
    QByteArray session_ = "session-1";
    IndexLocation location_;
    AccessLog log_{QString::fromStdString(temp_.Path("access.log"))};
    QList<WebRoute> routes_;
};

QStringList Column(const QJsonObject& page, int column)
{
    QStringList texts;
    for (const QJsonValue& row : page.value("rows").toArray())
        texts.append(row.toObject().value("texts").toArray().at(column).toString());
    return texts;
}

TEST_F(ContentRoutesTest, SearchComesInBoundedSortedPages)
{
    const auto page = [&](QList<QPair<QString, QString>> parameters) {
        return Ask("GET", "/api/search", std::move(parameters));
    };
    const QJsonObject third = JsonOf(page({{"pageSize", "5"}, {"page", "3"}, {"sort", "4"}, {"order", "asc"}}));
    EXPECT_EQ(third.value("total").toInt(), kRecordings);
    EXPECT_EQ(Column(third, kColFileName), (QStringList{"VOC00011.WAV", "VOC00012.WAV"}));
    EXPECT_TRUE(JsonOf(page({{"pageSize", "5"}, {"page", "4"}})).value("rows").toArray().isEmpty());

    const QStringList descending = Column(JsonOf(page({{"sort", "4"}, {"order", "desc"}})), kColStartTime);
    QStringList ascending = descending;
    std::sort(ascending.begin(), ascending.end());
    EXPECT_EQ(descending, QStringList(ascending.rbegin(), ascending.rend()));

    for (const QString& mode : Column(JsonOf(page({{"mode", "被叫"}})), kColMode))
        EXPECT_EQ(mode, "被叫");
    EXPECT_EQ(JsonOf(page({{"folder", FolderKey(archive())}})).value("total").toInt(), kRecordings);

    EXPECT_EQ(page({{"pageSize", QString::number(kMaximumPageRows + 1)}}).status, 400);
    EXPECT_EQ(page({{"page", "0"}}).status, 400);
    EXPECT_EQ(page({{"sort", "8"}}).status, 400);
    EXPECT_EQ(page({{"mode", "主叫' OR 1"}}).status, 400);
    const WebResponse reversed = page({{"from", "2023-02-02"}, {"to", "2023-02-01"}});
    EXPECT_EQ(reversed.status, 400);
    EXPECT_EQ(JsonOf(reversed).value("error").toString(), "查询开始时间大于查询结束时间！");
    EXPECT_EQ(page({{"folder", FolderKey(foreign())}}).status, 404);
}

TEST_F(ContentRoutesTest, AudioRangesAreTheDecodersBytesAndEachPlayIsLoggedOnce)
{
    const std::string name = "VOC00003.WAV";
    Result<RecordingDecoder> decoder = RecordingDecoder::Open(archive() + name);
    ASSERT_TRUE(decoder);
    const qint64 size = kWaveHeaderBytes + decoder->OutputBytes();
    const auto decoded = [&](qint64 first, qint64 last) {
        QByteArray bytes(last - first + 1, '\0');
        bytes.resize(qint64(decoder->DecodeBytes(
            first - kWaveHeaderBytes, reinterpret_cast<unsigned char*>(bytes.data()), std::size_t(bytes.size()))));
        return bytes;
    };
    const QList<QPair<QString, QString>> id{{"id", IdOf(name)}};

    const WebResponse whole = Ask("GET", "/api/audio", id);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.contentType, "audio/wav");
    const QByteArray wave = BodyOf(whole);
    ASSERT_EQ(wave.size(), size);
    EXPECT_TRUE(wave.startsWith("RIFF"));
    EXPECT_EQ(wave.mid(kWaveHeaderBytes), decoded(kWaveHeaderBytes, size - 1));

    const qint64 first = size * 3 / 4 + 1; // odd: the range starts inside a sample
    const QByteArray asked = "bytes=" + QByteArray::number(first) + "-" + QByteArray::number(first + 4999);
    const WebResponse range = Ask("GET", "/api/audio", id, asked);
    EXPECT_EQ(range.status, 206);
    EXPECT_TRUE(range.headers.contains(QPair<QByteArray, QByteArray>(
        "Content-Range", "bytes " + QByteArray::number(first) + "-" + QByteArray::number(first + 4999) + "/"
                             + QByteArray::number(size))));
    EXPECT_EQ(BodyOf(range), decoded(first, first + 4999));
    EXPECT_EQ(BodyOf(Ask("GET", "/api/audio", id, "bytes=-10")), wave.right(10));

    const WebResponse beyond = Ask("GET", "/api/audio", id, "bytes=" + QByteArray::number(size) + "-");
    EXPECT_EQ(beyond.status, 416);
    EXPECT_TRUE(
        beyond.headers.contains(QPair<QByteArray, QByteArray>("Content-Range", "bytes */" + QByteArray::number(size))));
    EXPECT_EQ(Ask("HEAD", "/api/audio", id).sourceSize, size);
    EXPECT_EQ(Ask("GET", "/api/audio", id, "bytes=0-").status, 206);

    // Every range of one session's listening continues the one play.
    const QList<AccessEntry> logged = Logged();
    ASSERT_EQ(logged.size(), 1);
    for (const AccessEntry& entry : logged) {
        EXPECT_EQ(entry.action, WebAction::Play);
        EXPECT_EQ(entry.recording, IdOf(name));
        EXPECT_EQ(entry.account, "li");
        EXPECT_EQ(entry.address, "192.0.2.7");
    }
}

TEST_F(ContentRoutesTest, IdsOfAnythingButAKnownFoldersRecordingAreNotFound)
{
    std::filesystem::create_symlink(foreign() + "VOC00001.WAV", archive() + "VOC00099.WAV");
    const auto hex = [](const std::string& text) {
        return QString::fromLatin1(QByteArray::fromStdString(text).toHex());
    };
    const QString key = FolderKey(archive()) + "-";
    const QStringList ids{RecordingId(foreign(), "VOC00001.WAV"), // a folder the index does not know
                          IdOf("VOC00099.WAV"),                   // a link out of the archive
                          IdOf("VOC00077.WAV"),                   // no such file
                          key + hex("VOC/../../x"),               // not a recording's name
                          key + hex("VOC00001.WA") + "v",         // not hexadecimal
                          key + hex("VOC00001.WAV").toUpper(),    // hexadecimal of another spelling
                          key + " " + hex("VOC00001.WAV"),
                          "../../etc/passwd",
                          ""};
    for (const QString& id : ids) {
        SCOPED_TRACE(id.toStdString());
        for (const char* path : {"/api/call", "/api/audio", "/api/download", "/api/outline"})
            EXPECT_EQ(Ask("GET", path, {{"id", id}}).status, 404) << path;
        EXPECT_EQ(Ask("POST", "/api/note", {{"id", id}, {"description", "x"}}).status, 404);
    }
    EXPECT_TRUE(Logged().isEmpty());
    EXPECT_EQ(Ask("GET", "/api/call", {{"id", IdOf("VOC00001.WAV")}}).status, 200);
}

TEST_F(ContentRoutesTest, NoteChangeIsStoredShownAndLogged)
{
    const QString id = IdOf("VOC00002.WAV");
    const auto searchedDescription = [&] {
        for (const QJsonValue& row : JsonOf(Ask("GET", "/api/search")).value("rows").toArray())
            if (row.toObject().value("id").toString() == id)
                return row.toObject().value("description").toString();
        return QStringLiteral("(not found)");
    };
    EXPECT_EQ(searchedDescription(), "");
    const WebResponse changed =
        Ask("POST", "/api/note", {{"id", id}, {"description", "客户投诉 退款"}, {"userType", " 重要客户 "}});
    EXPECT_EQ(changed.status, 200);

    const QJsonObject call = JsonOf(Ask("GET", "/api/call", {{"id", id}}));
    EXPECT_EQ(call.value("description").toString(), "客户投诉 退款");
    EXPECT_EQ(call.value("userType").toString(), "重要客户");
    EXPECT_EQ(searchedDescription(), "客户投诉 退款"); // not the search made before the change
    EXPECT_TRUE(call.value("mayChangeNote").toBool());
    EXPECT_FALSE(JsonOf(Ask("GET", "/api/call", {{"id", id}}, {}, WebRole::Listen)).value("mayChangeNote").toBool());

    const QJsonObject found = JsonOf(Ask("GET", "/api/search", {{"description", "退款"}, {"userType", "重要客户"}}));
    EXPECT_EQ(Column(found, kColFileName), QStringList{"VOC00002.WAV"});
    ASSERT_EQ(Logged().size(), 1);
    EXPECT_EQ(Logged().front().action, WebAction::NoteChange);
    EXPECT_EQ(Logged().front().recording, id);
}

TEST_F(ContentRoutesTest, DownloadsAreAttachmentsAndLogged)
{
    const QString id = IdOf("VOC00001.WAV");
    const WebResponse mp3 = Ask("GET", "/api/download", {{"id", id}, {"format", "mp3"}});
    EXPECT_EQ(mp3.status, 200);
    EXPECT_EQ(mp3.contentType, "audio/mpeg");
    const QByteArray body = BodyOf(mp3);
    EXPECT_EQ(body.size(), mp3.sourceSize);
    EXPECT_TRUE(body.startsWith("ID3") || body.startsWith("\xff")) << body.left(4).toHex().toStdString();
    const WebResponse wav = Ask("GET", "/api/download", {{"id", id}});
    EXPECT_TRUE(BodyOf(wav).startsWith("RIFF"));
    for (const WebResponse& download : {mp3, wav}) {
        const auto disposition = std::find_if(download.headers.begin(), download.headers.end(),
                                              [](const auto& header) { return header.first == "Content-Disposition"; });
        ASSERT_NE(disposition, download.headers.end());
        EXPECT_TRUE(disposition->second.startsWith("attachment; filename=\"VOC00001."));
    }
    EXPECT_EQ(Ask("GET", "/api/download", {{"id", id}, {"format", "../x"}}).status, 400);
    EXPECT_EQ(Logged().size(), 2);
    for (const AccessEntry& entry : Logged())
        EXPECT_EQ(entry.action, WebAction::Download);
}

TEST_F(ContentRoutesTest, PlayIsRefusedWhenItCannotBeLogged)
{
    AccessLog unwritable(QString::fromStdString(temp_.path())); // a folder: no line can be appended
    routes_ = ContentRoutes(unwritable, location_);
    const QList<QPair<QString, QString>> id{{"id", IdOf("VOC00001.WAV")}};
    EXPECT_EQ(Ask("GET", "/api/audio", id).status, 503);
    EXPECT_EQ(Ask("GET", "/api/download", id).status, 503);
}

TEST_F(ContentRoutesTest, StatisticsCountTheSearchAndPagesComeFromResources)
{
    const QJsonObject statistics = JsonOf(Ask("GET", "/api/statistics", {{"mode", "主叫"}}));
    const int calls = JsonOf(Ask("GET", "/api/search", {{"mode", "主叫"}})).value("total").toInt();
    EXPECT_GT(calls, 0);
    const QJsonArray all = statistics.value("totals").toObject().value("rows").toArray().first().toArray();
    EXPECT_EQ(all, (QJsonArray{"全部", QString::number(calls), all[2], all[3]}));

    qputenv("PATH", SDVOICE_TOOLS_DIR ":" + qgetenv("PATH"));
    // The chart as wide as the page asks; no text of the request is read as one of voctool's options.
    for (const auto& [name, value] :
         {std::pair("phone", "-138"), {"phone", "--by"}, {"userType", "--png"}, {"description", "--all"}}) {
        const WebResponse chart =
            Ask("GET", "/api/statistics/chart", {{"folder", FolderKey(archive())}, {name, value}, {"width", "390"}});
        EXPECT_EQ(chart.status, 200) << value << ": " << chart.body.toStdString();
        EXPECT_TRUE(chart.body.startsWith("\x89PNG"));
        EXPECT_EQ(qFromBigEndian<quint32>(chart.body.constData() + 16), 390u); // the width in the PNG's header
    }
    EXPECT_FALSE(std::filesystem::exists("--png"));
    EXPECT_EQ(Ask("GET", "/api/statistics/chart", {{"folder", FolderKey(foreign())}}).status, 404);

    for (const QString page : {"/", "/call", "/statistics"}) {
        const WebResponse response = Ask("GET", page);
        EXPECT_EQ(response.status, 200) << page.toStdString();
        EXPECT_TRUE(response.body.contains("<html")) << page.toStdString();
    }
    EXPECT_EQ(Ask("GET", "/static/search.js").status, 200);
    EXPECT_EQ(Ask("GET", "/static/favicon.svg").contentType, "image/svg+xml");
    for (const QString path : {"/static/../search.html", "/static/Search.JS", "/static/", "/static/x.html", "/x"})
        EXPECT_EQ(Ask("GET", path).status, 404) << path.toStdString();
}

TEST_F(ContentRoutesTest, NoAudioLeavesWithoutAnEntryAndEachListeningIsOnePlay)
{
    const QList<QPair<QString, QString>> id{{"id", IdOf("VOC00004.WAV")}};
    const QList<QPair<QString, QString>> mp3{{"id", IdOf("VOC00004.WAV")}, {"format", "mp3"}};
    const auto actions = [&] {
        QList<WebAction> newestFirst;
        for (const AccessEntry& entry : Logged())
            newestFirst.append(entry.action);
        return newestFirst;
    };
    // Every download, whatever its range and format.
    EXPECT_EQ(Ask("GET", "/api/download", id, "bytes=1-").status, 206);
    EXPECT_EQ(Ask("GET", "/api/download", mp3, "bytes=100-").status, 206);
    EXPECT_EQ(Ask("GET", "/api/download", id, "bytes=1-").status, 206);
    EXPECT_EQ(actions(), QList<WebAction>(3, WebAction::Download));
    // A range past the end sends nothing and writes nothing.
    EXPECT_EQ(Ask("GET", "/api/download", id, "bytes=999999999-").status, 416);
    EXPECT_EQ(actions().size(), 3);
    // Opening the call's page and HEAD send no audio and write nothing.
    EXPECT_EQ(Ask("GET", "/api/call", id).status, 200);
    EXPECT_EQ(Ask("HEAD", "/api/audio", id).status, 200);
    EXPECT_EQ(Ask("HEAD", "/api/download", mp3, "bytes=0-").status, 206);
    EXPECT_EQ(actions().size(), 3);
    // A listening is one play, whichever range starts it and however many follow.
    EXPECT_EQ(Ask("GET", "/api/audio", id, "bytes=5000-").status, 206);
    EXPECT_EQ(Ask("GET", "/api/audio", id, "bytes=0-").status, 206);
    EXPECT_EQ(Ask("GET", "/api/audio", id, "bytes=9000-9999").status, 206);
    EXPECT_EQ(actions().size(), 4);
    EXPECT_EQ(actions().front(), WebAction::Play);
    session_ = "session-2";
    EXPECT_EQ(Ask("GET", "/api/audio", id, "bytes=7000-").status, 206);
    EXPECT_EQ(Ask("GET", "/api/audio", {{"id", IdOf("VOC00005.WAV")}}, "bytes=7000-").status, 206);
    EXPECT_EQ(actions().mid(0, 3), (QList<WebAction>{WebAction::Play, WebAction::Play, WebAction::Play}));
    EXPECT_EQ(actions().size(), 6);
}

TEST(Listenings, EndAfterHalfAnHourWithoutAFetch)
{
    Listenings listenings;
    const Listenings::Clock::time_point start{};
    EXPECT_TRUE(listenings.Starts("a", "call-1", start));
    EXPECT_FALSE(listenings.Starts("a", "call-1", start + std::chrono::minutes(20)));
    EXPECT_FALSE(listenings.Starts("a", "call-1", start + std::chrono::minutes(45))); // 25 after the last
    EXPECT_TRUE(listenings.Starts("b", "call-1", start + std::chrono::minutes(45)));
    EXPECT_TRUE(listenings.Starts("a", "call-2", start + std::chrono::minutes(45)));
    EXPECT_TRUE(listenings.Starts("a", "call-1", start + std::chrono::minutes(76)));
    listenings.Forget("a", "call-1");
    EXPECT_TRUE(listenings.Starts("a", "call-1", start + std::chrono::minutes(77)));
}

TEST_F(ContentRoutesTest, PagesNameAFolderByItsOwnNameNotTheDesksPath)
{
    const WebResponse form = Ask("GET", "/api/search-form");
    const WebResponse call = Ask("GET", "/api/call", {{"id", IdOf("VOC00003.WAV")}});
    const WebResponse search = Ask("GET", "/api/search");
    const QJsonArray folders = JsonOf(form).value("folders").toArray();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(folders.first().toObject().value("path").toString(), "archive");
    EXPECT_EQ(JsonOf(call).value("texts").toArray().at(kColPath).toString(), "archive");
    EXPECT_EQ(Column(JsonOf(search), kColPath), QStringList(kRecordings, "archive"));
    for (const WebResponse& response : {form, call, search})
        EXPECT_FALSE(response.body.contains(QByteArray::fromStdString(temp_.path()))) << response.body.toStdString();
}

} // namespace
