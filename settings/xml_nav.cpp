// CXmlDoc: navigation, attribute reading and reference decoding.
#include "settings/xml_doc.h"
#include "settings/xml_internal.h"

#include "platform/gbk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velkor {

using namespace xmldetail;

namespace {

// The token [left, right] of text matches name when its bytes equal the name's
// first bytes and the name ends there or goes on with ' ', '=', '/', '[' or ']'.
bool MatchesName(const std::string& text, int left, int right, std::string_view name)
{
    const int n = right - left + 1;
    if (n <= 0 || static_cast<std::size_t>(n) > name.size())
        return false;
    if (std::memcmp(text.data() + left, name.data(), static_cast<std::size_t>(n)) != 0)
        return false;
    if (static_cast<std::size_t>(n) == name.size())
        return true;
    const char c = name[static_cast<std::size_t>(n)];
    return c == ' ' || c == '=' || c == '/' || c == '[' || c == ']';
}

// The named character references of HTML 4.01 and "apos", by lower-case name.
// Where two names differ only in case the one with a capital letter wins.
struct Entity {
    const char* name;
    int code;
};
constexpr Entity kEntities[] = {
    {"aacute", 193}, {"acirc", 194}, {"acute", 180}, {"aelig", 198}, {"agrave", 192},
    {"alefsym", 8501}, {"alpha", 913}, {"amp", 38}, {"and", 8743}, {"ang", 8736}, {"apos", 39},
    {"aring", 197}, {"asymp", 8776}, {"atilde", 195}, {"auml", 196}, {"bdquo", 8222}, {"beta", 914},
    {"brvbar", 166}, {"bull", 8226}, {"cap", 8745}, {"ccedil", 199}, {"cedil", 184}, {"cent", 162},
    {"chi", 935}, {"circ", 710}, {"clubs", 9827}, {"cong", 8773}, {"copy", 169}, {"crarr", 8629},
    {"cup", 8746}, {"curren", 164}, {"dagger", 8225}, {"darr", 8659}, {"deg", 176}, {"delta", 916},
    {"diams", 9830}, {"divide", 247}, {"eacute", 201}, {"ecirc", 202}, {"egrave", 200},
    {"empty", 8709}, {"emsp", 8195}, {"ensp", 8194}, {"epsilon", 917}, {"equiv", 8801},
    {"eta", 919}, {"eth", 208}, {"euml", 203}, {"euro", 8364}, {"exist", 8707}, {"fnof", 402},
    {"forall", 8704}, {"frac12", 189}, {"frac14", 188}, {"frac34", 190}, {"frasl", 8260},
    {"gamma", 915}, {"ge", 8805}, {"gt", 62}, {"harr", 8660}, {"hearts", 9829}, {"hellip", 8230},
    {"iacute", 205}, {"icirc", 206}, {"iexcl", 161}, {"igrave", 204}, {"image", 8465},
    {"infin", 8734}, {"int", 8747}, {"iota", 921}, {"iquest", 191}, {"isin", 8712}, {"iuml", 207},
    {"kappa", 922}, {"lambda", 923}, {"lang", 9001}, {"laquo", 171}, {"larr", 8656},
    {"lceil", 8968}, {"ldquo", 8220}, {"le", 8804}, {"lfloor", 8970}, {"lowast", 8727},
    {"loz", 9674}, {"lrm", 8206}, {"lsaquo", 8249}, {"lsquo", 8216}, {"lt", 60}, {"macr", 175},
    {"mdash", 8212}, {"micro", 181}, {"middot", 183}, {"minus", 8722}, {"mu", 924}, {"nabla", 8711},
    {"nbsp", 160}, {"ndash", 8211}, {"ne", 8800}, {"ni", 8715}, {"not", 172}, {"notin", 8713},
    {"nsub", 8836}, {"ntilde", 209}, {"nu", 925}, {"oacute", 211}, {"ocirc", 212}, {"oelig", 338},
    {"ograve", 210}, {"oline", 8254}, {"omega", 937}, {"omicron", 927}, {"oplus", 8853},
    {"or", 8744}, {"ordf", 170}, {"ordm", 186}, {"oslash", 216}, {"otilde", 213}, {"otimes", 8855},
    {"ouml", 214}, {"para", 182}, {"part", 8706}, {"permil", 8240}, {"perp", 8869}, {"phi", 934},
    {"pi", 928}, {"piv", 982}, {"plusmn", 177}, {"pound", 163}, {"prime", 8243}, {"prod", 8719},
    {"prop", 8733}, {"psi", 936}, {"quot", 34}, {"radic", 8730}, {"rang", 9002}, {"raquo", 187},
    {"rarr", 8658}, {"rceil", 8969}, {"rdquo", 8221}, {"real", 8476}, {"reg", 174},
    {"rfloor", 8971}, {"rho", 929}, {"rlm", 8207}, {"rsaquo", 8250}, {"rsquo", 8217},
    {"sbquo", 8218}, {"scaron", 352}, {"sdot", 8901}, {"sect", 167}, {"shy", 173}, {"sigma", 931},
    {"sigmaf", 962}, {"sim", 8764}, {"spades", 9824}, {"sub", 8834}, {"sube", 8838}, {"sum", 8721},
    {"sup", 8835}, {"sup1", 185}, {"sup2", 178}, {"sup3", 179}, {"supe", 8839}, {"szlig", 223},
    {"tau", 932}, {"there4", 8756}, {"theta", 920}, {"thetasym", 977}, {"thinsp", 8201},
    {"thorn", 222}, {"tilde", 732}, {"times", 215}, {"trade", 8482}, {"uacute", 218},
    {"uarr", 8657}, {"ucirc", 219}, {"ugrave", 217}, {"uml", 168}, {"upsih", 978}, {"upsilon", 933},
    {"uuml", 220}, {"weierp", 8472}, {"xi", 926}, {"yacute", 221}, {"yen", 165}, {"yuml", 376},
    {"zeta", 918}, {"zwj", 8205}, {"zwnj", 8204},
};

int LookupEntity(const std::string& lowered)
{
    const auto* end = std::end(kEntities);
    const auto* it = std::lower_bound(std::begin(kEntities), end, lowered,
        [](const Entity& e, const std::string& n) { return std::strcmp(e.name, n.c_str()) < 0; });
    return (it != end && lowered == it->name) ? it->code : 0;
}

// One UTF-16 code unit in GBK, or empty when the code page has no such character.
std::string UnitToGbk(unsigned unit)
{
    if (unit == 0)
        return {};
    if (unit < 0x80)
        return std::string(1, static_cast<char>(unit));
    const char16_t u = static_cast<char16_t>(unit);
    auto r = gbk::fromUtf16(std::u16string_view(&u, 1));
    if (r.lost || r.text.empty() || r.text.size() > 5)
        return {};
    return std::move(r.text);
}

} // namespace

