#include "site/link_scanner.h"
#include "text/charset.h"

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
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

// What a Windows-1251 reader makes of UTF-8 bytes.
std::string Cp1251Decoded(const std::string& utf8) {
    return DecodeCp1251(utf8);
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

TEST(LinkScanner, TheFirstMetaOfEachKindNamesTheCharsetAndTheTitleIsKept) {
    const HtmlScan both =
        ScanHtml("<meta http-equiv=content-type content='text/html; charset=koi8-r'>"
                 "<title>T &amp; <b></title><meta charset=\"utf-8\">"
                 "<meta charset=koi8-r><title>second</title>");
    EXPECT_EQ(both.charset.metaCharset, "utf-8");
    EXPECT_EQ(both.charset.httpEquivType, "koi8-r");
    EXPECT_EQ(both.title, "T &amp; <b>");
    EXPECT_EQ(ScanHtml("<META HTTP-EQUIV=\"Content-Type\" "
                       "CONTENT=\"text/html; charset=windows-1251\">")
                  .charset.httpEquivType,
              "windows-1251");
    const HtmlScan none = ScanHtml("<p>no meta</p><title>never closed");
    EXPECT_EQ(none.charset.metaCharset, "");
    EXPECT_EQ(none.title, std::nullopt);
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
    const Charset W1251 = Charset::ForCodePage(1251);
    const Case cases[] = {
        {"page.htm#top", A, W1251, Kind::Path, "page.htm"},
        {"page.htm?x=1#y", A, W1251, Kind::Path, "page.htm"},
        {"#top", A, W1251, Kind::SamePage, ""},
        {"  ", A, W1251, Kind::SamePage, ""},
        {"http://example.com/a.htm", A, W1251, Kind::External, ""},
        {"MAILTO:me@example.com", A, W1251, Kind::External, ""},
        {"javascript:void(0)", A, W1251, Kind::External, ""},
        {"ms-its:other.chm::/a.htm", A, W1251, Kind::External, ""},
        {"//host/share/a.htm", A, W1251, Kind::External, ""},
        {"C:\\help\\a.htm", A, W1251, Kind::DrivePath, ""},
        {"dir\\sub\\a.htm", A, W1251, Kind::Path, "dir/sub/a.htm"},
        {" /top/a\tb.htm\n", A, W1251, Kind::Path, "/top/ab.htm"},
        {"a&amp;b.htm", A, W1251, Kind::Path, "a&b.htm"},
        // Without ";" a reference counts only when no letter follows, as in browsers.
        {"a&amp.b&ampc&lt;&unknown;&#0;.htm", A, W1251, Kind::Path,
         "a&.b&ampc<&unknown;\uFFFD.htm"},
        {"&#1057;&#x43f;.htm", A, W1251, Kind::Path, "Сп.htm"},
        {"%D0%A1%D0%BF.htm", A, W1251, Kind::Path, "Сп.htm", "%D0%A1%D0%BF.htm"},
        {"%D1%EF.htm", A, W1251, Kind::Path, "Сп.htm", "%D1%EF.htm"},
        {"%D1%EF.htm", A, Charset::Utf8(), Kind::Path, "Сп.htm", "%D1%EF.htm"},
        {Cp1251("Сп.htm"), A, W1251, Kind::Path, "Сп.htm"},
        {Cp1251("Сп.htm"), A, W1251, Kind::Path, "Сп.htm"},
        {"Сп.htm", A, Charset::Utf8(), Kind::Path, "Сп.htm"},
        {"a%23b.htm", A, W1251, Kind::Path, "a#b.htm", "a%23b.htm"},
        {"50%.htm", A, W1251, Kind::Path, "50%.htm"},
        {"a%20b%5Cc.htm", A, W1251, Kind::Path, "a b/c.htm", "a%20b%5Cc.htm"},
        {"&quot;q.png&quot;", LinkContext::StyleAttribute, W1251, Kind::Path, "q.png"},
        {"a&amp;b.png", LinkContext::StyleSheet, W1251, Kind::Path, "a&amp;b.png"},
    };
    for (const Case& c : cases) {
        const LinkTarget target = DecodeLink({c.raw, c.context}, c.charset);
        EXPECT_EQ(target.kind, c.kind) << c.raw;
        EXPECT_EQ(target.path, c.path) << c.raw;
        EXPECT_EQ(target.literal, c.literal) << c.raw;
    }
    // Messages show the link as written, in UTF-8.
    EXPECT_EQ(DecodeLink({Cp1251("Глава&amp;1.htm"), A}, W1251).shown, "Глава&amp;1.htm");
    // UTF-8 bytes on a Windows-1251 page: the bytes as they stand are kept
    // for the walk to try; a link the charset reads the same needs none.
    const LinkTarget utf8 = DecodeLink({"Глава.htm#x", A}, W1251);
    EXPECT_EQ(utf8.path, Cp1251Decoded("Глава.htm"));
    EXPECT_EQ(utf8.raw, "Глава.htm");
    EXPECT_EQ(DecodeLink({Cp1251("Глава.htm"), A}, W1251).raw, "");
}

} // namespace
} // namespace tbx::site
