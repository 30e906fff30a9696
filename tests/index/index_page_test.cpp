#include "index/index_page.h"
#include "settings/opt_store.h"
#include "support/temp_dir.h"
#include "text/charset.h"
#include "text/page_title.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The fixed head, in UTF-8 with "\n" for each line end; link is line 4.
std::string Head(const std::string& link = {}) {
    return "<html><head>\n"
           "<title>Tomebox! ==СОДЕРЖАНИЕ==</title>\n"
           "<META http-equiv=Content-Type content=\"text/html; charset=windows-1251\">\n" +
           (link.empty() ? std::string()
                         : "<link REL=stylesheet HREF=\"" + link + "\" TYPE=text/css>\n") +
           "</head><body class=\"yourbody\">\n"
           "<table cellspacing=\"5\" cellpadding=\"5\" align=\"center\" border=\"0\" "
           "class=\"yourtable\">\n"
           "<tr>\n"
           "<td class=\"contents\" colspan=\"2\" align=\"center\">Содержание:</td>\n"
           "</tr>\n";
}

std::string Row(int number, const std::string& title, const std::string& href,
                const std::string& shown) {
    return "<tr>\n<td class=\"yourstring\">" + std::to_string(number) + ". " + title +
           "</td>\n<td><a href=\"" + href + "\" class=\"yourlink\">\n[" + shown +
           "]</a></td>\n</tr>\n";
}

const std::string kTail = "</table></body></html>\n";

// The bytes the page must hold: Windows-1251 with CR LF line ends.
std::string PageBytes(const std::string& utf8WithLf) {
    std::string crlf;
    for (const char c : utf8WithLf) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    return EncodeCp1251(crlf, Unmappable::CharRef);
}

std::string Written(const std::vector<IndexRow>& rows, const std::string& css = {}) {
    CIndexPageFile file;
    WriteIndexPage(file, rows, css);
    return file.Bytes();
}

TEST(IndexPageTest, OneRowGivesThirteenCrLfLinesInWindows1251) {
    const std::string bytes = Written({{"Intro", "a.htm"}});

    EXPECT_EQ(bytes, PageBytes(Head() + Row(1, "Intro", "a.htm", "a.htm") + kTail));
    // Spelled out once, so the helpers above cannot hide a fault.
    EXPECT_NE(bytes.find("\r\n<td class=\"yourstring\">1. Intro</td>\r\n"
                         "<td><a href=\"a.htm\" class=\"yourlink\">\r\n[a.htm]</a></td>\r\n"),
              std::string::npos);
    EXPECT_EQ(bytes.find("<link"), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    // Head lines 1 to 3 and 5 to 9, five row lines, the closing line.
    EXPECT_EQ(lines, 14u);
    EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1); // no bare line feeds
    EXPECT_TRUE(bytes.ends_with("</table></body></html>\r\n"));
    EXPECT_EQ(bytes.substr(0, 6), "<html>"); // no byte-order mark
    // The fixed Cyrillic text is Windows-1251, one byte per letter.
    EXPECT_NE(bytes.find("==\xD1\xCE\xC4\xC5\xD0\xC6\xC0\xCD\xC8\xC5=="), std::string::npos);
}

TEST(IndexPageTest, RowsAreNumberedInListOrderWithoutLeadingZeros) {
    std::vector<IndexRow> rows;
    std::string body;
    for (int i = 1; i <= 10; ++i) {
        const std::string name = "p" + std::to_string(11 - i) + ".htm";
        rows.push_back({"Стр " + std::to_string(i), name});
        body += Row(i, "Стр " + std::to_string(i), name, name);
    }
    const std::string bytes = Written(rows);
    EXPECT_EQ(bytes, PageBytes(Head() + body + kTail));
    EXPECT_NE(bytes.find("\"yourstring\">10. "), std::string::npos);
}

TEST(IndexPageTest, TitlesAreCopiedAsTheyStandAndEncodedForWindows1251) {
    const std::string bytes = Written({
        {"a < b & c\nnext", "a.htm"}, // markup and a line break stay as they are
        {"", "b.htm"},                // an emptied title leaves the number
        {"Глава «один» — 1", "c.htm"},
        {"≈ 中文 😀", "d.htm"}, // outside Windows-1251: character references
    });
    EXPECT_NE(bytes.find("\"yourstring\">1. a < b & c\nnext</td>\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\"yourstring\">2. </td>\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\"yourstring\">3. " + *EncodeCp1251Exact("Глава «один» — 1") + "</td>"),
              std::string::npos);
    EXPECT_NE(bytes.find("\"yourstring\">4. &#8776; &#20013;&#25991; &#128512;</td>"),
              std::string::npos);
}

