#include "index/page_list.h"
#include "support/temp_dir.h"
#include "text/charset.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Names(const std::vector<PageEntry>& pages) {
    std::vector<std::string> names;
    for (const PageEntry& page : pages)
        names.push_back(page.name);
    return names;
}

TEST(PageListTest, PageNamesEndInHtmOrHtmlInAnyCase) {
    for (const char* name : {"a.htm", "b.HTML", "c.Htm", ".htm", "index_tbx.html"})
        EXPECT_TRUE(IsPageName(name)) << name;
    for (const char* name : {"a.htm.bak", "b.txt", "htm", "c.xhtml ", "d.shtm", "e.htmlx"})
        EXPECT_FALSE(IsPageName(name)) << name;
}

TEST(PageListTest, NamesSortWithoutRegardToLatinOrCyrillicCase) {
    EXPECT_TRUE(NameLess("a.htm", "B.htm"));
    EXPECT_FALSE(NameLess("B.htm", "a.htm"));
    EXPECT_TRUE(NameLess("абв.htm", "Где.htm"));
    EXPECT_TRUE(NameLess("Ёлка.htm", "жук.htm"));
    EXPECT_TRUE(NameLess("a.htm", "a1.htm")); // a prefix comes first
    // Names equal but for case still have a fixed order.
    EXPECT_NE(NameLess("A.htm", "a.htm"), NameLess("a.htm", "A.htm"));
    // Bytes that are not UTF-8 still give a strict order.
    EXPECT_NE(NameLess("\xE0.htm", "\xC0.htm"), NameLess("\xC0.htm", "\xE0.htm"));
}

TEST(PageListTest, ListsOnlyPagesSortedWithTheirTitles) {
    TempDir dir;
    WriteFile(dir / "c.htm", "<html><head><TITLE>Третья</TITLE></head></html>");
    WriteFile(dir / "B.HTML", "<title>" + *EncodeCp1251Exact("Вторая") + "</title>");
    WriteFile(dir / "a.htm", "<html><body>no title</body></html>");
    WriteFile(dir / "notes.txt", "<title>not a page</title>");
    WriteFile(dir / "old.htm.bak", "<title>backup</title>");
    fs::create_directory(dir.Path() / "folder.htm");
    fs::create_directory(dir.Path() / "plain folder");
    WriteFile(dir / "plain folder/inner.htm", "<title>not listed</title>");
    // The index page written into the folder before would link to itself.
    WriteFile(dir / "index_tbx.html", "<title>Tomebox! ==СОДЕРЖАНИЕ==</title>");
    WriteFile(dir / "Index_Tbx.html", "<title>another page</title>");

    const std::vector<PageEntry> pages = ListPages(dir.Path().string() + "/");

    ASSERT_EQ(Names(pages), (std::vector<std::string>{"a.htm", "B.HTML", "c.htm", "folder.htm",
                                                      "Index_Tbx.html"}));
    EXPECT_EQ(pages[0].title, "a.htm");  // no title tag: the file title
    EXPECT_EQ(pages[1].title, "Вторая"); // Windows-1251 page
    EXPECT_EQ(pages[2].title, "Третья"); // UTF-8 page
    EXPECT_EQ(pages[3].title, kNoTitle);
    EXPECT_TRUE(pages[3].isFolder);
    EXPECT_FALSE(pages[0].isFolder);
}

TEST(PageListTest, AMissingFolderListsNothing) {
    TempDir dir;
    EXPECT_TRUE(ListPages(dir.Path().string() + "/gone/").empty());
}

} // namespace
} // namespace tbx
