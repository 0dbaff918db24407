// Consistency checks of a CXmlDoc's element index, for the tests and the fuzz
// target: the links form a proper tree, every record lies inside the text, and
// the index equals the one a fresh parse of the same text builds.
#pragma once

#include "settings/xml_doc.h"

#include <string>
#include <vector>

namespace velkor::xmlcheck {

// One element in document order, with its parent as a position in that order.
struct Element {
    int start, length, startTag, endTag;
    unsigned depth;
    bool first, unended;
    int parent; // -1 = document level
    bool operator==(const Element&) const = default;
};

// Walks the tree from record 0. Returns a description of the first broken
// link or out-of-text record, or an empty text.
inline std::string Collect(const CXmlDoc& doc, std::vector<Element>& out)
{
    out.clear();
    const int textLength = static_cast<int>(doc.GetText().size());
    const ElementRecord& root = doc.Record(0);
    if (root.length != textLength && !(root.length == 0 && textLength == 0))
        return "record 0 length " + std::to_string(root.length) + " != text length " + std::to_string(textLength);
    const int limit = doc.FreeRecord();
    struct Frame { int record; int index; };
    std::vector<Frame> stack{{0, -1}};
    int visits = 0;
    while (!stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        const ElementRecord& P = doc.Record(f.record);
        const int first = P.firstChild;
        if (!first)
            continue;
        std::vector<int> children;
        for (int c = first; c; c = doc.Record(c).next) {
            if (c < 1 || c >= limit || ++visits > limit)
                return "bad or cyclic link to record " + std::to_string(c);
            children.push_back(c);
        }
        if (doc.Record(first).prev != children.back())
            return "first child's previous is not the last child under record " + std::to_string(f.record);
        for (std::size_t k = 1; k < children.size(); ++k)
            if (doc.Record(children[k]).prev != children[k - 1])
                return "broken previous link at record " + std::to_string(children[k]);
        const int lo = f.record ? P.ContentStart() : 0;
        const int hi = f.record ? P.End() - P.EndTagLength() : textLength;
        int at = lo;
        std::vector<Frame> pending;
        for (std::size_t k = 0; k < children.size(); ++k) {
            const int c = children[k];
            const ElementRecord& R = doc.Record(c);
            if (R.parent != f.record)
                return "record " + std::to_string(c) + " names the wrong parent";
            if (((R.flags & ELEM_FIRST) != 0) != (k == 0))
                return "ELEM_FIRST wrong at record " + std::to_string(c);
            if (R.start < at || R.StartTagLength() < 3 || R.StartTagLength() > R.length ||
                R.EndTagLength() > R.length - R.StartTagLength() || R.End() > hi)
                return "record " + std::to_string(c) + " lies outside its place in the text";
            if (doc.GetText()[static_cast<std::size_t>(R.start)] != '<' ||
                doc.GetText()[static_cast<std::size_t>(R.start + R.StartTagLength() - 1)] != '>')
                return "record " + std::to_string(c) + " does not span a start tag";
            at = R.End();
            out.push_back({R.start, R.length, R.StartTagLength(), R.EndTagLength(), R.Depth(),
                (R.flags & ELEM_FIRST) != 0, (R.flags & ELEM_UNENDED) != 0, f.index});
            pending.push_back({c, static_cast<int>(out.size()) - 1});
        }
        // Children of later siblings come later in the text: visit in order.
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            stack.push_back(*it);
    }
    return {};
}

// Compares the index of doc with that of a fresh parse of its text. Depths are
// compared when compareDepth is set (repairs of an ill-formed text may leave
// depths that a fresh parse counts differently).
inline std::string CompareWithFreshParse(const CXmlDoc& doc, bool compareDepth)
{
    std::vector<Element> mine, fresh;
    if (auto e = Collect(doc, mine); !e.empty())
        return "edited index: " + e;
    CXmlDoc other;
    other.SetText(doc.GetText());
    if (auto e = Collect(other, fresh); !e.empty())
        return "fresh index: " + e;
    if (mine.size() != fresh.size())
        return "element count " + std::to_string(mine.size()) + " != fresh " + std::to_string(fresh.size());
    // Collect lists elements by walking parents in order; sort both the same way.
    for (std::size_t k = 0; k < mine.size(); ++k) {
        Element a = mine[k], b = fresh[k];
        if (!compareDepth)
            a.depth = b.depth = 0;
        if (!(a == b))
            return "element " + std::to_string(k) + " at " + std::to_string(a.start) + " differs from fresh parse (at " +
                std::to_string(b.start) + ")";
    }
    return {};
}

} // namespace velkor::xmlcheck
