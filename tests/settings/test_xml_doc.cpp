#include "settings/xml_check.h"
#include "settings/xml_doc.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>

using namespace velkor;

namespace {

std::string Consistency(const CXmlDoc& d)
{
    std::vector<xmlcheck::Element> els;
    auto e = xmlcheck::Collect(d, els);
    if (!e.empty())
        return e;
    return xmlcheck::CompareWithFreshParse(d, true);
}

// Start of the element that the position names ("" for none).
std::string TagAt(const CXmlDoc& d, int record)
{
    if (!record)
        return "";
    const auto& r = d.Record(record);
    return d.GetText().substr(static_cast<std::size_t>(r.start), static_cast<std::size_t>(r.StartTagLength()));
}

} // namespace

// ---------------------------------------------------------------------------
// Parsing and result texts

TEST(XmlParse, ResultTextsAndValidity)
{
    const std::string big(60, 'n');
    struct Case {
        std::string text;
        bool valid;
        std::string result;
    } cases[] = {
        {"<a/>", true, ""},
        {"", false, "Empty document"},
        {"hello", false, "No root element"},
        {"<!-- only a comment -->", false, "No root element"},
        {"<a/><b/>", false, "Root element has sibling"},
        {"<a><b></a>", false, "End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
        {"<a></b></a>", false, "No start tag for end tag 'b' at offset 3"},
        {"<a><b>", false, "Root element has sibling"},
        {"<a>text", false, "Element 'a' at offset 0 not ended"},
        {"<a><!-- x", false, "Comment at offset 3 unterminated"},
        {"<a>< b/></a>", false, "Incorrect tag name character at offset 3"},
        {"<a><!x></a>", false, "Incorrect ! tag at offset 3"},
        {"<a><!-x></a>", false, "Incorrect comment tag at offset 3"},
        {"<a><![x></a>", false, "Incorrect tag at offset 3"},
        {"<a><b", false, "Element tag at offset 3 unterminated"},
        {"<a></a", false, "Element end tag at offset 3 unterminated"},
        {"<a><?pi x", false, "Processing instruction at offset 3 unterminated"},
        {"<a><![CDATA[x", false, "CDATA Section at offset 3 unterminated"},
        {"<a><!DOCTYPE x", false, "Doctype at offset 3 unterminated"},
        {"<a><!ELEMENT x", false, "Doctype at offset 3 unterminated"},
        {"<a><", false, "tag at offset 3 unterminated"},
        {"<a><!", false, "tag at offset 3 unterminated"},
        {"<a><!-", false, "tag at offset 3 unterminated"},
        {"<a><![", false, "tag at offset 3 unterminated"},
        {"<a><!DOCTYPE x [<!D>]></a>", false, "Incorrect ! tag at offset 16"},
        {"<a><!DOCTYPE x [<![x]>]></a>", false, "Incorrect ! tag at offset 16"},
        {"<a></" + big + "></a>", false, "No start tag for end tag '" + big.substr(0, 50) + "' at offset 3"},
        {"<" + big + ">", false, "Element '" + big.substr(0, 50) + "' at offset 0 not ended"},
        // The first problem is kept; later ones do not replace it.
        {"<a>< x></y></a>", false, "Incorrect tag name character at offset 3"},
        // Declaration, comments, a document type and text leave the index alone.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- c -->\r\n"
         "<!DOCTYPE r [ <!ELEMENT r ANY> <!-- > --> <?p > ?> <!ATTLIST r a CDATA \"x>\"> ]>\r\n"
         "<r>text<x/>more<![CDATA[<not/>]]></r>\r\n<!-- tail -->\r\n",
         true, ""},
    };
    for (const auto& c : cases) {
        CXmlDoc d;
        EXPECT_EQ(d.SetText(c.text), c.valid) << c.text;
        EXPECT_EQ(d.IsStructureValid(), c.valid) << c.text;
        EXPECT_EQ(d.ResultText(), c.result) << c.text;
        std::vector<xmlcheck::Element> els;
        EXPECT_EQ(xmlcheck::Collect(d, els), "") << c.text;
        EXPECT_EQ(d.ParentPos() + d.MainPos() + d.ChildPos(), 0);
    }
}

