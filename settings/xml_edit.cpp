// CXmlDoc: changes in place, escaping, and reading and writing files.
#include "settings/xml_doc.h"
#include "settings/xml_internal.h"

#include "platform/gbk.h"

#include <cerrno>
#include <climits>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkor {

using namespace xmldetail;

namespace {

// Largest file LoadFile takes: offsets are 32-bit and the text may grow.
constexpr long long kMaxFileSize = 0x3FFFFFFF;

bool IsUtf8Name(const std::string& encoding)
{
    return encoding.empty() || (encoding.size() >= 5 && strncasecmp(encoding.c_str(), "UTF-8", 5) == 0);
}

// Joins texts (also keeps GCC's -Wrestrict false alarm on string + away).
std::string Concat(std::initializer_list<std::string_view> parts)
{
    std::size_t n = 0;
    for (auto p : parts)
        n += p.size();
    std::string out;
    out.reserve(n);
    for (auto p : parts)
        out.append(p);
    return out;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Changes

void CXmlDoc::ReplaceText(int offset, int remove, std::string_view text)
{
    const std::size_t newLength = m_text.size() + text.size() - static_cast<std::size_t>(remove);
    if (m_text.capacity() < newLength)
        m_text.reserve(newLength + newLength / 2 + 128);
    m_text.replace(static_cast<std::size_t>(offset), static_cast<std::size_t>(remove), text);
}

void CXmlDoc::ShiftFollowing(int record, int shift, bool skipChildren)
{
    // Every element after the changed spot moves by the shift; every element
    // around it (up to record 0) grows by it.
    int top = Rec(record).parent;
    int pos = record;
    bool first = true;
    while (Rec(pos).StartTagLength() != 0) {
        bool advance;
        if (pos == top) {
            top = Rec(top).parent;
            advance = true;
        } else if ((first && skipChildren) || !Rec(pos).firstChild) {
            advance = true;
        } else {
            pos = Rec(pos).firstChild;
            advance = false;
        }
        if (advance) {
            if (Rec(pos).next) {
                pos = Rec(pos).next;
            } else {
                do
                    pos = Rec(pos).parent;
                while (pos != top && !Rec(pos).next);
                if (pos != top)
                    pos = Rec(pos).next;
            }
        }
        first = false;
        if (pos == top)
            Rec(pos).length += shift;
        else
            Rec(pos).start += shift;
    }
}

void CXmlDoc::LinkElement(int parent, int prev, int record)
{
    ElementRecord& P = Rec(parent);
    ElementRecord& N = Rec(record);
    N.parent = parent;
    if (prev) {
        ElementRecord& V = Rec(prev);
        N.flags &= ~ELEM_FIRST;
        N.next = V.next;
        if (N.next)
            Rec(N.next).prev = record;
        else
            Rec(P.firstChild).prev = record;
        V.next = record;
        N.prev = prev;
    } else {
        N.flags |= ELEM_FIRST;
        if (P.firstChild) {
            ElementRecord& old = Rec(P.firstChild);
            N.next = P.firstChild;
            N.prev = old.prev;
            old.prev = record;
            old.flags &= ~ELEM_FIRST;
        } else {
            N.next = 0;
            N.prev = record;
        }
        P.firstChild = record;
    }
    if (parent)
        N.flags = (N.flags & ~0xFFFFu) | ((P.Depth() + 1) & 0xFFFF);
}

int CXmlDoc::UnlinkElement(int record)
{
    ElementRecord& R = Rec(record);
    ElementRecord& P = Rec(R.parent);
    if (P.firstChild == record) {
        if (R.next) {
            ElementRecord& N = Rec(R.next);
            N.flags |= ELEM_FIRST;
            N.prev = R.prev;
            P.firstChild = R.next;
        } else {
            P.firstChild = 0;
        }
        return 0;
    }
    const int prev = R.prev;
    Rec(prev).next = R.next;
    if (R.next)
        Rec(R.next).prev = prev;
    else
        Rec(P.firstChild).prev = prev;
    return prev;
}

// The element's name as the scanner reads it (up to white space, '/' or '>'):
// the name an end tag must carry to close it.
std::string CXmlDoc::ElementName(int record) const
{
    const auto* p = reinterpret_cast<const uchar*>(m_text.c_str());
    const int s = Rec(record).start + 1;
    int k = s;
    for (;;) {
        const uchar b = p[k];
        if (b == 0 || b == '/' || b == '>' || IsWs(b))
            break;
        k += CharLen(p, k);
    }
    return m_text.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(k - s));
}

bool CXmlDoc::EndsInLoneLeadByte(std::string_view text)
{
    const auto* p = reinterpret_cast<const uchar*>(text.data());
    const int len = static_cast<int>(text.size());
    if (len == 0 || p[len - 1] < 0x81 || p[len - 1] > 0xFE)
        return false;
    int k = 0;
    while (k < len - 1)
        k += (p[k] >= 0x81 && p[k] <= 0xFE && p[k + 1] != 0) ? 2 : 1;
    return k == len - 1;
}

int CXmlDoc::InsertMarkup(int parent, int& ref, const std::string& markup, int options, int& inserted, int& replaced)
{
    const auto* p = reinterpret_cast<const uchar*>(m_text.c_str());
    const ElementRecord P = Rec(parent);
    const bool tagOnly = parent && P.StartTagLength() == P.length;
    const bool hollow = parent && P.ContentLength() == 0;
    const bool before = options & ADD_BEFORE;
    if (tagOnly && ref)
        return -1; // a tag without content has no children to stand beside

    int offset;
    if (ref)
        offset = Rec(ref).start + (before ? 0 : Rec(ref).length);
    else if (tagOnly)
        offset = (P.flags & ELEM_UNENDED) ? P.ContentStart() : P.ContentStart() - 1;
    else if (before)
        offset = P.ContentStart();
    else
        offset = P.End() - P.EndTagLength();

    if (!tagOnly) {
        // Land right before the next element or end tag, behind the line break
        // in front of it; white space before ordinary text stays in place.
        int j = offset;
        while (IsWs(p[j]))
            ++j;
        if (p[j] == 0 || p[j] == '<')
            offset = j;
        // A lone lead byte at the end of the text would take the new '<' as its
        // second byte.
        if (offset == static_cast<int>(m_text.size()) && EndsInLoneLeadByte(m_text))
            return -1;
    }

    std::string name;
    if (tagOnly) {
        name = ElementName(parent);
        if (name.size() + 3 > ElementRecord::kEndTagMax)
            return -1;
    }

    if (ref && before)
        ref = (ref == P.firstChild) ? 0 : Rec(ref).prev;
    else if (!ref && !before)
        ref = P.firstChild ? Rec(P.firstChild).prev : 0;

    std::string text = Concat({markup, "\r\n"});
    if (tagOnly || hollow)
        offset += 2;

    replaced = 0;
    if (tagOnly) {
        text = Concat({">\r\n", text, "</", name});
        ElementRecord& Pm = Rec(parent);
        if (!(P.flags & ELEM_UNENDED)) {
            ReplaceText(P.End() - 2, 1, text); // the '/' of "/>"
            Pm.SetStartTagLength(P.StartTagLength() - 1);
            replaced = 1;
        } else {
            ReplaceText(P.End() - 1, 0, text); // before the '>'
            Pm.flags &= ~ELEM_UNENDED;
        }
        Pm.SetEndTagLength(static_cast<int>(name.size()) + 3);
    } else if (hollow) {
        text = Concat({"\r\n", text});
        ReplaceText(P.ContentStart(), 0, text);
    } else {
        ReplaceText(offset, 0, text);
    }
    inserted = static_cast<int>(text.size());
    return offset;
}

bool CXmlDoc::AddElement(std::string_view name, int options)
{
    name = CStr(name);
    const std::string markup = Concat({"<", name, "/>"});
    {
        // The new markup must read back as one self-closed start tag.
        TokenCursor c;
        NodeInfo node;
        if (ScanText(markup, c, node) != NODE_ELEMENT || !(node.flags & NODE_EMPTY_ELEMENT) ||
            node.length != static_cast<int>(markup.size()) || markup.size() > ElementRecord::kStartTagMax)
            return false;
    }
    const int parent = m_parent;
    int ref = m_main;
    if (ref && Rec(ref).parent != parent)
        return false;
    int inserted = 0, replaced = 0;
    const int offset = InsertMarkup(parent, ref, markup, options, inserted, replaced);
    if (offset < 0)
        return false;
    const int r = NewRecord();
    ElementRecord& R = Rec(r);
    R.start = offset;
    R.length = static_cast<int>(markup.size());
    R.tagLengths = 0;
    R.SetStartTagLength(R.length);
    R.firstChild = 0;
    R.flags = 0;
    LinkElement(parent, ref, r);
    ShiftFollowing(r, inserted - replaced, false);
    SetPositions(parent, r, 0);
    return true;
}

bool CXmlDoc::AppendElement(std::string_view name)
{
    return AddElement(name, 0);
}

bool CXmlDoc::InsertElementBefore(std::string_view name)
{
    return AddElement(name, ADD_BEFORE);
}

bool CXmlDoc::SetAttribute(std::string_view name, std::string_view value)
{
    if (!m_main)
        return false;
    name = CStr(name);
    value = CStr(value);
    if (name.empty() || EndsInLoneLeadByte(value))
        return false; // a lone lead byte would take the closing quote as its second byte
    const std::string valueText = Concat({"\"", EscapeText(value, ESCAPE_QUOTES), "\""});
    const ElementRecord M = Rec(m_main);
    const int tagLength = M.StartTagLength();

    TokenCursor before;
    before.next = M.start;
    NodeInfo old;
    ScanText(m_text, before, old);

    TokenCursor c;
    c.next = M.start + 1;
    c.end = M.start + tagLength;
    int at, remove;
    std::string text;
    if (FindAttribute(m_text, c, name)) {
        if (c.flags & kTokenBareName) {
            // A bare name gets its value behind it.
            at = c.right + 1;
            remove = 0;
            text = Concat({"=", valueText});
        } else if (c.flags & TOKEN_QUOTED) {
            at = c.left - 1;
            const bool closed = c.right + 1 < c.end && m_text[static_cast<std::size_t>(c.right + 1)] == m_text[static_cast<std::size_t>(at)];
            remove = c.right - c.left + 1 + (closed ? 2 : 1);
            text = valueText;
        } else {
            at = c.left;
            remove = c.right - c.left + 1;
            text = valueText;
        }
    } else {
        at = c.next;
        remove = 0;
        text = Concat({" ", name, "=", valueText});
    }
    const long long newTagLength = static_cast<long long>(tagLength) + static_cast<long long>(text.size()) - remove;
    if (newTagLength > ElementRecord::kStartTagMax)
        return false;
    const int shift = static_cast<int>(text.size()) - remove;

    const std::string removed = m_text.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(remove));
    ReplaceText(at, remove, text);
    // The tag must still read as the same start tag (same end, name and
    // self-closing), or the index would no longer describe the text.
    TokenCursor after;
    after.next = M.start;
    NodeInfo now;
    if (ScanText(m_text, after, now) != NODE_ELEMENT || now.length != tagLength + shift ||
        (now.flags & NODE_EMPTY_ELEMENT) != (old.flags & NODE_EMPTY_ELEMENT) || now.text != old.text) {
        ReplaceText(at, static_cast<int>(text.size()), removed);
        return false;
    }
    ElementRecord& R = Rec(m_main);
    R.SetStartTagLength(tagLength + shift);
    R.length += shift;
    ShiftFollowing(m_main, shift, false);
    return true;
}

