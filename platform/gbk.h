// GBK, the program's text code page: byte strings in, byte strings out.
// A lead byte is 0x81-0xFE followed by a non-NUL byte; every walk over a text
// steps by characters so a trail byte (which may equal '\\' or '@') is never
// taken for a delimiter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velkor::gbk {

// True when the byte at i starts a double-byte character.
inline bool isLeadByte(std::string_view s, std::size_t i)
{
    if (i + 1 >= s.size())
        return false;
    const auto b = static_cast<unsigned char>(s[i]);
    return b >= 0x81 && b <= 0xFE && s[i + 1] != '\0';
}

// Length in bytes of the character that starts at i (1 or 2).
inline std::size_t charLength(std::string_view s, std::size_t i)
{
    return isLeadByte(s, i) ? 2 : 1;
}

// First occurrence of c at a character's first byte, at or after from; npos if none.
std::size_t find(std::string_view s, char c, std::size_t from = 0);

// First occurrence of needle starting at a character boundary; npos if none.
std::size_t find(std::string_view s, std::string_view needle, std::size_t from = 0);

// Result of a conversion: characters the target cannot hold become '?' (U+003F)
// and `lost` tells that it happened.
template <class Str>
struct Converted {
    Str text;
    bool lost = false;
};

Converted<std::string> fromUtf8(std::string_view utf8);
Converted<std::string> toUtf8(std::string_view gbk);
Converted<std::string> fromUtf16(std::u16string_view utf16);
Converted<std::u16string> toUtf16(std::string_view gbk);

// Between GBK and any code page iconv knows by name (used for files whose
// declaration names another encoding). `ok` false: iconv does not know the name.
struct Recoded {
    std::string text;
    bool lost = false;
    bool ok = true;
};
Recoded convert(std::string_view in, const char* fromCode, const char* toCode);

// A text of the source (UTF-8) in GBK, for the program's own fixed texts.
inline std::string lit(std::string_view utf8);

// True when every byte is below 0x80 (no conversion needed between GBK and UTF-8).
bool isAscii(std::string_view s);

inline std::string lit(std::string_view utf8) { return fromUtf8(utf8).text; }

} // namespace velkor::gbk
