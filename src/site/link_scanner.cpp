#include "site/link_scanner.h"

#include "res/cp1251.h"

#include <algorithm>
#include <cstring>

namespace tbx::site {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// lower is in lower case; only ASCII letters of text fold.
bool SameIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Lower(text[i]) != lower[i])
            return false;
    }
    return true;
}

bool HasAt(std::string_view text, std::size_t at, std::string_view lower) {
    return at <= text.size() && SameIgnoringCase(text.substr(at, lower.size()), lower);
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view lower, std::size_t from) {
    while (from < text.size()) {
        const void* hit = std::memchr(text.data() + from, lower[0], text.size() - from);
        // Needles start with a character that has no case.
        if (!hit)
            return std::string_view::npos;
        from = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (HasAt(text, from, lower))
            return from;
        ++from;
    }
    return std::string_view::npos;
}

// The next place of a needle at or after a position, remembered. Scanning
// only moves forward, so a needle that is missing or far ahead is looked
// for once, not once per tag: a page full of unclosed quotes or comments
// still costs linear time.
class NextMatch {
public:
    NextMatch(std::string_view text, std::string_view lowerNeedle)
        : text_(text), needle_(lowerNeedle) {}

    std::size_t From(std::size_t pos) {
        if (!searched_ || pos < from_ || (at_ != std::string_view::npos && pos > at_)) {
            at_ = FindIgnoringCase(text_, needle_, pos);
            from_ = pos;
            searched_ = true;
        }
        return at_;
    }

private:
    std::string_view text_, needle_;
    bool searched_ = false;
    std::size_t from_ = 0, at_ = std::string_view::npos;
};

std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// ---- Tags -----------------------------------------------------------------------

// Reads the tag whose "<" is at pos; returns where scanning goes on. A "<"
// outside a quoted value ends the tag there, and a quoted value that runs
// over a ">" into another tag ends at that ">": the markup is broken, and
// the next tag is worth more than this one's remaining attributes.
struct HtmlFinders {
    explicit HtmlFinders(std::string_view page)
        : doubleQuote(page, "\""), singleQuote(page, "'"), commentEnd(page, "-->"),
          scriptEnd(page, "</script"), styleEnd(page, "</style") {}
    NextMatch doubleQuote, singleQuote, commentEnd, scriptEnd, styleEnd;
};

std::size_t ReadTag(std::string_view page, std::size_t pos, MarkupTag& tag, HtmlFinders& find) {
    const std::size_t n = page.size();
    std::size_t i = pos + 1;
    while (i < n && (IsAsciiLetter(page[i]) || IsAsciiDigit(page[i]) || page[i] == ':' ||
                     page[i] == '-' || page[i] == '_'))
        ++i;
    tag.name = page.substr(pos + 1, i - pos - 1);
    tag.attributes.clear();
    tag.closing = false;
    for (;;) {
        while (i < n && (IsSpace(page[i]) || page[i] == '/'))
            ++i;
        if (i >= n)
            return n;
        if (page[i] == '>')
            return i + 1;
        if (page[i] == '<')
            return i;
        const std::size_t nameStart = i;
        while (i < n && !IsSpace(page[i]) && page[i] != '/' && page[i] != '>' && page[i] != '=' &&
               page[i] != '<')
            ++i;
        if (i == nameStart) { // a "=" with no name before it
            ++i;
            continue;
        }
        TagAttribute attribute{page.substr(nameStart, i - nameStart), {}};
        std::size_t j = i;
        while (j < n && IsSpace(page[j]))
            ++j;
        if (j < n && page[j] == '=') {
            i = j + 1;
            while (i < n && IsSpace(page[i]))
                ++i;
            if (i < n && (page[i] == '"' || page[i] == '\'')) {
                const std::size_t start = i + 1;
                const std::size_t close =
                    (page[i] == '"' ? find.doubleQuote : find.singleQuote).From(start);
                const std::string_view quoted =
                    page.substr(start, close == std::string_view::npos ? n - start : close - start);
                const std::size_t gt = quoted.find('>');
                if (close == std::string_view::npos ||
                    (gt != std::string_view::npos &&
                     quoted.find('<', gt) != std::string_view::npos)) {
                    const std::size_t end = gt == std::string_view::npos ? quoted.size() : gt;
                    attribute.value = quoted.substr(0, end);
                    i = start + end;
                } else {
                    attribute.value = quoted;
                    i = close + 1;
                }
            } else {
                const std::size_t start = i;
                while (i < n && !IsSpace(page[i]) && page[i] != '>' && page[i] != '<')
                    ++i;
                attribute.value = page.substr(start, i - start);
            }
        }
        tag.attributes.push_back(attribute);
    }
}

