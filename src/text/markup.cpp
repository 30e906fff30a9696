#include "text/markup.h"

#include "text/ascii.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace tbx::text {
namespace {

// ---- Tags -----------------------------------------------------------------------

// Reads the tag whose "<" is at pos; returns where scanning goes on. A "<"
// outside a quoted value ends the tag there, and a quoted value that runs
// over a ">" into another tag ends at that ">": the markup is broken, and
// the next tag is worth more than this one's remaining attributes.
struct HtmlFinders {
    explicit HtmlFinders(std::string_view page)
        : doubleQuote(page, "\""), singleQuote(page, "'"), commentEnd(page, "-->"),
          scriptEnd(page, "</script"), styleEnd(page, "</style"), titleEnd(page, "</title") {}
    NextMatch doubleQuote, singleQuote, commentEnd, scriptEnd, styleEnd, titleEnd;

    // The end tag's finder of an element whose content is raw text, or nullptr.
    NextMatch* RawTextEnd(const MarkupTag& tag) {
        if (tag.closing)
            return nullptr;
        if (tag.Is("script"))
            return &scriptEnd;
        if (tag.Is("style"))
            return &styleEnd;
        return tag.Is("title") ? &titleEnd : nullptr;
    }
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
    tag.unterminated = false;
    for (;;) {
        while (i < n && (IsHtmlSpace(page[i]) || page[i] == '/'))
            ++i;
        if (i >= n) {
            tag.unterminated = true;
            return n;
        }
        if (page[i] == '>')
            return i + 1;
        if (page[i] == '<')
            return i;
        const std::size_t nameStart = i;
        while (i < n && !IsHtmlSpace(page[i]) && page[i] != '/' && page[i] != '>' &&
               page[i] != '=' && page[i] != '<')
            ++i;
        if (i == nameStart) { // a "=" with no name before it
            ++i;
            continue;
        }
        TagAttribute attribute{page.substr(nameStart, i - nameStart), {}};
        std::size_t j = i;
        while (j < n && IsHtmlSpace(page[j]))
            ++j;
        if (j < n && page[j] == '=') {
            i = j + 1;
            while (i < n && IsHtmlSpace(page[i]))
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
                while (i < n && !IsHtmlSpace(page[i]) && page[i] != '>' && page[i] != '<')
                    ++i;
                attribute.value = page.substr(start, i - start);
            }
        }
        tag.attributes.push_back(attribute);
    }
}

} // namespace

bool MarkupTag::Is(std::string_view lowerName) const {
    return EqualsAsciiNoCase(name, lowerName);
}

