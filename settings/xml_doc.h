// CXmlDoc: the XML document class behind every settings file.
//
// A document is its text exactly as read plus an index of element records that
// point into the text by byte offsets. Nothing is re-serialised: reading works on
// the text in place and every change edits the text at one spot and shifts the
// records behind it, so comments, declarations, line breaks and attribute order
// outside the changed spot stay byte for byte.
//
// All texts are GBK byte strings; offsets and lengths count bytes and every walk
// steps by characters (a lead byte 0x81-0xFE followed by a non-NUL byte makes a
// double-byte character). The text ends at its first NUL byte; names and values
// passed in end at their first NUL byte too.
//
// The parser is lenient: unended elements, unquoted or valueless attributes and
// stray end tags are repaired in the index, the first problem is described in
// ResultText() and IsStructureValid() tells whether the document is well formed
// with exactly one root. No operation throws (other than std::bad_alloc), shows a
// message or writes a log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velkor {

// One element of the index: eight 32-bit fields.
struct ElementRecord {
    int32_t start;       // offset of the '<' of the start tag
    int32_t length;      // from that '<' through the end tag's '>' (start tag only when unended)
    uint32_t tagLengths; // bits 0-21 start-tag length, bits 22-31 end-tag length (0 = none)
    uint32_t flags;      // bits 0-15 depth, plus the ELEM_* / DOC_* flags
    int32_t parent;      // record index of the parent, 0 at the document level
    int32_t firstChild;  // 0 = none
    int32_t next;        // next sibling, 0 = last
    int32_t prev;        // previous sibling; the first child's holds the last child

    static constexpr uint32_t kStartTagMax = 0x3FFFFF; // 4,194,303
    static constexpr uint32_t kEndTagMax = 0x3FF;      // 1,023

    int32_t StartTagLength() const { return static_cast<int32_t>(tagLengths & kStartTagMax); }
    int32_t EndTagLength() const { return static_cast<int32_t>(tagLengths >> 22); }
    void SetStartTagLength(int32_t n) { tagLengths = (tagLengths & ~kStartTagMax) | (static_cast<uint32_t>(n) & kStartTagMax); }
    void SetEndTagLength(int32_t n) { tagLengths = (tagLengths & kStartTagMax) | (static_cast<uint32_t>(n) << 22); }
    int32_t ContentStart() const { return start + StartTagLength(); }
    int32_t ContentLength() const { return length - StartTagLength() - EndTagLength(); }
    int32_t End() const { return start + length; }
    uint32_t Depth() const { return flags & 0xFFFF; }
};

inline constexpr uint32_t ELEM_FIRST = 0x80000;
inline constexpr uint32_t ELEM_UNENDED = 0x100000;
inline constexpr uint32_t ELEM_HAS_ERROR = 0x200000;
inline constexpr uint32_t DOC_ILL_FORMED = 0x800000;

// Node kinds of the scanner.
inline constexpr int NODE_END = -2;
inline constexpr int NODE_ERROR = -1;
inline constexpr int NODE_END_TAG = 0;
inline constexpr int NODE_ELEMENT = 1;
inline constexpr int NODE_TEXT = 2;
inline constexpr int NODE_WHITESPACE = 4;
inline constexpr int NODE_CDATA = 8;
inline constexpr int NODE_PI = 16;
inline constexpr int NODE_COMMENT = 32;
inline constexpr int NODE_DOCTYPE = 64;

inline constexpr uint32_t NODE_EMPTY_ELEMENT = 0x10000; // a start tag that closes itself
inline constexpr uint32_t TOKEN_QUOTED = 0x8000;
inline constexpr int ADD_BEFORE = 0x2000;
inline constexpr int ESCAPE_QUOTES = 0x100;

// Scanner output: one node of the text.
struct NodeInfo {
    int kind = NODE_END;
    int start = 0;
    int length = 0;
    uint32_t flags = 0;
    std::string text; // tag name, PI target or problem description
};

// Token cursor over the text. right < left means an empty token.
// After ScanToken the left and right offsets mark an end tag's or a start tag's name.
struct TokenCursor {
    int left = 0;
    int right = -1;
    int next = 0;
    uint32_t flags = 0;     // TOKEN_QUOTED
    int leadIn = 0;         // offset of the white space before the current token
    int leadInLength = 0;
    int end = -1;           // bound of the scan (exclusive); -1 = the text's end
};

class CXmlDoc {
public:
    CXmlDoc();
    ~CXmlDoc();
    CXmlDoc(const CXmlDoc&) = delete;
    CXmlDoc& operator=(const CXmlDoc&) = delete;

