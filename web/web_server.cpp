#include "web/web_server.h"

#include "web/access_log.h"
#include "web/answers.h"
#include "web/connection_watch.h"
#include "web/daemon_options.h"
#include "web/http_parsing.h"
#include "web/login_page.h"
#include "web/web_sessions.h"

#include <algorithm>
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <semaphore>

namespace {

constexpr qsizetype kLongestBody = 64 * 1024; // forms only: names, notes, passwords
constexpr size_t kSourcePiece = 64 * 1024;
constexpr QByteArrayView kSessionCookie = "sdvoice_session";
constexpr int kNameInLog = 64;

const char* const kContentSecurityPolicy =
    "default-src 'self'; img-src 'self' data:; media-src 'self'; "
    "object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

// One request while it is read: made when its request line arrives, freed when it is answered.
struct PendingRequest {
    QByteArray target; // as sent, escapes and query included
    QByteArray body;
    bool started = false;
};

WebResponse Redirect(const QByteArray& location)
{
    WebResponse response = BodyAnswer(303, "text/plain; charset=utf-8", {});
    response.headers.append({"Location", location});
    return response;
}

QByteArray Header(MHD_Connection* connection, const char* name)
{
    return QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name));
}

QString ClientAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

bool RouteMatches(const WebRoute& route, const QString& path)
{
    return route.path.endsWith(u'/') ? path.startsWith(route.path) : path == route.path;
}

ssize_t ReadSource(void* context, uint64_t position, char* buffer, size_t size)
{
    auto* source = static_cast<std::shared_ptr<WebBodySource>*>(context);
    const qint64 count = (*source)->Read(static_cast<qint64>(position), buffer, static_cast<qint64>(size));
    return count > 0 ? static_cast<ssize_t>(count) : MHD_CONTENT_READER_END_WITH_ERROR;
}

void FreeSource(void* context)
{
    delete static_cast<std::shared_ptr<WebBodySource>*>(context);
}

// The body of a HEAD request's answer: its length is sent, its bytes never are.
ssize_t ReadNothing(void*, uint64_t, char*, size_t)
{
    return MHD_CONTENT_READER_END_WITH_ERROR;
}

} // namespace

struct WebServer::State {
    WebServerOptions options;
    AccountStore& accounts;
    AccessLog& log;
    QList<WebRoute> routes;
    SessionTable sessions;
    LoginThrottle throttle;
    std::counting_semaphore<> passwordChecks{std::max(0, options.passwordChecksAtOnce)};
    ConnectionWatch watch;
    MHD_Daemon* daemon = nullptr;

    State(WebServerOptions serverOptions, AccountStore& accountStore, AccessLog& accessLog, QList<WebRoute> webRoutes)
        : options(std::move(serverOptions)),
          accounts(accountStore),
          log(accessLog),
          routes(std::move(webRoutes)),
          sessions(options.idleTimeout),
          watch(options.requestHeaderTime)
    {
    }

    WebResponse Answer(MHD_Connection* connection, const QByteArray& method, PendingRequest& pending);
    WebResponse AnswerSession(const WebRequest& request, const QByteArray& token, const WebSession& session,
                              const QByteArray& csrfHeader);
    WebResponse Login(const WebRequest& request);
    WebResponse LoginRefused(const WebRequest& request, const QString& name, int status, LoginMessage message,
                             std::chrono::seconds retryAfter);
    QByteArray SessionCookie(const QByteArray& token, bool ending) const;
    void Log(WebAction action, const QString& account, const QString& address, const QString& recording = {});
    MHD_Result Queue(MHD_Connection* connection, const WebResponse& response) const;
};

void WebServer::State::Log(WebAction action, const QString& account, const QString& address, const QString& recording)
{
    // A failing log is no reason to refuse the request; the administrator sees the gap.
    (void)log.Append({QDateTime::currentDateTimeUtc(), account.left(kNameInLog), action, recording, address});
}

QByteArray WebServer::State::SessionCookie(const QByteArray& token, bool ending) const
{
    QByteArray cookie = kSessionCookie.toByteArray() + '=' + token + "; Path=/; HttpOnly; Secure; SameSite=Strict";
    if (ending)
        cookie += "; Max-Age=0";
    return cookie;
}

WebResponse WebServer::State::Login(const WebRequest& request)
{
    const QString name = ParameterValue(request.form, "name");
    const QByteArray password = ParameterValue(request.form, "password").toUtf8();
    const std::chrono::seconds wait = throttle.Attempt(request.address, name, std::chrono::steady_clock::now());
    if (wait > std::chrono::seconds(0))
        return LoginRefused(request, name, 429, LoginMessage::TooManyAttempts, wait);
    // A burst of logins waits here a short while at most, then comes back, rather than hold the pool's
    // threads that every other connection needs.
    if (!passwordChecks.try_acquire_for(options.passwordCheckWait)) {
        throttle.Uncount(request.address, name); // the server was busy, the password is not known wrong
        const auto retryAfter = std::chrono::ceil<std::chrono::seconds>(options.passwordCheckWait);
        return LoginRefused(request, name, 503, LoginMessage::Busy, std::max(retryAfter, std::chrono::seconds(1)));
    }
    const std::optional<WebRole> role = accounts.Verify(name, password);
    passwordChecks.release();
    const std::optional<WebAccountState> state = role ? accounts.StateOf(name) : std::nullopt;
    if (!state)
        return LoginRefused(request, name, 401, LoginMessage::WrongPassword, std::chrono::seconds(0));
    throttle.Uncount(request.address, name);
    Log(WebAction::Login, name, request.address);
    const QByteArray token = sessions.Start(name, state->passwordStamp, std::chrono::steady_clock::now());
    WebResponse response = Redirect("/");
    response.headers.append({"Set-Cookie", SessionCookie(token, false)});
    return response;
}

