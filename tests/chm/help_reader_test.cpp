// The viewer's reader of help files: help files written here from a model,
// one hhc compiles from a Russian site, and the two Microsoft built; search
// results checked against pychm, an independent reader.

#include "chm/help_reader.h"
#include "chm/little_endian.h"
#include "platform/process.h"
#include "support/help_file_builder.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace tbx::chm {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::unique_ptr<ChmFile> OpenChm(const std::string& path) {
    std::string error;
    std::unique_ptr<ChmFile> file = ChmFile::Open(path, error);
    EXPECT_TRUE(file) << path << ": " << error;
    return file;
}

// hit name (without "/") -> title, in rank order for ours.
using Hits = std::vector<std::pair<std::string, std::string>>;

Hits Names(const SearchResults& results) {
    Hits hits;
    for (const SearchHit& hit : results.hits)
        hits.emplace_back(hit.name.substr(1), hit.title);
    return hits;
}

// pychm's CHMFile.Search for each word, in its prefix mode: in its whole-word
// mode it reads only the first entry of a word, its title entry, and misses
// the pages that hold the word in their text. Titles decoded as ours are
// (UTF-8 when valid, else the code page).
std::map<std::string, std::set<std::pair<std::string, std::string>>>
PychmSearch(const std::string& chm, int codePage, const std::vector<std::string>& words) {
    static const char* const kScript = R"(
import sys, chm.chm
help = chm.chm.CHMFile()
if not help.LoadCHM(sys.argv[1].encode()):
    sys.exit(2)
cp = 'cp' + sys.argv[2]
def text(b):
    try:
        return b.decode('utf-8')
    except UnicodeDecodeError:
        return b.decode(cp)
for word in sys.argv[3:]:
    result = help.Search(word.encode(cp))
    for title, url in (result[1] if result else {}).items():
        print(word + '\t' + text(url) + '\t' + text(title))
)";
    std::vector<std::string> args = {"-c", kScript, chm, std::to_string(codePage)};
    args.insert(args.end(), words.begin(), words.end());
    std::map<std::string, std::set<std::pair<std::string, std::string>>> found;
    std::istringstream lines(RunForOutput("/usr/bin/python3", args, 1 << 20));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
        found[line.substr(0, tab)].emplace(line.substr(tab + 1, tab2 - tab - 1),
                                           line.substr(tab2 + 1));
    }
    return found;
}

bool HavePychm() {
    return RunForOutput("/usr/bin/python3", {"-c", "import chm.chm; print('ok')"}) == "ok\n";
}

// Ours against pychm, word by word: the same topics (pychm keeps one topic
// per title, so each of its hits must be one of ours with that title, and
// the titles must be the same). A word marked 'W' starts no other word of
// the index, so that our whole-word search finds exactly what pychm's
// prefix search does.
void ExpectSameAsPychm(const std::string& chm,
                       const std::vector<std::pair<char, std::string>>& queries) {
    std::unique_ptr<ChmFile> file = OpenChm(chm);
    ASSERT_TRUE(file);
    HelpReader reader(*file);
    std::vector<std::string> words;
    for (const auto& query : queries)
        words.push_back(query.second);
    const auto theirs = PychmSearch(chm, reader.System().codePage, words);
    for (const auto& [mode, word] : queries) {
        const SearchResults prefix = reader.Search(word, SearchMode::Prefix);
        const SearchResults ours =
            mode == 'W' ? reader.Search(word, SearchMode::WholeWord) : prefix;
        EXPECT_TRUE(mode != 'W' || Names(ours) == Names(prefix)) << word << " starts another word";
        const auto found = theirs.find(word);
        const std::set<std::pair<std::string, std::string>> none;
        const auto& expected = found == theirs.end() ? none : found->second;
        const Hits mine = Names(ours);
        std::set<std::string> myTitles, theirTitles;
        for (const auto& hit : mine)
            myTitles.insert(hit.second);
        for (const auto& hit : expected) {
            theirTitles.insert(hit.second);
            EXPECT_TRUE(std::count(mine.begin(), mine.end(), hit))
                << word << ": pychm finds " << hit.first;
        }
        EXPECT_EQ(myTitles, theirTitles) << mode << word;
        EXPECT_EQ(ours.outcome,
                  expected.empty() ? SearchOutcome::NothingFound : SearchOutcome::Found)
            << mode << word << " " << ours.problem;
    }
}

