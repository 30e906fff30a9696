// The contents tree of arbitrary bytes taken as a start page whose links
// reach pages (and, every third one, a picture), written as a sitemap; and
// the same bytes read as a project's own sitemap.

#include "site/sitemap.h"

#include <cstdint>
#include <cstdlib>

namespace {

using tbx::site::SitemapEntry;

// Every entry names a page of the walk or heads others, and the tree stays
// within the nesting the builder allows.
void Check(const std::vector<SitemapEntry>& entries, const tbx::site::SiteWalk& walk,
           std::size_t depth) {
    if (depth > 64)
        std::abort();
    for (const SitemapEntry& entry : entries) {
        if (entry.local.empty() ? entry.children.empty() : entry.local.front() == '/')
            std::abort();
        bool known = entry.local.empty();
        for (const tbx::site::SiteFile& file : walk.files)
            known =
                known || (file.kind == tbx::site::FileKind::Page && file.name == "/" + entry.local);
        if (!known || entry.name.empty())
            std::abort();
        Check(entry.children, walk, depth + 1);
    }
}

std::size_t Count(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tbx::site;
    const std::string page(reinterpret_cast<const char*>(data), size);
    const HtmlScan scan = ScanHtml(page);
    SiteWalk walk;
    walk.files.resize(1);
    for (const FoundLink& link : scan.links) {
        if (link.context != LinkContext::Attribute)
            continue;
        SiteFile file;
        file.name = "/p" + std::to_string(walk.files.size()) + ".htm";
        file.kind = walk.files.size() % 3 == 0 ? FileKind::Other : FileKind::Page;
        file.title = "page";
        walk.files.front().reached.push_back(
            {static_cast<std::size_t>(link.text.data() - page.data()), walk.files.size()});
        walk.files.push_back(std::move(file));
    }
    SiteFile& start = walk.files.front();
    start.name = "/index.htm";
    start.kind = FileKind::Page;
    start.bytes = page;
    start.charset = tbx::text::DecidePageCharset(page, scan.charset, Charset::ForCodePage(1251));
    start.title = "start";

    const std::vector<SitemapEntry> contents = ContentsFromPage(walk, "/index.htm");
    Check(contents, walk, 0);
    const std::string written = WriteSitemap(contents, 0x419);
    if (Count(written, "<UL>") != Count(written, "</UL>"))
        std::abort();

    // Stored, only backslashes change, into slashes.
    const std::string stored = StoredSitemap(start);
    if (stored.size() != page.size())
        std::abort();
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (stored[i] != page[i] && !(page[i] == '\\' && stored[i] == '/'))
            std::abort();
    }
    if (FirstEntryNames(walk, start).size() != walk.files.size())
        std::abort();
    ReadSitemapProperties(start);
    return 0;
}
