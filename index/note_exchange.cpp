#include "index/note_exchange.h"

#include "catalogue/recording.h"
#include "platform/atomic_file.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sys/stat.h>

namespace {

// The largest size a JSON number carries exactly.
constexpr double kLargestExactSize = 9007199254740992.0;

bool PlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

bool WholeSize(const QJsonValue& size)
{
    if (!size.isDouble())
        return false;
    const double value = size.toDouble();
    return value >= 0 && value <= kLargestExactSize && std::floor(value) == value;
}

bool HexRecord(const QString& hex)
{
    if (hex.size() != 2 * static_cast<qsizetype>(kHeaderSize))
        return false;
    return std::all_of(hex.begin(), hex.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

std::optional<NotedRecording> ParseNoteLine(const std::string& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text));
    const QJsonObject line = document.object();
    const QJsonValue name = line.value(QStringLiteral("name"));
    const QJsonValue size = line.value(QStringLiteral("size"));
    const QJsonValue record = line.value(QStringLiteral("record"));
    const QJsonValue description = line.value(QStringLiteral("description"));
    const QJsonValue userType = line.value(QStringLiteral("user_type"));
    const bool shaped = document.isObject() && name.isString() && PlainFileName(name.toString()) && WholeSize(size)
                        && record.isString() && HexRecord(record.toString()) && description.isString()
                        && userType.isString();
    if (!shaped)
        return std::nullopt;
    return NotedRecording{{name.toString().toStdString(), static_cast<std::uint64_t>(size.toDouble()),
                           QByteArray::fromHex(record.toString().toLatin1()).toStdString()},
                          {description.toString().toStdString(), userType.toString().toStdString()}};
}

} // namespace

std::string NoteLine(const NotedRecording& noted)
{
    const QJsonObject line{
        {QStringLiteral("name"), QString::fromStdString(noted.identity.fileName)},
        {QStringLiteral("size"), static_cast<qint64>(noted.identity.size)},
        {QStringLiteral("record"), QString::fromLatin1(QByteArray::fromStdString(noted.identity.record).toHex())},
        {QStringLiteral("description"), QString::fromStdString(noted.note.description)},
        {QStringLiteral("user_type"), QString::fromStdString(noted.note.userType)},
    };
    return QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

Result<void> WriteNotesFile(const std::string& path, const std::vector<NotedRecording>& notes)
{
    std::string lines;
    for (const NotedRecording& noted : notes)
        lines += NoteLine(noted);
    return WriteFileAtomically(path, lines, kPrivateFileMode, true);
}

Result<std::vector<NotedRecording>> ReadNotesFile(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Failure{"cannot read " + path + ": " + std::strerror(errno), errno, path};
    if (!S_ISREG(info.st_mode))
        return Failure{path + " is not a notes file but a folder or another kind of file", 0, path};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Failure{"cannot read " + path, 0, path};
    std::vector<NotedRecording> notes;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (text.empty())
            continue;
        std::optional<NotedRecording> noted = ParseNoteLine(text);
        if (!noted)
            return Failure{path + " line " + std::to_string(number) + " is not a note", 0, path};
        notes.push_back(std::move(*noted));
    }
    if (in.bad())
        return Failure{"cannot read " + path, 0, path};
    return notes;
}