const TagAttribute* MarkupTag::Find(std::string_view lowerName) const {
    for (const TagAttribute& attribute : attributes) {
        if (EqualsAsciiNoCase(attribute.name, lowerName))
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
    while (!visitor.Done() && (pos = page.find('<', pos)) != std::string_view::npos) {
        if (HasAsciiNoCaseAt(page, pos, "<!--")) {
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
                tag.unterminated = false;
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
        if (NextMatch* end = find.RawTextEnd(tag); end && !visitor.Done()) {
            const std::size_t close = end->From(pos);
            const bool closed = close != std::string_view::npos;
            visitor.OnRawText(tag, page.substr(pos, closed ? close - pos : page.size() - pos),
                              closed);
            if (closed)
                pos = textFrom = close;
        }
    }
    if (!visitor.Done())
        textUpTo(page.size());
}

// The text after "key=" in a <meta> content such as "text/html; charset=x"
// or "0; url=page.htm", up to the end (or to a ";" for a charset).
std::string_view MetaContentPart(std::string_view content, std::string_view lowerKey) {
    for (std::size_t at = 0; at + lowerKey.size() <= content.size(); ++at) {
        if (HasAsciiNoCaseAt(content, at, lowerKey)) {
            std::string_view rest = content.substr(at + lowerKey.size());
            while (!rest.empty() && IsHtmlSpace(rest.front()))
                rest.remove_prefix(1);
            if (!rest.starts_with('='))
                continue;
            return TrimHtmlSpace(rest.substr(1));
        }
    }
    return {};
}

void ReadCharsetDeclaration(const MarkupTag& tag, CharsetDeclarations& declared) {
    if (!tag.Is("meta") || tag.closing)
        return;
    const TagAttribute* equiv = tag.Find("http-equiv");
    const TagAttribute* content = tag.Find("content");
    if (const TagAttribute* charset = tag.Find("charset"); charset) {
        if (declared.metaCharset.empty())
            declared.metaCharset = TrimHtmlSpace(charset->value);
    } else if (equiv && content && EqualsAsciiNoCase(TrimHtmlSpace(equiv->value), "content-type") &&
               declared.httpEquivType.empty()) {
        const std::string_view name = MetaContentPart(content->value, "charset");
        declared.httpEquivType = name.substr(0, name.find_first_of("; \t\"'"));
    }
}

namespace {

struct Entity {
    std::string_view name;
    char32_t first, second;
    bool legacy; // also read without its ";"
};

constexpr Entity kEntities[] = {
#include "text/entities.inc"
};

// The longest name of the table is 31 letters ("CounterClockwiseContourIntegral").
constexpr std::size_t kLongestEntity = 32;

// What numeric references to the C1 controls stand for: browsers read them
// as the Windows-1252 characters pages meant (&#150; is an en dash).
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   // 88
    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178, // 98
};

const Entity* FindEntity(std::string_view name) {
    const auto* at =
        std::lower_bound(std::begin(kEntities), std::end(kEntities), name,
                         [](const Entity& e, std::string_view n) { return e.name < n; });
    return at != std::end(kEntities) && at->name == name ? at : nullptr;
}

} // namespace

NamedReference MatchNamedReference(std::string_view text, ReferenceContext context) {
    std::size_t letters = 0;
    while (letters < text.size() && letters < kLongestEntity && IsAsciiAlnum(text[letters]))
        ++letters;
    if (letters == 0)
        return {};
    if (letters < text.size() && text[letters] == ';') {
        if (const Entity* entity = FindEntity(text.substr(0, letters)))
            return {entity->first, entity->second, letters + 1};
    }
    // Without its ";": the longest old name the text starts with.
    for (std::size_t length = std::min<std::size_t>(letters, 6); length >= 2; --length) {
        const Entity* entity = FindEntity(text.substr(0, length));
        if (!entity || !entity->legacy)
            continue;
        const char after = length < text.size() ? text[length] : '\0';
        if (context == ReferenceContext::Attribute && (IsAsciiAlnum(after) || after == '='))
            return {};
        return {entity->first, entity->second, length};
    }
    return {};
}

std::string DecodeCharacterReferences(std::string_view text, ReferenceContext context) {
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
                const int digit = hex                     ? HexDigitValue(text[j])
                                  : IsAsciiDigit(text[j]) ? text[j] - '0'
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
            else if (value >= 0x80 && value <= 0x9F)
                value = kWindows1252High[value - 0x80];
            AppendUtf8(out, value);
            i = j < text.size() && text[j] == ';' ? j + 1 : j;
            continue;
        }
        const NamedReference named = MatchNamedReference(text.substr(i), context);
        if (named.length == 0) {
            out += '&';
            continue;
        }
        AppendUtf8(out, named.first);
        if (named.second)
            AppendUtf8(out, named.second);
        i += named.length;
    }
    return out;
}

std::string PlainText(std::string_view bytes, Charset charset) {
    const std::string text = DecodeCharacterReferences(Decode(bytes, charset));
    std::string out;
    out.reserve(text.size());
    bool space = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool noBreak = text[i] == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xA0';
        if (IsHtmlSpace(text[i]) || noBreak) {
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

} // namespace tbx::text
