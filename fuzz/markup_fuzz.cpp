// The markup reader and the charset layer on arbitrary bytes: every view
// the reader hands out lies inside the page and after the one before it,
// references decode to UTF-8, and a page decided and decoded in its charset
// comes out as valid UTF-8, whatever iconv made of its bytes.

#include "text/charset.h"
#include "text/markup.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace {

using namespace tbx::text;
using tbx::IsValidUtf8;

class Checked final : public MarkupVisitor {
public:
    explicit Checked(std::string_view page) : page_(page) {}

    void OnTag(const MarkupTag& tag) override {
        Inside(tag.name, false);
        for (const TagAttribute& attribute : tag.attributes) {
            Inside(attribute.name, false);
            Inside(attribute.value, false);
        }
        ReadCharsetDeclaration(tag, declared);
    }
    void OnText(std::string_view text) override { Inside(text, true); }
    // Raw text without its end tag runs to the end, and the rest is read
    // again as markup: only closed raw text keeps the order.
    void OnRawText(const MarkupTag&, std::string_view text, bool closed) override {
        Inside(text, closed);
    }

    CharsetDeclarations declared;

private:
    // A view inside the page; text never goes back before text reported earlier.
    void Inside(std::string_view view, bool ordered) {
        if (view.empty())
            return;
        if (view.data() < page_.data() || view.data() + view.size() > page_.data() + page_.size())
            std::abort();
        if (ordered) {
            if (view.data() < lastText_)
                std::abort();
            lastText_ = view.data() + view.size();
        }
    }

    std::string_view page_;
    const char* lastText_ = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr std::string_view kFallbacks[] = {
        "windows-1251", "windows-1252", "shift_jis", "gbk", "big5", "euc-kr", "utf-8"};
    const Charset fallback = *Charset::ForLabel(kFallbacks[data[0] % std::size(kFallbacks)]);
    const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
    Checked checked(page);
    ScanMarkup(page, checked);

    const Charset charset = DecidePageCharset(page, checked.declared, fallback);
    const std::string utf8 = Decode(page, charset);
    if (!IsValidUtf8(utf8))
        std::abort();
    for (ReferenceContext context : {ReferenceContext::Text, ReferenceContext::Attribute}) {
        if (!IsValidUtf8(DecodeCharacterReferences(utf8, context)))
            std::abort();
    }
    if (!IsValidUtf8(PlainText(page.substr(0, 4096), charset)))
        std::abort();
    // What a code page holds exactly comes back as it was.
    if (utf8.size() <= 4096) {
        if (const auto exact = EncodeExact(utf8, 1251);
            exact && Decode(*exact, Charset::ForCodePage(1251)) != utf8)
            std::abort();
    }
    Encode(utf8.substr(0, 4096), 932, Unmappable::Nearest);
    Encode(utf8.substr(0, 4096), 1250, Unmappable::CharRef);
    return 0;
}
