// The viewer's logic without a window: where links lead, how sitemaps read,
// and what a window definition lays out.

#include "chm/keyword_index.h"
#include "site/sitemap_reader.h"
#include "support/help_file_builder.h"
#include "support/temp_dir.h"
#include "text/charset.h"
#include "viewer/help_document.h"
#include "viewer/help_link.h"
#include "viewer/viewer_layout.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tbx::viewer {
namespace {

using site::kMaxSitemapDepth;
using site::ReadSitemap;
using site::SitemapTarget;

TEST(ViewerLinkTest, LinksLeadIntoTheFileOutToTheWebOrNowhere) {
    using Kind = HelpLink::Kind;
    struct Case {
        const char* link;
        const char* base;
        Kind kind;
        const char* stored; // or the address, for the web
        const char* fragment;
        const char* helpFile;
    };
    const Case cases[] = {
        {"b.htm", "/dir/a.htm", Kind::Stored, "/dir/b.htm", "", ""},
        {"../b.htm#part", "/dir/a.htm", Kind::Stored, "/b.htm", "part", ""},
        {"./x//y\\z.htm?q=1", "/a.htm", Kind::Stored, "/x/y/z.htm", "", ""},
        {"#top", "/dir/a.htm", Kind::Stored, "/dir/a.htm", "top", ""},
        {"/%D1%81%D1%82%D1%80.htm", "/a.htm", Kind::Stored, "/стр.htm", "", ""},
        {"страница.htm", "/", Kind::Stored, "/страница.htm", "", ""},
        {"../../etc/passwd", "/dir/a.htm", Kind::Invalid, "", "", ""},
        {"ms-its:Help.chm::/dir/p.htm#s", "/", Kind::Stored, "/dir/p.htm", "s", ""},
        {"MS-ITS:help.CHM::dir/p.htm", "/", Kind::Stored, "/dir/p.htm", "", ""},
        {"mk:@MSITStore:C:\\Docs\\help.chm::/p.htm", "/", Kind::Stored, "/p.htm", "", ""},
        {"ms-its:other.chm::/p.htm", "/", Kind::OtherFile, "/p.htm", "", "other.chm"},
        {"its:other.chm::/../p.htm", "/", Kind::Invalid, "", "", ""},
        {"mk:@other:x", "/", Kind::Invalid, "", "", ""},
        {"tomebox-help://chm/dir/p%20q.htm#f", "/x/y.htm", Kind::Stored, "/dir/p q.htm", "f", ""},
        {"https://example.org/a?b", "/", Kind::Web, "https://example.org/a?b", "", ""},
        {" mailto:someone@example.org ", "/", Kind::Web, "mailto:someone@example.org", "", ""},
        {"javascript:alert(1)", "/", Kind::Invalid, "", "", ""},
        {"file:///etc/passwd", "/", Kind::Invalid, "", "", ""},
        {"C:\\page.htm", "/", Kind::Stored, "/C:/page.htm", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        const HelpLink link = ResolveLink(c.link, c.base, "help.chm");
        EXPECT_EQ(link.kind, c.kind);
        if (c.kind == Kind::Invalid)
            continue;
        EXPECT_EQ(link.stored, c.stored);
        EXPECT_EQ(link.fragment, c.fragment);
        EXPECT_EQ(link.helpFile, c.helpFile);
    }
    // Served addresses come back to the same stored names.
    for (const char* stored : {"/dir/p q.htm", "/страница.htm", "/a%b#c?.htm"}) {
        const HelpLink back = ResolveLink(HelpAddress(stored, "x"), "/", "help.chm");
        EXPECT_EQ(back.stored, stored);
        EXPECT_EQ(back.fragment, "x");
    }
}

// "name=local|name=local{child;child}" with a heading's targets empty.
std::string Compact(const std::vector<SitemapNode>& nodes) {
    std::string out;
    for (const SitemapNode& node : nodes) {
        if (!out.empty())
            out += ';';
        out += node.name;
        for (const SitemapTarget& target : node.targets)
            out += "|" + target.name + "=" + target.local;
        if (node.IsBook())
            out += "[book]";
        if (!node.children.empty())
            out += "{" + Compact(node.children) + "}";
    }
    return out;
}

std::string Entry(const std::string& params) {
    return "<LI><OBJECT type=\"text/sitemap\">" + params + "</OBJECT>";
}
std::string Param(const std::string& name, const std::string& value) {
    return "<param name=\"" + name + "\" value=\"" + value + "\">";
}

TEST(ViewerSitemapTest, SitemapsReadAsTreesWithTheirNamesAndTargets) {
    const text::Charset cp1251 = text::Charset::ForCodePage(1251);
    std::string deep;
    for (int i = 0; i < 200; ++i)
        deep += Entry(Param("Name", "d")) + "<UL>";
    struct Case {
        const char* what;
        std::string bytes;
        std::string tree;
    };
    const Case cases[] = {
        {"nesting and a heading",
         "<HTML><BODY><OBJECT type=\"text/site properties\">" + Param("ImageType", "Folder") +
             "</OBJECT><UL>" + Entry(Param("Name", "A") + Param("Local", "a.htm")) +
             Entry(Param("Name", "Head")) + "<UL>" +
             Entry(Param("Name", "B") + Param("Local", "dir\\b.htm")) + "<UL>" +
             Entry(Param("Name", "C") + Param("Local", "c.htm#x")) + "</UL></UL>" +
             Entry(Param("Name", "D") + Param("Local", "d.htm") + Param("ImageNumber", "1")) +
             "</UL></BODY></HTML>",
         "A|A=a.htm;Head[book]{B|B=dir\\b.htm[book]{C|C=c.htm#x}};D|D=d.htm[book]"},
        {"keywords on several topics",
         "<UL>" +
             Entry(Param("Name", "kw") + Param("Name", "T1") + Param("Local", "1.htm") +
                   Param("Name", "T2") + Param("Local", "2.htm")) +
             Entry(Param("Name", "see") + Param("See Also", "kw")) + "</UL>",
         "kw|T1=1.htm|T2=2.htm;see"},
        {"Windows-1251 and references",
         text::Encode("<UL>" +
                          Entry(Param("Name", "Глава &laquo;1&raquo; &amp; ещё") +
                                Param("Local", "страница.htm")) +
                          "</UL>",
                      1251, text::Unmappable::CharRef),
         "Глава «1» & ещё|Глава «1» & ещё=страница.htm"},
        {"UTF-8 declared",
         "<meta charset=\"utf-8\"><UL>" + Entry(Param("Name", "Ёж") + Param("Local", "ёж.htm")) +
             "</UL>",
         "Ёж|Ёж=ёж.htm"},
        {"broken markup", "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A",
         ""},
        {"stray closing lists", "</UL></UL>" + Entry(Param("Name", "A")) + "</UL>", "A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Compact(ReadSitemap(c.bytes, cp1251)), c.tree);
    }
    // Deep nesting is cut at a depth that cannot exhaust the stack.
    std::vector<SitemapNode> nodes = ReadSitemap("<UL>" + deep, cp1251);
    std::size_t depth = 0;
    for (const std::vector<SitemapNode>* level = &nodes; !level->empty();
         level = &level->back().children)
        ++depth;
    EXPECT_EQ(depth, kMaxSitemapDepth);
}

TEST(ViewerLayoutTest, TheWindowDefinitionDecidesPaneTabsButtonsAndPlace) {
    chm::HelpSystemInfo system;
    system.title = "Заголовок";
    system.defaultTopic = "/index.htm";
    system.contentsFile = "/toc.hhc";
    system.indexFile = "/idx.hhk";

    const ViewerLayout none = LayoutFor(nullptr, system, "x.chm");
    EXPECT_EQ(none.caption, "Заголовок");
    EXPECT_TRUE(none.navigation && none.contentsTab && none.indexTab && none.searchTab);
    EXPECT_FALSE(none.favoritesTab || none.captionFollowsTopic || none.jump1);
    EXPECT_TRUE(none.hideShow && none.back && none.forward && none.home && none.print);
    EXPECT_EQ(none.startTopic, "/index.htm");

    chm::HelpWindow window;
    window.caption = "Окно";
    window.properties =
        kPropTriPane | kPropTabSearch | kPropTabFavorites | kPropChangeTitle | kPropAutoSync;
    window.navWidth = 300;
    window.buttons = kButtonBack | kButtonHome | kButtonJump1;
    window.jump1Text = "О программе";
    window.jump1Url = "http://example.org/about.htm";
    window.rect = chm::WindowRect{10, 20, 810, 620};
    window.defaultFile = "start.htm";
    window.homeFile = "ms-its:x.chm::/home.htm";
    window.defaultTab = 2;
    const ViewerLayout asked = LayoutFor(&window, system, "x.chm");
    EXPECT_EQ(asked.caption, "Окно");
    EXPECT_TRUE(asked.captionFollowsTopic && asked.syncContents && asked.navigation);
    EXPECT_TRUE(asked.searchTab && asked.favoritesTab && asked.contentsTab && asked.indexTab);
    EXPECT_EQ(asked.navWidth, 300);
    EXPECT_EQ(asked.firstTab, NavTab::Search);
    EXPECT_TRUE(asked.back && asked.home);
    EXPECT_FALSE(asked.hideShow || asked.forward || asked.print || asked.jump2);
    ASSERT_TRUE(asked.jump1);
    EXPECT_EQ(asked.jump1->text, "О программе");
    EXPECT_EQ(asked.rect, (chm::WindowRect{10, 20, 810, 620}));
    EXPECT_EQ(asked.startTopic, "/start.htm");
    EXPECT_EQ(asked.homeTopic, "/home.htm");

    // No pane without the tri-pane bit; no search tab without its bit; a
    // rectangle turned inside out is no place.
    window.properties = 0;
    window.rect = chm::WindowRect{100, 100, 50, 50};
    window.caption.clear();
    const ViewerLayout bare = LayoutFor(&window, system, "x.chm");
    EXPECT_FALSE(bare.navigation || bare.searchTab || bare.rect);
    EXPECT_EQ(bare.caption, "Заголовок");
}

// A help file whose index file holds fewer keywords than its binary index
// (none: DocBook's, with its keywords in the pages; or the pages' own joined
// them) shows the binary index instead: the tree of sub-keywords, several
// topics each named by its title (an untitled one by the keyword), a See
// Also. An index file with as many keywords stays what is shown.
TEST(ViewerDocumentTest, TheBinaryIndexStandsInForAnIndexFileWithFewerKeywords) {
    chm::HelpModel model;
    model.language = 0x419;
    model.indexFile = "/empty.hhk";
    model.topics = {{"/a.htm", "Первая", true}, {"/b.htm", std::nullopt, true}};
    std::map<std::string, test::ModelPage> pages = {{"/a.htm", {"<p>a", "Первая"}},
                                                    {"/b.htm", {"<p>b", ""}}};
    std::map<std::string, std::string> files = test::HelpFileParts(model, pages);
    files["/empty.hhk"] = "<HTML><BODY><UL></UL></BODY></HTML>";
    const chm::KeywordIndexFiles index = chm::WriteKeywordIndex(
        chm::ArrangeKeywords(
            {{{"Печать", "поля"}, {1}, {}}, {{"Печать"}, {0, 1}, {}}, {{"Бумага"}, {}, "Печать"}},
            model.language),
        1251, model.language);
    files["/$WWKeywordLinks/BTree"] = index.btree;
    const test::TempDir dir;
    test::WriteHelpFile(dir / "k.chm", files);

    std::string error;
    const auto document = HelpDocument::Open(dir / "k.chm", error);
    ASSERT_TRUE(document) << error;
    EXPECT_EQ(Compact(document->Keywords()),
              "Бумага;Печать|Первая=a.htm|Печать=b.htm[book]{поля|поля=b.htm}");
    EXPECT_EQ(document->Keywords()[0].seeAlso, "Печать");
    EXPECT_FALSE(document->Damaged());

    const auto entry = [](const char* name) {
        return std::string("<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"") +
               name + "\"><param name=\"Local\" value=\"a.htm\"></OBJECT>";
    };
    for (const auto& [entries, shown] :
         {std::pair{entry("Paper"),
                    "Бумага;Печать|Первая=a.htm|Печать=b.htm[book]{поля|поля=b.htm}"},
          std::pair{entry("X") + entry("Y") + entry("Z"), "X|X=a.htm;Y|Y=a.htm;Z|Z=a.htm"}}) {
        files["/empty.hhk"] = "<HTML><BODY><UL>" + entries + "</UL></BODY></HTML>";
        test::WriteHelpFile(dir / "f.chm", files);
        const auto withFile = HelpDocument::Open(dir / "f.chm", error);
        ASSERT_TRUE(withFile) << error;
        EXPECT_EQ(Compact(withFile->Keywords()), shown);
    }

    // A damaged tree is named, and the index stays empty.
    files["/empty.hhk"] = "<HTML><BODY><UL></UL></BODY></HTML>";
    files["/$WWKeywordLinks/BTree"] = index.btree.substr(0, 100);
    test::WriteHelpFile(dir / "d.chm", files);
    const auto damaged = HelpDocument::Open(dir / "d.chm", error);
    ASSERT_TRUE(damaged) << error;
    EXPECT_TRUE(damaged->Keywords().empty());
    EXPECT_TRUE(damaged->Damaged());
}

// Damaged and hostile help files (the reader's fuzz corpus) open or are
// refused with a reason; what opens serves its pages and searches without
// reading outside the file (the sanitizer build checks that).
TEST(ViewerDocumentTest, DamagedHelpFilesOpenAsFarAsTheyCan) {
    std::size_t opened = 0, damaged = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TBX_CHM_CORPUS)) {
        SCOPED_TRACE(entry.path().filename().string());
        std::string error;
        const auto document = HelpDocument::Open(entry.path().string(), error);
        if (!document) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ++opened;
        damaged += document->Damaged() ? 1 : 0;
        EXPECT_EQ(document->Damaged(), !document->Problems().empty());
        if (!document->StartTopic().empty())
            (void)document->Serve(document->StartTopic());
        for (const SitemapNode& node : document->Contents())
            for (const SitemapTarget& target : node.targets)
                (void)document->Serve(ResolveLink(target.local, "/", document->FileName()).stored);
        EXPECT_FALSE(document->Serve("/../../etc/passwd").found);
        (void)document->Search("a");
    }
    EXPECT_GT(opened, 5u);
    EXPECT_GT(damaged, 0u);
}

} // namespace
} // namespace tbx::viewer
