#include "app/build_inputs.h"
#include "res/strings.h"
#include "support/temp_dir.h"
#include "text/page_title.h"

#include <gtest/gtest.h>

namespace tbx {
namespace {

TEST(BuildInputs, HelpFilePathReplacesOnlyTheFileNamesExtension) {
    EXPECT_EQ(ChmPathFor("/site/start.html", ""), "/site/start.chm");
    EXPECT_EQ(ChmPathFor("/site/start.html", "/help/"), "/help/start.chm");
    EXPECT_EQ(ChmPathFor("/site/page.v2.htm", ""), "/site/page.v2.chm");
    // No dot in the name: a dot in a folder name must not be taken for one.
    EXPECT_EQ(ChmPathFor("/my.site/README", ""), "/my.site/README.chm");
    EXPECT_EQ(ChmPathFor("/site/.hidden", ""), "/site/.hidden.chm");
    EXPECT_EQ(ChmPathFor("/сайт/начало.htm", "/справка/"), "/справка/начало.chm");
}

TEST(BuildInputs, TitleFallsBackToFileTitleOrFileName) {
    test::TempDir dir;
    test::WriteFile(dir / "t.htm", "<TITLE> Введение\r\n</TITLE>");
    test::WriteFile(dir / "n.htm", "<p>no title</p>");
    EXPECT_EQ(TitleForPage(dir / "t.htm", "t.htm"), " Введение\r\n");
    EXPECT_EQ(TitleForPage(dir / "n.htm", "n.htm"), "n.htm");
    EXPECT_EQ(TitleForPage(dir / "gone.htm", "shown name"), "shown name");
}

TEST(BuildInputs, ReportNamesThePageOnTwoLines) {
    EXPECT_EQ(PageReport("start.htm"), "Файл 'start.htm'  успешно открыт.\r\n" + LoadString(105));
}

} // namespace
} // namespace tbx
