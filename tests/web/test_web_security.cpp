// The server attacked from outside: raw HTTP requests over a socket to a server started on a free
// port of 127.0.0.1, with the administrator's routes and two stand-ins for the content routes.

#include "web/access_log.h"
#include "web/account_store.h"
#include "web/admin_routes.h"
#include "web/answers.h"
#include "web/http_parsing.h"
#include "web/login_page.h"
#include "web/self_signed_certificate.h"
#include "web/web_server.h"
#include "web/web_sessions.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Reply {
    int status = 0;
    QByteArray head;
    QByteArray body;

    QByteArray Header(const QByteArray& name) const
    {
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        }
        return {};
    }
};

// A socket connected to the port of 127.0.0.1 from the loopback address `from` (the whole of 127/8 is
// the loopback), whose reads and writes give up after five seconds; -1 when it cannot connect.
int Connect(quint16 port, const char* from = "127.0.0.1")
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval wait{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

// Whether the server has ended the connection (read without waiting).
bool Ended(int socket)
{
    char byte = 0;
    const ssize_t count = ::recv(socket, &byte, 1, MSG_DONTWAIT);
    return count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// Sends the bytes as they are (no client library tidies the path) and reads the answer until the
// server closes; a server that does not answer within five seconds fails the request.
Reply Send(quint16 port, const QByteArray& request, const char* from = "127.0.0.1")
{
    const int socket = Connect(port, from);
    Reply reply;
    if (socket < 0) {
        ADD_FAILURE() << "cannot connect to port " << port << " from " << from;
        return reply;
    }
    (void)::send(socket, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t count; (count = ::recv(socket, buffer, sizeof buffer, 0)) > 0;)
        bytes.append(buffer, count);
    ::close(socket);
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0) {
        ADD_FAILURE() << "no answer to " << request.left(200).toStdString();
        return reply;
    }
    reply.head = bytes.first(end).replace("\r", "");
    reply.body = bytes.sliced(end + 4);
    reply.status = reply.head.mid(9, 3).toInt();
    return reply;
}

// Byte i of a body counts up, i % 251; this source gives it from byte `first` on and fails from
// byte `failAt` on.
class CountingSource : public WebBodySource {
public:
    CountingSource(qint64 first, qint64 failAt) : first_(first), failAt_(failAt) {}
    qint64 Read(qint64 offset, char* buffer, qint64 size) override
    {
        offset += first_;
        if (offset >= failAt_)
            return -1;
        size = std::min(size, failAt_ - offset);
        for (qint64 i = 0; i < size; ++i)
            buffer[i] = static_cast<char>((offset + i) % 251);
        return size;
    }

private:
    qint64 first_;
    qint64 failAt_;
};

constexpr qint64 kSourceSize = 300'000;

struct Session {
    QByteArray cookie; // "sdvoice_session=..."
    QByteArray csrf;
};

class WebSecurity : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = new TempFolder;
        AccountStore store(QString::fromStdString(folder_->Path("web-accounts")));
        ASSERT_TRUE(store.Add("boss", WebRole::Admin, "boss-pass"));
        ASSERT_TRUE(store.Add("zhang", WebRole::Note, "zhang-pass"));
        ASSERT_TRUE(store.Add("li", WebRole::Listen, "li-pass"));
    }
    static void TearDownTestSuite() { delete folder_; }

    void SetUp() override
    {
        QList<WebRoute> routes = AdminRoutes(accounts_, log_);
        routes.append({"GET", "/api/calls/", WebRole::Listen, false, [this](const WebRequest& request) {
                           ++handled_;
                           return BodyAnswer(200, "text/plain", request.path.toUtf8());
                       }});
        routes.append({"POST", "/api/note", WebRole::Note, true, [this](const WebRequest&) {
                           ++handled_;
                           return JsonAnswer(200, {{"ok", true}});
                       }});
        // As the content routes answer: the range asked, and no body for HEAD.
        routes.append({"GET", "/api/audio/", WebRole::Listen, false, [](const WebRequest& request) {
                           const RangeAsked asked = ParseRange(request.range, kSourceSize);
                           if (asked.kind == RangeKind::Unsatisfiable)
                               return BodyAnswer(416, "audio/wav", {});
                           const bool part = asked.kind == RangeKind::Part;
                           const ByteRange range = part ? asked.range : ByteRange{0, kSourceSize - 1};
                           WebResponse response = BodyAnswer(part ? 206 : 200, "audio/wav", {});
                           if (part)
                               response.headers.append({"Content-Range", "bytes " + QByteArray::number(range.first)
                                                                             + "-" + QByteArray::number(range.last)
                                                                             + "/" + QByteArray::number(kSourceSize)});
                           response.sourceSize = range.last - range.first + 1;
                           if (request.method != "HEAD")
                               response.source = std::make_shared<CountingSource>(
                                   range.first, request.path.endsWith("broken") ? kSourceSize / 2 : kSourceSize);
                           return response;
                       }});
        routes_ = routes;
        StartServer(std::chrono::seconds(10));
    }

    void StartServer(std::chrono::milliseconds requestHeaderTime, int passwordChecksAtOnce = 2)
    {
        WebServerOptions options;
        options.plain = true;
        options.requestHeaderTime = requestHeaderTime;
        options.passwordChecksAtOnce = passwordChecksAtOnce;
        options.passwordCheckWait = std::chrono::milliseconds(300);
        server_.reset();
        server_ = std::make_unique<WebServer>(options, accounts_, log_, routes_);
        ASSERT_TRUE(server_->Start());
    }

    Reply Get(const QByteArray& target, const QByteArray& cookie = {}, const QByteArray& extraHeaders = {},
              const QByteArray& method = "GET")
    {
        return Send(server_->Port(), method + " " + target
                                         + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nCookie: " + cookie
                                         + "\r\n" + extraHeaders + "\r\n");
    }

    Reply Post(const QByteArray& target, const QByteArray& form, const QByteArray& cookie = {},
               const QByteArray& extraHeaders = {})
    {
        return Send(server_->Port(), "POST " + target
                                         + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                                         + QByteArray::number(form.size()) + "\r\nCookie: " + cookie + "\r\n"
                                         + extraHeaders + "\r\n" + form);
    }

    Session LogIn(const QByteArray& name, const QByteArray& password)
    {
        const Reply login = Post("/login", "name=" + name + "&password=" + password);
        EXPECT_EQ(login.status, 303) << name.toStdString();
        Session session;
        session.cookie = login.Header("Set-Cookie").split(';').value(0);
        const Reply state = Get("/api/session", session.cookie);
        const qsizetype at = state.body.indexOf("\"csrf\":\"");
        session.csrf = state.body.mid(at + 8, 64);
        return session;
    }

    static TempFolder* folder_;
    AccountStore accounts_{QString::fromStdString(folder_->Path("web-accounts"))};
    AccessLog log_{QString::fromStdString(folder_->Path("web-access.log"))};
    std::atomic<int> handled_ = 0;
    QList<WebRoute> routes_;
    std::unique_ptr<WebServer> server_;
};