// ---- Help files written from a model ------------------------------------------------

HelpModel RussianModel() {
    HelpModel model;
    model.title = "Справка по программе";
    model.defaultTopic = "/index.htm";
    model.defaultWindow = "main";
    model.contentsFile = "/toc.hhc";
    model.indexFile = "/Указатель.hhk";
    model.fullTextSearch = true;
    HelpWindow w;
    w.name = "main";
    w.caption = "Окно справки";
    w.contentsFile = "toc.hhc";
    w.defaultFile = "index.htm";
    w.homeFile = "разделы/первый.htm";
    w.jump1Text = "Сайт";
    w.jump1Url = "http://example.org/";
    w.properties = 0x2520;
    w.navWidth = 240;
    w.buttons = 0x3046;
    w.rect = WindowRect{10, -20, 810, 620};
    w.navClosed = 0;
    w.defaultTab = 2;
    HelpWindow other;
    other.name = "other";
    other.caption = "Второе";
    model.windows = {other, w};
    model.topics = {{"/index.htm", "Оглавление"},
                    {"/разделы/первый.htm", "Царга и колонна"},
                    {"/b.htm", std::nullopt, false}};
    return model;
}

const std::map<std::string, test::ModelPage> kPages = {
    {"/index.htm", {"<title>Оглавление</title><p>колонна, Колонна; царга</p>", "Оглавление"}},
    {"/разделы/первый.htm", {"<p>царга</p>", "Царга и колонна"}},
    {"/b.htm", {"<p>колонна колонна КОЛОННА царговая ёлка</p>", ""}},
};

class HelpReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<ChmFile> Write(const std::map<std::string, std::string>& files) {
        const std::string path = dir / ("help" + std::to_string(++written) + ".chm");
        test::WriteHelpFile(path, files);
        return OpenChm(path);
    }
    TempDir dir;
    int written = 0;
};

TEST_F(HelpReaderTest, SystemWindowsAndTopicsReadBackAsWritten) {
    const HelpModel model = RussianModel();
    const std::unique_ptr<ChmFile> file = Write(test::HelpFileParts(model, kPages));
    ASSERT_TRUE(file);
    const HelpReader reader(*file);
    EXPECT_TRUE(reader.Problems().empty());
    const HelpSystemInfo& system = reader.System();
    EXPECT_EQ(system.title, model.title);
    EXPECT_EQ(system.defaultTopic, "/index.htm");
    EXPECT_EQ(system.defaultWindow, "main");
    EXPECT_EQ(system.contentsFile, "/toc.hhc");
    EXPECT_EQ(system.indexFile, "/Указатель.hhk");
    EXPECT_EQ(system.language, 0x419u);
    EXPECT_EQ(system.codePage, 1251);
    EXPECT_TRUE(system.fullTextSearch);
    EXPECT_EQ(reader.Windows(), model.windows);
    ASSERT_TRUE(reader.DefaultWindow());
    EXPECT_EQ(reader.DefaultWindow()->caption, "Окно справки");

    ASSERT_EQ(reader.TopicCount(), 3u);
    const std::pair<std::string, std::string> topics[] = {
        {"/index.htm", "Оглавление"}, {"/разделы/первый.htm", "Царга и колонна"}, {"/b.htm", ""}};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const std::optional<HelpTopicEntry> topic = reader.Topic(i);
        ASSERT_TRUE(topic);
        EXPECT_EQ(std::make_pair(topic->name, topic->title), topics[i]);
    }
    EXPECT_FALSE(reader.Topic(3));
}