TEST(XmlParse, NewDocumentIsEmpty)
{
    CXmlDoc d;
    EXPECT_EQ(d.ResultText(), "Empty document");
    EXPECT_FALSE(d.IsStructureValid());
    EXPECT_EQ(d.RecordCapacity(), 8);
    EXPECT_EQ(d.FreeRecord(), 1);
    EXPECT_EQ(d.GetText(), "");
}

TEST(XmlParse, TextEndsAtFirstNul)
{
    CXmlDoc d;
    EXPECT_TRUE(d.SetText(std::string("<a/>\0<b/>", 9)));
    EXPECT_EQ(d.GetText(), "<a/>");
}

TEST(XmlParse, RepairsOfUnendedAndStrayTags)
{
    CXmlDoc d;
    d.SetText("<a><b></a>");
    const auto& a = d.Record(1);
    const auto& b = d.Record(2);
    EXPECT_EQ(a.length, 10);
    EXPECT_EQ(a.EndTagLength(), 4);
    EXPECT_EQ(b.parent, 1);
    EXPECT_EQ(b.length, 3);
    EXPECT_EQ(b.EndTagLength(), 0);
    EXPECT_TRUE(b.flags & ELEM_UNENDED);
    EXPECT_TRUE(d.Record(0).flags & DOC_ILL_FORMED);

    d.SetText("<a></b></a>");
    EXPECT_EQ(d.Record(1).length, 11);
    EXPECT_TRUE(d.Record(1).flags & ELEM_HAS_ERROR);

    // Children of an unended element move up behind it.
    d.SetText("<r><u><c/><d></d></r>");
    const int u = d.Record(1).firstChild;
    ASSERT_EQ(TagAt(d, u), "<u>");
    EXPECT_TRUE(d.Record(u).flags & ELEM_UNENDED);
    EXPECT_EQ(d.Record(u).firstChild, 0);
    const int c = d.Record(u).next;
    ASSERT_EQ(TagAt(d, c), "<c/>");
    EXPECT_EQ(d.Record(c).parent, 1);
    EXPECT_FALSE(d.Record(c).flags & ELEM_FIRST);
    const int dd = d.Record(c).next;
    EXPECT_EQ(TagAt(d, dd), "<d>");
    EXPECT_EQ(d.Record(u).prev, dd) << "the first child's previous holds the new last child";
    EXPECT_EQ(d.ResultText(), "End tag 'r' at offset 18 does not match start tag 'u' at offset 3");
    std::vector<xmlcheck::Element> els;
    EXPECT_EQ(xmlcheck::Collect(d, els), "");

    // "<a><b>": b moves up beside a, so the root has a sibling.
    d.SetText("<a><b>");
    EXPECT_EQ(d.Record(1).next, 2);
    EXPECT_EQ(d.Record(2).parent, 0);
}

TEST(XmlParse, DeepUnendedNestingAndStrayEndTags)
{
    // 200 unended elements inside r, stray end tags among them: every one
    // ends up a child of r, in text order, and the first problem is reported.
    std::string text = "<r>";
    for (int i = 0; i < 200; ++i)
        text += "<a" + std::to_string(i) + ">";
    const int stray = static_cast<int>(text.size());
    for (int i = 0; i < 10; ++i)
        text += "</b>";
    text += "<c/></r>";
    CXmlDoc d;
    EXPECT_FALSE(d.SetText(text));
    EXPECT_EQ(d.ResultText(), "No start tag for end tag 'b' at offset " + std::to_string(stray));
    std::vector<xmlcheck::Element> els;
    ASSERT_EQ(xmlcheck::Collect(d, els), "");
    ASSERT_EQ(els.size(), 202u); // r, the 200 and c
    EXPECT_EQ(els[0].parent, -1);
    for (std::size_t k = 1; k < els.size(); ++k) {
        EXPECT_EQ(els[k].parent, 0) << "at " << els[k].start;
        EXPECT_EQ(els[k].first, k == 1);
    }
    EXPECT_EQ(d.Record(1).length, static_cast<int>(text.size()));
    // A name that is open deep down still matches.
    text = "<r>";
    for (int i = 0; i < 100; ++i)
        text += "<a>";
    text += "</r>";
    d.SetText(text);
    EXPECT_EQ(d.ResultText(), "End tag 'r' at offset " + std::to_string(text.size() - 3) + " does not match start tag 'a' at offset 300");
    EXPECT_EQ(d.Record(1).EndTagLength(), 4);
}