TempFolder* WebSecurity::folder_ = nullptr;

TEST_F(WebSecurity, EveryRouteIsRefusedWithoutALiveSession)
{
    const Session session = LogIn("boss", "boss-pass");
    const QByteArray forged = "sdvoice_session=" + QByteArray(64, 'a');
    for (const QByteArray& cookie : {QByteArray(), forged}) {
        for (const QByteArray target : {"/api/accounts", "/api/log", "/api/session", "/api/calls/1", "/api/nothing"})
            EXPECT_EQ(Get(target, cookie).status, 401) << target.toStdString();
        for (const QByteArray target : {"/", "/search", "/calls/1"}) {
            const Reply page = Get(target, cookie);
            EXPECT_EQ(page.status, 303) << target.toStdString();
            EXPECT_EQ(page.Header("Location"), "/login");
        }
        EXPECT_EQ(Post("/api/note", "csrf=" + session.csrf, cookie).status, 401);
        EXPECT_EQ(Post("/api/accounts/remove", "name=li&csrf=" + session.csrf, cookie).status, 401);
    }
    EXPECT_EQ(handled_, 0);

    const Reply login = Get("/login");
    EXPECT_EQ(login.status, 200);
    EXPECT_TRUE(login.Header("Content-Security-Policy").contains("default-src 'self'"));
    EXPECT_EQ(login.Header("X-Content-Type-Options"), "nosniff");

    // After logging out the same cookie opens nothing.
    EXPECT_EQ(Get("/api/calls/1", session.cookie).status, 200);
    const Reply logout = Post("/logout", "csrf=" + session.csrf, session.cookie);
    EXPECT_EQ(logout.status, 303);
    EXPECT_TRUE(logout.Header("Set-Cookie").contains("Max-Age=0"));
    EXPECT_EQ(Get("/api/calls/1", session.cookie).status, 401);
}

