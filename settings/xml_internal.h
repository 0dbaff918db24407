// Helpers shared by the CXmlDoc sources.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkor {
namespace xmldetail {

using uchar = unsigned char;

inline bool IsWs(uchar b) { return b == ' ' || b == '\t' || b == '\n' || b == '\r'; }

// First byte of a double-byte character: 0x81-0xFE followed by a non-NUL byte.
inline bool IsLead(const uchar* p, int i) { return p[i] >= 0x81 && p[i] <= 0xFE && p[i + 1] != 0; }
inline int CharLen(const uchar* p, int i) { return IsLead(p, i) ? 2 : 1; }

// A byte that may start an element name: "a" and above (every byte from 0x80
// included), "A" to "Z", "_" and ":".
inline bool IsNameStart(uchar b) { return b >= 'a' || (b >= 'A' && b <= 'Z') || b == '_' || b == ':'; }

// Bytes a text run stops at: NUL, '<' and the lead bytes (which need a look at
// the next byte).
struct TextStops {
    bool stop[256];
    constexpr TextStops() : stop()
    {
        stop[0] = true;
        stop[static_cast<uchar>('<')] = true;
        for (int b = 0x81; b <= 0xFE; ++b)
            stop[b] = true;
    }
};
inline constexpr TextStops kTextStops;

// Bytes an element start tag's body stops at: NUL, '>', '=', quotes, '/', white
// space and lead bytes. Everything else is plain.
struct TagStops {
    bool stop[256];
    constexpr TagStops() : stop()
    {
        for (char b : {'\0', '>', '=', '"', '\'', '/', ' ', '\t', '\n', '\r'})
            stop[static_cast<uchar>(b)] = true;
        for (int b = 0x81; b <= 0xFE; ++b)
            stop[b] = true;
    }
};
inline constexpr TagStops kTagStops;

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A name or value handed in ends at its first NUL byte.
inline std::string_view CStr(std::string_view s)
{
    const auto nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

// Cursor flag: the attribute found has no value (its name stands for it).
inline constexpr uint32_t kTokenBareName = 0x4000;

constexpr int kSegmentBits = 16;
constexpr int kSegmentSize = 1 << kSegmentBits; // 65,536 records

} // namespace xmldetail

} // namespace velkor
