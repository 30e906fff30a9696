#pragma once
// The one reader of HTML markup: tags and their attributes, comments,
// raw-text elements and character references. A tolerant scanner rather
// than a document tree: a stray "<" or an unclosed quote costs at most the
// tag it stands in, never the rest of the page.

#include "text/charset.h"

#include <string>
#include <string_view>
#include <vector>

namespace tbx::text {

struct TagAttribute {
    std::string_view name;
    std::string_view value; // as written, without its quotes
};

struct MarkupTag {
    std::string_view name; // as written: "A", "ul"
    std::vector<TagAttribute> attributes;
    bool closing = false; // "</name>", which has no attributes
    // The page ended before the tag's ">": readers of text may take the
    // rest of the page, from the "<" at name.data()[-1], as text instead.
    bool unterminated = false;

    bool Is(std::string_view lowerName) const;
    // The attribute of that name in any letter case, or nullptr.
    const TagAttribute* Find(std::string_view lowerName) const;
};

// What a reader of a page is told, in document order.
class MarkupVisitor {
public:
    virtual void OnTag(const MarkupTag& tag) = 0;
    // Text between tags, as written: references are not decoded.
    virtual void OnText(std::string_view /*text*/) {}
    // The content of <script>, <style> or <title>, after its start tag;
    // closed says whether its end tag was found. Without one, the rest of
    // the page is read as markup all the same, so nothing after it is lost.
    virtual void OnRawText(const MarkupTag& /*tag*/, std::string_view /*text*/, bool /*closed*/) {}
    // True once the reader has what it wants: the scan stops.
    virtual bool Done() const { return false; }

protected:
    ~MarkupVisitor() = default;
};

// Reads a page tag by tag, in linear time however broken its markup.
// Comments, <!...> and <?...> are skipped.
void ScanMarkup(std::string_view page, MarkupVisitor& visitor);

// The text after "key=" in a <meta> content such as "text/html; charset=x"
// or "0; url=page.htm", up to the end; key is in lower case.
std::string_view MetaContentPart(std::string_view content, std::string_view lowerKey);

// What a <meta> tag declares of the page's charset, into the first empty
// field of declared.
void ReadCharsetDeclaration(const MarkupTag& tag, CharsetDeclarations& declared);

// Where character references stand: in an attribute, a reference written
// without its ";" and followed by a letter, digit or "=" stays as written
// ("?a=1&copy=2" is an address, not a copyright sign).
enum class ReferenceContext { Text, Attribute };

// Numeric and named references (every name HTML has) in UTF-8 text; an
// unknown reference stays as written.
std::string DecodeCharacterReferences(std::string_view text,
                                      ReferenceContext context = ReferenceContext::Text);

// The character a named reference stands for, as one or two code points
// (second 0 for one), and how many bytes of name it took: the longest name
// that matches. name starts after the "&"; nothing matched: length 0.
struct NamedReference {
    char32_t first = 0, second = 0;
    std::size_t length = 0; // with the ";" when it was there
};
NamedReference MatchNamedReference(std::string_view name, ReferenceContext context);

// Page text as one line of UTF-8: decoded from its charset, references
// decoded, runs of white space (and no-break spaces) made one space, none
// at either end.
std::string PlainText(std::string_view bytes, Charset charset);

} // namespace tbx::text
