// sdvoice-web: the archive in the browser. Serves the web page in the foreground until SIGTERM or
// SIGINT, changes the web page's accounts from a terminal, or checks its access log.

#include "index/archive_index.h"
#include "web/access_log.h"
#include "web/account_store.h"
#include "web/admin_routes.h"
#include "web/content_routes.h"
#include "web/self_signed_certificate.h"
#include "web/web_server.h"
#include "web/web_settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kUsageError = 2;

const char* const kUsage =
    "usage: sdvoice-web [--port N] [--plain]\n"
    "       sdvoice-web account list\n"
    "       sdvoice-web account add NAME listen|note|admin   (the password from stdin)\n"
    "       sdvoice-web account role NAME listen|note|admin\n"
    "       sdvoice-web account password NAME                (the password from stdin)\n"
    "       sdvoice-web account remove NAME\n"
    "       sdvoice-web log verify [FILE]   (exit 0: the chain is whole, 1: broken at the line named)\n";

int Usage()
{
    std::cerr << kUsage;
    return kUsageError;
}

int Report(const Result<void>& result)
{
    if (result)
        return 0;
    std::cerr << "sdvoice-web: " << result.error().reason << '\n';
    return 1;
}

// One line of stdin without its line end; typed without echo at a terminal.
QByteArray ReadPassword()
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::cerr << "Password: " << std::flush;
        ::tcgetattr(STDIN_FILENO, &saved);
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << '\n';
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QByteArray::fromStdString(line);
}

int AccountCommand(const QStringList& arguments)
{
    AccountStore store(AccountStore::DefaultPath());
    const QString command = arguments.value(0);
    if (command == "list" && arguments.size() == 1) {
        const Result<QList<WebAccount>> accounts = store.List();
        if (!accounts)
            return Report(accounts.error());
        for (const WebAccount& account : *accounts)
            std::cout << account.name.toStdString() << '\t' << RoleName(account.role).toStdString() << '\n';
        return 0;
    }
    const QString name = arguments.value(1);
    if ((command == "password" || command == "remove") && arguments.size() == 2)
        return Report(command == "remove" ? store.Remove(name) : store.SetPassword(name, ReadPassword()));
    if ((command == "add" || command == "role") && arguments.size() == 3) {
        const std::optional<WebRole> role = RoleFromName(arguments[2]);
        if (!role)
            return Usage();
        return Report(command == "role" ? store.SetRole(name, *role) : store.Add(name, *role, ReadPassword()));
    }
    return Usage();
}

const char* BreakText(LogBreak problem)
{
    switch (problem) {
    case LogBreak::None:
        break;
    case LogBreak::Changed:
        return "was changed: its text no longer gives its hash";
    case LogBreak::NotFollowing:
        return "does not follow the line before it: an entry was removed or moved here, or the one before it "
               "was changed";
    case LogBreak::Cut:
        return "is cut short";
    case LogBreak::NotAnEntry:
        return "is not an entry of the log";
    }
    return "";
}

// Checks the chain of the access log's entries and names the first line that breaks it.
int LogCommand(const QStringList& arguments)
{
    if (arguments.value(0) != "verify" || arguments.size() > 2)
        return Usage();
    const AccessLog log(arguments.size() == 2 ? arguments[1] : AccessLog::DefaultPath());
    const Result<LogCheck> check = log.Verify();
    if (!check)
        return Report(check.error());
    const std::string file = log.filePath().toStdString();
    if (!check->whole()) {
        std::cout << file << ": line " << check->brokenLine << ' ' << BreakText(check->problem) << '\n';
        return 1;
    }
    const qint64 chained = check->lines - check->unchained;
    if (chained > 0)
        std::cout << file << ": whole, " << chained << " chained entries, head " << check->head.toStdString() << '\n';
    else
        std::cout << file << ": no entry carries hashes yet\n";
    if (check->unchained > 0)
        std::cout << "lines 1 to " << check->unchained << " were written before entries carried hashes: "
                  << (chained > 0 ? "they are held as they were when line " + std::to_string(check->unchained + 1)
                                        + " was written"
                                  : std::string("nothing holds them"))
                  << '\n';
    return 0;
}

Result<QByteArray> ReadPem(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{"Cannot open file " + path.toStdString(), 0, path.toStdString()};
    return file.read(1024 * 1024);
}

// Opens the index once as its owner, which makes or updates its tables and sets a damaged file
// aside, and says what that owner has to say; the requests then share the pool's connections.
void OpenIndexAsOwner(const IndexLocation& location)
{
    const ArchiveIndex::Opened opened = ArchiveIndex::Open(location);
    if (!opened.message.empty())
        std::cerr << "sdvoice-web: " << opened.message << std::endl;
}

// Fills in the certificate and key, made at the first start when the settings name none of their own.
Result<void> LoadCertificate(const WebSettings& settings, WebServerOptions& options)
{
    if (Result<void> made = MakeCertificateIfMissing(settings.certificateFile, settings.keyFile); !made)
        return made;
    Result<QByteArray> certificate = ReadPem(settings.certificateFile);
    if (!certificate)
        return certificate.error();
    Result<QByteArray> key = ReadPem(settings.keyFile);
    if (!key)
        return key.error();
    options.certificatePem = *certificate;
    options.keyPem = *key;
    if (const Result<QString> fingerprint = CertificateFingerprint(settings.certificateFile))
        std::cout << "Certificate SHA-256 fingerprint: " << fingerprint->toStdString() << std::endl;
    return {};
}

int Serve(const QStringList& arguments)
{
    const WebSettings settings = ReadWebSettings();
    WebServerOptions options;
    options.port = settings.port;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        bool valid = false;
        if (arguments[i] == "--plain") {
            options.plain = true;
        } else if (arguments[i] == "--port" && i + 1 < arguments.size()) {
            const uint port = arguments[++i].toUInt(&valid);
            if (!valid || port > 65535)
                return Usage();
            options.port = static_cast<quint16>(port);
        } else {
            return Usage();
        }
    }
    if (!options.plain) {
        if (const Result<void> loaded = LoadCertificate(settings, options); !loaded)
            return Report(loaded);
    }
    // The server's threads inherit the blocked signals: only this thread takes them, in sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    AccountStore accounts(AccountStore::DefaultPath());
    if (const Result<QList<WebAccount>> existing = accounts.List(); !existing)
        std::cerr << "sdvoice-web: " << existing.error().reason << ": nobody can log in\n";
    else if (existing->isEmpty())
        std::cerr << "sdvoice-web: no web accounts yet: add one with 'sdvoice-web account add NAME admin'\n";
    AccessLog log(AccessLog::DefaultPath());
    const IndexLocation index = ConfiguredIndexLocation();
    OpenIndexAsOwner(index);
    QList<WebRoute> routes = AdminRoutes(accounts, log);
    ContentOptions content;
    content.indexConnections = settings.databaseConnections;
    routes.append(ContentRoutes(log, index, content));
    WebServer server(options, accounts, log, routes);
    if (const Result<void> started = server.Start(); !started)
        return Report(started);
    std::cout << "Listening on " << (options.plain ? "http://127.0.0.1:" : "https://0.0.0.0:") << server.Port()
              << std::endl;
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Qt's SQL drivers are plugins: they are found through the application object.
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    if (arguments.value(0) == "account")
        return AccountCommand(arguments.mid(1));
    if (arguments.value(0) == "log")
        return LogCommand(arguments.mid(1));
    if (arguments == QStringList{"--help"}) {
        std::cout << kUsage;
        return 0;
    }
    return Serve(arguments);
}
