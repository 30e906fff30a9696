#include "index/page_list.h"

#include "index/index_page.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace tbx {
bool IsPageName(std::string_view name) {
    return EndsWithNoCase(name, ".htm") || EndsWithNoCase(name, ".html");
}

std::vector<PageEntry> ListPages(const std::string& folder) {
    std::vector<PageEntry> pages;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return pages;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        // The index page is what the list is written into, not one of its entries.
        if (name == "." || name == ".." || name == kIndexPageName || !IsPageName(name))
            continue;
        PageEntry page;
        page.name = name;
        bool folderEntry = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            folderEntry = ::stat((folder + page.name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        page.isFolder = folderEntry;
        pages.push_back(std::move(page));
    }
    ::closedir(dir);

    std::sort(pages.begin(), pages.end(),
              [](const PageEntry& a, const PageEntry& b) { return NameLess(a.name, b.name); });
    for (PageEntry& page : pages)
        page.title = page.isFolder ? std::string(kNoTitle) : GetPageTitle(folder + page.name);
    return pages;
}

} // namespace tbx
