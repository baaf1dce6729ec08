#pragma once

#include <string>
#include <string_view>

// Texts inside the program are UTF-8. The recorder, the configuration file and every
// byte-wise comparison of texts use the GBK code page; GB18030 is byte-identical
// to GBK for every GBK character and lossless for all others, so it stands in for GBK.

// Decodes GB18030 bytes into UTF-8. Bytes that do not decode are kept visible as
// "\xNN" escapes instead of being dropped.
std::string Gb18030ToUtf8(std::string_view bytes);

// Encodes UTF-8 text as GB18030 bytes. Invalid UTF-8 sequences are passed through
// byte by byte, so the result never loses input.
std::string Utf8ToGb18030(std::string_view text);

// Length of a UTF-8 text in GBK bytes (the unit in which name lengths are counted).
std::size_t Gb18030Length(std::string_view text);

// The text without its leading and trailing characters of code 0x20 or below (blanks and
// control characters); characters inside it are kept.
std::string TrimBlanksAndControls(std::string_view text);
