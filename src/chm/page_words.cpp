#include "chm/page_words.h"

#include "res/cp1251.h"

#include <algorithm>
#include <array>
#include <string>

namespace tbx::chm {
namespace {

// What one input byte does to the word being gathered.
enum Kind : unsigned char {
    kSeparator, // ends the word
    kWordByte,  // a letter or digit: joins the word
    kIgnorable, // vanishes without ending the word (soft hyphen)
    kTagOpen,   // '<' in markup
    kReference, // '&' in markup
    kMultiByte, // a UTF-8 lead byte: decode first
};

using KindTable = std::array<Kind, 256>;

// Code points below this are the only ones Windows-1251 letters come from.
constexpr char32_t kTableEnd = 0x500;

bool IsLetter(char32_t cp) {
    return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') ||
           (cp >= 0x400 && cp <= 0x4FF && !(cp >= 0x482 && cp <= 0x489));
}

char32_t LowerCase(char32_t cp) {
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 0x410 && cp <= 0x42F))
        return cp + 0x20;
    if (cp >= 0x400 && cp <= 0x40F)
        return cp + 0x50;
    // Upper and lower case alternate in the rest of the block (Ґ ґ).
    if (cp >= 0x460 && cp <= 0x4BF && !(cp >= 0x482 && cp <= 0x489) && cp % 2 == 0)
        return cp + 1;
    return cp;
}

// The code page as the splitter needs it, derived once from the program's
// own Windows-1251 table so that the two never disagree.
struct CodePage {
    std::array<unsigned char, 256> fold{};         // folded word byte, 0 for others
    std::array<unsigned char, kTableEnd> byteOf{}; // byte of a code point, 0 for none
    KindTable text1251{}, textUtf8{}, html1251{}, htmlUtf8{};
};

CodePage BuildCodePage() {
    CodePage page;
    std::array<char32_t, 256> codePoint{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const std::string utf8 = DecodeCp1251(std::string(1, static_cast<char>(byte)));
        std::size_t at = 0;
        NextUtf8(utf8, at, codePoint[byte]);
        if (codePoint[byte] < kTableEnd)
            page.byteOf[codePoint[byte]] = static_cast<unsigned char>(byte);
    }
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char32_t cp = codePoint[byte];
        const bool digit = cp >= '0' && cp <= '9';
        if (digit || IsLetter(cp)) {
            const char32_t lower = LowerCase(cp);
            const unsigned char folded = lower < kTableEnd ? page.byteOf[lower] : 0;
            page.fold[byte] = folded ? folded : static_cast<unsigned char>(byte);
        }
        const Kind kind = page.fold[byte] ? kWordByte : (cp == 0xAD ? kIgnorable : kSeparator);
        page.text1251[byte] = page.html1251[byte] = kind;
        page.textUtf8[byte] = page.htmlUtf8[byte] = byte < 0x80 ? kind : kMultiByte;
    }
    page.html1251['<'] = page.htmlUtf8['<'] = kTagOpen;
    page.html1251['&'] = page.htmlUtf8['&'] = kReference;
    page.text1251['&'] = page.textUtf8['&'] = kReference;
    return page;
}

