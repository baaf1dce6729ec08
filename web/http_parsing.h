#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>
#include <optional>

struct ByteRange {
    qint64 first = 0;  // inclusive
    qint64 last = 0;   // inclusive
};
enum class RangeKind { Whole, Part, Unsatisfiable };
struct RangeAsked {
    RangeKind kind = RangeKind::Whole;
    ByteRange range; // for Part: within the body
};
// What a Range header asks of a body of `size` bytes: the whole body for no header, a unit other than
// bytes (matched without regard to case) or a malformed header; the first range of several (the whole
// body when only a later one can be served); the last position clamped to the end; Unsatisfiable only
// when the first position is past the end (or a suffix of 0 bytes) of every range asked.
RangeAsked ParseRange(QByteArrayView header, qint64 size);

// The program's own reading of the rest of a request. Every function bounds what it accepts and
// answers nothing for anything malformed, which the server refuses with 400.

using Parameters = QList<QPair<QString, QString>>;

// The most parameters a query string or form body may hold.
constexpr int kMostParameters = 100;

// Decodes %XX escapes (and '+' as a space when plusIsSpace, as in query strings and form bodies);
// nothing for a broken escape, a NUL or text that is not UTF-8.
std::optional<QString> PercentDecoded(QByteArrayView text, bool plusIsSpace);
// "a=1&b=2" as decoded pairs in order ("a" alone has an empty value); nothing when a pair cannot be
// decoded or there are more than kMostParameters.
std::optional<Parameters> ParseParameters(QByteArrayView text);

struct RequestTarget {
    QString path;  // decoded, starts with '/'
    Parameters query;
};
// The target of a request line ("/api/search?day=1"). Nothing for a path that could name anything
// but a route: not starting with '/', "." or ".." segments, encoded '/' or '\', control characters.
std::optional<RequestTarget> ParseRequestTarget(QByteArrayView target);

// The value of the cookie `name` in a Cookie header ("a=1; b=2"); empty when it is not there.
QByteArray CookieValue(QByteArrayView header, QByteArrayView name);

// The value of the first parameter called name; empty when there is none.
QString ParameterValue(const Parameters& parameters, const QString& name);