void CXmlDoc::RewindMain()
{
    SetPositions(m_parent, 0, 0);
}

bool CXmlDoc::FindNextElement(std::string_view name)
{
    if (m_size == 0)
        return false;
    name = CStr(name);
    int cand = m_main ? Rec(m_main).next : Rec(m_parent).firstChild;
    if (!name.empty()) {
        for (; cand; cand = Rec(cand).next) {
            TokenCursor c;
            c.next = Rec(cand).start + 1;
            ReadTagName(c);
            if (MatchesName(m_text, c.left, c.right, name))
                break;
        }
    }
    if (!cand)
        return false;
    SetPositions(Rec(cand).parent, cand, 0);
    return true;
}

bool CXmlDoc::FindNextChild(std::string_view name)
{
    if (!m_main)
        FindNextElement();
    if (!m_main)
        return false;
    name = CStr(name);
    int cand = m_child ? Rec(m_child).next : Rec(m_main).firstChild;
    if (!name.empty()) {
        for (; cand; cand = Rec(cand).next) {
            TokenCursor c;
            c.next = Rec(cand).start + 1;
            ReadTagName(c);
            if (MatchesName(m_text, c.left, c.right, name))
                break;
        }
    }
    if (!cand)
        return false;
    SetPositions(Rec(m_main).parent, m_main, cand);
    return true;
}

bool CXmlDoc::EnterElement()
{
    if (!m_main)
        return false;
    SetPositions(m_main, m_child, 0);
    return true;
}

bool CXmlDoc::LeaveElement()
{
    if (!m_parent)
        return false;
    SetPositions(Rec(m_parent).parent, m_parent, m_main);
    return true;
}

void CXmlDoc::ReadTagName(TokenCursor& c) const
{
    const auto* p = reinterpret_cast<const uchar*>(m_text.c_str());
    int k = c.next;
    while (IsWs(p[k]))
        ++k;
    const int left = k;
    for (;;) {
        const uchar b = p[k];
        if (b == 0 || IsWs(b) || b == '<' || b == '>' || b == '=' || b == '\\' || b == '/' || b == '?' || b == '!')
            break;
        k += CharLen(p, k);
    }
    if (k == left)
        k = left + 1;
    c.left = left;
    c.right = k - 1;
    c.next = k;
}

bool CXmlDoc::FindAttributeToken(TokenCursor& cursor, std::string_view name) const
{
    return FindAttribute(m_text, cursor, name);
}

