#include "platform/text_codec.h"

#include <cerrno>
#include <iconv.h>

namespace {

bool IsAscii(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

// One converter per direction and thread: iconv_open is far too slow to call per text.
class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (handle_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible; onInvalid is called for each byte that does not convert.
    template <typename OnInvalid>
    std::string Convert(std::string_view input, OnInvalid onInvalid)
    {
        std::string out;
        out.reserve(input.size() * 2);
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char buffer[512];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            std::size_t rc = iconv(handle_, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // EILSEQ or EINVAL (truncated sequence at the end): keep the byte, move on.
                onInvalid(out, static_cast<unsigned char>(*in));
                ++in;
                --inLeft;
                iconv(handle_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t handle_;
};

} // namespace

std::string Gb18030ToUtf8(std::string_view bytes)
{
    if (IsAscii(bytes))
        return std::string(bytes);
    thread_local Converter decoder("UTF-8", "GB18030");
    return decoder.Convert(bytes, [](std::string& out, unsigned char byte) {
        static const char hex[] = "0123456789ABCDEF";
        out += "\\x";
        out += hex[byte >> 4];
        out += hex[byte & 0xF];
    });
}

std::string Utf8ToGb18030(std::string_view text)
{
    if (IsAscii(text))
        return std::string(text);
    thread_local Converter encoder("GB18030", "UTF-8");
    return encoder.Convert(text, [](std::string& out, unsigned char byte) {
        out += static_cast<char>(byte);
    });
}

std::size_t Gb18030Length(std::string_view text)
{
    return IsAscii(text) ? text.size() : Utf8ToGb18030(text).size();
}

std::string TrimBlanksAndControls(std::string_view text)
{
    const auto isBlankOrControl = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}