// The text after "key=" in a <meta> content such as "text/html; charset=x"
// or "0; url=page.htm", up to the end (or to a ";" for a charset).
std::string_view ContentPart(std::string_view content, std::string_view lowerKey) {
    for (std::size_t at = 0; at + lowerKey.size() <= content.size(); ++at) {
        if (HasAt(content, at, lowerKey)) {
            std::string_view rest = content.substr(at + lowerKey.size());
            while (!rest.empty() && IsSpace(rest.front()))
                rest.remove_prefix(1);
            if (!rest.starts_with('='))
                continue;
            return TrimSpace(rest.substr(1));
        }
    }
    return {};
}

void ReadMeta(const MarkupTag& tag, HtmlScan& scan) {
    const TagAttribute* equiv = tag.Find("http-equiv");
    const TagAttribute* content = tag.Find("content");
    if (scan.charset.empty()) {
        if (const TagAttribute* charset = tag.Find("charset")) {
            scan.charset = TrimSpace(charset->value);
        } else if (equiv && content && SameIgnoringCase(equiv->value, "content-type")) {
            const std::string_view name = ContentPart(content->value, "charset");
            scan.charset = name.substr(0, name.find_first_of("; \t\"'"));
        }
    }
    if (equiv && content && SameIgnoringCase(TrimSpace(equiv->value), "refresh")) {
        std::string_view url = ContentPart(content->value, "url");
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
        if ((SameIgnoringCase(name, "href") && !isBase) || SameIgnoringCase(name, "src") ||
            SameIgnoringCase(name, "background") || SameIgnoringCase(name, "lowsrc") ||
            SameIgnoringCase(name, "dynsrc") || SameIgnoringCase(name, "poster") ||
            (isObject && SameIgnoringCase(name, "data")))
            scan.links.push_back({a.value, LinkContext::Attribute});
        else if (SameIgnoringCase(name, "style"))
            ScanCss(a.value, LinkContext::StyleAttribute, scan.links);
    }
    if (tag.Is("meta")) {
        ReadMeta(tag, scan);
    } else if (tag.Is("param")) {
        // Contents and index files list their pages this way.
        const TagAttribute* name = tag.Find("name");
        const TagAttribute* value = tag.Find("value");
        if (name && value && SameIgnoringCase(TrimSpace(name->value), "local"))
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
        } else if ((c == 'u' || c == 'U') && HasAt(css, i, "url(") &&
                   (i == 0 || !IsIdentifierChar(css[i - 1]))) {
            i += 4;
            while (i < n && IsSpace(css[i]))
                ++i;
            std::string_view url;
            if (i < n && (css[i] == '"' || css[i] == '\'')) {
                i = ReadCssString(css, i, url);
            } else {
                const std::size_t close = urlEnd.From(i);
                const std::size_t end = close == std::string_view::npos ? n : close;
                url = TrimSpace(css.substr(i, end - i));
                i = end;
            }
            if (!url.empty())
                links.push_back({url, context});
        } else if (c == '@' && HasAt(css, i, "@import")) {
            i += 7;
            while (i < n && IsSpace(css[i]))
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

bool MarkupTag::Is(std::string_view lowerName) const {
    return SameIgnoringCase(name, lowerName);
}

const TagAttribute* MarkupTag::Find(std::string_view lowerName) const {
    for (const TagAttribute& attribute : attributes) {
        if (SameIgnoringCase(attribute.name, lowerName))
            return &attribute;
    }
    return nullptr;
}

void ScanMarkup(std::string_view page, MarkupVisitor& visitor) {
    MarkupTag tag;
    HtmlFinders find(page);
    std::size_t pos = 0;
    std::size_t textFrom = 0; // where the text not yet reported begins
    const auto textUpTo = [&](std::size_t end) {
        if (end > textFrom)
            visitor.OnText(page.substr(textFrom, end - textFrom));
    };
    while ((pos = page.find('<', pos)) != std::string_view::npos) {
        if (HasAt(page, pos, "<!--")) {
            textUpTo(pos);
            const std::size_t end = find.commentEnd.From(pos + 4);
            // An unclosed comment hides nothing: scanning goes on after it.
            pos = textFrom = end == std::string_view::npos ? pos + 4 : end + 3;
            continue;
        }
        const char next = pos + 1 < page.size() ? page[pos + 1] : '\0';
        if (next == '!' || next == '?' || next == '/') {
            textUpTo(pos);
            const std::size_t end = page.find_first_of("<>", pos + 1);
            if (end == std::string_view::npos) {
                textFrom = page.size();
                break;
            }
            if (next == '/') {
                std::size_t i = pos + 2;
                while (i < end && (IsAsciiLetter(page[i]) || IsAsciiDigit(page[i])))
                    ++i;
                tag.name = page.substr(pos + 2, i - pos - 2);
                tag.attributes.clear();
                tag.closing = true;
                visitor.OnTag(tag);
            }
            pos = textFrom = page[end] == '>' ? end + 1 : end;
            continue;
        }
        if (!IsAsciiLetter(next)) { // "a < b", "<имя файла>": text, not a tag
            ++pos;
            continue;
        }
        textUpTo(pos);
        pos = textFrom = ReadTag(page, pos, tag, find);
        visitor.OnTag(tag);
        const bool script = tag.Is("script");
        if (script || tag.Is("style")) {
            const std::size_t close = (script ? find.scriptEnd : find.styleEnd).From(pos);
            const bool closed = close != std::string_view::npos;
            visitor.OnRawText(tag, page.substr(pos, closed ? close - pos : page.size() - pos),
                              closed);
            if (closed)
                pos = textFrom = close;
        }
    }
    textUpTo(page.size());
}

namespace {

class LinkCollector final : public MarkupVisitor {
public:
    void OnTag(const MarkupTag& tag) override {
        if (!tag.closing)
            CollectLinks(tag, scan);
    }

    void OnRawText(const MarkupTag& tag, std::string_view text, bool closed) override {
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

Charset CharsetNamed(std::string_view name) {
    name = TrimSpace(name);
    if (SameIgnoringCase(name, "utf-8") || SameIgnoringCase(name, "utf8"))
        return Charset::Utf8;
    if (SameIgnoringCase(name, "windows-1251") || SameIgnoringCase(name, "cp1251") ||
        SameIgnoringCase(name, "x-cp1251") || SameIgnoringCase(name, "win-1251"))
        return Charset::Cp1251;
    if (SameIgnoringCase(name, "iso-8859-1") || SameIgnoringCase(name, "latin1") ||
        SameIgnoringCase(name, "windows-1252") || SameIgnoringCase(name, "us-ascii"))
        return Charset::Latin1;
    return Charset::Guess;
}

std::string DecodePageText(std::string_view bytes, Charset charset) {
    switch (charset) {
    case Charset::Cp1251:
        return DecodeCp1251(bytes);
    case Charset::Latin1: {
        std::string out;
        for (char c : bytes)
            AppendUtf8(out, static_cast<unsigned char>(c));
        return out;
    }
    case Charset::Guess:
    case Charset::Utf8:
        break;
    }
    return DecodeLegacyText(bytes);
}

std::string PlainText(std::string_view bytes, Charset charset) {
    const std::string text = DecodeCharacterReferences(DecodePageText(bytes, charset));
    std::string out;
    out.reserve(text.size());
    bool space = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool noBreak = text[i] == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xA0';
        if (IsSpace(text[i]) || noBreak) {
            space = true;
            i += noBreak ? 1 : 0;
            continue;
        }
        if (space && !out.empty())
            out += ' ';
        space = false;
        out += text[i];
    }
    return out;
}

std::string DecodeCharacterReferences(std::string_view text) {
    struct Named {
        const char* name;
        char32_t cp;
    };
    static constexpr Named kNamed[] = {
        {"amp", '&'},       {"lt", '<'},        {"gt", '>'},         {"quot", '"'},
        {"apos", '\''},     {"nbsp", 0xA0},     {"copy", 0xA9},      {"reg", 0xAE},
        {"laquo", 0xAB},    {"raquo", 0xBB},    {"shy", 0xAD},       {"deg", 0xB0},
        {"sect", 0xA7},     {"middot", 0xB7},   {"para", 0xB6},      {"plusmn", 0xB1},
        {"times", 0xD7},    {"ndash", 0x2013},  {"mdash", 0x2014},   {"hellip", 0x2026},
        {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"ldquo", 0x201C},   {"rdquo", 0x201D},
        {"bdquo", 0x201E},  {"bull", 0x2022},   {"trade", 0x2122},   {"euro", 0x20AC},
    };
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t amp = text.find('&', i);
        out.append(text.substr(i, amp == std::string_view::npos ? text.size() - i : amp - i));
        if (amp == std::string_view::npos)
            break;
        i = amp + 1;
        if (i < text.size() && text[i] == '#') {
            const bool hex = i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X');
            std::size_t j = i + (hex ? 2 : 1);
            std::uint32_t value = 0;
            const std::size_t digitsAt = j;
            for (; j < text.size(); ++j) {
                const char c = Lower(text[j]);
                const int digit = IsAsciiDigit(c) ? c - '0'
                                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                : -1;
                if (digit < 0)
                    break;
                value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + digit, 0x110000);
            }
            if (j == digitsAt) {
                out += '&';
                continue;
            }
            if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
                value = 0xFFFD;
            AppendUtf8(out, value);
            i = j < text.size() && text[j] == ';' ? j + 1 : j;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && j - i < 8 && (IsAsciiLetter(text[j]) || IsAsciiDigit(text[j])))
            ++j;
        const std::string_view name = text.substr(i, j - i);
        const bool semicolon = j < text.size() && text[j] == ';';
        const auto* known = std::find_if(std::begin(kNamed), std::end(kNamed),
                                         [&](const Named& e) { return name == e.name; });
        // Without its ";" only the four oldest references count, as browsers have it.
        if (known != std::end(kNamed) && (semicolon || known - std::begin(kNamed) < 4)) {
            AppendUtf8(out, known->cp);
            i = semicolon ? j + 1 : j;
        } else {
            out += '&';
        }
    }
    return out;
}

namespace {

int HexValue(char c) {
    c = Lower(c);
    return IsAsciiDigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Each run of percent-escapes becomes bytes, read as UTF-8 when they form
// valid UTF-8 and in the page's charset otherwise. A "%" that starts no
// escape stays.
std::string DecodePercents(std::string_view text, Charset charset) {
    const Charset fallback = charset == Charset::Latin1 ? Charset::Latin1 : Charset::Cp1251;
    std::string out, run;
    auto flush = [&] {
        out += IsValidUtf8(run) ? run : DecodePageText(run, fallback);
        run.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            run += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
            continue;
        }
        flush();
        out += text[i];
    }
    flush();
    return out;
}

} // namespace

LinkTarget DecodeLink(const FoundLink& link, Charset charset) {
    LinkTarget target;
    target.shown = DecodePageText(link.text, charset);
    std::string text = link.context == LinkContext::StyleSheet
                           ? target.shown
                           : DecodeCharacterReferences(target.shown);
    // Tabs and line breaks inside an address are dropped, as browsers do.
    std::erase_if(text, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
    std::string_view view = TrimSpace(text);
    if (link.context == LinkContext::StyleAttribute && view.size() >= 2 &&
        (view.front() == '"' || view.front() == '\'') && view.back() == view.front())
        view = TrimSpace(view.substr(1, view.size() - 2)); // url(&quot;...&quot;)
    std::string address(view);
    std::replace(address.begin(), address.end(), '\\', '/');

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
    if (const std::size_t cut = address.find_first_of("#?"); cut != std::string::npos)
        address.resize(cut);
    if (address.empty())
        return target; // only a fragment or a query: this page
    target.kind = LinkTarget::Kind::Path;
    target.path = DecodePercents(address, charset);
    std::replace(target.path.begin(), target.path.end(), '\\', '/');
    if (target.path != address)
        target.literal = address;
    return target;
}

} // namespace tbx::site