bool CXmlDoc::SetAttribute(std::string_view name, int value)
{
    return SetAttribute(name, Format("%d", value));
}

int CXmlDoc::RemoveElement(int record)
{
    const auto* p = reinterpret_cast<const uchar*>(m_text.c_str());
    const ElementRecord R = Rec(record);
    int end = R.End();
    int j = end;
    while (IsWs(p[j]))
        ++j;
    if (p[j] == 0 || p[j] == '<')
        end = j;
    const int removed = end - R.start;
    ReplaceText(R.start, removed, {});
    ShiftFollowing(record, -removed, true);
    // The records of the element and its content stay idle until the next parse.
    return UnlinkElement(record);
}

bool CXmlDoc::RemoveChild()
{
    if (!m_child)
        return false;
    const int prev = RemoveElement(m_child);
    SetPositions(m_parent, m_main, prev);
    return true;
}

std::string CXmlDoc::EscapeText(std::string_view text, int options)
{
    text = CStr(text);
    const auto* p = reinterpret_cast<const uchar*>(text.data());
    const std::size_t len = text.size();
    std::string out;
    out.reserve(len + len / 10 + 7);
    for (std::size_t i = 0; i < len;) {
        const uchar b = p[i];
        const char* entity = nullptr;
        switch (b) {
        case '<': entity = "&lt;"; break;
        case '&': entity = "&amp;"; break;
        case '>': entity = "&gt;"; break;
        case '\'': if (options & ESCAPE_QUOTES) entity = "&apos;"; break;
        case '"': if (options & ESCAPE_QUOTES) entity = "&quot;"; break;
        default: break;
        }
        if (entity) {
            out += entity;
            ++i;
            continue;
        }
        const std::size_t n = (b >= 0x81 && b <= 0xFE && i + 1 < len) ? 2 : 1;
        out.append(text.data() + i, n);
        i += n;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Files

std::string CXmlDoc::DeclaredEncoding(const std::string& text)
{
    const std::size_t lt = gbk::find(text, '<');
    if (lt == std::string::npos || lt + 1 >= text.size() || text[lt + 1] != '?')
        return {};
    const std::size_t close = gbk::find(text, "?>", lt + 2);
    if (close == std::string::npos)
        return {};
    TokenCursor c;
    c.next = static_cast<int>(lt) + 2;
    c.end = static_cast<int>(close) + 2;
    if (!FindAttribute(text, c, "encoding") || c.right < c.left)
        return {};
    return DecodeText(std::string_view(text).substr(static_cast<std::size_t>(c.left), static_cast<std::size_t>(c.right - c.left + 1)));
}

std::string CXmlDoc::SystemErrorText()
{
    std::string text = std::strerror(errno);
    const auto cut = text.find_first_of("\r\n");
    if (cut != std::string::npos)
        text.resize(cut);
    if (text.size() > 99)
        text.resize(99);
    return text;
}

bool CXmlDoc::LoadFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_result = SystemErrorText();
        return false;
    }
    std::string raw;
    bool ok = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ok = false;
    } else if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        ok = false;
    } else if (st.st_size > kMaxFileSize) {
        errno = EFBIG;
        ok = false;
    } else {
        raw.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        for (;;) {
            if (got == raw.size())
                raw.resize(got + 4096); // the file grew, or is not a regular file
            const ssize_t n = ::read(fd, raw.data() + got, raw.size() - got);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                ok = false;
                break;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
            if (got > static_cast<std::size_t>(kMaxFileSize)) {
                errno = EFBIG;
                ok = false;
                break;
            }
        }
        raw.resize(got);
    }
    if (!ok) {
        // Read errors count as a file that cannot be opened: the document stays.
        m_result = SystemErrorText();
        ::close(fd);
        return false;
    }
    ::close(fd);

    const int size = static_cast<int>(raw.size());
    bool lost = false;
    if (const auto nul = raw.find('\0'); nul != std::string::npos)
        raw.resize(nul);
    if (IsAsciiText(raw)) {
        m_text = std::move(raw); // the same bytes in UTF-8 and GBK
    } else if (IsUtf8Name(DeclaredEncoding(raw))) {
        std::string_view utf8 = raw;
        // A byte-order mark is not text: it would come back as '?'.
        if (utf8.substr(0, 3) == "\xEF\xBB\xBF")
            utf8.remove_prefix(3);
        auto converted = gbk::fromUtf8(utf8);
        m_text = std::move(converted.text);
        lost = converted.lost;
    } else {
        m_text = std::move(raw);
    }
    m_result = Format("%s%d bytes%s", "", size, lost ? " (chars lost in conversion!)" : "");
    return ParseDocument();
}

bool CXmlDoc::SaveFile(const std::string& path)
{
    std::string converted;
    const std::string* out = &m_text;
    if (!m_text.empty() && !IsAsciiText(m_text) && IsUtf8Name(DeclaredEncoding(m_text))) {
        converted = gbk::toUtf8(m_text).text;
        out = &converted;
    }

    // The file is replaced in one step: the text goes to a temporary file in
    // the same folder (created for the owner only), which is then renamed over
    // the old file. A failure leaves the old file as it was.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            m_result = SystemErrorText();
            return false;
        }
        if (::access(target.c_str(), W_OK) != 0) {
            m_result = SystemErrorText();
            return false;
        }
    }
    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = Concat({dir, ".", base, ".XXXXXX"});
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        m_result = SystemErrorText();
        return false;
    }
    bool ok = WriteAll(fd, out->data(), out->size()) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = error;
        m_result = SystemErrorText();
        return false;
    }
    m_result = Format("%s%d bytes", "", static_cast<int>(out->size()));
    return true;
}

} // namespace velkor
