#include "support/call_reader.h"

#include "support/private_mounts.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <sstream>

namespace {

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

// ffprobe's "key=value" lines: the stream's rate and channels, the tags as "TAG:key=value".
void ReadProbeLines(const std::string& lines, CallReadBack& call)
{
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "sample_rate")
            call.sampleRate = std::stoi(value);
        else if (key == "channels")
            call.channels = std::stoi(value);
        else if (key.starts_with("TAG:"))
            call.tags[Lower(key.substr(4))] = value;
    }
}

} // namespace

CallReadBack ReadCallBack(const std::string& path)
{
    CallReadBack call;
    std::string probed;
    if (!RunShell("ffprobe -v error -select_streams a:0 -show_entries "
                  "stream=sample_rate,channels:stream_tags:format_tags -of default=nw=1 " + Quoted(path),
                  &probed)) {
        call.error = "ffprobe cannot read " + path + ": " + probed;
        return call;
    }
    ReadProbeLines(probed, call);
    const TempFolder folder;
    const std::string pcm = folder.Path("decoded.raw");
    std::string said;
    if (!RunShell("ffmpeg -v error -i " + Quoted(path) + " -f s16le -ac 1 -ar 8000 " + Quoted(pcm), &said)) {
        call.error = "ffmpeg cannot decode " + path + ": " + said;
        return call;
    }
    const std::string bytes = TempFolder::Read(pcm);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        call.samples.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i])
                                                         | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return call;
}
