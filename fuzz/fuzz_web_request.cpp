// Feeds arbitrary requests to the web server's own request reading. The input's lines are a request
// target, a form body, a Cookie header, a Range header and a body size. Whatever is accepted must hold
// what the handlers rely on: a path that cannot leave its route, bounded parameters that encode back
// to themselves, a range inside the body.
#include "web/http_parsing.h"

#include <QUrl>
#include <cstdint>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void CheckParameters(const Parameters& parameters)
{
    Check(parameters.size() <= kMostParameters);
    QByteArray encoded;
    for (const auto& [name, value] : parameters)
        encoded += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value) + '&';
    const std::optional<Parameters> again = ParseParameters(encoded);
    Check(again && *again == parameters);
}

void CheckTarget(QByteArrayView text)
{
    const std::optional<RequestTarget> target = ParseRequestTarget(text);
    if (!target)
        return;
    Check(target->path.startsWith(u'/'));
    for (const QStringView segment : QStringView(target->path).split(u'/'))
        Check(segment != u"." && segment != u"..");
    for (const QChar c : target->path)
        Check(c.unicode() >= 0x20 && c != u'\\');
    CheckParameters(target->query);
}

// A part asked lies inside the body, and a header that asks nothing of bytes asks for the whole body.
void CheckRange(const QByteArray& header, qint64 size)
{
    const RangeAsked asked = ParseRange(header, size);
    if (asked.kind == RangeKind::Part)
        Check(asked.range.first >= 0 && asked.range.first <= asked.range.last && asked.range.last < size);
    if (!header.toLower().contains("bytes"))
        Check(asked.kind == RangeKind::Whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\n');
    CheckTarget(lines.value(0));
    if (const std::optional<Parameters> form = ParseParameters(lines.value(1)))
        CheckParameters(*form);
    Check(!CookieValue(lines.value(2), "sdvoice_session").contains(';'));
    CheckRange(lines.value(3), lines.value(4).left(12).toLongLong());
    return 0;
}