TEST_F(WebSecurity, WrongPasswordsThrottleTheirNameFromTheirAddressOnly)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const Reply refused = Post("/login", "name=boss&password=wrong");
        EXPECT_EQ(refused.status, 401);
        EXPECT_TRUE(refused.Header("Set-Cookie").isEmpty());
    }
    // A login to one's own account between guesses does not start the count again.
    LogIn("li", "li-pass");
    EXPECT_EQ(Post("/login", "name=boss&password=wrong").status, 401);
    const Reply throttled = Post("/login", "name=boss&password=boss-pass");
    EXPECT_EQ(throttled.status, 429);
    EXPECT_TRUE(throttled.Header("Set-Cookie").isEmpty());
    const int retryAfter = throttled.Header("Retry-After").toInt();
    EXPECT_TRUE(retryAfter > 0 && retryAfter <= 30) << throttled.head.toStdString();

    // A colleague behind the same address still logs in with the right password.
    LogIn("li", "li-pass");
    const QList<AccessEntry> entries = *log_.Newest(2);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].action, WebAction::Login);
    EXPECT_EQ(entries[1].action, WebAction::LoginRefused);
    EXPECT_EQ(entries[1].account, "boss");
    EXPECT_EQ(entries[1].address, "127.0.0.1");
}

TEST_F(WebSecurity, ALoginFindingNoPasswordCheckFreeIsToldToComeBackAndNotCounted)
{
    StartServer(std::chrono::seconds(10), 0); // every password check taken
    // More attempts than a name's free failures: none may count as a wrong password (429).
    for (int attempt = 0; attempt < 8; ++attempt) {
        const Reply busy = Post("/login", "name=boss&password=boss-pass");
        ASSERT_EQ(busy.status, 503) << "attempt " << attempt;
        EXPECT_TRUE(busy.Header("Set-Cookie").isEmpty());
        const int retryAfter = busy.Header("Retry-After").toInt();
        EXPECT_TRUE(retryAfter >= 1 && retryAfter <= 5) << busy.head.toStdString();
        EXPECT_EQ(busy.body, LoginPage(LoginMessage::Busy));
    }
    EXPECT_EQ(Get("/login").status, 200);
}

TEST_F(WebSecurity, ChangesNeedTheSessionsCsrfTokenAndThisSite)
{
    const Session zhang = LogIn("zhang", "zhang-pass");
    const Session boss = LogIn("boss", "boss-pass");
    ASSERT_EQ(zhang.csrf.size(), 64);
    EXPECT_EQ(Post("/api/note", "text=x", zhang.cookie).status, 403);
    EXPECT_EQ(Post("/api/note", "csrf=" + QByteArray(64, '0'), zhang.cookie).status, 403);
    EXPECT_EQ(Post("/api/note", "csrf=" + boss.csrf, zhang.cookie).status, 403); // another session's token
    EXPECT_EQ(Post("/api/note", "csrf=" + zhang.csrf, zhang.cookie, "Origin: https://evil.example\r\n").status, 403);
    EXPECT_EQ(Post("/logout", {}, zhang.cookie).status, 403);
    EXPECT_EQ(handled_, 0);

    EXPECT_EQ(Post("/api/note", "csrf=" + zhang.csrf, zhang.cookie).status, 200);
    EXPECT_EQ(Post("/api/note", {}, zhang.cookie, "X-CSRF-Token: " + zhang.csrf + "\r\n").status, 200);
    EXPECT_EQ(handled_, 2);
}

