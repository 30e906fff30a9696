#pragma once
// The links of one HTML page or style sheet, found by the markup reader of
// text/markup.h: a stray "<" or an unclosed quote costs at most the tag it
// stands in, never the rest of the page.

#include "text/markup.h"

#include <optional>
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
    text::CharsetDeclarations charset; // what the page's <meta> tags declare
    // The bytes of the first <title> element, when its end tag was found.
    std::optional<std::string_view> title;
};

// The markup reader the scanners share, under the names the site code uses.
using text::DecodeCharacterReferences;
using text::MarkupTag;
using text::MarkupVisitor;
using text::PlainText;
using text::ScanMarkup;
using text::TagAttribute;
using Charset = text::Charset;

// Links of href, src, background (and the old lowsrc, dynsrc), poster,
// <object data>, <param name="Local">, <meta http-equiv="refresh">, style
// attributes and <style> blocks. Comments and scripts are skipped.
HtmlScan ScanHtml(std::string_view page);

// url(...) and @import of a style sheet, appended to links.
void ScanCss(std::string_view css, LinkContext context, std::vector<FoundLink>& links);

struct LinkTarget {
    enum class Kind {
        Path,      // a file of the site
        External,  // has a scheme (http:, mailto:, ms-its: ...) or names a host
        SamePage,  // empty, or only a fragment or query
        DrivePath, // a Windows drive path such as C:\help\page.htm
    };
    Kind kind = Kind::SamePage;
    std::string path;     // Path: UTF-8 with "/"; a leading "/" counts from the site root
    std::string literal;  // Path: the same with percent signs kept, when that differs
    std::string raw;      // Path: the same in the link's own bytes, when that differs
    std::string fragment; // Path: what follows "#", when there is one
    std::string shown;    // the link as written, in UTF-8, for messages
};

// Decodes a link for the file system: references, then query and fragment
// dropped, "\" taken as "/", percent-escapes read as UTF-8 when they form
// valid UTF-8, else in the page's charset. raw is the same with the link's
// bytes kept as they stand (references still decoded), when that differs:
// a name on disk may be in other bytes than the page's charset says.
// Percent-escapes that are not UTF-8 are read in the page's charset, or in
// legacy (the project's code page) on a UTF-8 page.
LinkTarget DecodeLink(const FoundLink& link, Charset charset,
                      Charset legacy = Charset::ForCodePage(kProgramCodePage));

} // namespace tbx::site