    // ---- document (model, scanning, index) ----
    // Replaces the text (it ends at its first NUL) and rebuilds the index.
    bool SetText(std::string_view text);
    bool IsStructureValid() const;
    const std::string& GetText() const { return m_text; }
    const std::string& ResultText() const { return m_result; }

    // ---- navigation and reading; an empty name stands for any element ----
    void RewindMain();
    bool FindNextElement(std::string_view name = {});
    bool FindNextChild(std::string_view name = {});
    bool EnterElement();
    bool LeaveElement();
    std::string GetAttribute(std::string_view name) const;
    std::string GetChildAttribute(std::string_view name) const;

    // ---- changes and files ----
    // Files are UTF-8 unless the XML declaration names another encoding, whose
    // bytes are then taken unchanged. SaveFile replaces the file atomically
    // (temporary file in the same folder, then rename) with owner-only access.
    bool LoadFile(const std::string& path);
    bool SaveFile(const std::string& path);
    bool AppendElement(std::string_view name);
    bool InsertElementBefore(std::string_view name);
    bool SetAttribute(std::string_view name, std::string_view value);
    bool SetAttribute(std::string_view name, int value);
    bool RemoveChild();

    // ---- positions and records (read-only views for tests and tools) ----
    int ParentPos() const { return m_parent; }
    int MainPos() const { return m_main; }
    int ChildPos() const { return m_child; }
    int FreeRecord() const { return m_free; }       // next free record index
    int RecordCapacity() const { return m_size; }   // records the segments hold
    const ElementRecord& Record(int i) const { return Rec(i); }

    // ---- internal operations, public for the tests and the fuzz target ----
    int ScanToken(TokenCursor& cursor, NodeInfo& node) const;
    void ReadTagName(TokenCursor& cursor) const;
    bool FindAttributeToken(TokenCursor& cursor, std::string_view name) const;
    static std::string DecodeText(std::string_view bytes);
    static std::string EscapeText(std::string_view text, int options);
    static std::string DeclaredEncoding(const std::string& text);
    static std::string SystemErrorText();
    void GrowRecords(int n);
    int NewRecord();

private:
    // fillNames false: an element's name is only marked by the cursor's left and right.
    static int ScanText(const std::string& text, TokenCursor& cursor, NodeInfo& node, bool fillNames = true);
    static bool FindAttribute(const std::string& text, TokenCursor& cursor, std::string_view name);
    ElementRecord& Rec(int i) { return m_segs[static_cast<uint32_t>(i) >> 16][i & 0xFFFF]; }
    const ElementRecord& Rec(int i) const { return m_segs[static_cast<uint32_t>(i) >> 16][i & 0xFFFF]; }

    int BuildTree(TokenCursor& cursor);
    bool ParseDocument();
    void CloseUnended(std::size_t keep, const NodeInfo* endTag, const TokenCursor* endName, int& a);
    std::string ElementName(int record) const;
    bool AddElement(std::string_view name, int options);
    int InsertMarkup(int parent, int& ref, const std::string& markup, int options, int& inserted, int& replaced);
    void ReplaceText(int offset, int remove, std::string_view text);
    void ShiftFollowing(int record, int shift, bool skipChildren);
    void LinkElement(int parent, int prev, int record);
    int UnlinkElement(int record);
    int RemoveElement(int record);
    std::string AttributeOf(int record, std::string_view name) const;
    static bool EndsInLoneLeadByte(std::string_view text);
    void SetPositions(int parent, int main, int child) { m_parent = parent; m_main = main; m_child = child; }

    std::string m_text;
    std::string m_result;
    int m_parent = 0;
    int m_main = 0;
    int m_child = 0;
    int m_free = 0;
    // Segmented record array: record i is slot i & 0xFFFF of segment i >> 16.
    ElementRecord** m_segs = nullptr;
    int m_segCapacity = 0;
    int m_size = 0;
    // Open start tags while BuildTree runs: name offset, name length, start.
    struct OpenTag { int record; int nameOffset; int nameLength; };
    void PushOpen(const OpenTag& tag);
    OpenTag PopOpen();
    std::string_view NameOf(const OpenTag& tag) const;
    void FixParents();
    std::vector<OpenTag> m_open;
    // While many start tags are open, their names are counted so that a stray
    // end tag is known to match none without a walk over the whole stack.
    std::unordered_map<std::string_view, int> m_openNames;
    bool m_countingNames = false;
    bool m_childrenMoved = false; // parent fields of moved children wait for FixParents
};

} // namespace velkor