TEST_F(WebSecurity, PathsThatCouldLeaveTheirRouteAreRefused)
{
    const Session session = LogIn("li", "li-pass");
    for (const QByteArray target :
         {"/api/calls/../../etc/passwd", "/api/calls/%2e%2e/%2e%2e/etc/passwd", "/api/calls/..%2fsecret",
          "/api/calls/%2Fetc%2Fpasswd", "/api/calls/a%5c..", "/api/calls/a%00b", "/api/calls/%ff%fe", "/api/calls/%zz",
          "/api/calls/./1", "/api/calls/1?x=%", "api/calls/1"}) {
        EXPECT_EQ(Get(target, session.cookie).status, 400) << target.toStdString();
    }
    EXPECT_EQ(handled_, 0);

    const Reply decoded = Get("/api/calls/%E9%80%9A%E8%AF%9D", session.cookie);
    EXPECT_EQ(decoded.status, 200);
    EXPECT_EQ(decoded.body, "/api/calls/通话");
    EXPECT_EQ(Post("/api/note", "csrf=" + session.csrf + "&text=" + QByteArray(70 * 1024, 'x'), session.cookie).status,
              413);
    EXPECT_EQ(Get("/api/calls/" + QByteArray(64 * 1024, 'x'), session.cookie).status / 100, 4);
    EXPECT_EQ(Get("/api/calls/1", session.cookie).status, 200); // the server still answers
}

TEST_F(WebSecurity, RolesBoundWhatAnAccountReaches)
{
    const Session li = LogIn("li", "li-pass");
    EXPECT_EQ(Get("/api/calls/1", li.cookie).status, 200);
    EXPECT_EQ(Get("/api/accounts", li.cookie).status, 403);
    EXPECT_EQ(Get("/api/log", li.cookie).status, 403);
    EXPECT_EQ(Post("/api/note", "csrf=" + li.csrf, li.cookie).status, 403);
    EXPECT_EQ(Post("/api/accounts/role", "name=li&role=admin&csrf=" + li.csrf, li.cookie).status, 403);
    EXPECT_EQ(accounts_.Verify("li", "li-pass"), WebRole::Listen);

    // The administrator's changes hold at once for sessions already open.
    const Session boss = LogIn("boss", "boss-pass");
    EXPECT_EQ(Post("/api/accounts/role", "name=li&role=note&csrf=" + boss.csrf, boss.cookie).status, 200);
    EXPECT_EQ(Post("/api/note", "csrf=" + li.csrf, li.cookie).status, 200);
    EXPECT_EQ(Post("/api/accounts/remove", "name=boss&csrf=" + boss.csrf, boss.cookie).status, 400); // last admin
    EXPECT_EQ(Post("/api/accounts/add", "name=wang&role=listen&password=w&csrf=" + boss.csrf, boss.cookie).status, 200);
    EXPECT_EQ(Post("/api/accounts/password", "name=li&password=new-pass&csrf=" + boss.csrf, boss.cookie).status, 200);
    EXPECT_EQ(Get("/api/calls/1", li.cookie).status, 401);
    const Session liRenewed = LogIn("li", "new-pass");
    EXPECT_EQ(Post("/api/accounts/remove", "name=li&csrf=" + boss.csrf, boss.cookie).status, 200);
    EXPECT_EQ(Get("/api/calls/1", liRenewed.cookie).status, 401);

    const Reply log = Get("/api/log?count=3", boss.cookie);
    EXPECT_EQ(log.status, 200);
    EXPECT_TRUE(log.body.contains("\"action\":\"account\",\"address\":\"127.0.0.1\",\"recording\":\"li\""))
        << log.body.toStdString();
    ASSERT_TRUE(accounts_.Add("li", WebRole::Listen, "li-pass"));
    ASSERT_TRUE(accounts_.Remove("wang"));
}

