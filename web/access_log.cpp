#include "web/access_log.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"
#include "platform/sha256_digest.h"
#include "platform/unique_fd.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr WebAction kActions[] = {WebAction::Login,         WebAction::LoginRefused,  WebAction::Logout,
                                  WebAction::Play,          WebAction::Download,      WebAction::NoteChange,
                                  WebAction::AccountChange, WebAction::EvidenceExport};
constexpr int kFieldCount = 5;
// The entry's fields, the hash of the entry before it and its own.
constexpr int kChainedFieldCount = kFieldCount + 2;
constexpr qsizetype kHashDigits = 2 * kSha256Bytes;
// The tail of the file is read in pieces growing from the first size to the largest until it holds
// enough lines: an append needs the last line only.
constexpr qint64 kFirstTailPiece = 4 * 1024;
constexpr qint64 kTailPiece = 64 * 1024;
// Verify reads the whole file in pieces of this size.
constexpr std::size_t kVerifyPiece = 1024 * 1024;

Failure SystemFailure(const std::string& what, const std::string& path)
{
    const int error = errno;
    return Failure{what + " " + path + ": " + std::strerror(error), error, path};
}

// Fields may hold anything a request sent: tabs and line ends are escaped so that an entry
// always stays one line of five fields.
QByteArray Escaped(const QString& field)
{
    QByteArray escaped;
    for (const char c : field.toUtf8()) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString Unescaped(const QByteArray& field)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            bytes += field[i];
            continue;
        }
        const char next = field[++i];
        bytes += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return QString::fromUtf8(bytes);
}

std::optional<WebAction> ActionFromName(const QString& name)
{
    for (const WebAction action : kActions) {
        if (ActionName(action) == name)
            return action;
    }
    return std::nullopt;
}

// One line of the file; nothing for a line that is not an entry (one cut short when the disk filled).
std::optional<AccessEntry> ParseLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != kFieldCount && fields.size() != kChainedFieldCount)
        return std::nullopt;
    AccessEntry entry;
    entry.time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
    const std::optional<WebAction> action = ActionFromName(QString::fromLatin1(fields[2]));
    if (!entry.time.isValid() || !action)
        return std::nullopt;
    entry.account = Unescaped(fields[1]);
    entry.action = *action;
    entry.recording = Unescaped(fields[3]);
    entry.address = Unescaped(fields[4]);
    return entry;
}

// The tail of the file behind fd (of size bytes) that holds its last count lines whole, or the
// whole file when it has fewer; start tells where the tail begins.
Result<QByteArray> ReadTail(int fd, qint64 size, int count, qint64& start, const std::string& path)
{
    QByteArray tail;
    start = size;
    for (qint64 wanted = kFirstTailPiece; start > 0 && tail.count('\n') <= count;
         wanted = std::min(2 * wanted, kTailPiece)) {
        const qint64 piece = std::min(wanted, start);
        start -= piece;
        QByteArray bytes(piece, Qt::Uninitialized);
        if (::pread(fd, bytes.data(), static_cast<std::size_t>(piece), start) != piece)
            return SystemFailure("Cannot read file", path);
        tail.prepend(bytes);
    }
    return tail;
}

bool IsHash(QByteArrayView text)
{
    return text.size() == kHashDigits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The hash the next entry carries: that of the last entry, or, when the file does not end with
// one (a new log, a log written before entries carried hashes, a line cut short), that of every
// byte in the file. A line cut short is ended first, so that the new entry starts a line of its own.
Result<QByteArray> PreviousHash(int fd, const std::string& path)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return SystemFailure("Cannot read file", path);
    if (status.st_size > 0) {
        qint64 start = 0;
        const Result<QByteArray> tail = ReadTail(fd, status.st_size, 1, start, path);
        if (!tail)
            return tail.error();
        if (!tail->endsWith('\n')) {
            if (!WriteAllBytes(fd, "\n", 1))
                return SystemFailure("Cannot write file", path);
        } else {
            const QByteArrayView last = QByteArrayView(*tail).chopped(1);
            const QByteArrayView line = last.sliced(last.lastIndexOf('\n') + 1);
            if (line.size() >= kHashDigits && line.count('\t') == kChainedFieldCount - 1
                && IsHash(line.last(kHashDigits)))
                return line.last(kHashDigits).toByteArray();
        }
    }
    const Result<std::string> whole = Sha256HexOfFd(fd);
    if (!whole)
        return SystemFailure("Cannot read file", path);
    return QByteArray::fromStdString(*whole);
}

QByteArray EntryText(const AccessEntry& entry)
{
    return entry.time.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '\t' + Escaped(entry.account) + '\t'
           + ActionName(entry.action).toLatin1() + '\t' + Escaped(entry.recording) + '\t' + Escaped(entry.address);
}

// Follows the chain line by line and stops at the first line that breaks it.
class ChainWalk {
public:
    // One line without its line end; false when it breaks the chain.
    bool Take(std::string_view line);
    // The file ends inside a line (no line end after it).
    void EndInside()
    {
        ++check_.lines;
        Break(LogBreak::Cut);
    }
    LogCheck check() const
    {
        LogCheck check = check_;
        if (check.whole() && check.lines > check.unchained)
            check.head = QString::fromStdString(expected_);
        return check;
    }

private:
    bool Break(LogBreak problem)
    {
        check_.brokenLine = check_.lines;
        check_.problem = problem;
        return false;
    }