TEST(XmlParse, TagsTooLongForTheRecord)
{
    // An end tag of more than 1,023 bytes cannot be recorded: it closes nothing.
    const std::string name(1100, 'n');
    CXmlDoc d;
    EXPECT_FALSE(d.SetText("<" + name + "></" + name + ">"));
    EXPECT_EQ(d.ResultText(), "No start tag for end tag '" + name.substr(0, 50) + "' at offset 1102");
    EXPECT_TRUE(d.Record(1).flags & ELEM_UNENDED);
    // A start tag of more than 4,194,303 bytes is a problem node, not an element.
    const std::string huge = "<r><e v='" + std::string(4200000, 'x') + "'/></r>";
    EXPECT_FALSE(d.SetText(huge));
    EXPECT_EQ(d.ResultText(), "Incorrect tag length at offset 3");
    EXPECT_EQ(d.Record(1).firstChild, 0);
}

TEST(XmlParse, SelfClosingTags)
{
    struct Case {
        const char* text;
        bool empty;
    } cases[] = {
        {"<a/>", true}, {"<a />", true}, {"<a b='1'/>", true}, {"<a b=\"1\"/>", true},
        {"<a b=1/>", false}, {"<a b/>", false}, {"<a/ >", false}, {"<a b='/>'>", false},
    };
    for (const auto& c : cases) {
        CXmlDoc d;
        d.SetText(c.text);
        TokenCursor cur;
        NodeInfo node;
        EXPECT_EQ(d.ScanToken(cur, node), NODE_ELEMENT) << c.text;
        EXPECT_EQ(node.length, static_cast<int>(std::strlen(c.text))) << c.text;
        EXPECT_EQ((node.flags & NODE_EMPTY_ELEMENT) != 0, c.empty) << c.text;
        EXPECT_EQ(node.text, "a");
    }
    CXmlDoc d;
    EXPECT_TRUE(d.SetText("<a/>"));
    EXPECT_EQ(d.Record(1).StartTagLength(), d.Record(1).length);
}

TEST(XmlParse, ScannerNodeKinds)
{
    CXmlDoc d;
    d.SetText(" \r\n<?xml v='1'?>text<!-- c --><![CDATA[x]]><!DOCTYPE r><!ENTITY e 'v'></r><r/>\t");
    const int expected[] = {NODE_WHITESPACE, NODE_PI, NODE_TEXT, NODE_COMMENT, NODE_CDATA, NODE_DOCTYPE,
                            NODE_DOCTYPE, NODE_END_TAG, NODE_ELEMENT, NODE_WHITESPACE, NODE_END};
    TokenCursor c;
    NodeInfo n;
    int at = 0;
    for (int kind : expected) {
        EXPECT_EQ(d.ScanToken(c, n), kind) << "node at " << at;
        EXPECT_EQ(n.start, at);
        at += n.length;
    }
    EXPECT_EQ(at, static_cast<int>(d.GetText().size()));
    // "<?>" does not end at its own '>' wherever it stands.
    for (const char* text : {"<?>x?><r/>", "<r/><?>x?>"}) {
        d.SetText(text);
        TokenCursor cc;
        while (d.ScanToken(cc, n) != NODE_PI) {
        }
        EXPECT_EQ(n.length, 6) << text;
    }
}

TEST(XmlParse, DoubleByteCharactersNeverEndNamesOrValues)
{
    CXmlDoc d;
    // The apostrophe after 0x81 is that character's second byte.
    ASSERT_TRUE(d.SetText("<r a='\x81'b'/>"));
    EXPECT_TRUE(d.FindNextElement());
    EXPECT_EQ(d.GetAttribute("a"), "\x81'b");
    // 0x95 0x5C ends in a backslash, 0x81 0x2F in a slash.
    ASSERT_TRUE(d.SetText("<\x95\x5C><\x81/ x=\"\x81\"\"/></\x95\x5C>"));
    EXPECT_TRUE(d.FindNextElement("\x95\x5C"));
    EXPECT_TRUE(d.FindNextChild("\x81/"));
    EXPECT_EQ(d.GetChildAttribute("x"), "\x81\"");
}

