#include "res/cp1251.h"
#include "site/link_scanner.h"

#include <gtest/gtest.h>

namespace tbx::site {
namespace {

std::vector<std::string> Texts(const std::vector<FoundLink>& links) {
    std::vector<std::string> texts;
    for (const FoundLink& link : links)
        texts.emplace_back(link.text);
    return texts;
}

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Question);
}

TEST(LinkScanner, FindsEveryKindOfLinkAndSurvivesBrokenMarkup) {
    struct Case {
        std::string html;
        std::vector<std::string> links;
    };
    const Case cases[] = {
        {"<a href=\"a.htm\">x</a><IMG SRC=pic.gif><body background='bg.jpg'>",
         {"a.htm", "pic.gif", "bg.jpg"}},
        {"<frameset><frame src=\"left.htm\"><FRAME SRC=\"right.htm\"></frameset>"
         "<iframe src=in.htm></iframe>",
         {"left.htm", "right.htm", "in.htm"}},
        {"<link rel=stylesheet href=\"s.css\"><map><area shape=rect href=\"x.htm\"></map>"
         "<object data=\"m.swf\"></object><div data=\"no.htm\"></div><embed src=\"e.swf\">",
         {"s.css", "x.htm", "m.swf", "e.swf"}},
        {"<p style=\"background: url('st.png')\">t</p>"
         "<style>body{background:url(b.png)} @import \"i.css\";</style>",
         {"st.png", "b.png", "i.css"}},
        {"<meta http-equiv=\"Refresh\" content=\"0; URL='next.htm'\">"
         "<param name=\"Local\" value=\"topic.htm\"><param name=\"Other\" value=\"no.htm\">",
         {"next.htm", "topic.htm"}},
        // Not links, or text that only looks like one.
        {"<base href=\"http://x/\"><!-- <a href=\"c.htm\"> -->"
         "<script>document.write('<a href=\"js.htm\">')</script><a href=\"after.htm\">",
         {"after.htm"}},
        // Broken markup costs at most the broken tag.
        {Cp1251("Введите <имя файла> и <a href=\"ok.htm\">"), {"ok.htm"}},
        {"<a href=\"one.htm>text</a> and <a href=\"two.htm\">", {"one.htm", "two.htm"}},
        {"a<b and <a href=q.htm> <b <a href=\"x.htm\">", {"q.htm", "x.htm"}},
        {"<!-- never closed <a href=\"u.htm\">", {"u.htm"}},
        {"<style>p { background: url(s.png) } <a href=z.htm>", {"s.png", "z.htm"}},
        {"<a href=\"end.htm", {"end.htm"}},
        {"<", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Texts(ScanHtml(c.html).links), c.links) << c.html;
}

TEST(LinkScanner, TheFirstMetaThatNamesACharsetCounts) {
    EXPECT_EQ(ScanHtml("<meta charset=\"utf-8\"><meta charset=koi8-r>").charset, "utf-8");
    EXPECT_EQ(ScanHtml("<META HTTP-EQUIV=\"Content-Type\" "
                       "CONTENT=\"text/html; charset=windows-1251\">")
                  .charset,
              "windows-1251");
    EXPECT_EQ(ScanHtml("<p>no meta</p>").charset, "");
    EXPECT_EQ(CharsetNamed(" Windows-1251"), Charset::Cp1251);
    EXPECT_EQ(CharsetNamed("UTF-8"), Charset::Utf8);
    EXPECT_EQ(CharsetNamed("koi8-r"), Charset::Guess);
}

TEST(LinkScanner, StyleSheetsGiveUrlsAndImportsButNotCommentsOrStrings) {
    std::vector<FoundLink> links;
    ScanCss("@import url(\"a.css\"); @import 'b.css'; /* url(c.png) */\n"
            ".x { background: URL( d.png ) } .y:before { content: \"url(e.png)\" }\n"
            ".z { background: myurl(f.png) } /* never closed url(g.png)",
            LinkContext::StyleSheet, links);
    EXPECT_EQ(Texts(links), (std::vector<std::string>{"a.css", "b.css", "d.png", "g.png"}));
}

TEST(LinkScanner, LinksAreDecodedForTheFileSystem) {
    using Kind = LinkTarget::Kind;
    struct Case {
        std::string raw;
        LinkContext context;
        Charset charset;
        Kind kind;
        std::string path;
        std::string literal = {};
    };
    const auto A = LinkContext::Attribute;
    const Case cases[] = {
        {"page.htm#top", A, Charset::Guess, Kind::Path, "page.htm"},
        {"page.htm?x=1#y", A, Charset::Guess, Kind::Path, "page.htm"},
        {"#top", A, Charset::Guess, Kind::SamePage, ""},
        {"  ", A, Charset::Guess, Kind::SamePage, ""},
        {"http://example.com/a.htm", A, Charset::Guess, Kind::External, ""},
        {"MAILTO:me@example.com", A, Charset::Guess, Kind::External, ""},
        {"javascript:void(0)", A, Charset::Guess, Kind::External, ""},
        {"ms-its:other.chm::/a.htm", A, Charset::Guess, Kind::External, ""},
        {"//host/share/a.htm", A, Charset::Guess, Kind::External, ""},
        {"C:\\help\\a.htm", A, Charset::Guess, Kind::DrivePath, ""},
        {"dir\\sub\\a.htm", A, Charset::Guess, Kind::Path, "dir/sub/a.htm"},
        {" /top/a\tb.htm\n", A, Charset::Guess, Kind::Path, "/top/ab.htm"},
        {"a&amp;b.htm", A, Charset::Guess, Kind::Path, "a&b.htm"},
        // Without ";" a reference counts only when no letter follows, as in browsers.
        {"a&amp.b&ampc&lt;&unknown;&#0;.htm", A, Charset::Guess, Kind::Path,
         "a&.b&ampc<&unknown;\uFFFD.htm"},
        {"&#1057;&#x43f;.htm", A, Charset::Guess, Kind::Path, "Сп.htm"},
        {"%D0%A1%D0%BF.htm", A, Charset::Guess, Kind::Path, "Сп.htm", "%D0%A1%D0%BF.htm"},
        {"%D1%EF.htm", A, Charset::Guess, Kind::Path, "Сп.htm", "%D1%EF.htm"},
        {"%D1%EF.htm", A, Charset::Utf8, Kind::Path, "Сп.htm", "%D1%EF.htm"},
        {Cp1251("Сп.htm"), A, Charset::Guess, Kind::Path, "Сп.htm"},
        {Cp1251("Сп.htm"), A, Charset::Cp1251, Kind::Path, "Сп.htm"},
        {"Сп.htm", A, Charset::Utf8, Kind::Path, "Сп.htm"},
        {"a%23b.htm", A, Charset::Guess, Kind::Path, "a#b.htm", "a%23b.htm"},
        {"50%.htm", A, Charset::Guess, Kind::Path, "50%.htm"},
        {"a%20b%5Cc.htm", A, Charset::Guess, Kind::Path, "a b/c.htm", "a%20b%5Cc.htm"},
        {"&quot;q.png&quot;", LinkContext::StyleAttribute, Charset::Guess, Kind::Path, "q.png"},
        {"a&amp;b.png", LinkContext::StyleSheet, Charset::Guess, Kind::Path, "a&amp;b.png"},
    };
    for (const Case& c : cases) {
        const LinkTarget target = DecodeLink({c.raw, c.context}, c.charset);
        EXPECT_EQ(target.kind, c.kind) << c.raw;
        EXPECT_EQ(target.path, c.path) << c.raw;
        EXPECT_EQ(target.literal, c.literal) << c.raw;
    }
    // Messages show the link as written, in UTF-8.
    EXPECT_EQ(DecodeLink({Cp1251("Глава&amp;1.htm"), A}, Charset::Cp1251).shown,
              "Глава&amp;1.htm");
}

} // namespace
} // namespace tbx::site