const CodePage& TheCodePage() {
    static const CodePage page = BuildCodePage();
    return page;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiAlnum(char c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Whether text holds needle (lower-case ASCII) at at, without regard to ASCII case.
bool HasNoCaseAt(std::string_view text, std::size_t at, std::string_view needle) {
    if (at > text.size() || text.size() - at < needle.size())
        return false;
    for (std::size_t i = 0; i < needle.size(); ++i) {
        if (AsciiLower(text[at + i]) != needle[i])
            return false;
    }
    return true;
}

// Elements that sit inside a line of text: a word running through them is
// still one word on the screen.
bool IsInlineTag(std::string_view name) {
    static constexpr std::string_view kInline[] = {
        "a",    "abbr",   "acronym", "b",   "bdi", "bdo",  "big",  "cite", "code", "del",  "dfn",
        "em",   "font",   "i",       "ins", "kbd", "mark", "nobr", "q",    "s",    "samp", "small",
        "span", "strike", "strong",  "sub", "sup", "tt",   "u",    "var",  "wbr"};
    return std::find(std::begin(kInline), std::end(kInline), name) != std::end(kInline);
}

struct NamedReference {
    std::string_view name;
    char32_t cp;
};

// The named references that stand for letters, spaces or punctuation in
// Russian text; any other name is dropped as a word break.
char32_t LookUpReference(std::string_view name) {
    static constexpr NamedReference kCommon[] = {
        {"nbsp", 0xA0},     {"amp", '&'},      {"lt", '<'},        {"gt", '>'},
        {"quot", '"'},      {"apos", '\''},    {"shy", 0xAD},      {"laquo", 0xAB},
        {"raquo", 0xBB},    {"mdash", 0x2014}, {"ndash", 0x2013},  {"hellip", 0x2026},
        {"copy", 0xA9},     {"reg", 0xAE},     {"trade", 0x2122},  {"deg", 0xB0},
        {"plusmn", 0xB1},   {"sect", 0xA7},    {"para", 0xB6},     {"middot", 0xB7},
        {"bull", 0x2022},   {"ldquo", 0x201C}, {"rdquo", 0x201D},  {"bdquo", 0x201E},
        {"lsquo", 0x2018},  {"rsquo", 0x2019}, {"sbquo", 0x201A},  {"euro", 0x20AC},
        {"numero", 0x2116}, {"times", 0xD7},   {"thinsp", 0x2009}, {"ensp", 0x2002},
        {"emsp", 0x2003},
    };
    for (const NamedReference& reference : kCommon) {
        if (reference.name == name)
            return reference.cp;
    }
    // Cyrillic letters: А..Я are U+0410 on, the rest of the block U+0401 on;
    // the lower-case name of each letter is its upper-case name in small
    // letters.
    static constexpr std::string_view kMain[] = {
        "Acy",  "Bcy",  "Vcy",  "Gcy",    "Dcy",    "IEcy", "ZHcy",   "Zcy", "Icy",  "Jcy", "Kcy",
        "Lcy",  "Mcy",  "Ncy",  "Ocy",    "Pcy",    "Rcy",  "Scy",    "Tcy", "Ucy",  "Fcy", "KHcy",
        "TScy", "CHcy", "SHcy", "SHCHcy", "HARDcy", "Ycy",  "SOFTcy", "Ecy", "YUcy", "YAcy"};
    static constexpr std::string_view kOther[] = {"IOcy",  "DJcy", "GJcy",   "Jukcy", "DScy",
                                                  "Iukcy", "YIcy", "Jsercy", "LJcy",  "NJcy",
                                                  "TSHcy", "KJcy", "",       "Ubrcy", "DZcy"};
    if (name.size() < 3 || !name.ends_with("cy"))
        return 0;
    // Names differ in case only between the two cases of a letter.
    const auto lowered = [](std::string_view upper) {
        std::string lower(upper);
        std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
        return lower;
    };
    for (std::size_t i = 0; i < std::size(kMain); ++i) {
        if (kMain[i] == name)
            return static_cast<char32_t>(0x410 + i);
        if (lowered(kMain[i]) == name)
            return static_cast<char32_t>(0x430 + i);
    }
    for (std::size_t i = 0; i < std::size(kOther); ++i) {
        if (kOther[i].empty())
            continue;
        if (kOther[i] == name)
            return static_cast<char32_t>(0x401 + i);
        if (lowered(kOther[i]) == name)
            return static_cast<char32_t>(0x451 + i);
    }
    return 0;
}

// Gathers the bytes of one word and hands it on when it ends.
class WordBuilder {
public:
    WordBuilder(const CodePage& page, WordSink& sink) : page_(page), sink_(sink) {}

    void Add(unsigned char folded) {
        if (length_ < kMaxWordLength)
            word_[length_++] = static_cast<char>(folded);
    }

    // Most bytes come in runs of letters: takes the run text starts with
    // and returns its length.
    std::size_t AddRun(std::string_view text, const KindTable& kinds) {
        // Locals, not members, so that the compiler keeps them in registers.
        std::size_t length = length_, at = 0;
        do {
            const auto byte = static_cast<unsigned char>(text[at]);
            if (length < kMaxWordLength)
                word_[length++] = static_cast<char>(page_.fold[byte]);
        } while (++at < text.size() && kinds[static_cast<unsigned char>(text[at])] == kWordByte);
        length_ = length;
        return at;
    }

    void End() {
        if (length_) {
            sink_.OnWord(std::string_view(word_.data(), length_));
            length_ = 0;
        }
    }

    // A character decoded from UTF-8 or from a character reference.
    void AddCodePoint(char32_t cp) {
        // Combining accents, as in stress marks, belong to their letter.
        if (cp >= 0x300 && cp <= 0x36F)
            return;
        const unsigned char byte = cp > 0 && cp < kTableEnd ? page_.byteOf[cp] : 0;
        switch (byte ? page_.text1251[byte] : kSeparator) {
        case kWordByte:
            Add(page_.fold[byte]);
            break;
        case kIgnorable:
            break;
        default:
            End();
            break;
        }
    }

private:
    const CodePage& page_;
    WordSink& sink_;
    std::array<char, kMaxWordLength> word_{};
    std::size_t length_ = 0;
};

// One pass over the bytes; never looks past the end of the text. Broken
// markup costs no second pass either: what one search failed to find is
// remembered, so that a page of a thousand unclosed tags stays linear.
class Scanner {
public:
    Scanner(std::string_view text, const KindTable& kinds, const CodePage& page, WordSink& sink)
        : text_(text), kinds_(kinds), words_(page, sink), lastGreaterThan_(text.rfind('>')) {}

    void Run() {
        while (pos_ < text_.size()) {
            const auto byte = static_cast<unsigned char>(text_[pos_]);
            switch (kinds_[byte]) {
            case kWordByte:
                pos_ += words_.AddRun(text_.substr(pos_), kinds_);
                break;
            case kIgnorable:
                ++pos_;
                break;
            case kSeparator:
                words_.End();
                ++pos_;
                break;
            case kTagOpen:
                OnTagOpen();
                break;
            case kReference:
                OnReference();
                break;
            case kMultiByte:
                OnMultiByte();
                break;
            }
        }
        words_.End();
    }

private:
    static constexpr std::size_t npos = std::string_view::npos;

    // The '<' at pos_ opens no markup: it is a character of the text.
    void TakeAsText() {
        words_.End();
        ++pos_;
    }

    std::size_t FindGreaterThan(std::size_t from) const {
        return lastGreaterThan_ != npos && from <= lastGreaterThan_ ? text_.find('>', from) : npos;
    }

    // Ends markup at the first '>' after the '<' at pos_.
    void SkipToGreaterThan() {
        const std::size_t gt = FindGreaterThan(pos_ + 1);
        if (gt == npos)
            return TakeAsText();
        words_.End();
        pos_ = gt + 1;
    }

    // The '>' that ends a tag whose attributes start at from. A quoted value
    // may hold '>'. Quotes that leave no '>' outside them to end the tag
    // count for nothing, in this tag and every later one: they cannot
    // swallow the rest of the page, nor be searched through again.
    std::size_t TagEnd(std::size_t from) {
        char last = 0;
        for (std::size_t i = from; i < text_.size() && !quotesBroken_; ++i) {
            const char c = text_[i];
            if (c == '>')
                return i;
            if ((c == '"' || c == '\'') && last == '=') {
                const std::size_t close = text_.find(c, i + 1);
                quotesBroken_ =
                    close == npos || lastGreaterThan_ == npos || close > lastGreaterThan_;
                i = quotesBroken_ ? i : close;
                last = c;
            } else if (!IsSpace(c)) {
                last = c;
            }
        }
        quotesBroken_ = true;
        return FindGreaterThan(from);
    }

    // Position after the end tag of a raw-text element (script, style,
    // title) whose content starts at from, or npos when it has none.
    std::size_t AfterEndTag(std::size_t from, std::string_view name) {
        const std::size_t kind = name == "script" ? 0 : (name == "style" ? 1 : 2);
        if (endTagMissing_[kind])
            return npos;
        for (std::size_t at = text_.find("</", from); at != npos; at = text_.find("</", at + 2)) {
            const std::size_t nameEnd = at + 2 + name.size();
            if (!HasNoCaseAt(text_, at + 2, name))
                continue;
            if (nameEnd < text_.size() && IsAsciiAlnum(text_[nameEnd]))
                continue;
            const std::size_t gt = FindGreaterThan(nameEnd);
            return gt == npos ? nameEnd : gt + 1;
        }
        endTagMissing_[kind] = true;
        return npos;
    }

    void OnTagOpen() {
        const std::size_t open = pos_;
        std::size_t at = open + 1;
        if (at >= text_.size())
            return TakeAsText();
        if (text_[at] == '!') {
            if (text_.compare(at, 3, "!--") == 0 && !commentEndMissing_) {
                // A comment is invisible: the text on either side runs on.
                const std::size_t close = text_.find("-->", at + 3);
                if (close != npos) {
                    pos_ = close + 3;
                    return;
                }
                commentEndMissing_ = true;
            }
            return SkipToGreaterThan(); // doctype, CDATA, a comment never closed
        }
        if (text_[at] == '?')
            return SkipToGreaterThan();
        const bool endTag = text_[at] == '/';
        if (endTag)
            ++at;
        if (at >= text_.size() || !IsAsciiLetter(text_[at]))
            return endTag ? SkipToGreaterThan() : TakeAsText();

        const std::size_t nameStart = at;
        while (at < text_.size() && IsAsciiAlnum(text_[at]))
            ++at;
        // Only short names matter below; a longer one stays empty.
        std::array<char, 8> name{};
        const std::size_t nameLength = at - nameStart <= name.size() ? at - nameStart : 0;
        for (std::size_t i = 0; i < nameLength; ++i)
            name[i] = AsciiLower(text_[nameStart + i]);
        const std::string_view tag(name.data(), nameLength);
        const std::size_t gt = TagEnd(at);
        if (gt == npos)
            return TakeAsText();
        pos_ = gt + 1;
        if (!IsInlineTag(tag))
            words_.End();
        if (!endTag && (tag == "script" || tag == "style" || tag == "title")) {
            // Without its end tag the content is indexed rather than lost.
            const std::size_t after = AfterEndTag(pos_, tag);
            if (after != npos)
                pos_ = after;
        }
    }

    void OnReference() {
        std::size_t at = pos_ + 1;
        if (at < text_.size() && text_[at] == '#') {
            ++at;
            const bool hex = at < text_.size() && (text_[at] == 'x' || text_[at] == 'X');
            if (hex)
                ++at;
            const std::size_t digits = at;
            char32_t value = 0;
            for (; at < text_.size(); ++at) {
                const char c = AsciiLower(text_[at]);
                const bool decimal = c >= '0' && c <= '9';
                if (!decimal && !(hex && c >= 'a' && c <= 'f'))
                    break;
                if (value <= 0x10FFFF)
                    value = value * (hex ? 16 : 10) + (decimal ? c - '0' : c - 'a' + 10);
            }
            if (at == digits)
                return TakeAsText();
            if (at < text_.size() && text_[at] == ';')
                ++at;
            pos_ = at;
            return words_.AddCodePoint(value);
        }
        const std::size_t nameStart = at;
        while (at < text_.size() && at - nameStart < 32 && IsAsciiAlnum(text_[at]))
            ++at;
        if (at == nameStart || at >= text_.size() || text_[at] != ';')
            return TakeAsText();
        pos_ = at + 1;
        // An unknown name is not indexed as a word of its own.
        words_.AddCodePoint(LookUpReference(text_.substr(nameStart, at - nameStart)));
    }

    void OnMultiByte() {
        char32_t cp = 0;
        // An invalid byte ends the word and is stepped over.
        if (NextUtf8(text_, pos_, cp))
            words_.AddCodePoint(cp);
        else
            words_.End();
    }

    std::string_view text_;
    const KindTable& kinds_;
    WordBuilder words_;
    std::size_t pos_ = 0;
    const std::size_t lastGreaterThan_; // npos when there is none
    bool commentEndMissing_ = false;
    bool quotesBroken_ = false;
    std::array<bool, 3> endTagMissing_{}; // script, style, title
};

} // namespace

PageCharset DetectPageCharset(std::string_view html) {
    if (html.starts_with("\xEF\xBB\xBF"))
        return PageCharset::Utf8;
    // The declaration sits in the head; only its start is searched.
    const std::string_view head = html.substr(0, 4096);
    for (std::size_t at = 0; at < head.size(); ++at) {
        if (!HasNoCaseAt(head, at, "charset"))
            continue;
        std::size_t i = at + 7;
        while (i < head.size() && IsSpace(head[i]))
            ++i;
        if (i >= head.size() || head[i] != '=')
            continue;
        ++i;
        while (i < head.size() && (IsSpace(head[i]) || head[i] == '"' || head[i] == '\''))
            ++i;
        std::string name;
        for (; i < head.size() && (IsAsciiAlnum(head[i]) || head[i] == '-' || head[i] == '_'); ++i)
            name += AsciiLower(head[i]);
        if (name == "utf-8" || name == "utf8")
            return PageCharset::Utf8;
        if (name == "windows-1251" || name == "cp1251" || name == "x-cp1251" || name == "win-1251")
            return PageCharset::Windows1251;
    }
    return IsValidUtf8(html) ? PageCharset::Utf8 : PageCharset::Windows1251;
}

void SplitPageWords(std::string_view html, PageCharset charset, WordSink& sink) {
    if (charset == PageCharset::Detect)
        charset = DetectPageCharset(html);
    const CodePage& page = TheCodePage();
    Scanner(html, charset == PageCharset::Utf8 ? page.htmlUtf8 : page.html1251, page, sink).Run();
}

void SplitTextWords(std::string_view text, WordSink& sink) {
    const CodePage& page = TheCodePage();
    Scanner(text, IsValidUtf8(text) ? page.textUtf8 : page.text1251, page, sink).Run();
}

unsigned char FoldedWordByte(unsigned char byte) {
    return TheCodePage().fold[byte];
}

} // namespace tbx::chm
