#include "web/body_sources.h"

#include "web/http_parsing.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

DecodedWave::DecodedWave(RecordingDecoder decoder, qint64 first)
    : decoder_(std::move(decoder)), header_(WaveHeaderBytes(decoder_.OutputBytes())), first_(first)
{
}

qint64 DecodedWave::Read(qint64 offset, char* buffer, qint64 count)
{
    qint64 at = first_ + offset;
    if (at >= qint64(kWaveHeaderBytes) + decoder_.OutputBytes() || count <= 0)
        return 0;
    qint64 copied = 0;
    if (at < qint64(kWaveHeaderBytes)) {
        copied = std::min(count, qint64(kWaveHeaderBytes) - at);
        std::memcpy(buffer, header_.data() + at, std::size_t(copied));
        at += copied;
    }
    if (copied < count)
        copied += qint64(decoder_.DecodeBytes(std::uint64_t(at - kWaveHeaderBytes),
                                              reinterpret_cast<unsigned char*>(buffer + copied),
                                              std::size_t(count - copied)));
    return copied > 0 ? copied : -1; // nothing before the end: the file was cut short meanwhile
}

qint64 FileBody::Read(qint64 offset, char* buffer, qint64 count)
{
    const ssize_t read = ::pread(file_.get(), buffer, std::size_t(count), first_ + offset);
    return read > 0 ? read : (read == 0 ? 0 : -1);
}

WebResponse RangedBody(const WebRequest& request, qint64 size, const QByteArray& contentType,
                       const std::function<std::shared_ptr<WebBodySource>(qint64 first)>& body)
{
    WebResponse response;
    response.contentType = contentType;
    response.headers.append(QPair<QByteArray, QByteArray>("Accept-Ranges", "bytes"));
    const RangeAsked asked = ParseRange(request.range, size);
    if (asked.kind == RangeKind::Unsatisfiable) {
        response.status = 416;
        response.headers.append(QPair<QByteArray, QByteArray>("Content-Range", "bytes */" + QByteArray::number(size)));
        return response;
    }
    ByteRange range{0, size - 1};
    if (asked.kind == RangeKind::Part) {
        range = asked.range;
        response.status = 206;
        response.headers.append(QPair<QByteArray, QByteArray>(
            "Content-Range", "bytes " + QByteArray::number(range.first) + "-" + QByteArray::number(range.last) + "/"
                                 + QByteArray::number(size)));
    }
    response.sourceSize = range.last - range.first + 1;
    if (request.method != "HEAD")
        response.source = body(range.first);
    return response;
}
