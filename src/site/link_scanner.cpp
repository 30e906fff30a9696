#include "site/link_scanner.h"

#include "text/ascii.h"
#include "text/charset.h"

#include <algorithm>
#include <cstring>

namespace tbx::site {
namespace {

using namespace text;

void ReadMeta(const MarkupTag& tag, HtmlScan& scan) {
    const TagAttribute* equiv = tag.Find("http-equiv");
    const TagAttribute* content = tag.Find("content");
    ReadCharsetDeclaration(tag, scan.charset);
    if (equiv && content && EqualsAsciiNoCase(TrimHtmlSpace(equiv->value), "refresh")) {
        std::string_view url = MetaContentPart(content->value, "url");
        if (url.size() >= 2 && (url.front() == '\'' || url.front() == '"') &&
            url.back() == url.front())
            url = url.substr(1, url.size() - 2);
        if (!url.empty())
            scan.links.push_back({url, LinkContext::Attribute});
    }
}

void CollectLinks(const MarkupTag& tag, HtmlScan& scan) {
    const bool isBase = tag.Is("base");
    const bool isObject = tag.Is("object");
    for (const TagAttribute& a : tag.attributes) {
        const std::string_view name = a.name;
        if ((EqualsAsciiNoCase(name, "href") && !isBase) || EqualsAsciiNoCase(name, "src") ||
            EqualsAsciiNoCase(name, "background") || EqualsAsciiNoCase(name, "lowsrc") ||
            EqualsAsciiNoCase(name, "dynsrc") || EqualsAsciiNoCase(name, "poster") ||
            (isObject && EqualsAsciiNoCase(name, "data")))
            scan.links.push_back({a.value, LinkContext::Attribute});
        else if (EqualsAsciiNoCase(name, "style"))
            ScanCss(a.value, LinkContext::StyleAttribute, scan.links);
    }
    if (tag.Is("meta")) {
        ReadMeta(tag, scan);
    } else if (tag.Is("param")) {
        // Contents and index files list their pages this way.
        const TagAttribute* name = tag.Find("name");
        const TagAttribute* value = tag.Find("value");
        if (name && value && EqualsAsciiNoCase(TrimHtmlSpace(name->value), "local"))
            scan.links.push_back({value->value, LinkContext::Attribute});
    }
}

// ---- CSS --------------------------------------------------------------------------

bool IsIdentifierChar(char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The quoted string starting at css[at]; returns the position after it. An
// unclosed string ends at its line's end, as CSS has it.
std::size_t ReadCssString(std::string_view css, std::size_t at, std::string_view& text) {
    const char quote = css[at];
    std::size_t i = at + 1;
    while (i < css.size() && css[i] != quote && css[i] != '\n') {
        if (css[i] == '\\')
            ++i;
        ++i;
    }
    i = std::min(i, css.size());
    text = css.substr(at + 1, i - at - 1);
    return i < css.size() && css[i] == quote ? i + 1 : i;
}

} // namespace

void ScanCss(std::string_view css, LinkContext context, std::vector<FoundLink>& links) {
    const std::size_t n = css.size();
    NextMatch commentEnd(css, "*/"), urlEnd(css, ")");
    std::size_t i = 0;
    while (i < n) {
        const char c = css[i];
        if (c == '/' && i + 1 < n && css[i + 1] == '*') {
            const std::size_t end = commentEnd.From(i + 2);
            i = end == std::string_view::npos ? i + 2 : end + 2; // unclosed: no comment
        } else if (c == '"' || c == '\'') {
            std::string_view ignored;
            i = ReadCssString(css, i, ignored);
        } else if ((c == 'u' || c == 'U') && HasAsciiNoCaseAt(css, i, "url(") &&
                   (i == 0 || !IsIdentifierChar(css[i - 1]))) {
            i += 4;
            while (i < n && IsHtmlSpace(css[i]))
                ++i;
            std::string_view url;
            if (i < n && (css[i] == '"' || css[i] == '\'')) {
                i = ReadCssString(css, i, url);
            } else {
                const std::size_t close = urlEnd.From(i);
                const std::size_t end = close == std::string_view::npos ? n : close;
                url = TrimHtmlSpace(css.substr(i, end - i));
                i = end;
            }
            if (!url.empty())
                links.push_back({url, context});
        } else if (c == '@' && HasAsciiNoCaseAt(css, i, "@import")) {
            i += 7;
            while (i < n && IsHtmlSpace(css[i]))
                ++i;
            if (i < n && (css[i] == '"' || css[i] == '\'')) {
                std::string_view url;
                i = ReadCssString(css, i, url);
                if (!url.empty())
                    links.push_back({url, context});
            }
            // "@import url(...)" is found as any other url().
        } else {
            ++i;
        }
    }
}

namespace {

class LinkCollector final : public MarkupVisitor {
public:
    void OnTag(const MarkupTag& tag) override {
        if (!tag.closing)
            CollectLinks(tag, scan);
    }