TEST_F(HelpReaderTest, SearchFindsWholeWordsAndPrefixesRankedByTitleThenCount) {
    const std::unique_ptr<ChmFile> file = Write(test::HelpFileParts(RussianModel(), kPages));
    ASSERT_TRUE(file);
    HelpReader reader(*file);
    const struct {
        std::string query;
        SearchMode mode;
        SearchOutcome outcome;
        Hits hits; // in rank order
        std::vector<std::uint32_t> counts;
    } cases[] = {
        {"колонна",
         SearchMode::WholeWord,
         SearchOutcome::Found,
         {{"разделы/первый.htm", "Царга и колонна"}, {"b.htm", ""}, {"index.htm", "Оглавление"}},
         {1, 3, 2}},
        {"ЦАРГА",
         SearchMode::WholeWord,
         SearchOutcome::Found,
         {{"разделы/первый.htm", "Царга и колонна"}, {"index.htm", "Оглавление"}},
         {2, 1}},
        {"царг",
         SearchMode::Prefix,
         SearchOutcome::Found,
         {{"разделы/первый.htm", "Царга и колонна"}, {"index.htm", "Оглавление"}, {"b.htm", ""}},
         {2, 1, 1}},
        {"царг", SearchMode::WholeWord, SearchOutcome::NothingFound, {}, {}},
        {"колонна, царга",
         SearchMode::WholeWord,
         SearchOutcome::Found, // every word
         {{"разделы/первый.htm", "Царга и колонна"}, {"index.htm", "Оглавление"}},
         {3, 3}},
        {"Ёлка", SearchMode::WholeWord, SearchOutcome::Found, {{"b.htm", ""}}, {1}},
        {"елка", SearchMode::WholeWord, SearchOutcome::NothingFound, {}, {}},
        {"яблоко", SearchMode::Prefix, SearchOutcome::NothingFound, {}, {}}, // beyond every word
        {"а", SearchMode::Prefix, SearchOutcome::NothingFound, {}, {}},      // before every word
        {" ,;! ", SearchMode::Prefix, SearchOutcome::NoWords, {}, {}},
    };
    for (const auto& c : cases) {
        const SearchResults results = reader.Search(c.query, c.mode);
        EXPECT_EQ(results.outcome, c.outcome) << c.query << ": " << results.problem;
        EXPECT_EQ(Names(results), c.hits) << c.query;
        std::vector<std::uint32_t> counts;
        for (const SearchHit& hit : results.hits)
            counts.push_back(hit.count);
        EXPECT_EQ(counts, c.counts) << c.query;
    }
}

// A help file with parts missing or damaged still gives the rest, says what
// is wrong, and never reads outside its bytes (the sanitizer build checks).
TEST_F(HelpReaderTest, MissingAndDamagedPartsAreSaidAndTheRestIsRead) {
    const std::map<std::string, std::string> good = test::HelpFileParts(RussianModel(), kPages);
    const std::string& index = good.at("/$FIftiMain");
    const std::uint32_t root = GetLe32(reinterpret_cast<const std::uint8_t*>(index.data() + 8));
    const auto patched = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = index;
        PutLe32At(bytes, at, value);
        return bytes;
    };
    const struct {
        const char* what;
        std::string name;     // of the file replaced
        std::string bytes;    // its new bytes; "-" removes it
        SearchOutcome search; // of the query
        std::vector<HelpPart> problems;
        std::size_t topics;
        std::string query = "колонна";
        std::string window = "main"; // the default window's name
    } cases[] = {
        {"no index", "/$FIftiMain", "-", SearchOutcome::NoIndex, {}, 3},
        {"index cut to its header",
         "/$FIftiMain",
         index.substr(0, 0x400),
         SearchOutcome::Damaged,
         {},
         3},
        {"index shorter than its header",
         "/$FIftiMain",
         index.substr(0, 100),
         SearchOutcome::Damaged,
         {},
         3},
        {"no signature", "/$FIftiMain", patched(0, 0), SearchOutcome::Damaged, {}, 3},
        {"nodes of no size", "/$FIftiMain", patched(0x2E, 0), SearchOutcome::Damaged, {}, 3},
        {"root beyond the index",
         "/$FIftiMain",
         patched(8, 0x7FFFFFFF),
         SearchOutcome::Damaged,
         {},
         3},
        {"leaf linked to itself",
         "/$FIftiMain",
         patched(root, root),
         SearchOutcome::Damaged,
         {},
         3,
         "яяя"},
        {"no #SYSTEM",
         "/#SYSTEM",
         "-",
         SearchOutcome::Found,
         {HelpPart::System},
         3,
         "колонна",
         "other"}, // no default named: the first
        {"no #STRINGS",
         "/#STRINGS",
         "-",
         SearchOutcome::Found,
         {HelpPart::Strings},
         3,
         "колонна",
         ""}, // the windows lose their names
        {"#WINDOWS of short records",
         "/#WINDOWS",
         std::string("\1\0\0\0\x10\0\0\0", 8),
         SearchOutcome::Found,
         {HelpPart::Windows},
         3,
         "колонна",
         ""},
        {"#TOPICS cut inside its second entry",
         "/#TOPICS",
         good.at("/#TOPICS").substr(0, 20),
         SearchOutcome::Found,
         {},
         1},
        {"no #URLTBL", "/#URLTBL", "-", SearchOutcome::NothingFound, {HelpPart::Topics}, 3},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> files = good;
        if (c.bytes == "-")
            files.erase(c.name);
        else
            files[c.name] = c.bytes;
        const std::unique_ptr<ChmFile> file = Write(files);
        ASSERT_TRUE(file) << c.what;
        HelpReader reader(*file);
        std::vector<HelpPart> parts;
        for (const HelpProblem& problem : reader.Problems())
            parts.push_back(problem.part);
        EXPECT_EQ(parts, c.problems) << c.what;
        EXPECT_EQ(reader.TopicCount(), c.topics) << c.what;
        const HelpWindow* window = reader.DefaultWindow();
        EXPECT_EQ(window ? window->name : "", c.window) << c.what;
        const SearchResults results = reader.Search(c.query, SearchMode::WholeWord);
        EXPECT_EQ(results.outcome, c.search) << c.what << ": " << results.problem;
        EXPECT_TRUE(results.outcome != SearchOutcome::Damaged || !results.problem.empty())
            << c.what;
    }
}

