// The full-text search hhc writes, read back by pychm, an independent
// reader: in every single-byte language, against the index Microsoft's
// compiler wrote for the same project, with a stop list, and the warning a
// double-byte language gets instead.

#include "platform/process.h"
#include "support/chm_reader.h"
#include "support/pychm_search.h"
#include "support/temp_dir.h"
#include "text/charset.h"
#include "text/search_alphabet.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iconv.h>
#include <map>
#include <set>
#include <sstream>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;
using Pages = std::set<std::string>;

struct HhcRun {
    ProcessOutcome outcome;
    bool Succeeded() const { return outcome.exited && outcome.exitCode == 0; }
};

HhcRun RunHhc(const std::string& project) {
    ChildProcess child;
    child.Start(TBX_HHC_PATH, {project});
    return {child.Wait([](std::string_view) {})};
}

// A site of the given pages (name, bytes) and its project, compiled.
HhcRun Compile(const fs::path& folder, const std::map<std::string, std::string>& pages,
               const std::string& options) {
    std::string links;
    for (const auto& [name, bytes] : pages) {
        WriteFile(folder / name, bytes);
        links += "<a href=\"" + name + "\">.</a>";
    }
    WriteFile(folder / "index.htm", "<html><body>" + links + "</body></html>");
    WriteFile(folder / "help.hhp", "[OPTIONS]\nCompiled file=help.chm\nDefault topic=index.htm\n"
                                   "Full-text search=Yes\n" +
                                       options);
    return RunHhc((folder / "help.hhp").string());
}

// UTF-8 text in a charset iconv knows; empty when it cannot hold it all.
std::string EncodeIn(std::string_view utf8, const char* charset) {
    iconv_t cd = iconv_open(charset, "UTF-8");
    std::string out(utf8.size() * 4, '\0');
    char* from = const_cast<char*>(utf8.data());
    char* to = out.data();
    std::size_t fromLeft = utf8.size(), toLeft = out.size();
    const bool ok = cd != reinterpret_cast<iconv_t>(-1) &&
                    iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &to, &toLeft) != static_cast<std::size_t>(-1);
    if (cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd);
    return ok ? out.substr(0, out.size() - toLeft) : std::string();
}

// A query as the viewer folds it before looking it up.
std::string FoldQuery(const std::string& bytes, int codePage) {
    const text::SearchAlphabet& alphabet = *text::FindSearchAlphabet(codePage);
    std::string folded;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!alphabet.ignorable[byte])
            folded += static_cast<char>(text::FoldSearchByte(codePage, byte));
    }
    return folded;
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::string Cp1251(std::string_view utf8) {
    return *text::EncodeExact(utf8, 1251);
}

struct Word {
    std::string upper, lower, stored; // UTF-8
};

