#include "platform/gbk.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

#include <string>
#include <vector>

namespace velkor::gbk {

std::size_t find(std::string_view s, char c, std::size_t from)
{
    for (std::size_t i = from; i < s.size(); i += charLength(s, i))
        if (s[i] == c)
            return i;
    return std::string_view::npos;
}

std::size_t find(std::string_view s, std::string_view needle, std::size_t from)
{
    if (needle.empty())
        return from <= s.size() ? from : std::string_view::npos;
    for (std::size_t i = from; i < s.size(); i += charLength(s, i))
        if (s.compare(i, needle.size(), needle) == 0)
            return i;
    return std::string_view::npos;
}

bool isAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

namespace {

// Length of the input unit to skip after an unconvertible sequence.
std::size_t skipLength(const char* code, const unsigned char* p, std::size_t left)
{
    if (std::strcmp(code, "UTF-8") == 0) {
        std::size_t n = 1;
        if ((p[0] & 0xE0) == 0xC0) n = 2;
        else if ((p[0] & 0xF0) == 0xE0) n = 3;
        else if ((p[0] & 0xF8) == 0xF0) n = 4;
        // Never skip past a byte that does not continue the sequence.
        std::size_t k = 1;
        while (k < n && k < left && (p[k] & 0xC0) == 0x80)
            ++k;
        return k;
    }
    if (std::strcmp(code, "UTF-16LE") == 0) {
        if (left >= 4 && (p[1] & 0xFC) == 0xD8 && (p[3] & 0xFC) == 0xDC)
            return 4;
        return left >= 2 ? 2 : left;
    }
    if (std::strcmp(code, "GBK") == 0)
        return (left >= 2 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] != 0) ? 2 : 1;
    return 1;
}

// The replacement '?' in the target code page.
std::string questionMark(const char* toCode)
{
    if (std::strcmp(toCode, "UTF-16LE") == 0)
        return std::string("?\0", 2);
    return "?";
}

// This thread's conversion descriptors, opened once per pair of code pages:
// opening one loads the code page's module and closing it unloads it again,
// which would otherwise happen at every text of every window.
class Descriptors {
public:
    ~Descriptors()
    {
        for (auto& e : open_)
            iconv_close(e.cd);
    }
    iconv_t get(const char* fromCode, const char* toCode)
    {
        for (auto& e : open_)
            if (e.from == fromCode && e.to == toCode) {
                iconv(e.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
                return e.cd;
            }
        iconv_t cd = iconv_open(toCode, fromCode);
        if (cd != reinterpret_cast<iconv_t>(-1))
            open_.push_back({fromCode, toCode, cd});
        return cd;
    }

private:
    struct Entry {
        std::string from, to;
        iconv_t cd;
    };
    std::vector<Entry> open_;
};

} // namespace

Recoded convert(std::string_view in, const char* fromCode, const char* toCode)
{
    Recoded r;
    thread_local Descriptors descriptors;
    iconv_t cd = descriptors.get(fromCode, toCode);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        r.ok = false;
        return r;
    }
    const std::string q = questionMark(toCode);
    r.text.reserve(in.size() * 2 + 8);
    auto* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buf[4096];
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        const std::size_t res = iconv(cd, &src, &left, &dst, &room);
        r.text.append(buf, static_cast<std::size_t>(dst - buf));
        if (res != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ: an unconvertible or invalid sequence; EINVAL: cut at the end.
        r.lost = true;
        r.text += q;
        if (errno == EINVAL)
            break;
        const std::size_t skip = skipLength(fromCode, reinterpret_cast<unsigned char*>(src), left);
        src += skip;
        left -= skip;
    }
    char* dst = buf;
    std::size_t room = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &room);
    r.text.append(buf, static_cast<std::size_t>(dst - buf));
    return r;
}

Converted<std::string> fromUtf8(std::string_view utf8)
{
    if (isAscii(utf8))
        return {std::string(utf8), false};
    auto r = convert(utf8, "UTF-8", "GBK");
    return {std::move(r.text), r.lost};
}

Converted<std::string> toUtf8(std::string_view gbk)
{
    if (isAscii(gbk))
        return {std::string(gbk), false};
    auto r = convert(gbk, "GBK", "UTF-8");
    return {std::move(r.text), r.lost};
}

Converted<std::string> fromUtf16(std::u16string_view utf16)
{
    const std::string_view bytes(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
    auto r = convert(bytes, "UTF-16LE", "GBK");
    return {std::move(r.text), r.lost};
}

Converted<std::u16string> toUtf16(std::string_view gbk)
{
    auto r = convert(gbk, "GBK", "UTF-16LE");
    std::u16string out(r.text.size() / 2, u'\0');
    std::memcpy(out.data(), r.text.data(), out.size() * 2);
    return {std::move(out), r.lost};
}

} // namespace velkor::gbk
