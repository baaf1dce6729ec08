#include "web/access_log.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"
#include "platform/unique_fd.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr WebAction kActions[] = {WebAction::Login,        WebAction::LoginRefused, WebAction::Logout,
                                  WebAction::Play,         WebAction::Download,     WebAction::NoteChange,
                                  WebAction::AccountChange};
constexpr int kFieldCount = 5;
// The tail of the file is read in pieces of this size until it holds enough lines.
constexpr qint64 kTailPiece = 64 * 1024;

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
    if (fields.size() != kFieldCount)
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

Result<void> AccessLog::Append(const AccessEntry& entry)
{
    const QByteArray line = entry.time.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '\t' + Escaped(entry.account)
                            + '\t' + ActionName(entry.action).toLatin1() + '\t' + Escaped(entry.recording) + '\t'
                            + Escaped(entry.address) + '\n';
    const std::string path = filePath_.toStdString();
    const std::lock_guard lock(mutex_);
    MakeOwnFolder(QFileInfo(filePath_).absolutePath().toStdString());
    // O_APPEND and one write per line: entries of other processes writing the same file never interleave.
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode));
    if (fd.get() < 0)
        return SystemFailure("Cannot open file", path);
    ::fchmod(fd.get(), kPrivateFileMode);
    if (!WriteAllBytes(fd.get(), line.constData(), static_cast<std::size_t>(line.size())))
        return SystemFailure("Cannot write file", path);
    return {};
}

Result<QList<AccessEntry>> AccessLog::Newest(int count) const
{
    const std::string path = filePath_.toStdString();
    const std::lock_guard lock(mutex_);
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return QList<AccessEntry>();
        return SystemFailure("Cannot open file", path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return SystemFailure("Cannot read file", path);
    // Reads backwards from the end until the tail holds count + 1 line ends (the first line may be cut).
    QByteArray tail;
    qint64 start = status.st_size;
    while (start > 0 && tail.count('\n') <= count) {
        const qint64 piece = std::min(kTailPiece, start);
        start -= piece;
        QByteArray bytes(piece, Qt::Uninitialized);
        if (::pread(fd.get(), bytes.data(), static_cast<std::size_t>(piece), start) != piece)
            return SystemFailure("Cannot read file", path);
        tail.prepend(bytes);
    }
    QList<QByteArray> lines = tail.split('\n');
    if (start > 0)
        lines.removeFirst();
    QList<AccessEntry> entries;
    for (qsizetype i = lines.size() - 1; i >= 0 && entries.size() < count; --i) {
        if (const std::optional<AccessEntry> entry = ParseLine(lines[i]))
            entries.append(*entry);
    }
    return entries;
}
