#include "index/page_list.h"

#include "index/page_title.h"

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace tbx {
namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size())
        return false;
    const std::string_view end = text.substr(text.size() - tail.size());
    return std::equal(end.begin(), end.end(), tail.begin(),
                      [](char a, char b) { return AsciiLower(a) == b; });
}

// Next code point of a UTF-8 text; a byte that does not start a valid
// sequence stands for itself, so any bytes compare consistently.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 0;
    if (length == 0 || at + length > text.size()) {
        ++at;
        return lead;
    }
    char32_t code = length == 1 ? lead : length == 2 ? (lead & 0x1F) : (lead & 0x0F);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return lead;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    at += length;
    return code;
}

// Sort key of a code point: Latin and Cyrillic letters without case, and
// "ё" right after "е" as the Russian alphabet has it. Keys are doubled so
// that "ё" fits between two neighbours.
char32_t FoldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        c += 0x20;
    else if (c >= 0x410 && c <= 0x42F) // А..Я
        c += 0x20;
    else if (c >= 0x400 && c <= 0x40F) // Ѐ..Џ
        c += 0x50;
    if (c == 0x451) // ё
        return 0x435 * 2 + 1;
    return c * 2;
}

} // namespace

bool IsPageName(std::string_view name) {
    return EndsWithNoCase(name, ".htm") || EndsWithNoCase(name, ".html");
}

bool PageNameLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ca = FoldCase(NextCodePoint(a, i));
        const char32_t cb = FoldCase(NextCodePoint(b, j));
        if (ca != cb)
            return ca < cb;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    return a < b;
}

std::vector<PageEntry> ListPages(const std::string& folder) {
    std::vector<PageEntry> pages;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return pages;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || !IsPageName(name))
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
              [](const PageEntry& a, const PageEntry& b) { return PageNameLess(a.name, b.name); });
    for (PageEntry& page : pages)
        page.title = page.isFolder ? std::string(kNoTitle) : GetPageTitle(folder + page.name);
    return pages;
}

} // namespace tbx
