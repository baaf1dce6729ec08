#include "web/http_parsing.h"

#include <QStringDecoder>

namespace {

// Digits of a byte position: more than 18 could overflow qint64 and no body is that large.
constexpr qsizetype kLongestNumber = 18;

std::optional<qint64> ParseNumber(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > kLongestNumber)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<ByteRange> ParseByteRange(const QByteArray& header, qint64 size)
{
    const QByteArray asked = header.trimmed();
    constexpr QByteArrayView unit = "bytes=";
    if (size <= 0 || !asked.startsWith(unit))
        return std::nullopt;
    const QByteArrayView range = QByteArrayView(asked).sliced(unit.size()).trimmed();
    const qsizetype dash = range.indexOf('-');
    if (dash < 0)
        return std::nullopt;
    const QByteArrayView firstDigits = range.first(dash).trimmed();
    const QByteArrayView lastDigits = range.sliced(dash + 1).trimmed();
    if (firstDigits.isEmpty()) {
        const std::optional<qint64> suffix = ParseNumber(lastDigits);
        if (!suffix || *suffix == 0)
            return std::nullopt;
        return ByteRange{std::max<qint64>(0, size - *suffix), size - 1};
    }
    const std::optional<qint64> first = ParseNumber(firstDigits);
    if (!first || *first >= size)
        return std::nullopt;
    if (lastDigits.isEmpty())
        return ByteRange{*first, size - 1};
    const std::optional<qint64> last = ParseNumber(lastDigits);
    if (!last || *last < *first)
        return std::nullopt;
    return ByteRange{*first, std::min(*last, size - 1)};
}

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QByteArray> PercentDecodedBytes(QByteArrayView text, bool plusIsSpace)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            c = ' ';
        }
        if (c == '\0')
            return std::nullopt;
        bytes += c;
    }
    return bytes;
}

bool IsUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

bool IsSafePath(const QString& path)
{
    if (!path.startsWith(u'/'))
        return false;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'\\')
            return false;
    }
    for (const QStringView segment : QStringView(path).split(u'/')) {
        if (segment == u"." || segment == u"..")
            return false;
    }
    return true;
}

} // namespace

std::optional<QString> PercentDecoded(QByteArrayView text, bool plusIsSpace)
{
    const std::optional<QByteArray> bytes = PercentDecodedBytes(text, plusIsSpace);
    if (!bytes || !IsUtf8(*bytes))
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

std::optional<Parameters> ParseParameters(QByteArrayView text)
{
    Parameters parameters;
    if (text.isEmpty())
        return parameters;
    for (const QByteArray& pair : text.toByteArray().split('&')) {
        if (pair.isEmpty())
            continue;
        if (parameters.size() == kMostParameters)
            return std::nullopt;
        const qsizetype equals = pair.indexOf('=');
        const std::optional<QString> name = PercentDecoded(equals < 0 ? pair : pair.first(equals), true);
        const std::optional<QString> value = PercentDecoded(equals < 0 ? QByteArray() : pair.sliced(equals + 1), true);
        if (!name || !value)
            return std::nullopt;
        parameters.append({*name, *value});
    }
    return parameters;
}

std::optional<RequestTarget> ParseRequestTarget(QByteArrayView target)
{
    const qsizetype question = target.indexOf('?');
    const QByteArrayView rawPath = question < 0 ? target : target.first(question);
    // An encoded '/' or '\' would make one segment look like two once decoded.
    const QByteArray lowered = rawPath.toByteArray().toLower();
    if (lowered.contains("%2f") || lowered.contains("%5c"))
        return std::nullopt;
    const std::optional<QString> path = PercentDecoded(rawPath, false);
    if (!path || !IsSafePath(*path))
        return std::nullopt;
    const std::optional<Parameters> query =
        ParseParameters(question < 0 ? QByteArrayView() : target.sliced(question + 1));
    if (!query)
        return std::nullopt;
    return RequestTarget{*path, *query};
}

QByteArray CookieValue(QByteArrayView header, QByteArrayView name)
{
    for (const QByteArray& cookie : header.toByteArray().split(';')) {
        const QByteArrayView trimmed = QByteArrayView(cookie).trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals > 0 && trimmed.first(equals).trimmed() == name)
            return trimmed.sliced(equals + 1).trimmed().toByteArray();
    }
    return {};
}

QString ParameterValue(const Parameters& parameters, const QString& name)
{
    for (const auto& [key, value] : parameters) {
        if (key == name)
            return value;
    }
    return {};
}