TEST(XmlParse, RecordArrayGrowsBySegments)
{
    CXmlDoc d;
    EXPECT_EQ(d.RecordCapacity(), 8);
    d.GrowRecords(5);
    EXPECT_EQ(d.RecordCapacity(), 8);
    d.GrowRecords(1000000); // capped: one new segment per step, filled
    EXPECT_EQ(d.RecordCapacity(), 131072);
    d.GrowRecords(300000); // capped again
    EXPECT_EQ(d.RecordCapacity(), 196608);
    d.GrowRecords(200000);
    EXPECT_EQ(d.RecordCapacity(), 200000);

    // A document with more elements than one segment holds.
    std::string text = "<r>";
    for (int i = 0; i < 70000; ++i)
        text += "<c/>";
    text += "</r>";
    CXmlDoc big;
    ASSERT_TRUE(big.SetText(text));
    EXPECT_EQ(big.FreeRecord(), 70002);
    EXPECT_TRUE(big.FindNextElement());
    int n = 0;
    while (big.FindNextChild("c"))
        ++n;
    EXPECT_EQ(n, 70000);
    EXPECT_EQ(big.Record(70001).start, 3 + 69999 * 4);
}

// ---------------------------------------------------------------------------
// Navigation and attributes

TEST(XmlNavigate, ElementsChildrenEnterLeave)
{
    CXmlDoc d;
    d.SetText("<a/><b/>");
    EXPECT_TRUE(d.FindNextElement());
    EXPECT_EQ(TagAt(d, d.MainPos()), "<a/>");
    EXPECT_TRUE(d.FindNextElement());
    EXPECT_EQ(TagAt(d, d.MainPos()), "<b/>");
    EXPECT_FALSE(d.FindNextElement());
    EXPECT_EQ(TagAt(d, d.MainPos()), "<b/>") << "a failed move keeps the positions";

    d.SetText("<root><x/><User n='1'/><Users n='x'/><User n='2'/></root>");
    d.RewindMain();
    // FindNextChild at the document level first moves to the root.
    EXPECT_TRUE(d.FindNextChild("User"));
    EXPECT_EQ(d.GetChildAttribute("n"), "1");
    EXPECT_TRUE(d.FindNextChild("User"));
    EXPECT_EQ(d.GetChildAttribute("n"), "2");
    EXPECT_FALSE(d.FindNextChild("User"));
    EXPECT_EQ(d.GetChildAttribute("n"), "2");

    d.RewindMain();
    EXPECT_FALSE(d.FindNextElement("UserInfo"));
    EXPECT_TRUE(d.FindNextElement("root"));
    EXPECT_TRUE(d.FindNextChild("User"));
    const int child = d.ChildPos();
    EXPECT_TRUE(d.EnterElement());
    EXPECT_EQ(d.ParentPos(), 1);
    EXPECT_EQ(d.MainPos(), child);
    EXPECT_EQ(d.ChildPos(), 0);
    EXPECT_EQ(d.GetAttribute("n"), "1");
    EXPECT_TRUE(d.LeaveElement());
    EXPECT_EQ(d.ParentPos(), 0);
    EXPECT_EQ(d.MainPos(), 1);
    EXPECT_EQ(d.ChildPos(), child);
    EXPECT_FALSE(d.LeaveElement());

    // The name rule: a name may go on with ' ', '=', '/', '[' or ']' past the tag name.
    d.SetText("<r><ab/><a/></r>");
    d.FindNextElement();
    EXPECT_TRUE(d.FindNextChild("a"));
    EXPECT_EQ(TagAt(d, d.ChildPos()), "<a/>");
    d.RewindMain();
    d.FindNextElement();
    EXPECT_TRUE(d.FindNextChild("a[1]"));
    EXPECT_EQ(TagAt(d, d.ChildPos()), "<a/>");
}

