#include "index/index_page.h"
#include "site/sitemap.h"
#include "support/sitemap_reader.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace tbx::site {
namespace {

namespace fs = std::filesystem;
using test::Compact;
using test::ReadSitemap;
using test::TempDir;
using test::WriteFile;

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

// Written for a Russian help file, then read back.
std::string RoundTrip(const std::vector<SitemapEntry>& entries) {
    const std::string bytes = WriteSitemap(entries, 0x419);
    EXPECT_TRUE(bytes.starts_with("<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n"));
    return Compact(ReadSitemap(DecodeCp1251(bytes)));
}

SiteWalk Walk(const fs::path& root, const std::string& start) {
    WalkOptions options;
    options.root = root.string() + "/";
    options.starts = {(root / start).string()};
    SiteWalk walk = WalkSite(options);
    EXPECT_EQ(walk.error, "");
    return walk;
}

// ---- Contents --------------------------------------------------------------------

TEST(Sitemap, IndexPageBecomesTheContentsRowByRowWithItsTitles) {
    TempDir dir;
    const fs::path root = dir.Path() / "site";
    fs::create_directories(root);
    const std::vector<IndexRow> rows = {
        {"Первая глава (правка)", "Глава 1.htm"}, // a title edited in the list
        {"Введение", "Введение.htm"},
        {"", "Приложение ≈.htm"}, // edited to nothing: the page's own title
        {"Глава &amp; вторая", "Глава #2.htm"},
        {"Меньше < больше", "zeta.htm"},
    };
    WriteFile(root / "Глава 1.htm", Cp1251("<title>Глава первая</title>"));
    WriteFile(root / "Введение.htm", Cp1251("<title>Введение</title>"));
    WriteFile(root / "Приложение ≈.htm", Cp1251("<title>Приложение</title>"));
    WriteFile(root / "Глава #2.htm", Cp1251("<title>Глава &amp; вторая</title>"));
    WriteFile(root / "zeta.htm", "<title>Zeta</title>");
    CIndexPageFile page;
    WriteIndexPage(page, rows, "");
    WriteFile(root / kIndexPageName, page.Bytes());

    const SiteWalk walk = Walk(root, kIndexPageName);
    EXPECT_EQ(RoundTrip(ContentsFromPage(walk, std::string("/") + kIndexPageName)),
              "Первая глава (правка)=Глава 1.htm;Введение=Введение.htm;"
              "Приложение=Приложение ≈.htm;Глава & вторая=Глава #2.htm;"
              "Меньше < больше=zeta.htm");
}

TEST(Sitemap, StartPageLinksAndListsBecomeTheTree) {
    TempDir dir;
    const fs::path root = dir.Path() / "site";
    fs::create_directories(root / "sub");
    WriteFile(dir.Path() / "out.htm", "<title>Outside</title>");
    WriteFile(root / "a.htm", Cp1251("<title>Страница А</title>"));
    WriteFile(root / "b.htm", Cp1251("<title>Страница Б</title>"));
    WriteFile(root / "c.htm", "<p>no title</p>");
    WriteFile(root / "sub/d.htm", "<title>D</title>");
    WriteFile(root / "pic.gif", "GIF89a");
    WriteFile(root / "style.css", "p {}");

    struct Case {
        std::string body; // UTF-8 here; written in Windows-1251 unless utf8
        std::string tree;
        bool utf8 = false;
    };
    const Case cases[] = {
        // Only links to pages of the site, in document order.
        {"<a href=\"b.htm\">Бэ</a> <a href=\"missing.htm\">m</a> <a href=\"../out.htm\">o</a>"
         "<a href=\"http://example.com/a.htm\">w</a> <a href=\"pic.gif\">p</a>"
         "<a href=\"#top\">t</a> <a href=\"style.css\">s</a> <a href=\"sub/d.htm\">Дэ</a>",
         "Бэ=b.htm;Дэ=sub/d.htm"},
        // ul in ul, ol, unclosed items, end tags with nothing open.
        {"<ul><li><a href=a.htm>A</a><ol><li><a href=b.htm>B</a><li><a href=c.htm>C</a></ol>"
         "<li><a href=sub/d.htm>D</a></ul></ul></ol><a href=a.htm#x>A2</a>",
         "A=a.htm{B=b.htm;C=c.htm};D=sub/d.htm;A2=a.htm#x"},
        // A list after "</li>" still belongs to its item; an unclosed one runs to the end.
        {"<ul><li><a href=a.htm>A</a></li><ul><li><a href=b.htm>B</a></li></ul>"
         "<li><a href=c.htm>C</a><ul><li><a href=sub/d.htm>D</a>",
         "A=a.htm{B=b.htm};C=c.htm{D=sub/d.htm}"},
        // An item without a link heads its list; one over no page is dropped.
        {"<ul><li>Раздел <b>один</b><ul><li><a href=a.htm>A</a></ul>"
         "<li>Пусто<ul><li><a href=missing.htm>M</a></ul>"
         "<li><ul><li><a href=b.htm>B</a></ul></ul>",
         "Раздел один{A=a.htm};B=b.htm"},
        // Broken markup before a link costs nothing after it.
        {"<p class=\"x>Введите <имя файла> и a < b <!-- unclosed\n"
         "<script>document.write('<a href=\"c.htm\">')</script>"
         "<a href=a.htm>Открытая<p><a href=\"b.htm\">Б</a>",
         "Открытая=a.htm;Б=b.htm"},
        // Names: text without tags, references and white space; else the title.
        {"<a href=b.htm>  Глава&nbsp;1 &amp;\n <b>два</b><br>три </a>"
         "<a href=a.htm></a>, <a href=sub/d.htm>[d.htm]</a>, <a href=c.htm><img src=pic.gif></a>",
         "Глава 1 & два три=b.htm;Страница А=a.htm;D=sub/d.htm;c.htm=c.htm"},
        // A picture and a text linking one page make one entry; a target
        // listed again is left out, its list going to where it first stands.
        {"<a href=a.htm><img src=pic.gif></a> <a href=a.htm>Текст</a>"
         "<ul><li><a href=b.htm>B</a><li><a href=\"./b.htm\">B2</a><ul><li><a href=c.htm>C</a>"
         "</ul></ul><a href=\"c.htm#part2\">C2</a><a href=\"c.htm#part3\">C3</a>"
         "<a href=sub/../a.htm>A</a>",
         "Текст=a.htm;B=b.htm{C=c.htm};C2=c.htm#part2;C3=c.htm#part3"},
        // Navigation is left out, nesting kept around it; Sphinx's bars as
        // its pages write them.
        {"<div class=\"related\" role=\"navigation\"><h3>Navigation</h3><ul>"
         "<li class=\"right\"><a href=sub/d.htm>modules</a></li>"
         "<li><a href=c.htm>next</a></ul></div>"
         "<nav><ul><li><a href=a.htm>Home</a></ul></nav>"
         "<div class=body><ul><li><a href=a.htm>A</a><ul><li><a href=b.htm>B</a></ul>"
         "<div><p>still text</p></div><li><a href=c.htm>C</a></ul></div>"
         "<div class=\"sphinxsidebar\"><div class=inner><a href=sub/d.htm>D</a></div>"
         "<a href=b.htm>B again</a></div>"
         "<header><a href=sub/d.htm>top</a></header><footer><a href=sub/d.htm>bottom</a></footer>"
         "<DIV CLASS=\"x footer\"><a href=sub/d.htm>©</a></DIV><img role=navigation src=pic.gif>"
         "<a href=sub/d.htm>D</a>",
         "A=a.htm{B=b.htm};C=c.htm;D=sub/d.htm"},
        // A page of nothing but navigation keeps it.
        {"<nav><a href=a.htm>A</a> <a href=b.htm>B</a></nav><p>text</p>", "A=a.htm;B=b.htm"},
        {"<meta charset=\"utf-8\"><a href=\"a.htm\">Ёж ≈ ёжик</a>", "Ёж ≈ ёжик=a.htm", true},
    };
    for (const Case& c : cases) {
        const std::string page = "<html><head><title>Старт</title></head><body>" + c.body;
        WriteFile(root / "index.htm", c.utf8 ? page : Cp1251(page));
        const SiteWalk walk = Walk(root, "index.htm");
        EXPECT_EQ(RoundTrip(ContentsFromPage(walk, "/index.htm")), c.tree) << c.body;
    }
}

// Every target of the entries and below them, as "local#fragment".
void CollectTargets(const std::vector<SitemapEntry>& entries, std::vector<std::string>& targets) {
    for (const SitemapEntry& entry : entries) {
        if (!entry.local.empty())
            targets.push_back(entry.local + "#" + entry.fragment);
        CollectTargets(entry.children, targets);
    }
}

// The Python documentation (Debian's python3-doc), a Sphinx site: its start
// page repeats the indexes in its bars and tables; the contents lists each
// target once and none of the bars' links ("index", "modules", "next").
TEST(Sitemap, PythonDocumentationContentsHasNoRepeatsAndNoBars) {
    const fs::path docs = "/usr/share/doc/python3-doc/html";
    if (!fs::exists(docs / "index.html"))
        GTEST_SKIP() << "python3-doc is not installed";
    const fs::path root = fs::canonical(docs);
    const SiteWalk walk = Walk(root, "index.html");
    const std::vector<SitemapEntry> contents = ContentsFromPage(walk, "/index.html");

    std::vector<std::string> targets;
    CollectTargets(contents, targets);
    std::map<std::string, int> seen;
    for (const std::string& target : targets)
        EXPECT_EQ(++seen[target], 1) << target << " listed again";
    EXPECT_GE(targets.size(), 20u);
    for (const char* page : {"whatsnew/3.11.html#", "tutorial/index.html#", "library/index.html#",
                             "genindex.html#", "py-modindex.html#", "copyright.html#"})
        EXPECT_EQ(seen[page], 1) << page;
    std::vector<std::string> names;
    for (const SitemapEntry& entry : contents)
        names.push_back(entry.name);
    for (const char* bar : {"index", "modules", "next", "previous"})
        EXPECT_EQ(std::count(names.begin(), names.end(), bar), 0) << bar;
}

// ---- Keywords and writing ---------------------------------------------------------

SiteFile Page(std::string name, std::string title, FileKind kind = FileKind::Page) {
    SiteFile file;
    file.name = std::move(name);
    file.title = std::move(title);
    file.kind = kind;
    return file;
}

TEST(Sitemap, KeywordsListEveryPageByTitleInTheLanguagesOrder) {
    const struct {
        std::uint32_t language;
        std::vector<const char*> titles;
        std::string order;
    } cases[] = {
        // Russian keeps the program's own dictionary order.
        {0x419,
         {"яблоко", "Ель", "Zebra", "Ёлка", "Глава 10", "ель", "apple", "«Война и мир»", "Еда",
          "Глава 2", "10 задач", "Ж", "Воин", "2 задачи"},
         "2 задачи=2 задачи.htm;10 задач=10 задач.htm;Воин=Воин.htm;"
         "«Война и мир»=«Война и мир».htm;Глава 2=Глава 2.htm;Глава 10=Глава 10.htm;"
         "Еда=b/Еда.htm;Еда=Еда.htm;Ёлка=Ёлка.htm;Ель=Ель.htm;ель=ель.htm;Ж=Ж.htm;"
         "яблоко=яблоко.htm;apple=apple.htm;Zebra=Zebra.htm"},
        // German: umlauts beside their vowels; Swedish: Å, Ä, Ö after Z;
        // Czech: "ch" after "h". Numbers go by value, case counts last.
        {0x407,
         {"Zebra", "Äpfel", "apfel", "Bär", "Öl", "Ofen", "10 Bände", "2 Bände"},
         "2 Bände=2 Bände.htm;10 Bände=10 Bände.htm;apfel=apfel.htm;Äpfel=Äpfel.htm;"
         "Bär=Bär.htm;Ofen=Ofen.htm;Öl=Öl.htm;Zebra=Zebra.htm"},
        {0x41D,
         {"Örn", "Zebra", "Ärlig", "Åsa", "Anna"},
         "Anna=Anna.htm;Zebra=Zebra.htm;Åsa=Åsa.htm;Ärlig=Ärlig.htm;Örn=Örn.htm"},
        {0x405,
         {"ižo", "chata", "hrad", "cesta"},
         "cesta=cesta.htm;hrad=hrad.htm;chata=chata.htm;ižo=ižo.htm"},
    };
    for (const auto& c : cases) {
        SiteWalk walk;
        for (const char* title : c.titles)
            walk.files.push_back(Page("/" + std::string(title) + ".htm", title));
        if (c.language == 0x419)
            walk.files.push_back(Page("/b/Еда.htm", "Еда"));
        walk.files.push_back(Page("/style.css", "style.css", FileKind::StyleSheet));
        EXPECT_EQ(RoundTrip(KeywordsFromPages(walk, c.language)), c.order) << c.language;
    }
}

TEST(Sitemap, AGeneratedSitemapTakesAFreeName) {
    SiteWalk walk;
    walk.files.push_back(Page("/index.htm", "index"));
    walk.files.push_back(Page("/Tomebox.hhk", "Tomebox.hhk", FileKind::Sitemap));
    EXPECT_EQ(FreeStoredName(walk, ".hhc"), "/Tomebox.hhc");
    walk.files.push_back(Page("/tomebox-2.HHK", "x", FileKind::Sitemap));
    EXPECT_EQ(FreeStoredName(walk, ".hhk"), "/Tomebox-3.hhk");
}

TEST(Sitemap, NamesAndAddressesSurviveEscapingInEitherCodePage) {
    const std::vector<SitemapEntry> entries = {
        {"Кавычки \"и\" & <теги> ≈ «ёлки» &amp;", "папка/50% #1?.htm", "часть 2", {}},
        {"Раздел", "", "", {{"Café", "a b.htm", "", {}}}},
    };
    const std::string tree = "Кавычки \"и\" & <теги> ≈ «ёлки» &amp;=папка/50% #1?.htm#часть 2;"
                             "Раздел{Café=a b.htm}";
    EXPECT_EQ(RoundTrip(entries), tree);
    EXPECT_NE(WriteSitemap(entries, 0x419).find(Cp1251("Кавычки")), std::string::npos);

    // A Western help file holds Cyrillic as references, and Latin-1 as itself.
    const std::string western = WriteSitemap(entries, 0x409);
    std::string latin1;
    for (const char c : western)
        AppendUtf8(latin1, static_cast<unsigned char>(c));
    EXPECT_EQ(Compact(ReadSitemap(latin1)), tree);
    EXPECT_NE(western.find("Caf\xE9"), std::string::npos);
}

TEST(Sitemap, StoredSitemapHasSlashesInLocalValuesOnly) {
    struct Case {
        const char* what;
        std::string bytes, charset, stored;
    };
    const std::string sjisTail = "\x95\x5C\xB1"; // 0x5C second in a pair, then a katakana
    const Case cases[] = {
        {"Local values, in any letter case; nothing else",
         "<object type=\"text/sitemap\"><param name=\"Name\" value=\"a\\b\">"
         "<PARAM NAME=\"local\" VALUE=\"dir\\sub\\p.htm\"></object><p>x\\y</p>",
         "windows-1252",
         "<object type=\"text/sitemap\"><param name=\"Name\" value=\"a\\b\">"
         "<PARAM NAME=\"local\" VALUE=\"dir/sub/p.htm\"></object><p>x\\y</p>"},
        {"a param outside an object is no entry", "<param name=\"Local\" value=\"a\\b.htm\">",
         "UTF-8", "<param name=\"Local\" value=\"a\\b.htm\">"},
        {"Shift_JIS keeps the second byte of a character",
         "<object><param name=\"Local\" value=\"" + sjisTail + "\\p.htm\"></object>", "Shift_JIS",
         "<object><param name=\"Local\" value=\"" + sjisTail + "/p.htm\"></object>"},
    };
    for (const Case& c : cases) {
        SiteFile file;
        file.bytes = c.bytes;
        file.kind = FileKind::Sitemap;
        file.charset = *Charset::ForLabel(c.charset);
        EXPECT_EQ(StoredSitemap(file), c.stored) << c.what;
    }
}

} // namespace
} // namespace tbx::site
