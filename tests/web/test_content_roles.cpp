// The roles on the real routes: the server with the administrator's and the content routes, asked
// over HTTP (curl on 127.0.0.1) by a session of each role.

#include "index/archive_index.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"
#include "web/access_log.h"
#include "web/account_store.h"
#include "web/admin_routes.h"
#include "web/content_routes.h"
#include "web/web_server.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// What curl prints for the arguments (each in single quotes, none holding one), within five seconds.
QByteArray Curl(const QStringList& arguments)
{
    QByteArray command = "curl -s --max-time 5";
    for (const QString& argument : arguments)
        command += " '" + argument.toUtf8() + "'";
    QByteArray output;
    if (std::FILE* pipe = ::popen(command.constData(), "r")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, qsizetype(count));
        ::pclose(pipe);
    }
    return output;
}

TEST(ContentRoles, OnlyNoteAndAdminSessionsChangeANote)
{
    const TempFolder temp;
    const std::string archive = temp.Path("archive/");
    ASSERT_TRUE(WriteSampleFolder(archive, 1));
    IndexLocation location;
    location.sqlitePath = temp.Path("index.db");
    ASSERT_TRUE(ArchiveIndex::Open(location).index->KnowFolder(archive));
    AccountStore accounts(QString::fromStdString(temp.Path("web-accounts")));
    ASSERT_TRUE(accounts.Add("boss", WebRole::Admin, "boss-pass"));
    ASSERT_TRUE(accounts.Add("zhang", WebRole::Note, "zhang-pass"));
    ASSERT_TRUE(accounts.Add("li", WebRole::Listen, "li-pass"));
    AccessLog log(QString::fromStdString(temp.Path("access.log")));
    QList<WebRoute> routes = AdminRoutes(accounts, log);
    routes.append(ContentRoutes(log, location));
    WebServerOptions options;
    options.plain = true;
    WebServer server(options, accounts, log, routes);
    ASSERT_TRUE(server.Start());
    const QString site = QStringLiteral("http://127.0.0.1:%1").arg(server.Port());

    const auto noteStatus = [&](const QString& name, const QString& description) {
        const QByteArray head =
            Curl({"-D", "-", "-o", "/dev/null", "-d", "name=" + name + "&password=" + name + "-pass", site + "/login"});
        const qsizetype at = head.indexOf("sdvoice_session=");
        const QString cookie = "Cookie: " + QString::fromLatin1(head.mid(at, head.indexOf(';', at) - at));
        const QByteArray state = Curl({"-H", cookie, site + "/api/session"});
        const QString csrf = QString::fromLatin1(state.mid(state.indexOf("\"csrf\":\"") + 8, 64));
        return Curl({"-o", "/dev/null", "-w", "%{http_code}", "-H", cookie, "-H", "X-CSRF-Token: " + csrf, "-d",
                     "id=" + RecordingId(archive, "VOC00001.WAV") + "&description=" + description, site + "/api/note"});
    };
    EXPECT_EQ(noteStatus("li", "li"), "403");
    EXPECT_EQ(noteStatus("zhang", "zhang"), "200");
    EXPECT_EQ(noteStatus("boss", "boss"), "200");
    server.Stop();
    const RecordingNote kept = ArchiveIndex::Open(location).index->NoteOf(
        IdentityOf("VOC00001.WAV", *ReadRecordingHead(archive + "VOC00001.WAV")));
    EXPECT_EQ(kept.description, "boss");
}

} // namespace