TEST(XmlNavigate, AttributeValues)
{
    CXmlDoc d;
    d.SetText("<x p='1' q = '2' r=3 s>");
    ASSERT_TRUE(d.FindNextElement());
    struct Case {
        const char* name;
        const char* value;
    } cases[] = {{"p", "1"}, {"q", "2"}, {"r", "3"}, {"s", "s"}, {"t", ""}, {"P", ""}, {"x", ""}, {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(d.GetAttribute(c.name), c.value) << c.name;
    EXPECT_EQ(d.GetChildAttribute("p"), "") << "no child position";

    // Attribute reading stays inside the start tag.
    d.SetText("<r a b='x><c a='2'/></r>");
    ASSERT_TRUE(d.FindNextElement());
    EXPECT_EQ(d.GetAttribute("c"), "");
}

TEST(XmlNavigate, DecodeReferences)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"&lt;&amp;&gt;&apos;&quot;", "<&>'\""},
        {"&#65;&#x41;&#X41;&AMP;", "AAA&"},
        {"&amp", "&amp"},
        {"&unknown;", "&unknown;"},
        {"&#0;", "&#0;"},
        {"&averyverylongname;", "&averyverylongname;"},
        {"&#65601;", "A"},
        {"&#65536;", "&#65536;"},
        {"&#x4E2D;&#20013;", "\xD6\xD0\xD6\xD0"}, // 中
        {"&oslash;&Oslash;", "&oslash;&Oslash;"}, // U+00D8 is not in GBK
        {"&alpha;&ALPHA;", "\xA6\xA1\xA6\xA1"},   // both U+0391
        {"&times;", "\xA1\xC1"},
        {"&#xD800;", "&#xD800;"},
        {"a&\xD6\xD0;", "a&\xD6\xD0;"},
        {"\x95\x5C&amp;", "\x95\x5C&"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CXmlDoc::DecodeText(c.in), c.out) << c.in;
}

// ---------------------------------------------------------------------------
// Changes

TEST(XmlEdit, AddToTagOnlyAndHollowRoots)
{
    for (const char* installed : {"<UserInfo/>", "<UserInfo></UserInfo>"}) {
        CXmlDoc d;
        ASSERT_TRUE(d.SetText(installed));
        d.RewindMain();
        ASSERT_TRUE(d.FindNextElement());
        ASSERT_TRUE(d.EnterElement());
        ASSERT_TRUE(d.AppendElement("User"));
        ASSERT_TRUE(d.SetAttribute("UserID", "8001"));
        ASSERT_TRUE(d.LeaveElement());
        EXPECT_EQ(d.GetText(), "<UserInfo>\r\n<User UserID=\"8001\"/>\r\n</UserInfo>") << installed;
        EXPECT_EQ(Consistency(d), "") << installed;
        EXPECT_TRUE(d.IsStructureValid());
    }
    // An unended element gets its end tag.
    CXmlDoc d;
    d.SetText("<r><u></r>");
    d.FindNextElement();
    d.FindNextChild("u");
    d.EnterElement(); // (r, u, 0)
    d.EnterElement(); // (u, 0, 0)
    ASSERT_TRUE(d.AppendElement("n"));
    EXPECT_EQ(d.GetText(), "<r><u>\r\n<n/>\r\n</u></r>");
    EXPECT_TRUE(d.IsStructureValid() == false) << "flags of the parse stay";
    EXPECT_EQ(xmlcheck::CompareWithFreshParse(d, true), "");
}

TEST(XmlEdit, PlacesNewElements)
{
    struct Case {
        const char* text;
        const char* child; // main position on this child of the root; "" = none (entered root)
        bool before;
        const char* expected;
    } cases[] = {
        {"<r>\r\n<a/>\r\n</r>", "", false, "<r>\r\n<a/>\r\n<n/>\r\n</r>"},
        {"<r>\r\n<a/>\r\n</r>", "", true, "<r>\r\n<n/>\r\n<a/>\r\n</r>"},
        {"<r><a/><b/></r>", "a", false, "<r><a/><n/>\r\n<b/></r>"},
        {"<r><a/><b/></r>", "b", true, "<r><a/><n/>\r\n<b/></r>"},
        {"<r><a/>text</r>", "a", false, "<r><a/><n/>\r\ntext</r>"},
        {"<r>  text</r>", "", true, "<r><n/>\r\n  text</r>"},
        {"<r><a><x/></a></r>", "a", false, "<r><a><x/></a><n/>\r\n</r>"},
    };
    for (const auto& c : cases) {
        CXmlDoc d;
        ASSERT_TRUE(d.SetText(c.text));
        d.FindNextElement();
        if (*c.child) {
            d.EnterElement();
            ASSERT_TRUE(d.FindNextElement(c.child)) << c.text;
        } else {
            d.EnterElement();
        }
        ASSERT_TRUE(c.before ? d.InsertElementBefore("n") : d.AppendElement("n")) << c.text;
        EXPECT_EQ(d.GetText(), c.expected) << c.text;
        EXPECT_EQ(TagAt(d, d.MainPos()), "<n/>");
        EXPECT_EQ(Consistency(d), "") << c.text;
    }
}