    void OnRawText(const MarkupTag& tag, std::string_view text, bool closed) override {
        if (tag.Is("title")) {
            if (closed && !scan.title)
                scan.title = text;
            return;
        }
        // A style block without its end tag runs to the end of the page;
        // that tail is read as a style sheet once, however many unclosed
        // blocks it holds.
        if (!tag.Is("style") || (!closed && tailScanned_))
            return;
        tailScanned_ = tailScanned_ || !closed;
        ScanCss(text, LinkContext::StyleSheet, scan.links);
    }

    HtmlScan scan;

private:
    bool tailScanned_ = false;
};

} // namespace

HtmlScan ScanHtml(std::string_view page) {
    LinkCollector collector;
    ScanMarkup(page, collector);
    return std::move(collector.scan);
}

namespace {

// Each run of percent-escapes becomes bytes, read as UTF-8 when they form
// valid UTF-8 and in the legacy charset otherwise. A "%" that starts no
// escape stays.
std::string DecodePercents(std::string_view text, Charset legacy) {
    std::string out, run;
    auto flush = [&] {
        out += IsValidUtf8(run) ? run : Decode(run, legacy);
        run.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            run += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
            continue;
        }
        flush();
        out += text[i];
    }
    flush();
    return out;
}

// The address part of a link's text: references decoded (not in a style
// sheet), white space and quotes trimmed, "\" taken as "/".
std::string Address(std::string_view text, LinkContext context) {
    std::string address = context == LinkContext::StyleSheet
                              ? std::string(text)
                              : DecodeCharacterReferences(text, ReferenceContext::Attribute);
    // Tabs and line breaks inside an address are dropped, as browsers do.
    std::erase_if(address, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
    std::string_view view = TrimHtmlSpace(address);
    if (context == LinkContext::StyleAttribute && view.size() >= 2 &&
        (view.front() == '"' || view.front() == '\'') && view.back() == view.front())
        view = TrimHtmlSpace(view.substr(1, view.size() - 2)); // url(&quot;...&quot;)
    std::string trimmed(view);
    std::replace(trimmed.begin(), trimmed.end(), '\\', '/');
    return trimmed;
}

// The address without its fragment and query.
std::string PathPart(std::string address) {
    if (const std::size_t cut = address.find_first_of("#?"); cut != std::string::npos)
        address.resize(cut);
    return address;
}

} // namespace

LinkTarget DecodeLink(const FoundLink& link, Charset charset, Charset legacy) {
    LinkTarget target;
    target.shown = Decode(link.text, charset);
    std::string address = Address(target.shown, link.context);

    // A scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
    const std::size_t colon = address.find(':');
    if (colon != std::string::npos && colon < address.find_first_of("/?#") &&
        IsAsciiLetter(address[0]) &&
        std::all_of(address.begin(), address.begin() + static_cast<long>(colon), [](char c) {
            return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '+' || c == '-' || c == '.';
        })) {
        target.kind = colon == 1 ? LinkTarget::Kind::DrivePath : LinkTarget::Kind::External;
        return target;
    }
    if (address.starts_with("//")) { // another host
        target.kind = LinkTarget::Kind::External;
        return target;
    }
    if (const std::size_t hash = address.find('#'); hash != std::string::npos)
        target.fragment = address.substr(hash + 1);
    address = PathPart(std::move(address));
    if (address.empty())
        return target; // only a fragment or a query: this page
    target.kind = LinkTarget::Kind::Path;
    const Charset escapes = charset.IsUtf8() ? legacy : charset;
    target.path = DecodePercents(address, escapes);
    std::replace(target.path.begin(), target.path.end(), '\\', '/');
    if (target.path != address)
        target.literal = address;
    // The link's bytes as they stand, when the charset read them otherwise
    // and they are a name in UTF-8 all the same.
    if (target.shown != link.text && IsValidUtf8(link.text)) {
        std::string raw = DecodePercents(PathPart(Address(link.text, link.context)), escapes);
        std::replace(raw.begin(), raw.end(), '\\', '/');
        if (raw != target.path)
            target.raw = std::move(raw);
    }
    return target;
}

} // namespace tbx::site
