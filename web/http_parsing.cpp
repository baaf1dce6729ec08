#include "web/http_parsing.h"

#include <QStringDecoder>
#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kFarthest = std::numeric_limits<qint64>::max();

// A byte position of any number of digits; one past what qint64 holds is taken as its largest value,
// which lies past the end of any body. Nothing for anything but digits.
std::optional<qint64> ParsePosition(QByteArrayView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        value = value > (kFarthest - digit) / 10 ? kFarthest : value * 10 + digit;
    }
    return value;
}

// One range of a Range header ("F-L", "F-" or "-N") of a body of `size` bytes; nothing when malformed.
std::optional<RangeAsked> ParseOneRange(QByteArrayView text, qint64 size)
{
    const qsizetype dash = text.indexOf('-');
    if (dash < 0)
        return std::nullopt;
    const QByteArrayView firstDigits = text.first(dash);
    const QByteArrayView lastDigits = text.sliced(dash + 1);
    if (firstDigits.isEmpty()) {
        const std::optional<qint64> suffix = ParsePosition(lastDigits);
        if (!suffix)
            return std::nullopt;
        if (*suffix == 0 || size <= 0)
            return RangeAsked{RangeKind::Unsatisfiable, {}};
        return RangeAsked{RangeKind::Part, {std::max<qint64>(0, size - *suffix), size - 1}};
    }
    const std::optional<qint64> first = ParsePosition(firstDigits);
    const std::optional<qint64> last = lastDigits.isEmpty() ? kFarthest : ParsePosition(lastDigits);
    if (!first || !last || *last < *first)
        return std::nullopt;
    if (*first >= size)
        return RangeAsked{RangeKind::Unsatisfiable, {}};
    return RangeAsked{RangeKind::Part, {*first, std::min(*last, size - 1)}};
}

} // namespace

RangeAsked ParseRange(QByteArrayView header, qint64 size)
{
    const QByteArrayView asked = header.trimmed();
    const qsizetype equals = asked.indexOf('=');
    if (equals < 0 || asked.first(equals).trimmed().compare("bytes", Qt::CaseInsensitive) != 0)
        return {};
    std::optional<RangeAsked> first;
    bool anyPart = false;
    // Every range is read: one malformed range makes the whole header one to ignore.
    for (qsizetype start = equals + 1; start <= asked.size();) {
        qsizetype comma = asked.indexOf(',', start);
        if (comma < 0)
            comma = asked.size();
        const QByteArrayView text = asked.sliced(start, comma - start).trimmed();
        start = comma + 1;
        if (text.isEmpty())
            continue; // "bytes=0-9, ,20-29": empty list elements are allowed
        const std::optional<RangeAsked> range = ParseOneRange(text, size);
        if (!range)
            return {};
        anyPart = anyPart || range->kind == RangeKind::Part;
        if (!first)
            first = range;
    }
    if (!first)
        return {};
    if (first->kind == RangeKind::Unsatisfiable && anyPart)
        return {};
    return *first;
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