TEST(XmlEdit, InsertBeforeKeepsNewestFirst)
{
    CXmlDoc d;
    d.SetText("<r>\r\n<a/>\r\n</r>");
    for (const char* name : {"x", "y", "z"}) {
        d.RewindMain();
        d.FindNextElement();
        d.EnterElement();
        ASSERT_TRUE(d.InsertElementBefore(name));
        ASSERT_TRUE(d.LeaveElement());
    }
    EXPECT_EQ(d.GetText(), "<r>\r\n<z/>\r\n<y/>\r\n<x/>\r\n<a/>\r\n</r>");
    EXPECT_EQ(Consistency(d), "");
}

TEST(XmlEdit, DocumentLevelAdditions)
{
    CXmlDoc d;
    d.SetText("");
    ASSERT_TRUE(d.AppendElement("r"));
    EXPECT_EQ(d.GetText(), "<r/>\r\n");
    EXPECT_TRUE(d.IsStructureValid());
    EXPECT_EQ(Consistency(d), "");
    ASSERT_TRUE(d.AppendElement("s"));
    EXPECT_EQ(d.GetText(), "<r/>\r\n<s/>\r\n");
    EXPECT_FALSE(d.IsStructureValid());
    EXPECT_EQ(Consistency(d), "");

    // A lone lead byte at the end of the text would swallow the new '<'.
    d.SetText("<r/>\x81");
    EXPECT_FALSE(d.AppendElement("n"));
    EXPECT_EQ(d.GetText(), "<r/>\x81");
}

TEST(XmlEdit, RejectsNamesThatDoNotMakeOneEmptyElement)
{
    for (const char* name : {"", "a b", "a>", "a/b", "/a", "1a", "\x81"}) {
        CXmlDoc d;
        d.SetText("<r/>");
        d.FindNextElement();
        d.EnterElement();
        EXPECT_FALSE(d.AppendElement(name)) << name;
        EXPECT_EQ(d.GetText(), "<r/>");
    }
}

TEST(XmlEdit, SetAttribute)
{
    CXmlDoc d;
    d.SetText("<r><e/></r>");
    d.FindNextElement();
    d.FindNextChild();
    d.EnterElement();
    const std::string tricky = "a<b&c\"d'e>f\xD6\xD0";
    ASSERT_TRUE(d.SetAttribute("v", tricky));
    ASSERT_TRUE(d.SetAttribute("n", -5));
    EXPECT_EQ(d.GetText(), "<r><e v=\"a&lt;b&amp;c&quot;d&apos;e&gt;f\xD6\xD0\" n=\"-5\"/></r>");
    EXPECT_EQ(d.GetAttribute("v"), tricky);
    EXPECT_EQ(d.GetAttribute("n"), "-5");
    EXPECT_EQ(Consistency(d), "");

    // Existing values are rewritten double-quoted, whatever their quoting.
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"<r><e a='1' b='x'/><f/></r>", "<r><e a=\"2\" b='x'/><f/></r>"},
        {"<r><e a=1 b='x'/><f/></r>", "<r><e a=\"2\" b='x'/><f/></r>"},
        {"<r><e a = \"1\"></e><f/></r>", "<r><e a = \"2\"></e><f/></r>"},
        {"<r><e b /><f/></r>", "<r><e b a=\"2\" /><f/></r>"},
        {"<r><e a /><f/></r>", "<r><e a=\"2\" /><f/></r>"},
        {"<r><e><g/></e><f/></r>", "<r><e a=\"2\"><g/></e><f/></r>"},
    };
    for (const auto& c : cases) {
        CXmlDoc e;
        ASSERT_TRUE(e.SetText(c.text));
        e.FindNextElement();
        e.FindNextChild("e");
        e.EnterElement();
        ASSERT_TRUE(e.SetAttribute("a", "2")) << c.text;
        EXPECT_EQ(e.GetText(), c.expected) << c.text;
        EXPECT_EQ(e.GetAttribute("a"), "2");
        EXPECT_EQ(Consistency(e), "") << c.text;
    }

    // Without a main position, or with a name that would break the tag: nothing changes.
    CXmlDoc e;
    e.SetText("<r/>");
    EXPECT_FALSE(e.SetAttribute("a", "1"));
    e.FindNextElement();
    EXPECT_FALSE(e.SetAttribute("a>", "1"));
    EXPECT_FALSE(e.SetAttribute("", "1"));
    // A value ending in a lone lead byte would swallow its closing quote.
    EXPECT_FALSE(e.SetAttribute("a", "x\x81"));
    EXPECT_EQ(e.GetText(), "<r/>");
    EXPECT_TRUE(e.SetAttribute("a", "x\x81\x40"));
    EXPECT_EQ(e.GetAttribute("a"), "x\x81\x40");
}

