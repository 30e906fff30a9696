// pychm, an independent reader, searches a help file that carries our
// index. Until our own container writer is part of this build, chmcmd
// packs the pages and the index (it stores a project file named
// "$FIftiMain" under that name, and writes #TOPICS, #URLTBL and #URLSTR
// for a binary contents); the index is built with the topic numbers
// chmcmd gives the pages.

#include "chm/search_index.h"
#include "platform/process.h"
#include "res/cp1251.h"
#include "support/chm_reader.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tbx::chm {
namespace {

using test::ReadChmObject;
using test::TempDir;
using test::WriteFile;

constexpr const char* kPython = "/usr/bin/python3";

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// Page name -> topic number, from #TOPICS through #URLTBL to #URLSTR.
std::map<std::string, std::uint32_t> TopicNumbers(const std::string& chm) {
    std::map<std::string, std::uint32_t> numbers;
    const auto topics = ReadChmObject(chm, "/#TOPICS");
    const auto urlTable = ReadChmObject(chm, "/#URLTBL");
    const auto urls = ReadChmObject(chm, "/#URLSTR");
    if (!topics || !urlTable || !urls)
        return numbers;
    for (std::uint32_t topic = 0; topic < topics->size() / 16; ++topic) {
        const std::uint32_t url = Le32(*urlTable, Le32(*topics, topic * 16 + 8) + 8);
        numbers[urls->substr(url + 8, urls->find('\0', url + 8) - url - 8)] = topic;
    }
    return numbers;
}

struct Page {
    std::string name;
    std::string html;
    std::string title; // as the page's <title> holds it
};

class SearchPychmTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunForOutput(kPython, {"-c", "import chm.chm; print('ok')"}) != "ok\n")
            GTEST_SKIP() << "pychm (python3-chm) is not installed";
        if (!RunProcess("chmcmd", {}).started)
            GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
    }

    // Compiles the pages, with the index file when there is one.
    bool Compile(const std::vector<Page>& pages, bool withIndex) {
        std::string files, contents = "<html><body><ul>\n";
        for (const Page& page : pages) {
            WriteFile(dir_ / page.name, page.html);
            files += page.name + "\r\n";
            // pychm keys its results by the title #TOPICS gives, which
            // chmcmd takes from here: one of its own for each page.
            contents += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" +
                        page.name + "\"><param name=\"Local\" value=\"" + page.name +
                        "\"></object>\n";
        }
        WriteFile(dir_ / "toc.hhc", contents + "</ul></body></html>\n");
        WriteFile(dir_ / "help.hhp", "[OPTIONS]\r\nCompiled file=" + chm_ +
                                         "\r\nContents file=toc.hhc\r\nBinary TOC=Yes\r\n"
                                         "Default topic=" +
                                         pages[0].name +
                                         "\r\nFull-text search=No\r\nLanguage=0x419\r\n\r\n"
                                         "[FILES]\r\n" +
                                         files + (withIndex ? "$FIftiMain\r\n" : ""));
        const ProcessOutcome run = RunProcess("chmcmd", {dir_ / "help.hhp"});
        return run.started && run.exited && run.exitCode == 0;
    }

    // The pages pychm's search finds for each word (UTF-8), by name.
    std::map<std::string, std::set<std::string>> Search(const std::vector<std::string>& words) {
        static const char* const kScript = R"(
import sys, chm.chm
help = chm.chm.CHMFile()
if not help.LoadCHM(sys.argv[1].encode()):
    sys.exit(2)
for word in sys.argv[2:]:
    result = help.Search(word.encode('cp1251'))
    found = result[1] if result else {}
    print(word + '\t' + ' '.join(url.decode('latin-1') for url in found.values()))
)";
        std::vector<std::string> args = {"-c", kScript, chm_};
        args.insert(args.end(), words.begin(), words.end());
        std::map<std::string, std::set<std::string>> found;
        std::istringstream lines(RunForOutput(kPython, args));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t tab = line.find('\t');
            std::istringstream urls(line.substr(tab + 1));
            std::set<std::string>& pages = found[line.substr(0, tab)];
            for (std::string url; urls >> url;)
                pages.insert(url);
        }
        return found;
    }

    TempDir dir_;
    const std::string chm_ = dir_ / "help.chm";
};

TEST_F(SearchPychmTest, PychmFindsEachWordOnExactlyThePagesHoldingItAsText) {
    const std::string meta1251 =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">";
    std::vector<Page> pages = {
        {"kolonna.htm",
         EncodeCp1251("<html><head>" + meta1251 +
                          "<title>Царговая колонна</title></head><body><p>Ректификационная "
                          "колонна и царга.</p><script>var секрет;</script><p>ЦАРГА</p>",
                      Unmappable::Question),
         EncodeCp1251("Царговая колонна", Unmappable::Question)},
        {"latin.htm",
         "<html><head><title>Latin page</title></head><body><p>Hello WORLD hello, царга "
         "&#1094;&#1077;&#1093;</p>",
         "Latin page"},
        {"tretya.htm",
         "<html><head><meta charset=\"utf-8\"><title>Третья страница</title>"
         "<style>.стиль { color: red }</style></head><body><p>Отдельное слово: уникум</p>",
         "Третья страница"},
        {"pusto.htm", EncodeCp1251("<title>Пустая</title><p>&nbsp;</p>", Unmappable::Question),
         EncodeCp1251("Пустая", Unmappable::Question)},
    };
    // Enough words for several leaves, so that pychm goes through an index node.
    Page& many = pages.emplace_back(Page{"slova.htm", "<title>Words</title>", "Words"});
    for (int i = 0; i < 3000; ++i)
        many.html += " filler" + std::to_string(10000 + i);
    ASSERT_TRUE(Compile(pages, false));
    const std::map<std::string, std::uint32_t> numbers = TopicNumbers(chm_);
    std::vector<SearchTopic> topics;
    for (const Page& page : pages) {
        ASSERT_TRUE(numbers.contains(page.name)) << page.name;
        topics.push_back({numbers.at(page.name), page.html, PageCharset::Detect, page.title});
    }
    std::sort(topics.begin(), topics.end(),
              [](const SearchTopic& a, const SearchTopic& b) { return a.number < b.number; });
    WriteFile(dir_ / "$FIftiMain", BuildFullTextIndex(topics));
    ASSERT_TRUE(Compile(pages, true));
    ASSERT_EQ(TopicNumbers(chm_), numbers) << "chmcmd numbered the topics afresh";
    ASSERT_EQ(Le32(*ReadChmObject(chm_, "/$FIftiMain"), 0x18) & 0xFFFF, 2u) << "tree depth";

    const std::map<std::string, std::set<std::string>> expected = {
        {"царга", {"kolonna.htm", "latin.htm"}},
        {"царговая", {"kolonna.htm"}}, // in a title only
        {"колонна", {"kolonna.htm"}},
        {"ректификационная", {"kolonna.htm"}},
        {"секрет", {}}, // in a script only
        {"стиль", {}},  // in a style sheet only
        {"hello", {"latin.htm"}},
        {"world", {"latin.htm"}},
        {"цех", {"latin.htm"}}, // written as character references
        {"уникум", {"tretya.htm"}},
        {"пустая", {"pusto.htm"}},
        {"filler10000", {"slova.htm"}},
        {"filler11234", {"slova.htm"}},
        {"filler12999", {"slova.htm"}},
    };
    std::vector<std::string> words;
    for (const auto& [word, found] : expected)
        words.push_back(word);
    EXPECT_EQ(Search(words), expected);
}

} // namespace
} // namespace tbx::chm
