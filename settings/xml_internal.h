// Helpers shared by the CXmlDoc sources.
#pragma once

#include <cstdint>
#include <cstring>
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

// Eight bytes at a time: skips bytes that are none of NUL, `c` and 0x80 and
// above, from k up to len. Returns the offset of the first such byte, or len.
// (A NUL byte sets its high bit in (w - ones) & ~w; borrows only disturb the
// bytes above the first match, and the lowest match is taken.)
inline int SkipPlain(const uchar* p, int k, int len, uchar c)
{
    constexpr uint64_t ones = 0x0101010101010101ull;
    constexpr uint64_t highs = 0x8080808080808080ull;
    const uint64_t pattern = ones * c;
    while (k + 8 <= len) {
        uint64_t w;
        std::memcpy(&w, p + k, 8);
        const uint64_t x = w ^ pattern;
        const uint64_t m = ((w - ones) & ~w) | ((x - ones) & ~x) | w;
        if (m & highs)
            return k + (__builtin_ctzll(m & highs) >> 3);
        k += 8;
    }
    while (k < len && p[k] != c && p[k] < 0x80 && p[k] != 0)
        ++k;
    return k;
}

// True when no byte is 0x80 or above.
inline bool IsAsciiText(std::string_view s)
{
    const auto* p = reinterpret_cast<const uchar*>(s.data());
    std::size_t i = 0, n = s.size();
    uint64_t acc = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        acc |= w;
    }
    for (; i < n; ++i)
        acc |= p[i];
    return (acc & 0x8080808080808080ull) == 0;
}

// Cursor flag: the attribute found has no value (its name stands for it).
inline constexpr uint32_t kTokenBareName = 0x4000;

constexpr int kSegmentBits = 16;
constexpr int kSegmentSize = 1 << kSegmentBits; // 65,536 records

} // namespace xmldetail

} // namespace velkor
