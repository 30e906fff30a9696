#include "chm/page_words.h"

#include "text/ascii.h"
#include "text/charset.h"
#include "text/markup.h"

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
    kReference, // '&': a character reference
    kMultiByte, // a UTF-8 lead byte: decode first
};

using KindTable = std::array<Kind, 256>;

// The alphabet as the splitter reads bytes with it: in the code page itself,
// or in UTF-8.
struct CodePage {
    explicit CodePage(const text::SearchAlphabet& alphabet) : letters(alphabet) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const Kind kind = alphabet.fold[byte]        ? kWordByte
                              : alphabet.ignorable[byte] ? kIgnorable
                                                         : kSeparator;
            legacy[byte] = kind;
            utf8[byte] = byte < 0x80 ? kind : kMultiByte;
        }
        legacy['&'] = utf8['&'] = kReference;
    }
    const text::SearchAlphabet& letters;
    KindTable legacy{}, utf8{};
};

// Elements that sit inside a line of text: a word running through them is
// still one word on the screen.
bool IsInlineTag(std::string_view name) {
    static constexpr std::string_view kInline[] = {
        "a",    "abbr",   "acronym", "b",   "bdi", "bdo",  "big",  "cite", "code", "del",  "dfn",
        "em",   "font",   "i",       "ins", "kbd", "mark", "nobr", "q",    "s",    "samp", "small",
        "span", "strike", "strong",  "sub", "sup", "tt",   "u",    "var",  "wbr"};
    return std::find(std::begin(kInline), std::end(kInline), name) != std::end(kInline);
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
                word_[length++] = static_cast<char>(page_.letters.fold[byte]);
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
        if (const unsigned char folded = page_.letters.FoldCodePoint(cp))
            Add(folded);
        else if (!page_.letters.IgnorableCodePoint(cp))
            End();
    }

private:
    const CodePage& page_;
    WordSink& sink_;
    std::array<char, kMaxWordLength> word_{};
    std::size_t length_ = 0;
};

// One pass over a run of text (no markup in it): words, references and
// multi-byte characters, into the word being gathered.
class TextScanner {
public:
    TextScanner(std::string_view text, const KindTable& kinds, WordBuilder& words)
        : text_(text), kinds_(kinds), words_(words) {}

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
            case kReference:
                OnReference();
                break;
            case kMultiByte:
                OnMultiByte();
                break;
            }
        }
    }

private:
    // The '&' at pos_ starts no reference: it is a character of the text.
    void TakeAsText() {
        words_.End();
        ++pos_;
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
                const int digit = hex                             ? text::HexDigitValue(text_[at])
                                  : text::IsAsciiDigit(text_[at]) ? text_[at] - '0'
                                                                  : -1;
                if (digit < 0)
                    break;
                if (value <= 0x10FFFF)
                    value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            }
            if (at == digits)
                return TakeAsText();
            if (at < text_.size() && text_[at] == ';')
                ++at;
            pos_ = at;
            return words_.AddCodePoint(value);
        }
        const text::NamedReference named =
            text::MatchNamedReference(text_.substr(at), text::ReferenceContext::Text);
        if (named.length == 0) {
            // A well-formed name HTML does not know is no word of its own.
            std::size_t end = at;
            while (end < text_.size() && text::IsAsciiAlnum(text_[end]))
                ++end;
            if (end == at || end >= text_.size() || text_[end] != ';')
                return TakeAsText();
            words_.End();
            pos_ = end + 1;
            return;
        }
        pos_ = at + named.length;
        words_.AddCodePoint(named.first);
        if (named.second)
            words_.AddCodePoint(named.second);
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
    WordBuilder& words_;
    std::size_t pos_ = 0;
};

// The page as the markup reader gives it: text between tags is split into
// words; tags other than inline ones end a word; the content of <script>,
// <style> and <title> is left out.
class PageWords final : public text::MarkupVisitor {
public:
    PageWords(std::string_view html, const KindTable& kinds, const CodePage& page, WordSink& sink)
        : html_(html), kinds_(kinds), words_(page, sink) {}

    void OnTag(const text::MarkupTag& tag) override {
        if (tag.unterminated) {
            // Never closed: a "<" in the text, which the words after it keep.
            words_.End();
            const auto after = static_cast<std::size_t>(tag.name.data() - html_.data());
            return TextScanner(html_.substr(after), kinds_, words_).Run();
        }
        // Only short names matter; a longer one is no inline element.
        std::array<char, 8> name{};
        const std::size_t length = tag.name.size() <= name.size() ? tag.name.size() : 0;
        for (std::size_t i = 0; i < length; ++i)
            name[i] = text::AsciiLower(tag.name[i]);
        if (!IsInlineTag(std::string_view(name.data(), length)))
            words_.End();
    }

    void OnText(std::string_view text) override { TextScanner(text, kinds_, words_).Run(); }

    void OnRawText(const text::MarkupTag&, std::string_view, bool) override { words_.End(); }

    void Finish() { words_.End(); }

private:
    std::string_view html_;
    const KindTable& kinds_;
    WordBuilder words_;
};

} // namespace

void SplitPageWords(std::string_view html, text::Charset charset,
                    const text::SearchAlphabet& alphabet, WordSink& sink) {
    const CodePage page(alphabet);
    const bool legacy = charset == text::Charset::ForCodePage(alphabet.codePage);
    // Other charsets are read as UTF-8, which the splitter knows as well.
    std::string decoded;
    if (!legacy && !charset.IsUtf8()) {
        decoded = text::Decode(html, charset);
        html = decoded;
    } else if (charset.IsUtf8() && html.starts_with("\xEF\xBB\xBF")) {
        html.remove_prefix(3);
    }
    PageWords words(html, legacy ? page.legacy : page.utf8, page, sink);
    text::ScanMarkup(html, words);
    words.Finish();
}

void SplitTextWords(std::string_view text, const text::SearchAlphabet& alphabet, WordSink& sink) {
    const CodePage page(alphabet);
    WordBuilder words(page, sink);
    TextScanner(text, IsValidUtf8(text) ? page.utf8 : page.legacy, words).Run();
    words.End();
}

} // namespace tbx::chm
