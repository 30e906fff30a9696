#include "support/temp_dir.h"
#include "text/page_title.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace tbx {
namespace {

using test::TempDir;
using test::WriteFile;

// The reader's chunk size: tags are placed across this boundary on purpose.
constexpr std::size_t kChunk = 64 * 1024;

class PageTitleTest : public ::testing::Test {
protected:
    // Writes a page and extracts its title.
    PageTitle Title(std::string_view bytes, std::string_view name = "page.htm") {
        const std::string path = dir_ / name;
        WriteFile(path, bytes);
        return ExtractPageTitle(path);
    }

    void ExpectTag(std::string_view bytes, const std::string& expected) {
        const PageTitle title = Title(bytes);
        EXPECT_EQ(title.source, TitleSource::Tag);
        EXPECT_EQ(title.text, expected);
    }

    void ExpectFileTitle(std::string_view bytes) {
        const PageTitle title = Title(bytes);
        EXPECT_EQ(title.source, TitleSource::FileTitle);
        EXPECT_EQ(title.text, "page.htm");
    }

    TempDir dir_;
};

TEST_F(PageTitleTest, TagsInAnyCaseKeepTheTitlesOwnCase) {
    ExpectTag("<HTML><HEAD><TITLE>Введение</TITLE></HEAD>", "Введение");
    ExpectTag("<html><TiTlE>Mixed Case Title</tItLe>", "Mixed Case Title");
    // The same word in Windows-1251 bytes, as old pages carry it.
    ExpectTag("<TITLE>\xC2\xE2\xE5\xE4\xE5\xED\xE8\xE5</TITLE>", "Введение");
    ExpectTag("<title>Tomebox! ==\xD1\xCE\xC4\xC5\xD0\xC6\xC0\xCD\xC8\xC5==</title>",
              "Tomebox! ==СОДЕРЖАНИЕ==");
}

TEST_F(PageTitleTest, TitleBytesAreTakenAsTheyAre) {
    ExpectTag("<title>  spaced \r\n\tover lines  </title>", "  spaced \r\n\tover lines  ");
    ExpectTag("<title>Tom &amp; Jerry &#1234;</title>", "Tom &amp; Jerry &#1234;");
    ExpectTag("<title>a <b>bold</b> word</title>", "a <b>bold</b> word");
    ExpectTag("<title></title>", "");
    ExpectTag("<title>First</title><title>Second</title>", "First");
}

TEST_F(PageTitleTest, TheTitleElementIsFoundAsBrowsersFindIt) {
    ExpectTag("<title lang=\"ru\">Заголовок</title>", "Заголовок");
    ExpectTag("<title >Spaced</title >", "Spaced");
    ExpectTag("<!-- <title>old</title> --><title>new</title>", "new");
    ExpectTag("<meta charset=koi8-r><title>\xF4\xC5\xCB\xD3\xD4</title>", "Текст");
    ExpectTag("<meta http-equiv=Content-Type content='text/html; CHARSET=iso-8859-2'>"
              "<title>\xB3\xF3"
              "d\xBC</title>",
              "łódź");
    ExpectFileTitle("<html><body>no title element</body></html>");
    ExpectFileTitle("<titl>x</titl><titlex>y</title>");
    ExpectFileTitle("ends in a cut tag <titl");
    ExpectFileTitle("");
}

TEST_F(PageTitleTest, PageEndsAtItsFirstZeroByte) {
    // UTF-16 puts a zero after every ASCII letter.
    const std::u16string utf16 = u"\uFEFF<title>Wide</title>";
    ExpectFileTitle(std::string_view(reinterpret_cast<const char*>(utf16.data()),
                                     utf16.size() * sizeof(char16_t)));
    ExpectFileTitle(std::string_view("<html>\0<title>Hidden</title>", 28));
    ExpectFileTitle(std::string_view("<title>Cut\0</title>", 19));
    ExpectTag(std::string_view("<title>Before</title>\0binary tail", 33), "Before");
}

TEST_F(PageTitleTest, MissingOrMisplacedEndTagGivesFileTitle) {
    ExpectFileTitle("<title>never closed");
    ExpectFileTitle("</title>closed before it opens<title>");
    // The end tag counts only after the start tag.
    ExpectTag("</title>stray<title>Real</title>", "Real");
}

TEST_F(PageTitleTest, TagsCutByTheChunkBoundaryAreFound) {
    // Filler full of near misses, so the search has to look at every '<'.
    auto filler = [](std::size_t size) {
        std::string text;
        while (text.size() < size)
            text += "<titl <x> <TITL>";
        text.resize(size);
        return text;
    };
    for (std::size_t back = 0; back <= 9; ++back) {
        SCOPED_TRACE(back);
        // The start tag begins `back` bytes before the boundary.
        ExpectTag(filler(kChunk - back) + "<title>Split Open</title>", "Split Open");
        // The end tag begins `back` bytes before the boundary.
        std::string page = "<title>";
        page += filler(kChunk - back - page.size());
        const std::string expected = page.substr(7);
        ExpectTag(page + "</title> tail", expected);
        // Both at a later boundary, after several chunks without a tag.
        ExpectTag(filler(3 * kChunk - back) + "<TITLE>Late</TITLE>", "Late");
    }
}

// A title may span the reader's chunks, but none is longer than 64 KiB: a
// page whose title runs on further (a hostile page, or one whose end tag is
// far away) gets its file title, so the reader never holds more than that.
TEST_F(PageTitleTest, TitlesUpTo64KiBAreWholeAndLongerOnesAreNoTitle) {
    constexpr std::size_t kLongest = 64 * 1024;
    std::string title;
    for (int i = 0; title.size() < kLongest; ++i)
        title += "line " + std::to_string(i) + "\n";
    title.resize(kLongest);
    ExpectTag("<html><head><title>" + title + "</title></head>", title);
    // Starting just before a boundary, so its first bytes are only in the first chunk.
    ExpectTag(std::string(kChunk - 10, ' ') + "<title>" + title + "</title>", title);

    ExpectFileTitle("<title>" + title + "x</title>");
    ExpectFileTitle(std::string(kChunk - 10, ' ') + "<title>" + title + "x</title>");
    ExpectFileTitle("<title>" + std::string(5 * kChunk, 'a') + "</title>");
}

TEST_F(PageTitleTest, FileTitleKeepsUnusualNamesAndTheExtension) {
    const std::string name = "Глава 1 \"quoted\" 'it's'.html";
    const PageTitle title = Title("no title here", name);
    EXPECT_EQ(title.source, TitleSource::FileTitle);
    EXPECT_EQ(title.text, name);

    // A name written in Windows-1251 bytes is shown as the letters it means.
    const PageTitle legacy = Title("no title here", "\xC3\xEB\xE0\xE2\xE0.htm");
    EXPECT_EQ(legacy.text, "Глава.htm");

    EXPECT_EQ(FileTitle("/a/b.c/page.name.htm"), "page.name.htm");
    EXPECT_EQ(FileTitle("page"), "page");
    EXPECT_EQ(FileTitle("/a/b/"), "");
}

TEST_F(PageTitleTest, UnreadablePagesGiveTheMarker) {
    const std::string missing = dir_ / "missing.htm";
    EXPECT_EQ(ExtractPageTitle(missing).source, TitleSource::Unreadable);
    EXPECT_EQ(GetPageTitle(missing), kNoTitle);

    const std::string folder = dir_ / "folder.htm";
    std::filesystem::create_directory(folder);
    EXPECT_EQ(ExtractPageTitle(folder).source, TitleSource::Unreadable);
    EXPECT_EQ(GetPageTitle(folder), kNoTitle);

    // A named pipe with no writer must not hang the listing.
    const std::string pipe = dir_ / "pipe.htm";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(GetPageTitle(pipe), kNoTitle);

    EXPECT_EQ(GetPageTitle(""), kNoTitle);
}

TEST_F(PageTitleTest, GetPageTitleGivesTagTextElseFileTitle) {
    WriteFile(dir_ / "tagged.htm", "<title>Tag</title>");
    WriteFile(dir_ / "plain.htm", "no title");
    EXPECT_EQ(GetPageTitle(dir_ / "tagged.htm"), "Tag");
    EXPECT_EQ(GetPageTitle(dir_ / "plain.htm"), "plain.htm");
}

} // namespace
} // namespace tbx