TEST(IndexPageTest, FileNamesStillLinkToTheirFiles) {
    EXPECT_EQ(LinkTarget("plain name.htm"), "plain name.htm");
    EXPECT_EQ(LinkTarget("a#b.htm"), "a%23b.htm");
    EXPECT_EQ(LinkTarget("what?.htm"), "what%3F.htm");
    EXPECT_EQ(LinkTarget("100%41.htm"), "100%2541.htm");
    EXPECT_EQ(LinkTarget("say \"hi\".htm"), "say %22hi%22.htm");
    EXPECT_EQ(LinkTarget("r&d.htm"), "r&amp;d.htm");
    EXPECT_EQ(LinkTarget("глава.htm"), "глава.htm"); // UTF-8 names are written as text
    // A name stored in Windows-1251 is not UTF-8: its bytes are linked exactly.
    EXPECT_EQ(LinkTarget("\xE3\xEB.htm"), "%E3%EB.htm");

    const std::string bytes = Written({{"T", "a<b>&#1.htm"}, {"U", "\xE3\xEB.htm"}});
    EXPECT_NE(bytes.find("<a href=\"a<b>&amp;%231.htm\" class=\"yourlink\">\r\n"
                         "[a&lt;b&gt;&amp;#1.htm]</a>"),
              std::string::npos);
    // The Windows-1251 name shows as its letters.
    EXPECT_NE(bytes.find("href=\"%E3%EB.htm\" class=\"yourlink\">\r\n[\xE3\xEB.htm]"),
              std::string::npos);
}

class WriteIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = pages.Path().string() + "/";
        programFolder = program.Path().string() + "/";
        fs::create_directory(program.Path() / "css_dir");
        WriteFile(program / "css_dir/blue.css", "body { color: blue; }");
    }

    void SetOptions(std::initializer_list<std::pair<const char*, const char*>> values) {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(hive, kIndOptsKey), kErrorSuccess);
        for (const auto& [name, text] : values)
            ASSERT_EQ(key.SetText(name, text), kErrorSuccess);
    }

    IndexOutcome Index(const std::vector<IndexRow>& rows = {{"Intro", "a.htm"}}) {
        return WriteIndex(file, hive, programFolder, folder, rows);
    }

    std::string Page() const { return ReadFile(pages / kIndexPageName); }

    TempDir pages, program, store;
    RegHive hive{store.Path()};
    std::string folder, programFolder;
    CIndexPageFile file;
};

// No style chosen, or a style in an empty folder: an empty folder is no
// folder, not the root.
TEST_F(WriteIndexTest, NoStyleSheetWhenTheOptionsChooseNoneOrNoFolder) {
    for (const auto& [path, style] :
         {std::pair{"Default", "NoCSS"}, {"Default", "nocss"}, {"Default", ""}, {"", "blue.css"}}) {
        SetOptions({{"CSSPath", path}, {"CSSStyle", style}, {"CopyCSS", "1"}});
        const IndexOutcome outcome = Index();
        ASSERT_EQ(outcome.status, IndexStatus::Written) << path << style;
        EXPECT_EQ(outcome.pagePath, folder + "index_tbx.html");
        EXPECT_EQ(Page(), PageBytes(Head() + Row(1, "Intro", "a.htm", "a.htm") + kTail));
        EXPECT_FALSE(fs::exists(pages.Path() / "blue.css"));
    }
}

TEST_F(WriteIndexTest, WithoutAnOptionsKeyThePageHasNoStyleSheet) {
    ASSERT_EQ(Index().status, IndexStatus::Written);
    EXPECT_EQ(Page().find("<link"), std::string::npos);
}

TEST_F(WriteIndexTest, CopiedStyleSheetIsLinkedByItsNameAndReplacesAnOlderCopy) {
    SetOptions({{"CSSPath", "DEFAULT"}, {"CSSStyle", "blue.css"}, {"CopyCSS", "1"}});
    WriteFile(pages / "blue.css", "old copy");

    const IndexOutcome outcome = Index();

    ASSERT_EQ(outcome.status, IndexStatus::Written);
    EXPECT_TRUE(outcome.cssCopyError.empty());
    EXPECT_EQ(Page(), PageBytes(Head("blue.css") + Row(1, "Intro", "a.htm", "a.htm") + kTail));
    EXPECT_EQ(ReadFile(pages / "blue.css"), "body { color: blue; }");
}

TEST_F(WriteIndexTest, LinkedStyleSheetIsNamedByItsFullPath) {
    SetOptions({{"CSSPath", "default"}, {"CSSStyle", "blue.css"}, {"CopyCSS", "0"}});
    ASSERT_EQ(Index().status, IndexStatus::Written);
    EXPECT_EQ(Page(), PageBytes(Head(programFolder + "css_dir/blue.css") +
                                Row(1, "Intro", "a.htm", "a.htm") + kTail));
    EXPECT_FALSE(fs::exists(pages.Path() / "blue.css"));
}