TEST_F(WebSecurity, BodiesReadPieceByPieceArriveWholeOrVisiblyCut)
{
    const Session session = LogIn("li", "li-pass");
    const Reply whole = Get("/api/audio/1", session.cookie);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.Header("Content-Length"), QByteArray::number(kSourceSize));
    ASSERT_EQ(whole.body.size(), kSourceSize);
    for (qint64 i = 0; i < kSourceSize; i += 4999)
        ASSERT_EQ(static_cast<unsigned char>(whole.body[i]), i % 251) << i;
    // A source that fails part way ends the connection short of its length, never padded to look whole.
    const Reply cut = Get("/api/audio/broken", session.cookie);
    EXPECT_EQ(cut.Header("Content-Length"), QByteArray::number(kSourceSize));
    EXPECT_LT(cut.body.size(), kSourceSize);
}

TEST_F(WebSecurity, HeadCarriesTheHeadersOfGetWithoutItsBody)
{
    const Session session = LogIn("li", "li-pass");
    for (const QByteArray target : {"/api/audio/1", "/api/calls/1"}) {
        const Reply get = Get(target, session.cookie);
        const Reply head = Get(target, session.cookie, {}, "HEAD");
        EXPECT_EQ(head.status, 200);
        EXPECT_EQ(head.Header("Content-Length"), get.Header("Content-Length")) << target.toStdString();
        EXPECT_EQ(head.Header("Content-Type"), get.Header("Content-Type"));
        EXPECT_TRUE(head.body.isEmpty());
    }
}

TEST_F(WebSecurity, RangesAreAnsweredAsClientsAskThem)
{
    const Session session = LogIn("li", "li-pass");
    struct Asked {
        QByteArray range;
        int status;
        qint64 first;
        qint64 last;
    };
    const qint64 end = kSourceSize - 1;
    const Asked cases[] = {
        {"BYTES=10-19", 206, 10, 19},  {"bytes=299990-99999999999999999999", 206, 299990, end},
        {"bytes=0-1,5-6", 206, 0, 1},  {"bytes=-5", 206, kSourceSize - 5, end},
        {"items=0-5", 200, 0, end},    {"bytes=5-3", 200, 0, end},
        {"bytes=300000-", 416, 0, -1},
    };
    for (const Asked& asked : cases) {
        const Reply reply = Get("/api/audio/1", session.cookie, "Range: " + asked.range + "\r\n");
        EXPECT_EQ(reply.status, asked.status) << asked.range.toStdString();
        ASSERT_EQ(reply.body.size(), asked.last - asked.first + 1) << asked.range.toStdString();
        if (!reply.body.isEmpty()) {
            EXPECT_EQ(static_cast<unsigned char>(reply.body.front()), asked.first % 251) << asked.range.toStdString();
            EXPECT_EQ(static_cast<unsigned char>(reply.body.back()), asked.last % 251) << asked.range.toStdString();
        }
    }
}

TEST_F(WebSecurity, ABodyWithoutLengthIsCutAtTheBound)
{
    const int socket = Connect(server_->Port());
    ASSERT_GE(socket, 0);
    const QByteArray head =
        "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n\r\n";
    const QByteArray chunks = QByteArray("10000\r\n" + QByteArray(0x10000, 'a') + "\r\n").repeated(16);
    ASSERT_EQ(::send(socket, head.constData(), size_t(head.size()), MSG_NOSIGNAL), head.size());
    // 16 MB, or as much as goes until the server ends the connection.
    qint64 sent = 0;
    ssize_t count = 0;
    while (sent < 16 * chunks.size()
           && (count = ::send(socket, chunks.constData() + sent % chunks.size(),
                              size_t(chunks.size() - sent % chunks.size()), MSG_NOSIGNAL))
                  > 0)
        sent += count;
    const int error = errno;
    ::close(socket);
    ASSERT_LT(sent, 16 * chunks.size()) << "16 MB of body were read";
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << std::strerror(error);
}