// The login page with the reason of the refusal; Retry-After when a retry must wait.
WebResponse WebServer::State::LoginRefused(const WebRequest& request, const QString& name, int status,
                                           LoginMessage message, std::chrono::seconds retryAfter)
{
    Log(WebAction::LoginRefused, name, request.address);
    WebResponse response = BodyAnswer(status, "text/html; charset=utf-8", LoginPage(message));
    if (retryAfter > std::chrono::seconds(0))
        response.headers.append({"Retry-After", QByteArray::number(qint64(retryAfter.count()))});
    return response;
}

WebResponse WebServer::State::AnswerSession(const WebRequest& request, const QByteArray& token,
                                            const WebSession& session, const QByteArray& csrfHeader)
{
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool csrfValid = SameSecret(session.csrfToken, csrfHeader)
                           || SameSecret(session.csrfToken, ParameterValue(request.form, "csrf").toUtf8());
    if (request.method == "POST" && request.path == "/logout") {
        if (!csrfValid)
            return ErrorAnswer(403, "缺少有效的安全令牌，请刷新页面后重试。");
        sessions.End(token);
        Log(WebAction::Logout, request.account, request.address);
        WebResponse response = Redirect("/login");
        response.headers.append({"Set-Cookie", SessionCookie({}, true)});
        return response;
    }
    if (get && request.path == "/api/session")
        return JsonAnswer(200, {{"account", request.account},
                                {"role", RoleName(request.role)},
                                {"csrf", QString::fromLatin1(session.csrfToken)}});

    bool pathKnown = false;
    for (const WebRoute& route : routes) {
        if (!RouteMatches(route, request.path))
            continue;
        pathKnown = true;
        if (route.method != request.method && !(request.method == "HEAD" && route.method == "GET"))
            continue;
        if (request.role < route.minimumRole)
            return ErrorAnswer(403, "你的账户没有这项权限。");
        if (route.changesData && (request.method != "POST" || !csrfValid))
            return ErrorAnswer(403, "缺少有效的安全令牌，请刷新页面后重试。");
        try {
            return route.handle(request);
        } catch (const std::exception&) {
            return ErrorAnswer(500, "服务器内部错误。");
        }
    }
    return pathKnown ? ErrorAnswer(405, "不支持这种请求。") : ErrorAnswer(404, "找不到这个页面。");
}

WebResponse WebServer::State::Answer(MHD_Connection* connection, const QByteArray& method, PendingRequest& pending)
{
    if (method != "GET" && method != "HEAD" && method != "POST")
        return ErrorAnswer(405, "不支持这种请求。");
    const std::optional<RequestTarget> target = ParseRequestTarget(pending.target);
    if (!target)
        return ErrorAnswer(400, "请求的地址无效。");
    WebRequest request;
    request.method = method;
    request.path = target->path;
    request.query = target->query;
    request.range = Header(connection, MHD_HTTP_HEADER_RANGE);
    request.address = ClientAddress(connection);
    if (method == "POST") {
        // A form sent from another site's page never reaches the handlers.
        const QByteArray origin = Header(connection, "Origin");
        const QByteArray host = Header(connection, MHD_HTTP_HEADER_HOST);
        if (!origin.isEmpty() && origin != "http://" + host && origin != "https://" + host)
            return ErrorAnswer(403, "拒绝来自其他网站的请求。");
        const QByteArray type = Header(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
        if (type.startsWith("application/x-www-form-urlencoded")) {
            const std::optional<Parameters> form = ParseParameters(pending.body);
            if (!form)
                return ErrorAnswer(400, "请求的内容无效。");
            request.form = *form;
        }
    }
    if (request.path == "/login" && method != "POST")
        return BodyAnswer(200, "text/html; charset=utf-8", LoginPage(LoginMessage::None));
    if (request.path == "/login.css" && method != "POST")
        return BodyAnswer(200, "text/css; charset=utf-8", LoginStyle());
    if (request.path == "/login")
        return Login(request);

    const QByteArray token = CookieValue(Header(connection, MHD_HTTP_HEADER_COOKIE), kSessionCookie);
    const std::optional<WebSession> session = sessions.Use(token, std::chrono::steady_clock::now());
    std::optional<WebAccountState> state = session ? accounts.StateOf(session->account) : std::nullopt;
    if (session && (!state || state->passwordStamp != session->passwordStamp)) {
        sessions.End(token);
        state.reset();
    }
    if (!state) {
        if (request.path.startsWith("/api/") || method == "POST")
            return ErrorAnswer(401, "请先登录。");
        return Redirect("/login");
    }
    request.account = session->account;
    request.session = SessionId(token);
    request.role = state->role;
    return AnswerSession(request, token, *session, Header(connection, "X-CSRF-Token"));
}

MHD_Result WebServer::State::Queue(MHD_Connection* connection, const WebResponse& answer) const
{
    MHD_Response* response = nullptr;
    if (answer.source) {
        auto* context = new std::shared_ptr<WebBodySource>(answer.source);
        response = MHD_create_response_from_callback(static_cast<uint64_t>(answer.sourceSize), kSourcePiece, ReadSource,
                                                     context, FreeSource);
        if (response == nullptr)
            delete context;
    } else if (answer.sourceSize > 0) {
        // A HEAD request's answer carries the length a GET's body would have.
        response = MHD_create_response_from_callback(static_cast<uint64_t>(answer.sourceSize), kSourcePiece,
                                                     ReadNothing, nullptr, nullptr);
    } else {
        response = MHD_create_response_from_buffer(static_cast<size_t>(answer.body.size()),
                                                   const_cast<char*>(answer.body.constData()), MHD_RESPMEM_MUST_COPY);
    }
    if (response == nullptr)
        return MHD_NO;
    bool cacheControl = false;
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.constData(), value.constData());
        cacheControl = cacheControl || name.compare("Cache-Control", Qt::CaseInsensitive) == 0;
    }
    if (!answer.contentType.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.constData());
    if (!cacheControl)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "Content-Security-Policy", kContentSecurityPolicy);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    // Not "no-referrer": under it a browser sends "Origin: null" with the pages' own forms, which the
    // check of POST requests refuses as another site's.
    MHD_add_response_header(response, "Referrer-Policy", "same-origin");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

