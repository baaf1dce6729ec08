#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

struct ByteRange {
    qint64 first = 0;  // inclusive
    qint64 last = 0;   // inclusive
};
// The one range of a Range header ("bytes=F-L", "bytes=F-", "bytes=-N") within a body of `size` bytes;
// nothing when the header is not a single satisfiable byte range (the caller then answers 416 or the whole body).
std::optional<ByteRange> ParseByteRange(const QByteArray& header, qint64 size);
