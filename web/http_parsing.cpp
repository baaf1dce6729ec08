#include "web/http_parsing.h"

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
    const QByteArray spec = header.trimmed();
    constexpr QByteArrayView unit = "bytes=";
    if (size <= 0 || !spec.startsWith(unit))
        return std::nullopt;
    const QByteArrayView range = QByteArrayView(spec).sliced(unit.size()).trimmed();
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