TEST_F(WebSecurity, AThousandIdleOrTricklingConnectionsLeaveRoomForAnotherClient)
{
    StartServer(std::chrono::seconds(60)); // none is cut while the test runs, however slow
    const QByteArray starts[] = {
        {},
        "G",
        "GET /login HTTP/1.1\r\nHost: 127.0.0.1\r\n",
        "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: 100\r\n\r\nname=",
    };
    const char* const addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
    std::vector<int> idle;
    for (int i = 0; i < 1000; ++i) {
        const int socket = Connect(server_->Port(), addresses[i % 3]);
        ASSERT_GE(socket, 0) << "connection " << i;
        idle.push_back(socket);
        const QByteArray& start = starts[i % 4];
        (void)::send(socket, start.constData(), size_t(start.size()), MSG_NOSIGNAL);
    }
    const Reply answer =
        Send(server_->Port(), "GET /login HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", "127.0.0.5");
    EXPECT_EQ(answer.status, 200);
    const auto ended = std::count_if(idle.begin(), idle.end(), Ended);
    EXPECT_EQ(ended, 0) << "of the idle connections, some were refused";
    for (const int socket : idle)
        ::close(socket);
}

TEST_F(WebSecurity, AHeaderOrABodyTrickledIsCut)
{
    StartServer(std::chrono::seconds(1));
    const int header = Connect(server_->Port());
    const int body = Connect(server_->Port());
    ASSERT_TRUE(header >= 0 && body >= 0);
    const QByteArray start =
        "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\n";
    ASSERT_EQ(::send(body, start.constData(), size_t(start.size()), MSG_NOSIGNAL), start.size());
    // A byte every 200 ms on each until both are cut, for six seconds at most.
    bool headerCut = false;
    bool bodyCut = false;
    for (int tick = 0; tick < 30 && !(headerCut && bodyCut); ++tick) {
        headerCut = headerCut || Ended(header) || ::send(header, "X", 1, MSG_NOSIGNAL) != 1;
        bodyCut = bodyCut || Ended(body) || ::send(body, "x", 1, MSG_NOSIGNAL) != 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ::close(header);
    ::close(body);
    EXPECT_TRUE(headerCut) << "a header trickled for six seconds was still read";
    EXPECT_TRUE(bodyCut) << "a body trickled for six seconds was still read";
}

// TLS 1.2 and 1.3 only, with AEAD suites only, for the desk's own certificate and for one the
// administrator made elsewhere (RSA); tried with openssl's client, which offers any protocol asked.
TEST(WebTls, OnlyTls12And13WithAeadSuitesAreAccepted)
{
    const TempFolder folder;
    const QString ownCertificate = QString::fromStdString(folder.Path("own-certificate.pem"));
    const QString ownKey = QString::fromStdString(folder.Path("own-key.pem"));
    ASSERT_TRUE(MakeCertificateIfMissing(ownCertificate, ownKey));
    const QString rsaCertificate = QString::fromStdString(folder.Path("rsa-certificate.pem"));
    const QString rsaKey = QString::fromStdString(folder.Path("rsa-key.pem"));
    ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                                            "-days", "2", "-keyout", rsaKey, "-out", rsaCertificate}),
              0)
        << "openssl is missing";
    AccountStore accounts(QString::fromStdString(folder.Path("web-accounts")));
    AccessLog log(QString::fromStdString(folder.Path("web-access.log")));
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QStringList weakCiphers = {"-cipher",
                                     "ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA:"
                                     "ECDHE-RSA-AES256-SHA:AES128-SHA:AES256-SHA:@SECLEVEL=0"};
    const QStringList anyCipher = {"-cipher", "DEFAULT:@SECLEVEL=0"};
    const struct {
        QStringList arguments;
        bool accepted;
    } tries[] = {
        {QStringList{"-tls1"} + anyCipher, false},
        {QStringList{"-tls1_1"} + anyCipher, false},
        {QStringList{"-tls1_2"} + weakCiphers, false},
        {QStringList{"-tls1_2"}, true},
        {QStringList{"-tls1_3"}, true},
    };
    for (const auto& [certificate, key] : {std::pair{ownCertificate, ownKey}, std::pair{rsaCertificate, rsaKey}}) {
        WebServerOptions options;
        options.certificatePem = read(certificate);
        options.keyPem = read(key);
        WebServer server(options, accounts, log, {});
        ASSERT_TRUE(server.Start());
        for (const auto& [arguments, accepted] : tries) {
            QProcess client;
            client.start("openssl", QStringList{"s_client", "-connect", "127.0.0.1:" + QString::number(server.Port())}
                                        + arguments);
            client.closeWriteChannel();
            ASSERT_TRUE(client.waitForFinished(10000)) << "openssl s_client did not end";
            EXPECT_EQ(client.exitCode() == 0, accepted)
                << certificate.toStdString() << ' ' << arguments.join(' ').toStdString();
        }
    }
}