TEST(XmlEdit, RemoveChild)
{
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"<X>\r\n<A/>\r\n</X>", "<X>\r\n</X>"},
        {"<X><A/>text</X>", "<X>text</X>"},
        {"<X><A><B/></A> <C/></X>", "<X><C/></X>"},
        {"<X><B/><A x='1'>t</A>\r\n</X>", "<X><B/></X>"},
    };
    for (const auto& c : cases) {
        CXmlDoc d;
        ASSERT_TRUE(d.SetText(c.text));
        d.FindNextElement();
        ASSERT_TRUE(d.FindNextChild("A"));
        ASSERT_TRUE(d.RemoveChild());
        EXPECT_EQ(d.GetText(), c.expected) << c.text;
        EXPECT_EQ(Consistency(d), "") << c.text;
    }
    // A remove loop visits every child of the name once.
    CXmlDoc d;
    d.SetText("<r>\r\n<A/>\r\n<A/>\r\n<b/>\r\n<A/>\r\n<A/>\r\n</r>");
    d.FindNextElement();
    while (d.FindNextChild("A"))
        ASSERT_TRUE(d.RemoveChild());
    EXPECT_EQ(d.GetText(), "<r>\r\n<b/>\r\n</r>");
    EXPECT_EQ(Consistency(d), "");
    CXmlDoc fresh;
    fresh.SetText("<r><A/></r>");
    fresh.FindNextElement();
    EXPECT_FALSE(fresh.RemoveChild()) << "no child position";
}

TEST(XmlEdit, EscapeText)
{
    EXPECT_EQ(CXmlDoc::EscapeText("<&>'\"", 0), "&lt;&amp;&gt;'\"");
    EXPECT_EQ(CXmlDoc::EscapeText("<&>'\"", ESCAPE_QUOTES), "&lt;&amp;&gt;&apos;&quot;");
    EXPECT_EQ(CXmlDoc::EscapeText("\x81<\x95\x5C", 0), "\x81<\x95\x5C") << "a second byte is never escaped";
}

// ---------------------------------------------------------------------------
// Files

class XmlFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/velkor-xml-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string Path(const char* name) const { return dir + "/" + name; }
    static void Write(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string dir;
};

TEST_F(XmlFile, EncodingsOnReadAndWrite)
{
    struct Case {
        std::string file;  // bytes on disk
        std::string text;  // the document's text (GBK)
    } cases[] = {
        {"<r a=\"中\"/>", "<r a=\"\xD6\xD0\"/>"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"中\"/>", "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"\xD6\xD0\"/>"},
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?><r a=\"\xD6\xD0\"/>", "<?xml version=\"1.0\" encoding=\"GB2312\"?><r a=\"\xD6\xD0\"/>"},
        {"<?xml version=\"1.0\" encoding='UTF8'?><r a=\"\xD6\xD0\"/>", "<?xml version=\"1.0\" encoding='UTF8'?><r a=\"\xD6\xD0\"/>"},
    };
    for (const auto& c : cases) {
        const std::string path = Path("f.xml");
        Write(path, c.file);
        CXmlDoc d;
        ASSERT_TRUE(d.LoadFile(path)) << d.ResultText();
        EXPECT_EQ(d.GetText(), c.text);
        EXPECT_EQ(d.ResultText(), std::to_string(c.file.size()) + " bytes");
        std::remove(path.c_str());
        ASSERT_TRUE(d.SaveFile(path));
        EXPECT_EQ(Read(path), c.file);
        EXPECT_EQ(d.ResultText(), std::to_string(c.file.size()) + " bytes");
    }
}