    LogCheck check_;
    Sha256 beforeChain_;   // every byte before the chain's first entry
    std::string expected_; // the hash the next entry carries; empty until the chain begins
};

bool ChainWalk::Take(std::string_view line)
{
    ++check_.lines;
    const auto tabs = std::count(line.begin(), line.end(), '\t');
    if (expected_.empty()) {
        if (tabs != kChainedFieldCount - 1) {
            ++check_.unchained;
            beforeChain_.Add(line);
            beforeChain_.Add("\n");
            return true;
        }
        expected_ = beforeChain_.FinishHex();
    }
    if (tabs != kChainedFieldCount - 1)
        return Break(LogBreak::NotAnEntry);
    const std::size_t ownAt = line.rfind('\t') + 1;
    const std::string_view own = line.substr(ownAt);
    const std::size_t previousAt = line.rfind('\t', ownAt - 2) + 1;
    const std::string_view previous = line.substr(previousAt, ownAt - 1 - previousAt);
    if (Sha256Hex(line.substr(0, ownAt - 1)) != own)
        return Break(LogBreak::Changed);
    if (previous != expected_)
        return Break(LogBreak::NotFollowing);
    expected_ = own;
    return true;
}

// Opens the log for reading with a shared lock, so that no entry is read half written.
UniqueFd OpenLocked(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.valid() && ::flock(fd.get(), LOCK_SH) != 0)
        fd.reset();
    return fd;
}

} // namespace

QString ActionName(WebAction action)
{
    switch (action) {
    case WebAction::Login:
        return "login";
    case WebAction::LoginRefused:
        return "login-refused";
    case WebAction::Logout:
        return "logout";
    case WebAction::Play:
        return "play";
    case WebAction::Download:
        return "download";
    case WebAction::NoteChange:
        return "note";
    case WebAction::AccountChange:
        return "account";
    case WebAction::EvidenceExport:
        return "evidence";
    }
    return {};
}

AccessLog::AccessLog(QString filePath) : filePath_(std::move(filePath))
{
}

QString AccessLog::DefaultPath()
{
    return QString::fromStdString(ConfigDir()) + "/web-access.log";
}

Result<QString> AccessLog::Append(const AccessEntry& entry)
{
    const std::string path = filePath_.toStdString();
    MakeOwnFolder(QFileInfo(filePath_).absolutePath().toStdString());
    // O_APPEND and one write per line: entries of other processes writing the same file never interleave.
    // The lock makes reading the last hash and appending after it one step for every writer.
    const UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode));
    if (fd.get() < 0)
        return SystemFailure("Cannot open file", path);
    ::fchmod(fd.get(), kPrivateFileMode);
    if (::flock(fd.get(), LOCK_EX) != 0)
        return SystemFailure("Cannot lock file", path);
    const Result<QByteArray> previous = PreviousHash(fd.get(), path);
    if (!previous)
        return previous.error();
    const QByteArray text = EntryText(entry) + '\t' + *previous;
    const QByteArray hash = QByteArray::fromStdString(Sha256Hex(text.toStdString()));
    const QByteArray line = text + '\t' + hash + '\n';
    if (!WriteAllBytes(fd.get(), line.constData(), static_cast<std::size_t>(line.size())))
        return SystemFailure("Cannot write file", path);
    return QString::fromLatin1(hash);
}

Result<QList<AccessEntry>> AccessLog::Newest(int count) const
{
    const std::string path = filePath_.toStdString();
    const UniqueFd fd = OpenLocked(path);
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return QList<AccessEntry>();
        return SystemFailure("Cannot open file", path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return SystemFailure("Cannot read file", path);
    // The first line of the tail may be cut.
    qint64 start = 0;
    const Result<QByteArray> tail = ReadTail(fd.get(), status.st_size, count, start, path);
    if (!tail)
        return tail.error();
    QList<QByteArray> lines = tail->split('\n');
    if (start > 0)
        lines.removeFirst();
    QList<AccessEntry> entries;
    for (qsizetype i = lines.size() - 1; i >= 0 && entries.size() < count; --i) {
        if (const std::optional<AccessEntry> entry = ParseLine(lines[i]))
            entries.append(*entry);
    }
    return entries;
}

Result<LogCheck> AccessLog::Verify() const
{
    const std::string path = filePath_.toStdString();
    const UniqueFd fd = OpenLocked(path);
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return LogCheck{};
        return SystemFailure("Cannot open file", path);
    }
    ChainWalk walk;
    std::string pending; // the bytes of a line not yet ended
    std::vector<char> piece(kVerifyPiece);
    for (;;) {
        const ssize_t got = ::read(fd.get(), piece.data(), piece.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return SystemFailure("Cannot read file", path);
        if (got == 0)
            break;
        std::string_view bytes(piece.data(), static_cast<std::size_t>(got));
        for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
            const bool taken = pending.empty() ? walk.Take(bytes.substr(0, end))
                                               : walk.Take(pending.append(bytes.substr(0, end)));
            if (!taken)
                return walk.check();
            pending.clear();
            bytes.remove_prefix(end + 1);
        }
        pending.append(bytes);
    }
    if (!pending.empty())
        walk.EndInside();
    return walk.check();
}
