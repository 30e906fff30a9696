#pragma once
// The links of one HTML page or style sheet, found by a tolerant scanner
// rather than a document tree: a stray "<" or an unclosed quote costs at
// most the tag it stands in, never the rest of the page.

#include <string>
#include <string_view>
#include <vector>

namespace tbx::site {

enum class LinkContext {
    Attribute,      // an HTML attribute: character references apply
    StyleAttribute, // url() in a style attribute: references apply, then CSS quoting
    StyleSheet,     // a style sheet or a <style> block: taken as written
};

struct FoundLink {
    std::string_view text; // as written: a view into the scanned bytes
    LinkContext context;
};

struct HtmlScan {
    std::vector<FoundLink> links;
    std::string_view charset; // named by the first <meta> that names one
};

// ---- Markup -------------------------------------------------------------------

struct TagAttribute {
    std::string_view name;
    std::string_view value; // as written, without its quotes
};

struct MarkupTag {
    std::string_view name; // as written: "A", "ul"
    std::vector<TagAttribute> attributes;
    bool closing = false; // "</name>", which has no attributes

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
    // The content of <script> or <style>, after its start tag; closed says
    // whether its end tag was found. Without one, the rest of the page is
    // read as markup all the same, so nothing after it is lost.
    virtual void OnRawText(const MarkupTag& /*tag*/, std::string_view /*text*/, bool /*closed*/) {}

protected:
    ~MarkupVisitor() = default;
};

// Reads a page tag by tag. Comments, <!...> and <?...> are skipped.
void ScanMarkup(std::string_view page, MarkupVisitor& visitor);

// Links of href, src, background (and the old lowsrc, dynsrc), poster,
// <object data>, <param name="Local">, <meta http-equiv="refresh">, style
// attributes and <style> blocks. Comments and scripts are skipped.
HtmlScan ScanHtml(std::string_view page);

// url(...) and @import of a style sheet, appended to links.
void ScanCss(std::string_view css, LinkContext context, std::vector<FoundLink>& links);

// How the bytes of a page are read.
enum class Charset {
    Guess,  // nothing declared: UTF-8 when valid, else Windows-1251
    Utf8,   // bytes that are not valid UTF-8 fall back to Windows-1251
    Cp1251, // Windows-1251
    Latin1, // ISO 8859-1 and its relatives
};
Charset CharsetNamed(std::string_view name);

// Page bytes as UTF-8.
std::string DecodePageText(std::string_view bytes, Charset charset);

// Page text as one line of UTF-8: references decoded, runs of white space
// (and no-break spaces) made one space, none at either end.
std::string PlainText(std::string_view bytes, Charset charset);

// &amp;, &#N;, &#xN; and the common named references in UTF-8 text; an
// unknown reference stays as written.
std::string DecodeCharacterReferences(std::string_view text);

struct LinkTarget {
    enum class Kind {
        Path,      // a file of the site
        External,  // has a scheme (http:, mailto:, ms-its: ...) or names a host
        SamePage,  // empty, or only a fragment or query
        DrivePath, // a Windows drive path such as C:\help\page.htm
    };
    Kind kind = Kind::SamePage;
    std::string path;    // Path: UTF-8 with "/"; a leading "/" counts from the site root
    std::string literal; // Path: the same with percent signs kept, when that differs
    std::string fragment; // Path: what follows "#", when there is one
    std::string shown;   // the link as written, in UTF-8, for messages
};

// Decodes a link for the file system: references, then query and fragment
// dropped, "\" taken as "/", percent-escapes read as UTF-8 when they form
// valid UTF-8, else in the page's charset.
LinkTarget DecodeLink(const FoundLink& link, Charset charset);

} // namespace tbx::site