// Walks the tokens of a start tag from cursor.next (just after its '<') up to
// cursor.end (the end of the start tag; -1 = the end of the text).
bool CXmlDoc::FindAttribute(const std::string& text, TokenCursor& c, std::string_view name)
{
    name = CStr(name);
    const auto* p = reinterpret_cast<const uchar*>(text.c_str());
    const int len = static_cast<int>(text.size());
    const int lim = (c.end < 0 || c.end > len) ? len : c.end;
    auto at = [&](int i) -> uchar { return i < lim ? p[i] : 0; };
    auto step = [&](int i) { return (i + 1 < lim && IsLead(p, i)) ? 2 : 1; };

    int counter = -1;
    int foundLeft = -1, foundRight = -1, foundLeadIn = 0, foundLeadInLength = 0;
    bool equals = false;
    bool valueRead = false; // the current token is the value after '='
    for (;;) {
        const int leadStart = c.next;
        int k = c.next;
        while (IsWs(at(k)))
            ++k;
        valueRead = false;
        if (at(k) == 0) {
            c.next = k;
            break;
        }
        c.leadIn = leadStart;
        c.leadInLength = k - leadStart;
        const uchar b = at(k);
        bool value;
        if (b == '"' || b == '\'') {
            c.flags |= TOKEN_QUOTED;
            c.left = k + 1;
            int e = k + 1;
            while (at(e) != 0 && at(e) != b)
                e += step(e);
            if (at(e) == b) {
                c.right = e - 1;
                c.next = e + 1;
            } else {
                c.right = lim - 1;
                c.next = lim;
            }
            value = true;
        } else {
            c.flags &= ~TOKEN_QUOTED;
            c.left = k;
            int e = k;
            for (;;) {
                const uchar x = at(e);
                if (x == 0 || IsWs(x) || x == '>')
                    break;
                if (!equals && (x == '=' || x == '/' || x == '?'))
                    break;
                e += step(e);
            }
            if (e == k)
                e = k + 1; // an empty run is taken as one byte
            c.right = e - 1;
            c.next = e;
            value = equals;
        }
        if (value) {
            if (foundRight >= 0) {
                valueRead = true;
                break;
            }
            equals = false;
            continue;
        }
        const uchar t = at(c.left);
        if (c.right == c.left && t == '=') {
            equals = true;
            continue;
        }
        if (t == '>' || t == '/' || t == '?') {
            c.next = leadStart;
            break;
        }
        if (foundRight >= 0)
            break;
        if (counter != -1 && MatchesName(text, c.left, c.right, name)) {
            foundLeft = c.left;
            foundRight = c.right;
            foundLeadIn = leadStart;
            foundLeadInLength = k - leadStart;
        }
        ++counter;
        equals = false;
    }
    if (foundRight < 0)
        return false;
    if (equals) {
        if (!valueRead) {
            // '=' at the very end: an empty value.
            c.left = c.next;
            c.right = c.next - 1;
            c.flags &= ~TOKEN_QUOTED;
        }
        c.flags &= ~kTokenBareName;
        return true;
    }
    // An attribute without value: its name is its value.
    c.left = foundLeft;
    c.right = foundRight;
    c.next = foundRight + 1;
    c.leadIn = foundLeadIn;
    c.leadInLength = foundLeadInLength;
    c.flags = (c.flags & ~TOKEN_QUOTED) | kTokenBareName;
    return true;
}

std::string CXmlDoc::AttributeOf(int record, std::string_view name) const
{
    name = CStr(name);
    if (!record || name.empty())
        return {};
    const ElementRecord& r = Rec(record);
    TokenCursor c;
    c.next = r.start + 1;
    c.end = r.start + r.StartTagLength();
    if (!FindAttribute(m_text, c, name) || c.right < c.left)
        return {};
    return DecodeText(std::string_view(m_text).substr(static_cast<std::size_t>(c.left), static_cast<std::size_t>(c.right - c.left + 1)));
}

std::string CXmlDoc::GetAttribute(std::string_view name) const
{
    return AttributeOf(m_main, name);
}

std::string CXmlDoc::GetChildAttribute(std::string_view name) const
{
    return AttributeOf(m_child, name);
}

std::string CXmlDoc::DecodeText(std::string_view in)
{
    const auto* p = reinterpret_cast<const uchar*>(in.data());
    const std::size_t len = in.size();
    std::string out;
    out.reserve(len);
    std::size_t i = 0;
    while (i < len) {
        const uchar b = p[i];
        if (b != '&') {
            const std::size_t n = (b >= 0x81 && b <= 0xFE && i + 1 < len && p[i + 1] != 0) ? 2 : 1;
            out.append(in.data() + i, n);
            i += n;
            continue;
        }
        // Up to 9 characters after '&' make the name; only a ';' after them
        // makes it a reference.
        std::string name;
        std::size_t j = i + 1;
        while (j < len && name.size() < 9 && p[j] < 0x80 && p[j] != ';' && p[j] != 0) {
            const uchar x = p[j];
            name += static_cast<char>((x >= 'A' && x <= 'Z') ? x + ('a' - 'A') : x);
            ++j;
        }
        long number = 0;
        if (j < len && p[j] == ';') {
            if (!name.empty() && name[0] == '#') {
                if (name.size() > 1 && name[1] == 'x')
                    number = std::strtol(name.c_str() + 2, nullptr, 16);
                else
                    number = std::strtol(name.c_str() + 1, nullptr, 10);
            } else {
                number = LookupEntity(name);
            }
        }
        if (number != 0) {
            const std::string bytes = UnitToGbk(static_cast<unsigned>(number) & 0xFFFF);
            if (!bytes.empty()) {
                out += bytes;
                i = j + 1;
                continue;
            }
        }
        out += '&';
        ++i;
    }
    return out;
}

} // namespace velkor
