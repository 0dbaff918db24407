// CXmlDoc: model, scanner and element index.
#include "settings/xml_doc.h"
#include "settings/xml_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace velkor {

namespace xmldetail {

std::string Format(const char* fmt, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

} // namespace xmldetail

using namespace xmldetail;


// ---------------------------------------------------------------------------
// Construction and the record array

CXmlDoc::CXmlDoc()
{
    SetText({});
}

CXmlDoc::~CXmlDoc()
{
    const int segments = m_size == 0 ? 0 : ((m_size - 1) >> kSegmentBits) + 1;
    for (int s = 0; s < segments; ++s)
        std::free(m_segs[s]);
    std::free(m_segs);
}

void CXmlDoc::GrowRecords(int n)
{
    if (m_size >= n)
        return;
    const int p = m_size == 0 ? 0 : (m_size - 1) >> kSegmentBits;
    int q = (n - 1) >> kSegmentBits;
    if (q > p + 1) {
        // One step adds at most one segment, and fills it.
        q = p + 1;
        n = (p + 2) * kSegmentSize;
    }
    if (q >= m_segCapacity) {
        const int cap = 2 * q + 4;
        auto* table = static_cast<ElementRecord**>(std::realloc(m_segs, sizeof(ElementRecord*) * cap));
        if (!table)
            throw std::bad_alloc();
        for (int s = m_segCapacity; s < cap; ++s)
            table[s] = nullptr;
        m_segs = table;
        m_segCapacity = cap;
    }
    if (p < q && m_size > 0 && m_size < (p + 1) * kSegmentSize) {
        // The last segment is completed before a new one starts.
        auto* seg = static_cast<ElementRecord*>(std::realloc(m_segs[p], sizeof(ElementRecord) * kSegmentSize));
        if (!seg)
            throw std::bad_alloc();
        m_segs[p] = seg;
    }
    const std::size_t slots = static_cast<std::size_t>(n - q * kSegmentSize);
    auto* seg = static_cast<ElementRecord*>(std::realloc(p == q ? m_segs[q] : nullptr, sizeof(ElementRecord) * slots));
    if (!seg)
        throw std::bad_alloc();
    m_segs[q] = seg;
    m_size = n;
}

int CXmlDoc::NewRecord()
{
    if (m_free >= m_size) {
        const int want = m_free + m_free / 2;
        GrowRecords(want > m_free ? want : m_free + 1);
    }
    return m_free++;
}

// ---------------------------------------------------------------------------
// Scanner

int CXmlDoc::ScanText(const std::string& text, TokenCursor& c, NodeInfo& n, bool fillNames)
{
    const auto* p = reinterpret_cast<const uchar*>(text.c_str());
    const int len = static_cast<int>(text.size());
    const int s = c.next;
    int i = s;
    n.start = s;
    n.flags = 0;
    n.text.clear();
    if (p[i] == 0) {
        n.length = 0;
        n.kind = 0;
        return NODE_END;
    }

    int kind = NODE_TEXT;
    const char* errorWord = nullptr; // set for an "Incorrect %s" node
    auto finish = [&](int end) {
        c.next = end;
        n.length = end - s;
        n.kind = kind;
        return kind;
    };
    // Text up to the next '<' or the end, by characters.
    auto skipText = [&](int k) {
        for (;;) {
            k = SkipPlain(p, k, len, '<');
            if (p[k] == 0 || p[k] == '<')
                return k;
            k += CharLen(p, k);
        }
    };
    // The text ends inside markup: the node becomes an error that runs to the end.
    auto unterminated = [&](int end) {
        const char* what = "tag";
        switch (kind) {
        case NODE_DOCTYPE: what = "Doctype"; break;
        case NODE_ELEMENT: what = "Element tag"; break;
        case NODE_END_TAG: what = "Element end tag"; break;
        case NODE_CDATA: what = "CDATA Section"; break;
        case NODE_PI: what = "Processing instruction"; break;
        case NODE_COMMENT: what = "Comment"; break;
        default: break;
        }
        n.text = Format("%s at offset %d unterminated", what, s);
        kind = NODE_ERROR;
        return finish(end);
    };
    // Ends at a '>' whose preceding bytes complete `tail` (the end string less
    // its '>'). The test is made only when the '>' lies further than the end
    // string's length from the node's '<' at `from`, so "<?>" does not end
    // itself wherever the node stands. Returns the offset after the '>' or -1 at the end of text.
    auto findEnd = [&](int k, int from, const char* tail, int tailLen) {
        for (;;) {
            const uchar b = p[k];
            if (b == 0)
                return -1;
            if (b == '>' && k - from > tailLen + 1 && std::memcmp(p + k - tailLen, tail, static_cast<std::size_t>(tailLen)) == 0)
                return k + 1;
            k += CharLen(p, k);
        }
    };
    // Body of an error node: attribute values are tracked; it ends after '>' or
    // before '<'. Returns the end or -1 at the end of text.
    auto errorBody = [&](int k) {
        bool prevEq = false;
        for (;;) {
            const uchar b = p[k];
            if (b == 0)
                return -1;
            if (b == '>')
                return k + 1;
            if (b == '<')
                return k;
            if (b == '=' && !prevEq) {
                ++k;
                while (IsWs(p[k]))
                    ++k;
                if (p[k] == '"' || p[k] == '\'') {
                    const uchar q = p[k];
                    ++k;
                    while (p[k] != q) {
                        if (p[k] == 0)
                            return -1;
                        k += CharLen(p, k);
                    }
                    ++k;
                    prevEq = false;
                    continue;
                }
                prevEq = (k > 0 && p[k - 1] == '=');
                continue;
            }
            prevEq = (b == '=');
            k += CharLen(p, k);
        }
    };
    auto errorNode = [&](const char* word, int at, int bodyFrom) {
        kind = NODE_ERROR;
        errorWord = word;
        const int end = errorBody(bodyFrom);
        if (end < 0)
            return unterminated(static_cast<int>(text.size()));
        n.text = Format("Incorrect %s at offset %d", errorWord, at);
        return finish(end);
    };

    const uchar first = p[i];
    if (first != '<') {
        if (IsWs(first)) {
            kind = NODE_WHITESPACE;
            while (IsWs(p[i]))
                ++i;
            if (p[i] == 0 || p[i] == '<')
                return finish(i);
            kind = NODE_TEXT;
        }
        return finish(skipText(i));
    }

    const uchar second = p[i + 1];
    if (IsNameStart(second)) {
        // Start tag: the name runs to white space, '/' or '>'.
        kind = NODE_ELEMENT;
        int k = i + 1;
        for (;;) {
            const uchar b = p[k];
            if (b == 0 || b == '/' || b == '>' || IsWs(b))
                break;
            k += CharLen(p, k);
        }
        const int nameEnd = k;
        c.left = i + 1;
        c.right = nameEnd - 1;
        if (fillNames)
            n.text.assign(text, static_cast<std::size_t>(i + 1), static_cast<std::size_t>(nameEnd - i - 1));
        // Body: attribute values after '=' are tracked; the first byte of each of
        // the last two characters decides whether "/>" closes the tag.
        uchar prev1 = 0, prev2 = 0;
        int prev1At = -1;
        bool prevEq = false;
        for (;;) {
            if (!kTagStops.stop[p[k]]) {
                const int run = k;
                do
                    ++k;
                while (!kTagStops.stop[p[k]]);
                prev2 = k - run >= 2 ? p[k - 2] : prev1;
                prev1 = p[k - 1];
                prev1At = k - 1;
                prevEq = false;
            }
            const uchar b = p[k];
            if (b == 0)
                return unterminated(k);
            if (b == '>') {
                if (prev1 == '/' && prev1At == k - 1 &&
                    (prev1At == nameEnd || IsWs(prev2) || prev2 == '"' || prev2 == '\''))
                    n.flags |= NODE_EMPTY_ELEMENT;
                return finish(k + 1);
            }
            if (b == '=' && !prevEq) {
                prev2 = prev1;
                prev1 = b;
                prev1At = k;
                ++k;
                while (IsWs(p[k])) {
                    prev2 = prev1;
                    prev1 = p[k];
                    prev1At = k;
                    ++k;
                }
                if (p[k] == '"' || p[k] == '\'') {
                    const uchar q = p[k];
                    ++k;
                    for (;;) {
                        k = SkipPlain(p, k, len, q);
                        if (p[k] == q)
                            break;
                        if (p[k] == 0)
                            return unterminated(k);
                        k += CharLen(p, k);
                    }
                    prev2 = 0; // the value's content
                    prev1 = q;
                    prev1At = k;
                    ++k;
                    prevEq = false;
                    continue;
                }
                prevEq = (prev1 == '=');
                continue;
            }
            const int len = CharLen(p, k);
            prev2 = prev1;
            prev1 = len == 1 ? b : 0;
            prev1At = k;
            prevEq = (b == '=');
            k += len;
        }
    }

    switch (second) {
    case '/': {
        kind = NODE_END_TAG;
        int k = i + 2;
        for (;;) {
            const uchar b = p[k];
            if (b == 0 || b == '/' || b == '>' || IsWs(b))
                break;
            k += CharLen(p, k);
        }
        c.left = i + 2;
        c.right = k - 1;
        const int end = findEnd(k, s, "", 0);
        return end < 0 ? unterminated(static_cast<int>(text.size())) : finish(end);
    }
    case '?': {
        kind = NODE_PI;
        int k = i + 2;
        for (;;) {
            const uchar b = p[k];
            if (b == 0 || b == '/' || b == '>' || IsWs(b))
                break;
            k += CharLen(p, k);
        }
        n.text.assign(text, static_cast<std::size_t>(i + 2), static_cast<std::size_t>(k - i - 2));
        const int end = findEnd(k, s, "?", 1);
        return end < 0 ? unterminated(static_cast<int>(text.size())) : finish(end);
    }
    case '!': {
        const uchar third = p[i + 2];
        if (third == '-') {
            if (p[i + 3] != '-')
                return errorNode("comment tag", s, i + 3);
            kind = NODE_COMMENT;
            const int end = findEnd(i + 4, s, "--", 2);
            return end < 0 ? unterminated(static_cast<int>(text.size())) : finish(end);
        }
        if (third == '[') {
            if (p[i + 3] != 'C')
                return errorNode("tag", s, i + 3);
            kind = NODE_CDATA;
            const int end = findEnd(i + 4, s, "]]", 2);
            return end < 0 ? unterminated(static_cast<int>(text.size())) : finish(end);
        }
        if (third == 'D' || third == 'E' || third == 'A' || third == 'N') {
            kind = NODE_DOCTYPE;
            const bool doctype = third == 'D';
            // A document type may hold nested markup: declarations, comments and
            // processing instructions, whose ends do not end it.
            int k = i + 3;
            uchar quote = 0;
            for (;;) {
                const uchar b = p[k];
                if (b == 0)
                    return unterminated(k);
                if (quote) {
                    if (b == quote)
                        quote = 0;
                    k += CharLen(p, k);
                    continue;
                }
                if (b == '"' || b == '\'') {
                    quote = b;
                    ++k;
                    continue;
                }
                if (b == '>')
                    return finish(k + 1);
                if (b != '<' || !doctype) {
                    k += CharLen(p, k);
                    continue;
                }
                // Nested markup at k.
                const uchar b2 = p[k + 1];
                int end = -1;
                if (b2 == '!') {
                    const uchar b3 = p[k + 2];
                    if (b3 == '-') {
                        if (p[k + 3] != '-')
                            return errorNode("comment tag", k, k + 3);
                        end = findEnd(k + 4, k, "--", 2);
                    } else if (b3 == 'E' || b3 == 'A' || b3 == 'N') {
                        // A markup declaration: ends at '>' outside quotes.
                        int d = k + 3;
                        uchar dq = 0;
                        for (;;) {
                            const uchar bd = p[d];
                            if (bd == 0)
                                break;
                            if (dq) {
                                if (bd == dq)
                                    dq = 0;
                            } else if (bd == '"' || bd == '\'') {
                                dq = bd;
                            } else if (bd == '>') {
                                end = d + 1;
                                break;
                            }
                            d += CharLen(p, d);
                        }
                    } else {
                        return errorNode("! tag", k, k + 2);
                    }
                } else if (b2 == '?') {
                    end = findEnd(k + 2, k, "?", 1);
                } else if (IsNameStart(b2) || b2 == '/') {
                    end = findEnd(k + 1, k, "", 0);
                } else {
                    return errorNode("tag name character", k, k + 1);
                }
                if (end < 0)
                    return unterminated(static_cast<int>(text.size()));
                k = end;
            }
        }
        return errorNode("! tag", s, i + 2);
    }
    default:
        return errorNode("tag name character", s, i + 1);
    }
}

int CXmlDoc::ScanToken(TokenCursor& cursor, NodeInfo& node) const
{
    return ScanText(m_text, cursor, node);
}

// ---------------------------------------------------------------------------
// Element index


void CXmlDoc::CloseUnended(std::size_t keep, const NodeInfo* endTag, const TokenCursor* endName, int& a)
{
    if (m_open.size() <= keep)
        return;
    Rec(0).flags |= DOC_ILL_FORMED;
    while (m_open.size() > keep) {
        const OpenTag open = PopOpen();
        const int e = open.record;
        ElementRecord& E = Rec(e);
        const int parent = E.parent;
        E.SetEndTagLength(0);
        E.flags |= ELEM_UNENDED;
        E.length = E.StartTagLength();
        if (E.firstChild) {
            // Its children move up: they follow E under E's parent. E was the
            // parent's last child, so they now end the parent's list. Their
            // parent fields are set once the index is complete (nothing reads
            // the parent of a closed element before), so that deeply nested
            // unended elements do not move the same children again and again.
            const int first = E.firstChild;
            const int last = Rec(first).prev;
            E.next = first;
            Rec(first).prev = e;
            Rec(first).flags &= ~ELEM_FIRST;
            Rec(Rec(parent).firstChild).prev = last;
            E.firstChild = 0;
            m_childrenMoved = true;
        }
        if (E.flags & ELEM_HAS_ERROR) {
            E.flags &= ~ELEM_HAS_ERROR;
            if (parent)
                Rec(parent).flags |= ELEM_HAS_ERROR;
        }
        a = parent;
        if (m_result.empty()) {
            const std::string name = m_text.substr(static_cast<std::size_t>(open.nameOffset), static_cast<std::size_t>(open.nameLength));
            if (endTag) {
                const std::string endTagName = m_text.substr(static_cast<std::size_t>(endName->left),
                    static_cast<std::size_t>(endName->right - endName->left + 1));
                m_result = Format("End tag '%.50s' at offset %d does not match start tag '%.50s' at offset %d",
                    endTagName.c_str(), endTag->start + 1, name.c_str(), E.start);
            } else {
                m_result = Format("Element '%.50s' at offset %d not ended", name.c_str(), E.start);
            }
        }
    }
}

std::string_view CXmlDoc::NameOf(const OpenTag& tag) const
{
    return std::string_view(m_text).substr(static_cast<std::size_t>(tag.nameOffset), static_cast<std::size_t>(tag.nameLength));
}

void CXmlDoc::PushOpen(const OpenTag& tag)
{
    constexpr std::size_t kDeep = 64;
    m_open.push_back(tag);
    if (m_countingNames) {
        ++m_openNames[NameOf(tag)];
    } else if (m_open.size() > kDeep) {
        m_countingNames = true;
        m_openNames.clear();
        for (const auto& o : m_open)
            ++m_openNames[NameOf(o)];
    }
}

CXmlDoc::OpenTag CXmlDoc::PopOpen()
{
    constexpr std::size_t kShallow = 32;
    const OpenTag tag = m_open.back();
    m_open.pop_back();
    if (m_countingNames) {
        if (m_open.size() <= kShallow) {
            m_countingNames = false;
            m_openNames.clear();
        } else if (auto it = m_openNames.find(NameOf(tag)); it != m_openNames.end() && --it->second == 0) {
            m_openNames.erase(it);
        }
    }
    return tag;
}

void CXmlDoc::FixParents()
{
    std::vector<int> pending{0};
    while (!pending.empty()) {
        const int p = pending.back();
        pending.pop_back();
        for (int ch = Rec(p).firstChild; ch; ch = Rec(ch).next) {
            Rec(ch).parent = p;
            if (Rec(ch).firstChild)
                pending.push_back(ch);
        }
    }
}

int CXmlDoc::BuildTree(TokenCursor& c)
{
    m_result.clear();
    m_open.clear();
    m_openNames.clear();
    m_countingNames = false;
    m_childrenMoved = false;
    int a = 0;
    int first = 0;
    NodeInfo node;
    auto problem = [&](const std::string& text) {
        Rec(0).flags |= DOC_ILL_FORMED;
        if (a)
            Rec(a).flags |= ELEM_HAS_ERROR;
        if (m_result.empty())
            m_result = text;
    };
    for (;;) {
        const int kind = ScanText(m_text, c, node, false);
        if (kind == NODE_END) {
            CloseUnended(0, nullptr, nullptr, a);
            if (m_childrenMoved)
                FixParents();
            break;
        }
        if (kind == NODE_ELEMENT) {
            if (static_cast<uint32_t>(node.length) > ElementRecord::kStartTagMax) {
                // The record cannot hold the length of this start tag.
                problem(Format("Incorrect %s at offset %d", "tag length", node.start));
                continue;
            }
            const int r = NewRecord();
            if (!first)
                first = r;
            ElementRecord& R = Rec(r);
            R.start = node.start;
            R.length = node.length;
            R.tagLengths = 0;
            R.SetStartTagLength(node.length);
            R.parent = a;
            R.firstChild = 0;
            R.next = 0;
            const uint32_t depth = static_cast<uint32_t>(m_open.size()) & 0xFFFF;
            ElementRecord& A = Rec(a);
            if (!A.firstChild) {
                A.firstChild = r;
                R.prev = r;
                R.flags = ELEM_FIRST | depth;
            } else {
                ElementRecord& F = Rec(A.firstChild);
                const int last = F.prev;
                Rec(last).next = r;
                R.prev = last;
                F.prev = r;
                R.flags = depth;
            }
            if (!(node.flags & NODE_EMPTY_ELEMENT)) {
                PushOpen({r, c.left, c.right - c.left + 1});
                a = r;
            }
        } else if (kind == NODE_END_TAG) {
            const char* name = m_text.c_str() + c.left;
            const std::size_t nameLen = static_cast<std::size_t>(c.right - c.left + 1);
            std::size_t k = m_open.size();
            if (m_countingNames && !m_openNames.count(std::string_view(name, nameLen))) {
                k = 0; // no open element has this name
            } else if (static_cast<uint32_t>(node.length) <= ElementRecord::kEndTagMax) {
                while (k > 0) {
                    const OpenTag& o = m_open[k - 1];
                    if (static_cast<std::size_t>(o.nameLength) == nameLen &&
                        std::memcmp(m_text.c_str() + o.nameOffset, name, nameLen) == 0)
                        break;
                    --k;
                }
            } else {
                k = 0; // too long for the record: taken as matching nothing
            }
            if (k == 0) {
                problem(Format("No start tag for end tag '%.50s' at offset %d", std::string(name, nameLen).c_str(), node.start));
                continue;
            }
            const int m = m_open[k - 1].record;
            ElementRecord& M = Rec(m);
            M.length = node.start + node.length - M.start;
            M.SetEndTagLength(node.length);
            CloseUnended(k, &node, &c, a);
            PopOpen();
            a = Rec(m).parent;
        } else if (kind == NODE_ERROR) {
            problem(node.text);
        }
    }
    return first;
}

bool CXmlDoc::ParseDocument()
{
    const std::string kept = m_result;
    SetPositions(0, 0, 0);
    m_free = 1;
    const int len = static_cast<int>(m_text.size());
    GrowRecords(len / 64 + 8);
    Rec(0) = ElementRecord{};
    if (len > 0) {
        TokenCursor c;
        const int first = BuildTree(c);
        Rec(0).length = len;
        if (!first) {
            m_result = "No root element";
        } else {
            Rec(0).firstChild = first;
            if (Rec(first).next)
                m_result = "Root element has sibling";
        }
    } else {
        m_result = "Empty document";
    }
    SetPositions(0, 0, 0);
    if (!kept.empty())
        m_result = m_result.empty() ? kept : kept + ", " + m_result;
    return IsStructureValid();
}

bool CXmlDoc::IsStructureValid() const
{
    if (m_size == 0)
        return false;
    const ElementRecord& doc = Rec(0);
    return !(doc.flags & DOC_ILL_FORMED) && doc.firstChild != 0 && Rec(doc.firstChild).next == 0;
}

bool CXmlDoc::SetText(std::string_view text)
{
    m_text.assign(CStr(text));
    m_result.clear();
    return ParseDocument();
}

} // namespace velkor
