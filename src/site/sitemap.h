#pragma once
// The contents tree and the keyword index of a help file, made from the walk
// of its site, and both written as the HTML sitemaps (.hhc, .hhk) the viewer
// reads.

#include "chm/internal_files.h"
#include "site/site_walk.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::site {

struct SitemapEntry {
    std::string name;     // UTF-8
    std::string local;    // stored name without its leading "/"; empty for a
                          // heading that only holds entries
    std::string fragment; // the place in the page the link named, without "#"
    std::vector<SitemapEntry> children;
};

// The contents tree that the page of the walk stored under pageName shows.
// Each of its links to a page of the site (a file the walk took as a page)
// becomes an entry, in document order; links that leave the site, were
// refused or reach no page make none. Nested <ul>/<ol> lists nest their
// entries under the entry of the list item they stand in; a list item with
// text but no link to a page becomes a heading for its nested entries.
//
// An entry is named by its link's text. When that is empty, or only repeats
// the file's name (the index window's "[name.htm]"), the entry takes the
// text of its table row before the link, without a leading "12. " (the
// index window's title column), else the target page's title. Links right
// after one another to the same place, with nothing but white space and
// tags between them (a picture and a text linking one page), make one
// entry. A target (page and fragment) is listed once, where it first
// stands. Links inside navigation (<nav>, role="navigation", <header>,
// <footer>, Sphinx's "related", "sphinxsidebar" and "footer" blocks) are
// left out unless the page links nothing else. Empty when the walk holds no
// page of that name. The page's bytes
// must be those the walk read: links are matched to the files they reached
// by where they stand.
std::vector<SitemapEntry> ContentsFromPage(const SiteWalk& walk, std::string_view pageName);

// Every page of the walk once, named by its title, in the order of the
// language (text::Collation; ties by stored name).
std::vector<SitemapEntry> KeywordsFromPages(const SiteWalk& walk, std::uint32_t language);

// An HTML sitemap of the entries in the ANSI code page of the help file's
// language (Windows-1251 for 0x419 Russian, Shift_JIS for 0x411 Japanese):
// names and addresses escaped for HTML, characters the code page cannot hold as character
// references, and "%", "#" and "?" of a stored name percent-encoded so that the viewer reads them
// as part of the name.
std::string WriteSitemap(const std::vector<SitemapEntry>& entries, std::uint32_t language);

// ---- The project's own sitemaps, as the walk read them -----------------------------

// The "text/site properties" of a sitemap (the look of a contents tree).
chm::SitemapProperties ReadSitemapProperties(const SiteFile& sitemap);

// For each file of the walk (by index), the name of the first entry of the
// sitemap that links to it, or empty: the title of a page without one.
std::vector<std::string> FirstEntryNames(const SiteWalk& walk, const SiteFile& sitemap);

// A keyword of the project's index sitemap: its levels (the texts of the
// entries it is nested in, then its own), the stored names of the walk's
// files its targets reached with the names the sitemap gives them, and the
// keyword its See Also names.
struct SitemapKeyword {
    std::vector<std::string> path;
    std::vector<std::string> targets;
    std::string seeAlso;
    std::vector<std::string> targetNames; // beside targets; empty: none given
};

// Every entry of the sitemap as a keyword, in document order.
std::vector<SitemapKeyword> ReadIndexKeywords(const SiteWalk& walk, const SiteFile& sitemap);

// The sitemap's bytes as the help file stores them: "\" in each Local value
// as "/", as Microsoft's compiler writes them; all else as it stands.
std::string StoredSitemap(const SiteFile& sitemap);

// The stored name for a generated sitemap with that extension (".hhc",
// ".hhk"): "/Tomebox.hhc" in the root, unless a file of the walk already has
// that name (letter case ignored); then the first free of "/Tomebox-2.hhc",
// "/Tomebox-3.hhc" ...
std::string FreeStoredName(const SiteWalk& walk, std::string_view extension);

} // namespace tbx::site
