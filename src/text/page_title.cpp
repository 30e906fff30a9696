#include "text/page_title.h"

#include "platform/files.h"
#include "text/charset.h"
#include "text/markup.h"

#include <new>

namespace tbx {
namespace {

// The first title and what the page declares of its charset, read as far
// as the title's end.
class TitleReader final : public text::MarkupVisitor {
public:
    void OnTag(const text::MarkupTag& tag) override { text::ReadCharsetDeclaration(tag, declared); }

    void OnRawText(const text::MarkupTag& tag, std::string_view text, bool closed) override {
        if (!tag.Is("title"))
            return;
        found = true;
        if (closed && text.size() <= kMaxTitleBytes)
            title = text;
    }

    bool Done() const override { return found; }

    bool found = false; // the first <title> was met
    std::optional<std::string_view> title;
    text::CharsetDeclarations declared;
};

std::string_view UpToZero(std::string_view page) {
    return page.substr(0, page.find('\0'));
}

// How much of a page is read for its title: first a part that holds the
// head of nearly every page in one read, then enough for the longest title
// far down.
constexpr std::size_t kReadSizes[] = {64 * 1024, 1024 * 1024 + kMaxTitleBytes};

} // namespace

std::optional<std::string_view> TitleTagText(std::string_view page) {
    TitleReader reader;
    text::ScanMarkup(UpToZero(page), reader);
    return reader.title;
}

std::string FileTitle(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PageTitle ExtractPageTitle(const std::string& path) {
    try {
        for (const std::size_t size : kReadSizes) {
            const FileBytes file = ReadWholeFile(path, size, Beyond::Cut);
            if (!file.Ok())
                return {kNoTitle, TitleSource::Unreadable};
            const std::string_view page = UpToZero(file.bytes);
            TitleReader reader;
            text::ScanMarkup(page, reader);
            const bool whole = file.bytes.size() < size || page.size() < file.bytes.size();
            if (reader.title) {
                const text::Charset charset = text::DecidePageCharset(
                    page, reader.declared, text::Charset::ForCodePage(kProgramCodePage));
                return {text::Decode(*reader.title, charset), TitleSource::Tag};
            }
            // A title cut off by the end of what was read may end further on.
            if (whole)
                break;
        }
        // Old pages may carry Windows-1251 file names; show them readably.
        return {DecodeLegacyText(FileTitle(path)), TitleSource::FileTitle};
    } catch (const std::bad_alloc&) {
        // No memory even for the start of the page: the listing goes on.
    }
    return {kNoTitle, TitleSource::Unreadable};
}

std::string GetPageTitle(const std::string& path) {
    return ExtractPageTitle(path).text;
}

} // namespace tbx
