// The viewer's reading of a sitemap, and of each link it names, from
// arbitrary bytes: every entry has a name or a target, the tree stays within
// its depth, and every link resolves to a stored name inside the file or to
// nothing. The same bytes read as a page give keywords of trimmed, non-empty
// levels, none holding a separator.

#include "site/sitemap_reader.h"
#include "viewer/help_link.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tbx::site::SitemapNode;

std::string_view bytes_;

void CheckKeywords(const std::vector<std::vector<std::string>>& keywords) {
    for (const std::vector<std::string>& levels : keywords) {
        if (levels.empty())
            std::abort();
        for (const std::string& level : levels) {
            if (level.empty() || level.find_first_of(",;") != std::string::npos ||
                level.front() == ' ' || level.back() == ' ')
                std::abort();
        }
    }
}

void Check(const std::vector<SitemapNode>& nodes, std::size_t depth) {
    if (depth > tbx::site::kMaxSitemapDepth)
        std::abort();
    for (const SitemapNode& node : nodes) {
        if (node.name.empty() && node.targets.empty())
            std::abort();
        for (const auto& target : node.targets) {
            if (target.offset >= bytes_.size())
                std::abort(); // a target's value stands in the bytes
            const auto link = tbx::viewer::ResolveLink(target.local, "/dir/page.htm", "help.chm");
            const bool inside = link.kind == tbx::viewer::HelpLink::Kind::Stored ||
                                link.kind == tbx::viewer::HelpLink::Kind::OtherFile;
            if (inside &&
                (link.stored.empty() || link.stored.front() != '/' ||
                 link.stored.find("/../") != std::string::npos || link.stored.ends_with("/..")))
                std::abort();
        }
        Check(node.children, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    bytes_ = bytes;
    Check(tbx::site::ReadSitemap(bytes, tbx::text::Charset::ForCodePage(1251)), 1);
    const tbx::site::PageKeywords keywords =
        tbx::site::ReadPageKeywords(bytes, tbx::text::Charset::ForCodePage(1251));
    CheckKeywords(keywords.klinks);
    CheckKeywords(keywords.alinks);
    return 0;
}
