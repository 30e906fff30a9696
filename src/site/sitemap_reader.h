#pragma once
// Reading the contents (.hhc) and keyword (.hhk) sitemaps a help file
// carries: the tree of <OBJECT type="text/sitemap"> entries in nested <UL>
// lists. Tolerant of broken markup, as the Windows viewer is. Standard C++.

#include "text/charset.h"

#include <string>
#include <string_view>
#include <vector>

namespace tbx::site {

// One place an entry leads to: a keyword may lead to several topics, each
// with the name the sitemap gives it.
struct SitemapTarget {
    std::string name;       // UTF-8; the entry's name when the sitemap gives none
    std::string local;      // as written ("dir/page.htm#part", "ms-its:..."), references decoded
    std::size_t offset = 0; // where the value stands in the sitemap's bytes
};

struct SitemapNode {
    std::string name;                   // UTF-8, character references decoded
    std::vector<SitemapTarget> targets; // none: a heading
    int imageNumber = 0;                // the sitemap's ImageNumber, 0 when not given
    std::vector<SitemapNode> children;
    // "See Also" of a keyword: another keyword to look up instead.
    std::string seeAlso;

    // A book icon: the sitemap asks for one, or the entry holds entries.
    bool IsBook() const;
};

// The entries of a sitemap's bytes. Its texts are in the charset the page
// declares, else in fallback (the help file's code page) unless they are
// valid UTF-8. Lists nest at most kMaxDepth deep; deeper ones join the
// deepest level, so a hostile file cannot exhaust the stack.
inline constexpr std::size_t kMaxSitemapDepth = 64;
std::vector<SitemapNode> ReadSitemap(std::string_view bytes, text::Charset fallback);

// The keywords a page places in itself for the index: those of its
// <OBJECT type="application/x-oleobject"
// classid="clsid:1e2a7bd0-dab9-11d0-b93a-00c04fc99f9e"> objects, KLinks
// ("Keyword") and ALinks ("ALink Name"). A value holds keywords separated by ";",
// each with its levels separated by "," ("printing, margins"); a keyword is
// its levels, outermost first, trimmed, UTF-8.
struct PageKeywords {
    std::vector<std::vector<std::string>> klinks, alinks;
};
PageKeywords ReadPageKeywords(std::string_view bytes, text::Charset charset);

} // namespace tbx::site
