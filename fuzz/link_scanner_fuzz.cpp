// The link scanner on arbitrary bytes, read both as a page and as a style
// sheet, and every link found decoded as the walk decodes it.

#include "site/link_scanner.h"

#include <cstdint>
#include <cstdlib>

namespace {

// A link is a view into the scanned bytes; one that points elsewhere would
// be read after the bytes are gone.
void CheckInside(const tbx::site::FoundLink& link, std::string_view bytes) {
    if (!link.text.empty() && (link.text.data() < bytes.data() ||
                               link.text.data() + link.text.size() > bytes.data() + bytes.size()))
        std::abort();
}

void Decode(const tbx::site::FoundLink& link, tbx::site::Charset charset) {
    const tbx::site::LinkTarget target = tbx::site::DecodeLink(link, charset);
    // A link to a file keeps no query, fragment or backslash.
    if (target.kind == tbx::site::LinkTarget::Kind::Path &&
        (target.path.empty() || target.path.find('\\') != std::string::npos))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const tbx::site::HtmlScan scan = tbx::site::ScanHtml(bytes);
    const tbx::site::Charset charset =
        tbx::text::DecidePageCharset(bytes, scan.charset, tbx::text::Charset::ForCodePage(1251));
    for (const tbx::site::FoundLink& link : scan.links) {
        CheckInside(link, bytes);
        Decode(link, charset);
    }
    std::vector<tbx::site::FoundLink> css;
    tbx::site::ScanCss(bytes, tbx::site::LinkContext::StyleAttribute, css);
    for (const tbx::site::FoundLink& link : css) {
        CheckInside(link, bytes);
        Decode(link, tbx::site::Charset::Utf8());
    }
    return 0;
}
