#pragma once

#include "audio/adpcm_converter.h"
#include "platform/unique_fd.h"
#include "web/web_request.h"

#include <array>
#include <functional>
#include <memory>

// The bodies read piece by piece: a recording decoded on the fly and a file, each answered
// whole or by the one range asked for.

// The 16-bit PCM WAV of a recording, from byte `first` of it on, decoded as it is read.
class DecodedWave : public WebBodySource {
public:
    DecodedWave(RecordingDecoder decoder, qint64 first);
    qint64 Read(qint64 offset, char* buffer, qint64 count) override;

private:
    RecordingDecoder decoder_;
    std::array<unsigned char, kWaveHeaderBytes> header_;
    qint64 first_;
};

// An open file, from byte `first` of it on.
class FileBody : public WebBodySource {
public:
    FileBody(UniqueFd file, qint64 first) : file_(std::move(file)), first_(first) {}
    qint64 Read(qint64 offset, char* buffer, qint64 count) override;

private:
    UniqueFd file_;
    qint64 first_;
};

// The body of `size` bytes whole (200), or the one range the Range header asks for (206); a
// Range header that asks for no single satisfiable range is refused (416). body makes the body
// from a first byte on; HEAD gets the headers only.
WebResponse RangedBody(const WebRequest& request, qint64 size, const QByteArray& contentType,
                       const std::function<std::shared_ptr<WebBodySource>(qint64 first)>& body);