TEST(QueryWordsTest, FoldAndSplitInTheCodePage) {
    const struct {
        std::string query;
        int codePage;
        std::vector<std::string> words;
    } cases[] = {
        {"Колонна ЦАРГА, колонна", 1251, {"колонна", "царга"}}, // sorted, once each
        {"Ёлка-2", 1251, {"2", "ёлка"}},
        {"Hello wORLD", 1252, {"hello", "world"}},
        {"ÉTÉ Straße", 1252, {"ete", "straße"}}, // accents fold away, as in the index
        {std::string(120, 'a'), 1252, {std::string(kMaxWordLength, 'a')}},
        {"...", 1251, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        for (const std::string& word : c.words)
            expected.push_back(text::Encode(word, c.codePage, Unmappable::Nearest));
        EXPECT_EQ(QueryWords(c.query, c.codePage), expected) << c.query;
    }
}

// ---- Help files hhc and Microsoft's compiler wrote ------------------------------------

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

// A Russian site in both code pages, compiled by hhc as a user's project
// asks: the words pychm finds in it, ours find on the same pages.
TEST(HelpReaderFilesTest, HhcRussianSiteSearchesAsPychmDoes) {
    if (!HavePychm())
        GTEST_SKIP() << "pychm (python3-chm) is not installed";
    TempDir dir;
    const fs::path site = dir.Path() / "сайт";
    fs::create_directories(site / "глава");
    const std::string meta1251 =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">";
    const std::map<std::string, std::string> pages = {
        {"index.htm",
         "<html><head><meta charset=utf-8><title>Оглавление</title></head><body>"
         "<a href=\"глава/колонна.htm\">1</a> <a href=second.htm>2</a> <a href=many0.htm>3</a> "
         "Колонна</body>"},
        {"глава/колонна.htm",
         Cp1251("<html><head>" + meta1251 +
                "<title>Царговая колонна</title></head>"
                "<body><p>Ректификационная колонна и царга. ЦАРГА.</p></body>")},
        {"second.htm",
         "<html><head><meta charset=utf-8><title>Вторая</title></head><body><p>царги, "
         "царгой, колоннами; Hello world</p></body>"},
    };
    for (const auto& [name, bytes] : pages)
        test::WriteFile(site / name, bytes);
    // Enough words for several leaves under an index node, so that a
    // prefix runs along the chain of leaves.
    for (int page = 0; page < 3; ++page) {
        std::string many = "<html><head><meta charset=utf-8><title>Слова " + std::to_string(page) +
                           "</title></head><body><a href=many" + std::to_string(page + 1) + ".htm>";
        for (int i = 0; i < 1000; ++i)
            many += " слово" + std::to_string(10000 + 1000 * page + i) + (i % 7 ? "" : " царгами");
        test::WriteFile(site / ("many" + std::to_string(page) + ".htm"), many);
    }
    const std::string chm = dir / "help.chm";
    test::WriteFile(site / "help.hhp",
                    "[OPTIONS]\r\nCompiled file=" + chm +
                        "\r\nDefault topic=index.htm\r\nLanguage=0x419 Russian\r\n"
                        "Title=Справка\r\nFull-text search=Yes\r\n\r\n[FILES]\r\n"
                        "index.htm\r\n");
    const ProcessOutcome run = RunProcess(TBX_HHC_PATH, {(site / "help.hhp").string()});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.errorOutput;

    std::unique_ptr<ChmFile> file = OpenChm(chm);
    ASSERT_TRUE(file);
    {
        const ChmEntry index = file->Entry(file->Find("/$FIftiMain").value());
        std::uint8_t header[0x1A];
        ChmCursor cursor(*file);
        ASSERT_EQ(cursor.Read(index, 0, header), "");
        ASSERT_GE(GetLe16(header + 0x18), 2) << "the index has no index nodes";
    }
    HelpReader reader(*file);
    EXPECT_EQ(reader.System().title, "Справка");
    std::set<std::pair<std::string, std::string>> topics;
    for (std::uint32_t i = 0; i < reader.TopicCount(); ++i) {
        const std::optional<HelpTopicEntry> topic = reader.Topic(i);
        ASSERT_TRUE(topic);
        topics.emplace(topic->name, topic->title);
    }
    const std::set<std::pair<std::string, std::string>> expected = {
        {"/index.htm", "Оглавление"}, {"/глава/колонна.htm", "Царговая колонна"},
        {"/second.htm", "Вторая"},    {"/many0.htm", "Слова 0"},
        {"/many1.htm", "Слова 1"},    {"/many2.htm", "Слова 2"}};
    EXPECT_EQ(topics, expected);
    // A title hit first, then by count: "царгами" 143 times on each "Слова" page.
    const Hits prefix = Names(reader.Search("царг", SearchMode::Prefix));
    ASSERT_EQ(prefix.size(), 5u);
    EXPECT_EQ(prefix.front().first, "глава/колонна.htm");
    EXPECT_EQ(prefix.back().first, "second.htm");
    ExpectSameAsPychm(chm, {{'P', "колонна"},
                            {'P', "колонн"},
                            {'W', "колоннами"},
                            {'P', "царг"},
                            {'P', "царга"},
                            {'W', "царговая"},
                            {'P', "ц"},
                            {'W', "ректификационная"},
                            {'W', "hello"},
                            {'P', "wor"},
                            {'W', "нет"},
                            {'P', "я"},
                            {'P', "слово1"},
                            {'P', "слово12"},
                            {'W', "слово12999"},
                            {'W', "слово10000"},
                            {'W', "царгами"}});
}

fs::path References() {
    return TBX_REFERENCES_DIR;
}

// Microsoft's help files: every topic names a file the help file holds,
// and the words give pychm's topics.
TEST(HelpReaderFilesTest, MicrosoftReferencesGiveTheirTopicsAndSearch) {
    if (!fs::exists(References()))
        GTEST_SKIP() << "no references at " << References();
    if (!HavePychm())
        GTEST_SKIP() << "pychm (python3-chm) is not installed";
    const struct {
        fs::path chm;
        std::string title;
        int codePage;
        std::vector<std::pair<char, std::string>> queries;
    } cases[] = {
        {References() / "helptest/HTML Help Project/Test Help.chm",
         "",
         1252,
         {{'P', "help"}, {'P', "the"}, {'P', "a"}, {'P', "lic"}, {'W', "license"}, {'W', "zzz"}}},
        {References() / "monuments/Help/Help.chm",
         "",
         1250,
         {{'P', "spomenik"}, {'P', "z"}, {'W', "tipa"}, {'P', "bris"}, {'W', "help"}}},
    };
    for (const auto& c : cases) {
        std::unique_ptr<ChmFile> file = OpenChm(c.chm.string());
        ASSERT_TRUE(file);
        HelpReader reader(*file);
        EXPECT_TRUE(reader.Problems().empty()) << c.chm << ": " << reader.Problems().front().detail;
        EXPECT_EQ(reader.System().codePage, c.codePage);
        EXPECT_TRUE(reader.HasSearchIndex());
        ASSERT_GT(reader.TopicCount(), 0u);
        for (std::uint32_t i = 0; i < reader.TopicCount(); ++i) {
            const std::optional<HelpTopicEntry> topic = reader.Topic(i);
            ASSERT_TRUE(topic) << i;
            EXPECT_TRUE(file->Find(topic->name)) << c.chm << ": " << topic->name;
        }
        ExpectSameAsPychm(c.chm.string(), c.queries);
    }
}

} // namespace
} // namespace tbx::chm