// One page holds a word of the language in a legacy charset, in capitals;
// another holds one in UTF-8, in small letters. The viewer folds either
// case of each to the stored form, and pychm finds it on its page alone.
TEST(HhcSearchTest, EverySingleByteLanguageFindsItsWordsInEitherCharset) {
    if (!test::PychmAvailable())
        GTEST_SKIP() << "pychm (python3-chm) is not installed";
    const struct {
        const char* language;
        int codePage;
        const char* legacy; // the browser's label, iconv's name
        const char* legacyIconv;
        Word inLegacy, inUtf8;
    } cases[] = {
        {"0x407 German",
         1252,
         "iso-8859-1",
         "ISO-8859-1",
         {"KÄSEBRÖTCHEN", "käsebrötchen", "kasebrotchen"},
         {"ÜBERFÜLLT", "überfüllt", "uberfullt"}},
        {"0x415 Polish",
         1250,
         "iso-8859-2",
         "ISO-8859-2",
         {"ŹDŹBŁO", "źdźbło", "zdzbło"},
         {"GĘŚLĄ", "gęślą", "gesla"}},
        {"0x419 Russian",
         1251,
         "koi8-r",
         "KOI8-R",
         {"ЁЖИК", "ёжик", "ёжик"},
         {"ЩАВЕЛЬ", "щавель", "щавель"}},
        {"0x408 Greek",
         1253,
         "iso-8859-7",
         "ISO-8859-7",
         {"ΘΆΛΑΣΣΑ", "θάλασσα", "θάλασσα"},
         {"ΨΥΧΉ", "ψυχή", "ψυχή"}},
        {"0x41F Turkish",
         1254,
         "iso-8859-9",
         "ISO-8859-9",
         {"ŞEFTALİ", "şeftali", "seftali"},
         {"ÇİĞDEM", "çiğdem", "cigdem"}},
        {"0x40D Hebrew",
         1255,
         "windows-1255",
         "CP1255",
         {"שלום", "שלום", "שלום"},
         {"ספרייה", "ספרייה", "ספרייה"}},
        {"0x401 Arabic",
         1256,
         "windows-1256",
         "CP1256",
         {"مكتبة", "مكتبة", "مكتبة"},
         {"كتاب", "كتاب", "كتاب"}},
        {"0x425 Estonian",
         1257,
         "iso-8859-13",
         "ISO-8859-13",
         {"ÕUNAPUU", "õunapuu", "ounapuu"},
         {"ŠOKOLAAD", "šokolaad", "sokolaad"}},
        {"0x42A Vietnamese",
         1258,
         "windows-1258",
         "CP1258",
         {"VIỆT", "việt", "viet"},
         {"PHƯỜNG", "phường", "phuong"}},
        {"0x41E Thai",
         874,
         "tis-620",
         "TIS-620",
         {"ภาษา", "ภาษา", "ภาษา"},
         {"สวัสดี", "สวัสดี", "สวัสดี"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        const std::string legacyBytes = EncodeIn(c.inLegacy.upper, c.legacyIconv);
        ASSERT_FALSE(legacyBytes.empty());
        TempDir dir;
        const HhcRun run =
            Compile(dir.Path(),
                    {{"legacy.htm", "<html><head><meta charset=\"" + std::string(c.legacy) +
                                        "\"></head><body><p>" + legacyBytes + "</p></body>"},
                     {"utf8.htm", "<html><head><meta charset=\"utf-8\"></head><body><p>" +
                                      c.inUtf8.lower + "</p></body>"}},
                    std::string("Language=") + c.language + "\n");
        ASSERT_TRUE(run.Succeeded()) << run.outcome.errorOutput;
        std::vector<std::string> queries;
        for (const Word* word : {&c.inLegacy, &c.inUtf8}) {
            const std::optional<std::string> stored = text::EncodeExact(word->stored, c.codePage);
            ASSERT_TRUE(stored) << word->stored;
            for (const std::string& typed : {word->upper, word->lower}) {
                const std::optional<std::string> bytes = text::EncodeExact(typed, c.codePage);
                ASSERT_TRUE(bytes) << typed;
                EXPECT_EQ(FoldQuery(*bytes, c.codePage), *stored) << typed;
            }
            queries.push_back(*stored);
        }
        // The header names the project's code page and language.
        const std::optional<std::string> index =
            test::ReadChmObject(dir / "help.chm", "/$FIftiMain");
        ASSERT_TRUE(index && index->size() > 0x82);
        EXPECT_EQ(Le32(*index, 0x7A), static_cast<std::uint32_t>(c.codePage));
        EXPECT_EQ(Le32(*index, 0x7E), std::stoul(c.language, nullptr, 16));
        const auto found = test::PychmSearch(dir / "help.chm", queries);
        EXPECT_EQ(found[0], Pages{"legacy.htm"}) << c.inLegacy.stored;
        EXPECT_EQ(found[1], Pages{"utf8.htm"}) << c.inUtf8.stored;
    }
}

// Every word of a reference's pages finds the same pages in our index as
// in the one Microsoft's compiler wrote, each read by pychm. Words that
// Microsoft's compiler reads otherwise from the bytes (it takes UTF-8 for
// the code page's bytes) are left out, and counted.
constexpr const char* kCompareScript = R"(
import os, re, struct, sys, unicodedata, chm.chm
from html.parser import HTMLParser
microsoft, ours, folder, charset = sys.argv[1:5]

def load(path):
    f = chm.chm.CHMFile()
    if not f.LoadCHM(path.encode()):
        sys.exit('cannot open ' + path)
    return f

def search(f, word):
    result = f.Search(word.encode('ascii'), 0)
    found = result[1] if result and result[1] else {}
    return sorted(set(u.decode('latin-1').replace('\\', '/').lstrip('/').lower()
                      for u in found.values()))

ms, us = load(microsoft), load(ours)
# The bytes Microsoft's compiler takes for letters and digits, and what it
# folds them to, from its own character table.
_, unit = ms.ResolveObject(b'/$OBJINST')
_, obj = ms.RetrieveObject(unit)
table = struct.unpack_from('<I', obj, 8)[0] + 0x50
ms_fold = {b: obj[table + 10 * b + 4] for b in range(256) if obj[table + 10 * b] in (1, 2, 3, 12)}

class Text(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.skip, self.runs = 0, []
    def handle_starttag(self, tag, attrs):
        self.skip += tag in ('script', 'style')
        self.runs.append(' ')
    def handle_endtag(self, tag):
        self.skip -= self.skip and tag in ('script', 'style')
        self.runs.append(' ')
    def handle_data(self, data):
        if not self.skip:
            self.runs.append(data)

def runs(text):
    parser = Text()
    parser.feed(text)
    parser.close()
    return parser.runs

def unicode_words(text):  # the words a reader of the text sees
    words = set()
    for run in runs(text):
        for token in re.findall(r'[^\W_]+', run):
            base = unicodedata.normalize('NFD', token.lower())
            words.add(''.join(c for c in base if not unicodedata.combining(c)))
    return words

def byte_words(raw):  # the words Microsoft's compiler reads from the bytes
    words = set()
    for run in runs(raw.decode('latin-1')):
        word = b''
        for b in run.encode('latin-1', errors='replace') + b' ':
            if b in ms_fold:
                word += bytes([ms_fold[b]])
            elif word:
                words.add(word.decode('latin-1'))
                word = b''
    return words

pages = {}
for top, _, names in os.walk(folder):
    for name in names:
        if name.lower().endswith(('.htm', '.html')):
            path = os.path.join(top, name)
            raw = open(path, 'rb').read()
            url = os.path.relpath(path, folder).replace(os.sep, '/').lower()
            pages[url] = (unicode_words(raw.decode(charset, errors='replace')), byte_words(raw))

def where(word, view):
    return [url for url, words in sorted(pages.items()) if any(w.startswith(word) for w in words[view])]

candidates = sorted(set(w for u, _ in pages.values() for w in u if w.isascii() and w.isalnum()))
compared, skipped = 0, 0
for word in candidates:
    if where(word, 0) != where(word, 1):
        skipped += 1
        continue
    compared += 1
    theirs, mine = search(ms, word), search(us, word)
    if theirs != mine:
        print('differ %s: microsoft %s, ours %s' % (word, theirs, mine))
print('compared %d skipped %d' % (compared, skipped))
)";

TEST(HhcSearchTest, ReferenceWordsFindWhatMicrosoftsIndexFinds) {
    if (!test::PychmAvailable())
        GTEST_SKIP() << "pychm (python3-chm) is not installed";
    const fs::path references = TBX_REFERENCES_DIR;
    if (!fs::exists(references))
        GTEST_SKIP() << "no references at " << references;
    const struct {
        const char* folder;
        const char* project; // and the help file, beside it
        const char* helpFile;
        const char* charset; // of its pages
    } cases[] = {
        {"helptest", "HTML Help Project/Test Help.hhp", "HTML Help Project/Test Help.chm",
         "cp1252"},
        {"monuments", "Help/Help.hhp", "Help/Help.chm", "utf-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        TempDir dir;
        const fs::path copy = dir.Path() / c.folder;
        fs::copy(references / c.folder, copy, fs::copy_options::recursive);
        const fs::path microsoft = dir.Path() / "microsoft.chm";
        fs::rename(copy / c.helpFile, microsoft);
        const HhcRun run = RunHhc((copy / c.project).string());
        ASSERT_TRUE(run.Succeeded()) << run.outcome.errorOutput;
        const std::string output = test::RunPychmScript(
            kCompareScript, {microsoft.string(), (copy / c.helpFile).string(),
                             (copy / c.helpFile).parent_path().string(), c.charset});
        std::istringstream lines(output);
        std::size_t compared = 0, skipped = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("differ "))
                ADD_FAILURE() << line;
            else if (std::sscanf(line.c_str(), "compared %zu skipped %zu", &compared, &skipped) !=
                     2)
                ADD_FAILURE() << line;
        }
        // Most words are compared: the ones left out are those with
        // letters beyond ASCII in a UTF-8 project.
        EXPECT_GT(compared, 3 * skipped) << output;
        EXPECT_GT(compared, 40u) << output;
    }
}

// The words of the stop list are not indexed, the others are; a stop list
// that cannot be read is named, and every word indexed.
TEST(HhcSearchTest, StopWordsFindNothing) {
    if (!test::PychmAvailable())
        GTEST_SKIP() << "pychm (python3-chm) is not installed";
    const std::string page = "<html><body><p>Справка и файлы, the index</p></body></html>";
    const struct {
        const char* stopList; // nullptr: none at the path the project names
        Pages stopped, kept;
    } cases[] = {
        {"и\r\nTHE справка\n", {}, {"page.htm"}},
        {nullptr, {"page.htm"}, {"page.htm"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.stopList)
            WriteFile(dir.Path() / "stop.txt", c.stopList);
        const HhcRun run = Compile(dir.Path(), {{"page.htm", page}},
                                   "Language=0x419\nFull text search stop list file=stop.txt\n");
        ASSERT_TRUE(run.Succeeded()) << run.outcome.errorOutput;
        EXPECT_EQ(run.outcome.errorOutput.find("stop.txt") != std::string::npos, !c.stopList)
            << run.outcome.errorOutput;
        const auto found = test::PychmSearch(
            dir / "help.chm", {Cp1251("справка"), "the", Cp1251("и"), Cp1251("файлы")});
        EXPECT_EQ(found[0], c.stopped);
        EXPECT_EQ(found[1], c.stopped);
        EXPECT_EQ(found[2], c.stopped); // no other word begins with it
        EXPECT_EQ(found[3], c.kept);
    }
}

// Chinese, Japanese and Korean get no index, and a warning naming the
// language: the double-byte layout the viewer matches is not known.
TEST(HhcSearchTest, DoubleByteLanguagesWarnAndWriteNoIndex) {
    for (const auto& [lcid, name] :
         std::map<std::string, std::string>{{"0x411", "Japanese (Japan)"},
                                            {"0x804", "Chinese (PRC)"},
                                            {"0x412", "Korean (Korea)"},
                                            {"0x404", "Chinese (Taiwan)"}}) {
        TempDir dir;
        const HhcRun run =
            Compile(dir.Path(), {{"page.htm", "<p>text 文字</p>"}}, "Language=" + lcid + "\n");
        ASSERT_TRUE(run.Succeeded()) << run.outcome.errorOutput;
        EXPECT_NE(run.outcome.errorOutput.find("warning: no full-text search for " + name),
                  std::string::npos)
            << run.outcome.errorOutput;
        EXPECT_EQ(test::ReadChmObject(dir / "help.chm", "/$FIftiMain"), std::nullopt) << lcid;
        EXPECT_NE(test::ReadChmObject(dir / "help.chm", "/page.htm"), std::nullopt) << lcid;
    }
}

} // namespace
} // namespace tbx