namespace {

void* StartRequest(void*, const char* uri, MHD_Connection*)
{
    auto* pending = new PendingRequest;
    pending->target = QByteArray(uri);
    return pending;
}

void EndRequest(void* serverState, MHD_Connection* connection, void** context, MHD_RequestTerminationCode)
{
    delete static_cast<PendingRequest*>(*context);
    *context = nullptr;
    static_cast<WebServer::State*>(serverState)->watch.Answered(connection);
}

void ConnectionChanged(void* serverState, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode change)
{
    ConnectionWatch& watch = static_cast<WebServer::State*>(serverState)->watch;
    if (change == MHD_CONNECTION_NOTIFY_CLOSED) {
        watch.Closed(connection);
        return;
    }
    if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
        watch.Opened(connection, info->connect_fd);
}

MHD_Result AnswerRequest(void* serverState, MHD_Connection* connection, const char*, const char* method, const char*,
                         const char* uploadData, size_t* uploadSize, void** context)
{
    auto* state = static_cast<WebServer::State*>(serverState);
    auto* pending = static_cast<PendingRequest*>(*context);
    if (pending == nullptr)
        return MHD_NO;
    // A body over the bound is refused as soon as it is known to be, not read to its end.
    if (!pending->started) {
        pending->started = true;
        bool valid = false;
        const qint64 length = Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH).toLongLong(&valid);
        if (!valid || length <= kLongestBody) {
            state->watch.HeaderIn(connection);
            return MHD_YES;
        }
        state->watch.Answering(connection);
        return state->Queue(connection, ErrorAnswer(413, "请求的内容太长。"));
    }
    if (*uploadSize > 0) {
        state->watch.BodyIn(connection, static_cast<qint64>(*uploadSize));
        // A body without a length that grows over the bound: the connection is closed unanswered,
        // as libmicrohttpd takes no answer while a body is being read.
        if (pending->body.size() + static_cast<qsizetype>(*uploadSize) > kLongestBody)
            return MHD_NO;
        pending->body.append(uploadData, static_cast<qsizetype>(*uploadSize));
        *uploadSize = 0;
        return MHD_YES;
    }
    state->watch.Answering(connection);
    return state->Queue(connection, state->Answer(connection, QByteArray(method), *pending));
}

} // namespace

WebServer::WebServer(WebServerOptions options, AccountStore& accounts, AccessLog& log, QList<WebRoute> routes)
    : state_(std::make_unique<State>(std::move(options), accounts, log, std::move(routes)))
{
}

WebServer::~WebServer()
{
    Stop();
}

Result<void> WebServer::Start()
{
    state_->daemon =
        StartDaemon(state_->options, {AnswerRequest, StartRequest, EndRequest, ConnectionChanged, state_.get()});
    if (state_->daemon == nullptr)
        return Failure{"Cannot listen on port " + std::to_string(state_->options.port)
                       + ": it is taken, or the certificate or key cannot be used"};
    return {};
}

quint16 WebServer::Port() const
{
    if (state_->daemon == nullptr)
        return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

void WebServer::Stop()
{
    if (state_->daemon != nullptr)
        MHD_stop_daemon(std::exchange(state_->daemon, nullptr));
}