TEST_F(WriteIndexTest, AChosenStyleFolderNamesItsSheetWithOrWithoutAFinalSlash) {
    SetOptions({{"CSSPath", (programFolder + "css_dir/").c_str()},
                {"CSSStyle", "blue.css"},
                {"CopyCSS", "1"}});
    ASSERT_EQ(Index().status, IndexStatus::Written);
    EXPECT_EQ(ReadFile(pages / "blue.css"), "body { color: blue; }");

    // Typed without its final "/", the folder is the one the options sheet
    // listed the sheet from, and the link still names the file.
    SetOptions({{"CSSPath", (programFolder + "css_dir").c_str()}, {"CopyCSS", "0"}});
    ASSERT_EQ(Index().status, IndexStatus::Written);
    EXPECT_NE(Page().find("HREF=\"" + programFolder + "css_dir/blue.css\""), std::string::npos);
}

TEST_F(WriteIndexTest, AFailedStyleSheetCopyIsReportedAndThePageStillWritten) {
    SetOptions({{"CSSPath", "Default"}, {"CSSStyle", "missing.css"}, {"CopyCSS", "1"}});
    const IndexOutcome outcome = Index();
    ASSERT_EQ(outcome.status, IndexStatus::Written);
    EXPECT_FALSE(outcome.cssCopyError.empty());
    EXPECT_EQ(outcome.cssCopyFrom, programFolder + "css_dir/missing.css");
    EXPECT_NE(Page().find("HREF=\"missing.css\""), std::string::npos);
    EXPECT_FALSE(fs::exists(pages.Path() / "missing.css"));
}

TEST_F(WriteIndexTest, AStyleSheetAlreadyBesideThePageIsKept) {
    // The style folder is the indexed folder: copying onto itself must not empty it.
    WriteFile(pages / "own.css", "p { margin: 0; }");
    SetOptions({{"CSSPath", folder.c_str()}, {"CSSStyle", "own.css"}, {"CopyCSS", "1"}});
    const IndexOutcome outcome = Index();
    ASSERT_EQ(outcome.status, IndexStatus::Written);
    EXPECT_TRUE(outcome.cssCopyError.empty());
    EXPECT_EQ(ReadFile(pages / "own.css"), "p { margin: 0; }");
}

TEST_F(WriteIndexTest, IndexingAgainReplacesThePage) {
    ASSERT_EQ(Index({{"One", "a.htm"}}).status, IndexStatus::Written);
    ASSERT_EQ(Index({{"Two", "b.htm"}}).status, IndexStatus::Written);
    EXPECT_EQ(Page(), PageBytes(Head() + Row(1, "Two", "b.htm", "b.htm") + kTail));
}

TEST_F(WriteIndexTest, WithoutAFolderNothingIsWrittenAnywhere) {
    TempDir current;
    const fs::path before = fs::current_path();
    fs::current_path(current.Path());
    for (const std::string& bad : {std::string(), std::string("relative/")}) {
        folder = bad;
        EXPECT_EQ(Index().status, IndexStatus::NoFolder);
    }
    fs::current_path(before);
    EXPECT_TRUE(fs::is_empty(current.Path()));
}

TEST_F(WriteIndexTest, AGoneFolderIsAWriteFailure) {
    folder += "gone/";
    const IndexOutcome outcome = Index();
    EXPECT_EQ(outcome.status, IndexStatus::WriteFailed);
    EXPECT_FALSE(outcome.error.empty());
}

TEST_F(WriteIndexTest, AWriteFailingHalfwayLeavesTheEarlierPageWhole) {
    SetOptions({{"CSSPath", "Default"}, {"CSSStyle", "blue.css"}, {"CopyCSS", "1"}});
    WriteFile(pages / kIndexPageName, "earlier page");
    std::vector<IndexRow> rows;
    for (int i = 0; i < 200; ++i)
        rows.push_back({"Страница " + std::to_string(i), std::to_string(i) + ".htm"});

    // Files may grow to 4 KiB only: the page stops in the middle of a write.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const IndexOutcome outcome = Index(rows);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(outcome.status, IndexStatus::WriteFailed);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_EQ(Page(), "earlier page");
    EXPECT_FALSE(fs::exists(pages.Path() / "blue.css")); // no page, no copy
    for (const auto& entry : fs::directory_iterator(pages.Path()))
        EXPECT_EQ(entry.path().filename(), kIndexPageName) << "left behind: " << entry.path();
}

TEST_F(WriteIndexTest, HandOffNamesThePageTheHelpFileAndTheTitleReadBack) {
    g_strIndexPage = "stale";
    ASSERT_EQ(Index().status, IndexStatus::Written);

    HandOffIndexPage(folder);

    EXPECT_EQ(g_strIndexPage, folder + "index_tbx.html");
    EXPECT_EQ(g_strIndexChm, folder + "index_tbx.chm");
    EXPECT_EQ(g_strIndexTitle, "Tomebox! ==СОДЕРЖАНИЕ==");
    // A page indexed again lists the earlier index page under that title.
    EXPECT_EQ(GetPageTitle(g_strIndexPage), kIndexPageTitle);

    ClearIndexHandOff();
    EXPECT_TRUE(g_strIndexPage.empty() && g_strIndexChm.empty() && g_strIndexTitle.empty());
}

} // namespace
} // namespace tbx
