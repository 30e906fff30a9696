#include "chm/page_words.h"
#include "text/charset.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tbx::chm {
namespace {

class Collect : public WordSink {
public:
    void OnWord(std::string_view word) override { words.push_back(DecodeCp1251(word)); }
    std::vector<std::string> words; // UTF-8, to compare with readable expectations
};

const text::SearchAlphabet& kRussian = *text::FindSearchAlphabet(1251);

std::vector<std::string> PageWords(std::string_view html, text::Charset charset) {
    Collect sink;
    SplitPageWords(html, charset, kRussian, sink);
    return sink.words;
}

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

using Words = std::vector<std::string>;

struct SplitCase {
    std::string html;
    text::Charset charset;
    Words expected;
};

TEST(PageWordsTest, TextIsSplitAndFoldedAsTheViewerSearchesIt) {
    const text::Charset utf8 = text::Charset::Utf8(), cp1251 = text::Charset::ForCodePage(1251);
    const SplitCase cases[] = {
        {"Привет, МИР! Hello World 2024 x86-64",
         utf8,
         {"привет", "мир", "hello", "world", "2024", "x86", "64"}},
        {Cp1251("Ёлка ёлка ЕЛКА Ґанок ЇЖАК Ђак"),
         cp1251,
         {"ёлка", "ёлка", "елка", "ґанок", "їжак", "ђак"}},
        // References decode inside words; an unknown one only breaks them.
        {"&#1094;&#x430;&#1088;&#1075;&#1072 &laquo;&Acy;&iocy;&raquo; AT&amp;T a&bogus;b",
         utf8,
         {"царга", "аё", "at", "t", "a", "b"}},
        {"про&shy;грамма за\xCC\x81мок caf\xC3\xA9 a\xE2\x80\x94"
         "b",
         utf8,
         {"программа", "замок", "cafe", "a", "b"}},
        // Inline tags and comments leave a word whole; other tags split it.
        {"<b>Ц</b>арга на<!-- x -->сос<p>до</p>после<br>конец",
         utf8,
         {"царга", "насос", "до", "после", "конец"}},
        {"<title>Заголовок</title><script>var скрипт;</script><STYLE>p{цвет:0}</style >"
         "<a href='x' title=\"подсказка > стрелка\">ссылка</a>",
         utf8,
         {"ссылка"}},
        // Broken markup never hides the rest of the page.
        {"<a href=\"oops>один</a> два", utf8, {"один", "два"}},
        {"до <!-- не закрыт после", utf8, {"до", "не", "закрыт", "после"}},
        {"<script>код</p>текст", utf8, {"код", "текст"}},
        {"a < b <3 c </ d> e", utf8, {"a", "b", "3", "c", "e"}},
        {"слово <a href='x", utf8, {"слово", "a", "href", "x"}},
        {std::string("a\0b\xD1", 4), utf8, {"a", "b"}},
        {Cp1251("конец &#"), cp1251, {"конец"}},
        {"&", utf8, {}},
        {"<", utf8, {}},
        // Words longer than any reader takes keep their first bytes.
        {std::string(150, 'x') + " y", utf8, {std::string(kMaxWordLength, 'x'), "y"}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(PageWords(c.html, c.charset), c.expected) << c.html;
}

TEST(PageWordsTest, PagesInOtherCharsetsAreReadInTheirOwn) {
    // "Текст, ёлка" in KOI8-R, and "Ёлка" in UTF-8 with its byte order mark.
    const std::string koi8 = "<p>\xF4\xC5\xCB\xD3\xD4, \xA3\xCC\xCB\xC1</p>";
    EXPECT_EQ(PageWords(koi8, *text::Charset::ForLabel("koi8-r")), (Words{"текст", "ёлка"}));
    EXPECT_EQ(PageWords("\xEF\xBB\xBF<p>Ёлка</p>", text::Charset::Utf8()), Words{"ёлка"});
}

TEST(PageWordsTest, TitlesDecodeReferencesButHoldNoMarkup) {
    Collect utf8, legacy;
    SplitTextWords("Глава <b>1</b> &amp; &#1048;тоги", kRussian, utf8);
    SplitTextWords(Cp1251("Глава Итоги"), kRussian, legacy);
    EXPECT_EQ(utf8.words, (Words{"глава", "b", "1", "b", "итоги"}));
    EXPECT_EQ(legacy.words, (Words{"глава", "итоги"}));
}

} // namespace
} // namespace tbx::chm