TEST(WebSessions, OneAccountsLoginsEndOnlyItsOwnOldestSessions)
{
    SessionTable sessions(std::chrono::hours(1));
    SteadyTime now{};
    const QByteArray boss = sessions.Start("boss", "stamp", now);
    QList<QByteArray> li;
    for (int login = 0; login < 1000; ++login)
        li.append(sessions.Start("li", "stamp", now += std::chrono::seconds(1)));
    EXPECT_TRUE(sessions.Use(boss, now));
    for (qsizetype login = 0; login < li.size(); ++login)
        EXPECT_EQ(bool(sessions.Use(li[login], now)), login >= li.size() - SessionTable::kMostSessionsPerAccount)
            << login;
}

TEST(LoginThrottle, CountsEachNameFromEachAddressAndEveryNameFromOneAddress)
{
    using std::chrono::seconds;
    LoginThrottle throttle;
    SteadyTime now{};
    const auto checked = [&](const QString& address, const QString& name) {
        return throttle.Attempt(address, name, now += seconds(1)) == seconds(0);
    };
    for (int typo = 0; typo < 5; ++typo)
        EXPECT_TRUE(checked("10.0.0.1", "boss"));
    const seconds wait = throttle.Attempt("10.0.0.1", "boss", now);
    EXPECT_TRUE(wait > seconds(0) && wait <= seconds(30)) << wait.count();
    EXPECT_TRUE(checked("10.0.0.1", "li"));   // another name from that address
    EXPECT_TRUE(checked("10.0.0.2", "boss")); // that name from another address
    now += wait;
    EXPECT_TRUE(checked("10.0.0.1", "boss"));

    // One address trying name after name is stopped too, after more typos than an office makes.
    int tried = 0;
    while (tried < 200 && checked("10.0.0.3", "name" + QString::number(tried)))
        ++tried;
    EXPECT_GE(tried, 50);
    EXPECT_LE(tried, 100);
    EXPECT_FALSE(checked("10.0.0.3", "someone"));
    EXPECT_TRUE(checked("10.0.0.4", "someone"));
    now += std::chrono::hours(2);
    EXPECT_TRUE(checked("10.0.0.3", "someone"));
}

TEST(WebSessions, EndAfterTheIdleTimeSinceTheirLastUse)
{
    SessionTable sessions(std::chrono::seconds(60));
    const SteadyTime start{};
    const QByteArray token = sessions.Start("li", "stamp", start);
    EXPECT_EQ(token.size(), 64);
    EXPECT_NE(sessions.Start("li", "stamp", start), token);
    EXPECT_TRUE(sessions.Use(token, start + std::chrono::seconds(50)));
    EXPECT_TRUE(sessions.Use(token, start + std::chrono::seconds(100)));
    EXPECT_FALSE(sessions.Use(token, start + std::chrono::seconds(161)));
    EXPECT_FALSE(sessions.Use(token, start + std::chrono::seconds(162)));
    EXPECT_FALSE(sessions.Use("", start));
}

} // namespace
