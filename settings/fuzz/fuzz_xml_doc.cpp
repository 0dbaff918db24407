// libFuzzer target of CXmlDoc: parse, navigation, attribute reads, edits,
// escaping and save/load round trips.
//
// Checked on every input, besides the sanitizers:
// - every record's offsets lie inside the text and the links form a tree;
// - an edit changes the text only inside the spot it names (the main element's
//   start tag, the removed child, the parent that gets a new element);
// - after each edit of a document whose parse needed no repair, the records
//   equal those of a fresh parse of the new text;
// - escaping then decoding gives the text back, and an attribute that was set
//   reads back as set;
// - saving and loading gives the text back when the conversion loses nothing.
#include "platform/gbk.h"
#include "settings/xml_check.h"
#include "settings/xml_doc.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <strings.h>
#include <string>
#include <unistd.h>

using namespace velkor;

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& text)
{
    std::fprintf(stderr, "invariant broken: %s\ntext (%zu bytes): ", what.c_str(), text.size());
    for (unsigned char c : text)
        std::fprintf(stderr, (c >= 0x20 && c < 0x7F) ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

void CheckIndex(const CXmlDoc& d)
{
    std::vector<xmlcheck::Element> els;
    if (auto e = xmlcheck::Collect(d, els); !e.empty())
        Fail(e, d.GetText());
    // The well-formedness answer follows from the records.
    const ElementRecord& doc = d.Record(0);
    const bool valid = !(doc.flags & DOC_ILL_FORMED) && doc.firstChild && !d.Record(doc.firstChild).next;
    if (valid != d.IsStructureValid())
        Fail("IsStructureValid disagrees with the records", d.GetText());
}

std::string Name(FuzzedDataProvider& in)
{
    static const char* const kNames[] = {"", "r", "a", "User", "UserInfo", "Call", "audio", "Dirver", "x y", "a=b", "a/"};
    if (in.ConsumeBool())
        return kNames[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)];
    return in.ConsumeRandomLengthString(12);
}

bool SimpleName(const std::string& n)
{
    if (n.empty())
        return false;
    for (char c : n)
        if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z'))
            return false;
    return true;
}

// Bytes before `from` and from `to` on (of the old text) must be unchanged.
void CheckSpot(const std::string& before, const std::string& after, int from, int to, const char* what)
{
    const long long delta = static_cast<long long>(after.size()) - static_cast<long long>(before.size());
    const bool ok = from >= 0 && from <= to && static_cast<std::size_t>(to) <= before.size() &&
        static_cast<long long>(to) + delta >= from &&
        before.compare(0, static_cast<std::size_t>(from), after, 0, static_cast<std::size_t>(from)) == 0 &&
        before.compare(static_cast<std::size_t>(to), std::string::npos, after, static_cast<std::size_t>(to + delta), std::string::npos) == 0;
    if (!ok)
        Fail(std::string(what) + " changed text outside its spot", after);
}

std::string TempPath()
{
    static const std::string path = "/dev/shm/velkor-fuzz-" + std::to_string(getpid()) + ".xml";
    return path;
}

void RoundTrip(const CXmlDoc& d)
{
    CXmlDoc& writer = const_cast<CXmlDoc&>(d);
    const std::string text = d.GetText();
    if (!writer.SaveFile(TempPath()))
        Fail("save failed: " + d.ResultText(), text);
    CXmlDoc reader;
    reader.LoadFile(TempPath());
    const std::string encoding = CXmlDoc::DeclaredEncoding(text);
    const bool utf8 = encoding.empty() || (encoding.size() >= 5 && strncasecmp(encoding.c_str(), "UTF-8", 5) == 0);
    if (!utf8 || !gbk::toUtf8(text).lost) {
        // The declaration is searched in the file's bytes; compare only when
        // both searches name the same encoding.
        FILE* f = std::fopen(TempPath().c_str(), "rb");
        std::string bytes;
        char buf[4096];
        std::size_t n;
        while (f && (n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, n);
        if (f)
            std::fclose(f);
        if (CXmlDoc::DeclaredEncoding(bytes) == encoding && reader.GetText() != text)
            Fail("save and load changed the text", text);
    }
    CheckIndex(reader);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    const std::string text = in.ConsumeRandomLengthString(4096);

    CXmlDoc d;
    if (mode & 1) {
        // Through a file: covers the code-page conversion and declarations.
        FILE* f = std::fopen(TempPath().c_str(), "wb");
        if (!f)
            return 0;
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        d.LoadFile(TempPath());
    } else {
        d.SetText(text);
    }
    CheckIndex(d);

    // Escaping then decoding gives the text back.
    {
        const std::string sample = text.substr(0, text.find('\0'));
        if (CXmlDoc::DecodeText(CXmlDoc::EscapeText(sample, ESCAPE_QUOTES)) != sample)
            Fail("escape/decode round trip", sample);
        CXmlDoc::DecodeText(sample);
    }

    int ops = 0;
    while (in.remaining_bytes() > 0 && ++ops <= 48) {
        const int op = in.ConsumeIntegralInRange<int>(0, 11);
        const std::string before = d.GetText();
        const bool repaired = d.Record(0).flags & DOC_ILL_FORMED;
        switch (op) {
        case 0: d.RewindMain(); break;
        case 1: d.FindNextElement(Name(in)); break;
        case 2: d.FindNextChild(Name(in)); break;
        case 3: d.EnterElement(); break;
        case 4: d.LeaveElement(); break;
        case 5: d.GetAttribute(Name(in)); d.GetChildAttribute(Name(in)); break;
        case 6:
        case 7: {
            std::string name = Name(in);
            name = name.substr(0, name.find('\0'));
            const int parent = d.ParentPos();
            const int from = parent ? d.Record(parent).start : 0;
            const int to = parent ? d.Record(parent).End() : static_cast<int>(before.size());
            const bool ok = op == 6 ? d.AppendElement(name) : d.InsertElementBefore(name);
            if (!ok && d.GetText() != before)
                Fail("a refused addition changed the text", d.GetText());
            if (ok) {
                CheckSpot(before, d.GetText(), from, to, "AppendElement");
                const auto& r = d.Record(d.MainPos());
                if (d.GetText().compare(static_cast<std::size_t>(r.start), static_cast<std::size_t>(r.length), "<" + name + "/>") != 0)
                    Fail("new element's record does not cover its markup", d.GetText());
            }
            break;
        }
        case 8:
        case 9: {
            const std::string name = Name(in);
            const std::string value = op == 8 ? in.ConsumeRandomLengthString(16) : std::to_string(in.ConsumeIntegral<int>());
            const int main = d.MainPos();
            const bool ok = op == 8 ? d.SetAttribute(name, value) : d.SetAttribute(name, std::stoi(value));
            if (!ok && d.GetText() != before)
                Fail("a refused SetAttribute changed the text", d.GetText());
            if (ok) {
                const auto& r = d.Record(main);
                CheckSpot(before, d.GetText(), r.start, r.start + r.StartTagLength() - (static_cast<int>(d.GetText().size()) - static_cast<int>(before.size())), "SetAttribute");
                if (SimpleName(name) && d.GetAttribute(name) != value.substr(0, value.find('\0')))
                    Fail("attribute '" + name + "' does not read back as set", d.GetText());
            }
            break;
        }
        case 10: {
            const int child = d.ChildPos();
            int from = 0, to = 0;
            if (child) {
                from = d.Record(child).start;
                to = d.Record(child).End();
                while (to < static_cast<int>(before.size()) && (before[static_cast<std::size_t>(to)] == ' ' || before[static_cast<std::size_t>(to)] == '\t' ||
                                                               before[static_cast<std::size_t>(to)] == '\r' || before[static_cast<std::size_t>(to)] == '\n'))
                    ++to;
            }
            const bool ok = d.RemoveChild();
            if (ok != (child != 0))
                Fail("RemoveChild result", d.GetText());
            if (ok)
                CheckSpot(before, d.GetText(), from, to, "RemoveChild");
            break;
        }
        case 11:
            if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
                RoundTrip(d);
            break;
        }
        if (op >= 6 && op <= 10) {
            CheckIndex(d);
            if (!repaired)
                if (auto e = xmlcheck::CompareWithFreshParse(d, true); !e.empty())
                    Fail(e, d.GetText());
        }
    }
    return 0;
}