TEST_F(XmlFile, LoadResults)
{
    const std::string path = Path("f.xml");
    Write(path, "<a/><b/>");
    CXmlDoc d;
    EXPECT_FALSE(d.LoadFile(path));
    EXPECT_EQ(d.ResultText(), "8 bytes, Root element has sibling");
    EXPECT_EQ(d.GetText(), "<a/><b/>");

    Write(path, "<r a=\"\xF0\x9F\x98\x80\"/>");
    EXPECT_TRUE(d.LoadFile(path));
    EXPECT_EQ(d.ResultText(), "13 bytes (chars lost in conversion!)");
    EXPECT_EQ(d.GetText(), "<r a=\"?\"/>");

    // Bytes after a NUL are not text.
    Write(path, std::string("<?xml encoding='GBK'?><r/>\0<x/>", 30));
    EXPECT_TRUE(d.LoadFile(path));
    EXPECT_EQ(d.GetText(), "<?xml encoding='GBK'?><r/>");
    EXPECT_EQ(d.ResultText(), "30 bytes");

    Write(path, "\xEF\xBB\xBF<r/>");
    EXPECT_TRUE(d.LoadFile(path));
    EXPECT_EQ(d.GetText(), "<r/>") << "a byte-order mark is dropped";
    EXPECT_EQ(d.ResultText(), "7 bytes");

    // A missing file keeps the document that was loaded.
    d.SetText("<keep/>");
    d.FindNextElement();
    EXPECT_FALSE(d.LoadFile(Path("missing.xml")));
    EXPECT_EQ(d.ResultText(), "No such file or directory");
    EXPECT_EQ(d.GetText(), "<keep/>");
    EXPECT_EQ(d.MainPos(), 1);
    EXPECT_FALSE(d.LoadFile(dir));
    EXPECT_EQ(d.ResultText(), "Is a directory");
    EXPECT_EQ(d.GetText(), "<keep/>");
}

TEST_F(XmlFile, EmptyDocumentRoundTrip)
{
    const std::string path = Path("e.xml");
    CXmlDoc d;
    EXPECT_TRUE(d.SaveFile(path));
    EXPECT_EQ(d.ResultText(), "0 bytes");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_FALSE(d.LoadFile(path));
    EXPECT_EQ(d.ResultText(), "0 bytes, Empty document");
}

TEST_F(XmlFile, SaveIsAtomicAndOwnerOnly)
{
    const std::string path = Path("s.xml");
    Write(path, "old");
    chmod(path.c_str(), 0644);
    CXmlDoc d;
    d.SetText("<r/>");
    ASSERT_TRUE(d.SaveFile(path));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Read(path), "<r/>");

    // Through a link the file it names is replaced and the link stays.
    const std::string link = Path("link.xml");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    d.SetText("<s/>");
    ASSERT_TRUE(d.SaveFile(link));
    EXPECT_EQ(Read(path), "<s/>");
    struct stat lst {};
    ASSERT_EQ(lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));

    // Failures leave the old file and no temporary file behind.
    EXPECT_FALSE(d.SaveFile(Path("no-such-dir/x.xml")));
    EXPECT_EQ(d.ResultText(), "No such file or directory");
    EXPECT_FALSE(d.SaveFile(dir));
    EXPECT_EQ(d.ResultText(), "Is a directory");

    // A write that fails part way (file size limit) keeps the old content.
    std::string large = "<r>";
    large += std::string(100000, 'x');
    large += "</r>";
    d.SetText(large);
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved_ok = d.SaveFile(path);
    const std::string text = d.ResultText();
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(text, "File too large");
    EXPECT_EQ(Read(path), "<s/>");

    int entries = 0;
    if (DIR* dd = opendir(dir.c_str())) {
        while (auto* e = readdir(dd))
            entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        closedir(dd);
    }
    EXPECT_EQ(entries, 2) << "s.xml and link.xml only";
}

TEST(XmlFileDecl, DeclaredEncoding)
{
    struct Case {
        const char* text;
        const char* encoding;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?><r/>", "GB2312"},
        {"  <?xml encoding='utf-8' ?>", "utf-8"},
        {"<?xml version=\"1.0\"?><r encoding='x'/>", ""},
        {"<r/><?xml encoding='GBK'?>", ""},
        {"<?xml encoding='GBK'", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CXmlDoc::DeclaredEncoding(c.text), c.encoding) << c.text;
}
