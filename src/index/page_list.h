#pragma once
// The pages of one folder as the index window lists them.

#include <string>
#include <string_view>
#include <vector>

namespace tbx {

struct PageEntry {
    std::string name;  // file name as stored on disk (raw bytes), without folder
    std::string title; // UTF-8, as GetPageTitle gives it
    bool isFolder = false;
};

// True for names ending in ".htm" or ".html", in any letter case: Linux has
// no short names through which "*.htm" would also find ".html" pages.
bool IsPageName(std::string_view name);

// Every entry of folder (ending with "/") whose name is a page name, but for
// the index page "index_tbx.html" itself, sorted
// by PageNameLess, each with its title. A folder named like a page is listed
// too; it cannot be read, so its title is "---NoTitle---". An unreadable
// folder gives an empty list.
std::vector<PageEntry> ListPages(const std::string& folder);

} // namespace tbx
