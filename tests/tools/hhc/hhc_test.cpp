// hhc run as the compile job runs it: the project the job writes, or one
// written by hand; the help file read back by every reader we trust.

#include "chm/internal_files.h"
#include "chm/reader.h"
#include "compile/compile_job.h"
#include "compile/help_project.h"
#include "hhc/hhc_compile.h"
#include "index/index_page.h"
#include "index/page_list.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "protocol/tool_output.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "site/project.h"
#include "support/chm_reader.h"
#include "support/generated_site.h"
#include "support/help_file_check.h"
#include "support/options.h"
#include "support/scripted_host.h"
#include "support/sitemap_reader.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iconv.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::SetOptions;
using test::TempDir;
using test::WriteFile;

struct HhcRun {
    ProcessOutcome outcome;
    std::vector<std::string> lines; // standard output

    bool Succeeded() const { return outcome.exited && outcome.exitCode == 0; }
    std::vector<UnfollowedLink> Unfollowed() const {
        std::vector<UnfollowedLink> found;
        for (const std::string& line : lines) {
            if (auto link = ParseUnfollowedLine(line))
                found.push_back(*link);
        }
        return found;
    }
};

HhcRun RunHhc(const std::vector<std::string>& args) {
    HhcRun run;
    ChildProcess child;
    child.Start(TBX_HHC_PATH, args);
    run.outcome = child.Wait([&](std::string_view line) { run.lines.emplace_back(line); });
    return run;
}

std::string Show(const HhcRun& run) {
    std::string text = "exit " + std::to_string(run.outcome.exitCode) + "\n";
    for (const std::string& line : run.lines)
        text += line + "\n";
    return text + run.outcome.errorOutput;
}

// Our temporary files, anywhere below folder.
std::vector<std::string> Leftovers(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".tomebox-"))
            found.push_back(entry.path().string());
    }
    return found;
}

void WriteAll(const fs::path& root, const std::map<std::string, std::string>& files) {
    for (const auto& [name, bytes] : files) {
        fs::create_directories((root / name.substr(1)).parent_path());
        WriteFile(root / name.substr(1), bytes);
    }
}

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

class HhcTest : public ::testing::Test {
protected:
    HhcTest() : hive(store.Path()) { WriteFirstRunDefaults(hive); }

    // The project the compile job writes for the start page and output.
    std::string JobProject(const std::string& page, const std::string& output,
                           const std::string& title = "Справка") {
        const HelpProjectResult project = WriteHelpProject(
            hive, {page, output, title, {1024, 768}, root / "program/", root.Path().string()});
        EXPECT_TRUE(project.Ok()) << project.error;
        return project.projectPath;
    }

    TempDir store, root;
    RegHive hive;
};

TEST_F(HhcTest, CommandLineIsCheckedAndHelpAndVersionAreNoFileNames) {
    const std::string missing = root / "нет такого.hhp";
    const std::string noOutput = root / "p.hhp";
    WriteFile(noOutput, "[OPTIONS]\r\nDefault topic=a.htm\r\n");
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string inOutput; // on standard output, or error when the run fails
    } cases[] = {
        {{"--help"}, 0, std::string(kCompilerLineForms)},
        {{"--strict", "--help"}, 0, "--strict"},
        {{"--version"}, 0, "hhc (Tomebox) "},
        {{}, 2, "no project"},
        {{"a.hhp", "b.hhp"}, 2, "one project"},
        {{"--fast", "a.hhp"}, 2, "unknown option --fast"},
        {{missing}, 1, missing},
        {{"--", "--help"}, 1, "--help"},             // a project of that name
        {{noOutput}, 1, "a.htm cannot be compiled"}, // no "Compiled file": p.chm
    };
    for (const auto& c : cases) {
        const HhcRun run = RunHhc(c.args);
        EXPECT_TRUE(run.outcome.exited && run.outcome.exitCode == c.exitCode) << Show(run);
        std::string output;
        for (const std::string& line : run.lines)
            output += line + "\n";
        EXPECT_NE((c.exitCode == 0 ? output : run.outcome.errorOutput).find(c.inOutput),
                  std::string::npos)
            << Show(run);
    }
}

// A site with a link of every kind the walk resolves, and every kind it
// refuses. Every file a link reaches is inside, byte for byte, for every
// reader; nothing else is; every refusal is named with its page and reason.
TEST_F(HhcTest, EveryReachableFileIsInsideAndEveryRefusalIsNamed) {
    const fs::path site = root.Path() / "мой сайт";
    const std::string meta =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">";
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const std::map<std::string, std::string> inside = {
        {"/главная.htm",
         Cp1251("<html><head>" + meta +
                "<title>Начало</title><link rel=\"stylesheet\" href=\"стиль.css\"></head><body>"
                "<a href=\"Глава 1.htm\">сырые байты</a>"
                "<a href=\"%D0%A0%D0%B0%D0%B7%D0%B4%D0%B5%D0%BB/page.htm\">UTF-8</a>"
                "<a href=\"%C2%F2%EE%F0%E0%FF.htm\">Windows-1251</a>"
                "<a href=\"&#1058;&#1088;&#1077;&#1090;&#1100;&#1103;.htm\">ссылки</a>"
                "<a href=\"имя с пробелом.htm\">1</a><a href=\"a&amp;b.htm\">2</a>"
                "<a href=\"c%23d.htm#part\">3</a><a href=\"100%25.htm\">4</a>"
                "<a href=\"50%.htm\">5</a><a href=\"ГЛАВА 1.HTM?x=1\">регистр</a>"
                "<img src=\"IMAGES/Logo.PNG\"><a href=\"frames.htm\">рамки</a>"
                "<a href=\"broken.htm\">сломано</a><a href=\"../снаружи/secret.htm\">выше</a>"
                "<a href=\"escape.htm\">наружу</a><a href=\"pipe.htm\">канал</a>"
                "<a href=\"nothing.htm\">нет</a><a href=\"http://example.org/a.htm\">x</a>"
                "<a href=\"mailto:a@example.org\">y</a></body></html>")},
        {"/Глава 1.htm", "<html><title>Глава</title>глава</html>"},
        {"/Раздел/page.htm", "<html>раздел</html>"},
        {"/Вторая.htm", "<html>вторая</html>"},
        {"/Третья.htm", "<html>третья</html>"},
        {"/имя с пробелом.htm", "blank"},
        {"/a&b.htm", "ampersand"},
        {"/c#d.htm", "hash"},
        {"/100%.htm", "percent"},
        {"/50%.htm", "a percent that is no escape"},
        {"/images/logo.png", png},
        {"/стиль.css", "@import url(\"more.css\");\nbody { background: url('img/фон.png') }\n"},
        {"/more.css", "p { background-image: url(img/more.png) }\n"},
        {"/img/фон.png", png + "фон"},
        {"/img/more.png", png + "more"},
        {"/frames.htm", "<frameset cols=\"20%,*\"><frame src=\"left.htm\"><frame "
                        "src=\"right.htm\"></frameset>"},
        {"/left.htm", "left"},
        {"/right.htm", "right"},
        // One unescaped "<" before Cyrillic text must not lose the links after it.
        {"/broken.htm", "<html><body><p>Введите <имя файла> <b>и <a href='after.htm'>далее</a>"},
        {"/after.htm", "after"},
    };
    WriteAll(site, inside);
    WriteFile(site / "unlinked.htm", "nobody links here");
    WriteAll(root.Path(), {{"/снаружи/secret.htm", "outside"}});
    fs::create_symlink("../снаружи/secret.htm", site / "escape.htm");
    ASSERT_EQ(::mkfifo((site / "pipe.htm").c_str(), 0600), 0);
    const std::string help = root / "справка.chm";

    const HhcRun run = RunHhc({JobProject(site / "главная.htm", help)});

    ASSERT_TRUE(run.Succeeded()) << Show(run);
    test::ExpectHelpFileHolds(help, inside);
    const std::vector<UnfollowedLink> expected = {
        {"../снаружи/secret.htm", "/главная.htm", "leaves the site folder"},
        {"escape.htm", "/главная.htm", "is a symbolic link to outside the site folder"},
        {"pipe.htm", "/главная.htm", "is not a regular file"},
        {"nothing.htm", "/главная.htm", "does not exist"},
    };
    EXPECT_EQ(run.Unfollowed(), expected) << Show(run);
    // Progress, then the refusals, then the summary of what went in.
    ASSERT_GE(run.lines.size(), 3u);
    EXPECT_EQ(run.lines.front().find("files read: "), 0u) << Show(run);
    const auto summary = ParseSummaryLine(run.lines.back());
    ASSERT_TRUE(summary) << Show(run);
    EXPECT_EQ(summary->files, inside.size());
    std::uint64_t bytes = 0;
    for (const auto& [name, content] : inside)
        bytes += content.size();
    EXPECT_EQ(summary->bytesIn, bytes);
    EXPECT_EQ(summary->bytesOut, fs::file_size(help));
    // Six files of the help file's own data, the two generated sitemaps and
    // the five of the binary index.
    EXPECT_EQ(run.lines.end()[-2], FormatProgressLine({ProgressKind::FilesCompressed,
                                                       inside.size() + 13, inside.size() + 13}));
    EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});

    // With --strict the same refusals are a failure, and the earlier help
    // file stays as it was.
    const std::string before = ReadFile(help);
    const HhcRun strict = RunHhc({"--strict", JobProject(site / "главная.htm", help)});
    EXPECT_TRUE(strict.outcome.exited && strict.outcome.exitCode == 1) << Show(strict);
    EXPECT_NE(strict.outcome.errorOutput.find("4 links were not followed"), std::string::npos);
    EXPECT_EQ(strict.Unfollowed(), expected);
    EXPECT_TRUE(ReadFile(help) == before);
    EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
}

// The little-endian number at offset, or 0 beyond the end.
std::uint32_t U32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value =
            value << 8 | (at + i < bytes.size() ? static_cast<unsigned char>(bytes[at + i]) : 0);
    return value;
}

std::string ReadStored(const chm::ChmFile& file, const std::string& name) {
    const auto index = file.Find(name);
    if (!index)
        return {};
    const chm::ChmEntry entry = file.Entry(*index);
    std::string bytes(static_cast<std::size_t>(entry.length), '\0');
    chm::ChmCursor cursor(file);
    cursor.Read(entry, 0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
    return bytes;
}

// A sitemap stored in a Russian help file, read back as "name=local{...};...".
std::string StoredTree(const std::string& help, const std::string& name) {
    std::string error;
    const auto file = chm::ChmFile::Open(help, error);
    EXPECT_TRUE(file) << error;
    return file ? test::Compact(test::ReadSitemap(DecodeCp1251(ReadStored(*file, name)))) : "";
}

// The index window's page over a folder of Cyrillic file names (one of
// them in Windows-1251 bytes on disk) becomes a help file holding every
// listed page, whose contents pane is the list as it stands and whose
// keyword index names every page by title.
TEST_F(HhcTest, IndexPageOverCyrillicNamesBuildsEveryListedPageIn) {
    const fs::path folder = root.Path() / "страницы";
    const std::map<std::string, std::string> pages = {
        {"Введение.htm", "<html><head><title>Введение</title></head>один</html>"},
        {"глава 2 (черновик).html", "<title>Глава 2</title>два"},
        {"Глава #3 & 100%.htm", "<title>Третья</title>три"},
        {Cp1251("старая кодировка.htm"), Cp1251("<title>Старая</title>четыре")},
        {"Zeta.HTM", "<html>без заголовка</html>"},
    };
    fs::create_directories(folder);
    for (const auto& [name, bytes] : pages)
        WriteFile(folder / name, bytes);
    std::vector<IndexRow> rows;
    for (const PageEntry& page : ListPages(folder.string() + "/"))
        rows.push_back({page.title, page.name});
    ASSERT_EQ(rows.size(), pages.size());
    CIndexPageFile index;
    WriteIndexPage(index, rows, "");
    ASSERT_EQ(index.Commit(folder / kIndexPageName), "");
    const std::string help = folder / kIndexChmName;

    const HhcRun run = RunHhc({JobProject(folder / kIndexPageName, help, kIndexPageTitle)});

    ASSERT_TRUE(run.Succeeded()) << Show(run);
    EXPECT_EQ(run.Unfollowed(), std::vector<UnfollowedLink>{});
    std::map<std::string, std::string> inside = {
        {std::string("/") + kIndexPageName, index.Bytes()}};
    for (const auto& [name, bytes] : pages)
        inside["/" + DecodeLegacyText(name)] = bytes;
    test::ExpectHelpFileHolds(help, inside);
    std::string rowByRow;
    for (const IndexRow& row : rows) {
        const std::string stored = DecodeLegacyText(row.file);
        rowByRow +=
            (rowByRow.empty() ? "" : ";") + (row.title.empty() ? stored : row.title) + "=" + stored;
    }
    EXPECT_EQ(StoredTree(help, "/Tomebox.hhc"), rowByRow);
    EXPECT_EQ(StoredTree(help, "/Tomebox.hhk"),
              "Введение=Введение.htm;Глава 2=глава 2 (черновик).html;"
              "Старая=старая кодировка.htm;Третья=Глава #3 & 100%.htm;" +
                  std::string(kIndexPageTitle) + "=" + kIndexPageName + ";Zeta.HTM=Zeta.HTM");
}

// hhc --best and the project's "Compression=best" ask for the same
// smaller level; every reader reads every file of either back.
TEST_F(HhcTest, BestCompressionBySwitchOrProjectKeyIsSmallerAndReadsBack) {
    const fs::path site = root.Path() / "site";
    const fs::path start = bench::MakeSite(site, 12);
    std::map<std::string, std::string> files;
    std::string list;
    for (const auto& entry : fs::recursive_directory_iterator(site)) {
        if (!entry.is_regular_file())
            continue;
        const std::string name = fs::relative(entry.path(), site).generic_string();
        files["/site/" + name] = ReadFile(entry.path());
        list += "site/" + name + "\r\n"; // as the project's folder names it
    }
    // Help files of one name, in folders of their own: the name is inside.
    const auto output = [&](const std::string& name) { return root.Path() / name / "help.chm"; };
    const auto project = [&](const std::string& name, bool key) {
        const fs::path path = root.Path() / (name + ".hhp");
        fs::create_directories(output(name).parent_path());
        WriteFile(path, "[OPTIONS]\r\nCompiled file=" + output(name).string() +
                            "\r\nDefault topic=site/" + start.filename().string() + "\r\n" +
                            (key ? "Compression=BEST\r\n" : "") + "\r\n[FILES]\r\n" + list);
        return path.string();
    };
    // One time stamp for all three: it is compressed along with the
    // files, so that a second passing between runs changes the sizes.
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    std::map<std::string, std::string> built;
    for (const auto& [name, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"default", {project("default", false)}},
             {"switch", {"--best", project("switch", false)}},
             {"key", {project("key", true)}}}) {
        SCOPED_TRACE(name);
        const HhcRun run = RunHhc(args);
        ASSERT_TRUE(run.Succeeded()) << Show(run);
        test::ExpectHelpFileHolds(output(name), files);
        built[name] = ReadFile(output(name));
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_LT(built["switch"].size(), built["default"].size());
    EXPECT_TRUE(built["key"] == built["switch"]) << "the key and the switch differ";
}

// The job's project with every option that reaches the window: #SYSTEM
// holds the title, the language, the start page and the window's name, and
// #WINDOWS every field of the window definition the project gives.
TEST_F(HhcTest, SystemAndWindowsHoldTheTitleLanguageAndEveryWindowField) {
    SetOptions(hive, kBtnOptsKey,
               {{"UserLink", "1"},
                {"UserLinkUrl", "http://пример.example/"},
                {"UserLinkTitle", "Наш сайт"},
                {"Home", "1"},
                {"Options", "1"}});
    SetOptions(hive, kNavOptsKey, {{"NavPanel", "1"}, {"NavSearch", "1"}, {"NavWidth", "250"}});
    SetOptions(hive, kCmnOptsKey,
               {{"AutoSize", "0"},
                {"LSide", "-20"},
                {"TSide", "10"},
                {"Width", "800"},
                {"Height", "600"},
                {"SaveCHMWndPos", "1"}});
    const fs::path site = root.Path() / "сайт";
    WriteAll(site, {{"/начало.htm", "<title>Страница</title>текст"}});
    const std::string help = root / "справка.chm";
    const std::string projectPath = JobProject(site / "начало.htm", help, "Справка «тест»");
    const site::ProjectResult project = site::ReadProject(projectPath);
    ASSERT_TRUE(project.Ok()) << project.error;
    ASSERT_EQ(project.project.windows.size(), 1u);
    const chm::HelpWindow& window = project.project.windows[0];

    const HhcRun run = RunHhc({projectPath});

    ASSERT_TRUE(run.Succeeded()) << Show(run);
    std::string error;
    const auto file = chm::ChmFile::Open(help, error);
    ASSERT_TRUE(file) << error;
    const std::string system = ReadStored(*file, "/#SYSTEM");
    std::map<std::uint16_t, std::string> records;
    for (std::size_t at = 4; at + 4 <= system.size();) {
        const std::uint16_t code = U32(system, at) & 0xFFFF, length = U32(system, at + 2) & 0xFFFF;
        records[code] = system.substr(at + 4, length);
        at += 4 + length;
    }
    EXPECT_EQ(records[3], Cp1251("Справка «тест»") + '\0'); // the caption, no Title key
    EXPECT_EQ(U32(records[4], 0), 0x419u);
    EXPECT_EQ(U32(records[4], 8), 1u); // full-text search
    EXPECT_EQ(records[2], Cp1251("начало.htm") + '\0');
    EXPECT_EQ(records[5], "Tomebox" + std::string(1, '\0'));
    EXPECT_EQ(records[6], Cp1251("справка") + '\0');

    const std::string windows = ReadStored(*file, "/#WINDOWS");
    const std::string strings = ReadStored(*file, "/#STRINGS");
    ASSERT_EQ(U32(windows, 0), 1u);
    const auto text = [&](std::size_t field) {
        const std::size_t at = U32(windows, 8 + field);
        return DecodeCp1251(strings.substr(at, strings.find('\0', at) - at));
    };
    const auto number = [&](std::size_t field) {
        return static_cast<std::int64_t>(static_cast<std::int32_t>(U32(windows, 8 + field)));
    };
    EXPECT_EQ(text(0x08), "Tomebox");
    EXPECT_EQ(text(0x14), window.caption);
    EXPECT_EQ(window.caption, "Справка «тест»");
    // The job's window names no contents or index: it gets the generated ones.
    EXPECT_EQ(window.contentsFile, "");
    EXPECT_EQ(window.indexFile, "");
    EXPECT_EQ(text(0x60), "Tomebox.hhc");
    EXPECT_EQ(text(0x64), "Tomebox.hhk");
    EXPECT_EQ(records[0], "Tomebox.hhc" + std::string(1, '\0'));
    EXPECT_EQ(records[1], "Tomebox.hhk" + std::string(1, '\0'));
    EXPECT_EQ(text(0x68), window.defaultFile);
    EXPECT_EQ(text(0x6C), window.homeFile);
    EXPECT_EQ(text(0xA4), window.jump1Url);
    EXPECT_EQ(text(0x9C), window.jump1Text);
    EXPECT_EQ(text(0xA8), window.jump2Url);
    EXPECT_EQ(window.jump2Url, "http://пример.example/");
    EXPECT_EQ(text(0xA0), window.jump2Text);
    EXPECT_EQ(number(0x10), window.properties.value_or(0));
    EXPECT_EQ(number(0x4C), window.navWidth.value_or(0));
    EXPECT_EQ(number(0x70), window.buttons.value_or(0));
    ASSERT_TRUE(window.rect);
    EXPECT_EQ((chm::WindowRect{static_cast<std::int32_t>(number(0x20)),
                               static_cast<std::int32_t>(number(0x24)),
                               static_cast<std::int32_t>(number(0x28)),
                               static_cast<std::int32_t>(number(0x2C))}),
              *window.rect);
    EXPECT_EQ(window.rect->left, -20);
    EXPECT_EQ(number(0x18), window.styles.value_or(0));
    EXPECT_EQ(number(0x1C), window.exStyles.value_or(0));
    EXPECT_EQ(number(0x30), window.showState.value_or(0));
    EXPECT_EQ(number(0x74), window.navClosed.value_or(0));
    EXPECT_EQ(number(0x78), window.defaultTab.value_or(0));
    EXPECT_EQ(number(0x7C), window.tabPosition.value_or(0));
    EXPECT_EQ(number(0x80), window.notifyId.value_or(0));
}

// A project written by hand that names its own contents and index files
// gets those stored and named, byte for byte, and none generated.
TEST_F(HhcTest, ContentsAndIndexFilesTheProjectNamesAreTheOnesUsed) {
    const std::map<std::string, std::string> inside = {
        {"/start.htm", "<title>Start</title><a href=\"other.htm\">other</a>"},
        {"/other.htm", "<title>Other</title>"},
        {"/nav/toc.hhc", "<UL><LI><OBJECT type=\"text/sitemap\"></OBJECT></UL>"},
        {"/nav/idx.hhk", "<UL></UL>"},
    };
    WriteAll(root.Path(), inside);
    const std::string help = root / "own.chm";
    WriteFile(root / "own.hhp", "[OPTIONS]\nCompiled file=own.chm\nDefault topic=start.htm\n"
                                "Contents file=nav\\toc.hhc\nIndex file=nav/idx.hhk\n"
                                "Default Window=main\n[WINDOWS]\n"
                                "main=\"Own\",,\"nav/other.hhk\",\"start.htm\"\n");

    const HhcRun run = RunHhc({root / "own.hhp"});

    ASSERT_TRUE(run.Succeeded()) << Show(run);
    test::ExpectHelpFileHolds(help, inside);
    for (const std::string& name : test::ChmObjectNames(help))
        EXPECT_FALSE(name.starts_with("/Tomebox")) << name;
    std::string error;
    const auto file = chm::ChmFile::Open(help, error);
    ASSERT_TRUE(file) << error;
    const std::string system = ReadStored(*file, "/#SYSTEM");
    EXPECT_NE(system.find(std::string("nav/toc.hhc\0", 12)), std::string::npos);
    EXPECT_NE(system.find(std::string("nav/idx.hhk\0", 12)), std::string::npos);
    // The window's empty contents field takes the project's; its own index stays.
    const std::string windows = ReadStored(*file, "/#WINDOWS");
    const std::string strings = ReadStored(*file, "/#STRINGS");
    const auto text = [&](std::size_t field) {
        const std::size_t at = U32(windows, 8 + field);
        return strings.substr(at, strings.find('\0', at) - at);
    };
    EXPECT_EQ(text(0x60), "nav/toc.hhc");
    EXPECT_EQ(text(0x64), "nav/other.hhk");
}

// What a hand-written project asks of the compile besides its pages: the
// walk from the first of [FILES] when no start page is named (the help
// file then records none), text popups stored as they are, the compile's
// lines in the error log, progress lines only when asked for.
TEST_F(HhcTest, ProjectOptionsShapeTheCompileAsMicrosoftsCompilerDoes) {
    const std::map<std::string, std::string> site = {
        {"/first.htm", "<title>First</title><a href=\"linked.htm\">from first</a>"},
        {"/linked.htm", "<title>Linked</title><a href=\"missing.htm\">from linked</a>"},
        {"/popups/cs.txt", ".topic IDH_A\nA popup <b>not</b> a page\n"},
    };
    WriteAll(root.Path(), site);
    const struct {
        std::string options;
        bool progress;
    } cases[] = {
        {"Display compile progress=Yes\n", true},
        {"Display compile progress=No\n", false},
    };
    for (const auto& c : cases) {
        WriteFile(root / "p.hhp", "[OPTIONS]\nLanguage=0x409\nError log file=log\\hhc.log\n" +
                                      c.options +
                                      "[FILES]\nfirst.htm\n[TEXT POPUPS]\npopups\\cs.txt\n");
        fs::create_directories(root.Path() / "log");

        const HhcRun run = RunHhc({root / "p.hhp"});

        ASSERT_TRUE(run.Succeeded()) << Show(run);
        const std::string help = root / "p.chm";
        test::ExpectHelpFileHolds(help, site);
        // The generated contents are the links of the first of [FILES].
        EXPECT_EQ(StoredTree(help, "/Tomebox.hhc"), "from first=linked.htm");
        bool progress = false;
        for (const std::string& line : run.lines)
            progress = progress || ParseProgressLine(line).has_value();
        EXPECT_EQ(progress, c.progress) << Show(run);
        // The log holds what was printed, the summary last, then the warnings.
        const std::string log = ReadFile(root.Path() / "log/hhc.log");
        std::string printed;
        for (const std::string& line : run.lines)
            printed += line + "\n";
        EXPECT_TRUE(log.starts_with(printed)) << log;
        EXPECT_NE(log.find("missing.htm"), std::string::npos) << log;
    }
}

// The search tab as the compile job asks for it: pychm, an independent
// reader, finds each word on exactly the pages that hold it as text, in
// whatever letter case the page writes it; words only in titles count,
// words only in scripts and style sheets do not.
TEST_F(HhcTest, PychmSearchFindsCyrillicWordsOnThePagesHoldingThem) {
    constexpr const char* kPython = "/usr/bin/python3";
    if (RunForOutput(kPython, {"-c", "import chm.chm; print('ok')"}) != "ok\n")
        GTEST_SKIP() << "pychm (python3-chm) is not installed";
    SetOptions(hive, kNavOptsKey, {{"NavPanel", "1"}, {"NavSearch", "1"}});
    const fs::path site = root.Path() / "сайт";
    const std::string meta1251 =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">";
    std::map<std::string, std::string> pages = {
        {"/index.htm",
         "<html><head><title>Оглавление</title></head><body><a href=kolonna.htm>1</a>"
         "<a href=latin.htm>2</a><a href=tretya.htm>3</a><a href=slova.htm>4</a></body>"},
        {"/kolonna.htm", Cp1251("<html><head>" + meta1251 +
                                "<title>Царговая колонна</title></head><body><p>"
                                "Ректификационная колонна и царга.</p><script>var секрет;"
                                "</script><p>ЦАРГА</p>")},
        {"/latin.htm", "<html><head><title>Latin page</title></head><body><p>Hello WORLD "
                       "hello, царга &#1094;&#1077;&#1093;</p>"},
        {"/tretya.htm", "<html><head><meta charset=\"utf-8\"><title>Третья страница</title>"
                        "<style>.стиль { color: red }</style></head><body><p>Отдельное "
                        "слово: уникум</p>"},
    };
    // Enough words for several leaves, so that pychm goes through an index node.
    std::string& many = pages["/slova.htm"] = "<title>Words</title>";
    for (int i = 0; i < 3000; ++i)
        many += " filler" + std::to_string(10000 + i);
    WriteAll(site, pages);
    const std::string help = root / "search.chm";
    const std::string project = JobProject(site / "index.htm", help);
    ASSERT_NE(ReadFile(project).find("Full-text search=Yes"), std::string::npos);

    const HhcRun run = RunHhc({project});
    ASSERT_TRUE(run.Succeeded()) << Show(run);

    const std::map<std::string, std::set<std::string>> expected = {
        {"царга", {"kolonna.htm", "latin.htm"}}, // also in upper case
        {"царговая", {"kolonna.htm"}},           // in a title only
        {"колонна", {"kolonna.htm"}},
        {"ректификационная", {"kolonna.htm"}},
        {"секрет", {}}, // in a script only
        {"стиль", {}},  // in a style sheet only
        {"hello", {"latin.htm"}},
        {"world", {"latin.htm"}}, // written in upper case
        {"цех", {"latin.htm"}},   // written as character references
        {"уникум", {"tretya.htm"}},
        {"оглавление", {"index.htm"}},
        {"filler10000", {"slova.htm"}},
        {"filler12999", {"slova.htm"}},
    };
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
    std::vector<std::string> args = {"-c", kScript, help};
    for (const auto& [word, found] : expected)
        args.push_back(word);
    std::map<std::string, std::set<std::string>> found;
    std::istringstream lines(RunForOutput(kPython, args));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        std::istringstream urls(line.substr(tab + 1));
        std::set<std::string>& where = found[line.substr(0, tab)];
        for (std::string url; urls >> url;)
            where.insert(url);
    }
    EXPECT_EQ(found, expected);
}

// Failures say what is wrong on standard error, exit with 1 and leave an
// earlier help file and the output folder as they were. What cannot be done
// in a help file that is written is named too.
TEST_F(HhcTest, FailuresLeaveTheEarlierHelpFileAndWhatCannotBeDoneIsNamed) {
    const fs::path site = root.Path() / "site";
    // Longer than a stored name may be, in folders of names a disk allows.
    const std::string longName =
        std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(150, 'c') + ".png";
    WriteAll(site, {{"/start.htm", "<title>Start</title><img src=\"" + longName +
                                       "\"><a href=\"%23SYSTEM\">x</a>"},
                    {"/" + longName, "long name"},
                    {"/#SYSTEM", "a page whose name the help file keeps"}});
    const fs::path out = root.Path() / "out";
    fs::create_directories(out / "folder.chm");
    const std::string help = (out / "help.chm").string();
    WriteFile(help, "earlier help file");
    const struct {
        std::string project;
        std::string error;
    } cases[] = {
        {"[OPTIONS]\nCompiled file=" + help + "\nDefault topic=" + (site / "missing.htm").string(),
         "does not exist"},
        {"[OPTIONS]\nCompiled file=" + help + "\nDefault topic=" + site.string(),
         "is not a regular file"},
        {"[OPTIONS]\nCompiled file=" + help + "\nDefault topic=C:\\site\\a.htm",
         "is a Windows path"},
        {"[OPTIONS]\nCompiled file=" + (out / "folder.chm").string() +
             "\nDefault topic=" + (site / "start.htm").string(),
         "cannot write"},
        {"[OPTIONS]\nCompiled file=" + (out / "no/such/folder.chm").string() +
             "\nDefault topic=" + (site / "start.htm").string(),
         "cannot write"},
        {"[OPTIONS]\nCompiled file=" + help + "\nDefault topic=" + (site / "start.htm").string() +
             "\n[WINDOWS]\nmain=\"a\",,,,,,,,,x\n",
         "window \"main\""},
    };
    for (const auto& c : cases) {
        WriteFile(root / "p.hhp", c.project);
        const HhcRun run = RunHhc({root / "p.hhp"});
        EXPECT_TRUE(run.outcome.exited && run.outcome.exitCode == 1) << Show(run);
        EXPECT_TRUE(run.outcome.errorOutput.starts_with("hhc: ")) << Show(run);
        EXPECT_NE(run.outcome.errorOutput.find(c.error), std::string::npos) << Show(run);
        EXPECT_TRUE(ReadFile(help) == "earlier help file");
        EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
    }

    // Files that cannot be stored under their names are named, and the rest
    // is written; so are a search the language does not allow and merge
    // files past what #IDXHDR holds.
    std::string merge;
    for (std::size_t i = 1; i <= chm::kMaxMergeFiles + 1; ++i)
        merge += "part" + std::to_string(i) + ".chm\n";
    WriteFile(root / "p.hhp", "[OPTIONS]\nCompiled file=" + help +
                                  "\nDefault topic=" + (site / "start.htm").string() +
                                  "\nFull-text search=Yes\nLanguage=0x411 Japanese\n"
                                  "[MERGE FILES]\n" +
                                  merge);
    const HhcRun run = RunHhc({root / "p.hhp"});
    ASSERT_TRUE(run.Succeeded()) << Show(run);
    for (const std::string warning :
         {"hhc: warning: no full-text search for Japanese",
          "hhc: warning: the project names 1005 merge files; a help file holds at most 1004, "
          "so those after part1004.chm are left out"})
        EXPECT_NE(run.outcome.errorOutput.find(warning), std::string::npos) << Show(run);
    EXPECT_EQ(test::ReadChmObject(help, "/$FIftiMain"), std::nullopt);
    const std::vector<UnfollowedLink> unfollowed = run.Unfollowed();
    ASSERT_EQ(unfollowed.size(), 2u) << Show(run);
    EXPECT_EQ(unfollowed[0].link, "/" + longName);
    EXPECT_NE(unfollowed[0].why.find("longer than 512"), std::string::npos);
    EXPECT_EQ(unfollowed[1],
              (UnfollowedLink{"/#SYSTEM", "",
                              std::string("has a name the help file keeps for its own data")}));
    test::ExpectHelpFileHolds(help, {{"/start.htm", ReadFile(site / "start.htm")}});
}

// SIGTERM while hhc compresses a large site: it stops, says so, exits with
// 128 + the signal, and the earlier help file and the folder are as they were.
TEST_F(HhcTest, TerminationWhileCompressingLeavesNothingBehind) {
    const fs::path start = bench::MakeSite(root.Path() / "site", 600);
    const std::string help = root / "site.chm";
    WriteFile(help, "earlier help file");
    const std::string project = JobProject(start.string(), help);
    ChildProcess hhc;
    ASSERT_TRUE(hhc.Start(TBX_HHC_PATH, {project}));
    bool signalled = false;
    const ProcessOutcome outcome = hhc.Wait([&](std::string_view line) {
        const auto progress = ParseProgressLine(line);
        if (!signalled && progress && progress->kind == ProgressKind::FilesCompressed) {
            signalled = true;
            hhc.Terminate();
        }
    });
    ASSERT_TRUE(signalled);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 128 + SIGTERM) << outcome.errorOutput;
    EXPECT_NE(outcome.errorOutput.find("stopped"), std::string::npos);
    EXPECT_TRUE(ReadFile(help) == "earlier help file");
    EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
}

// The whole road of a build: the compile job checks the paths, creates the
// missing output folders, writes the project, runs the real hhc from its
// program folder, removes the project, reports and opens the result.
TEST_F(HhcTest, CompileJobBuildsARealHelpFileAndReportsIt) {
    const fs::path site = root.Path() / "мой сайт";
    const std::map<std::string, std::string> inside = {
        {"/главная.htm", "<html><title>Начало</title><a href=\"разделы/первая.htm\">1</a>"
                         "<a href=\"нет.htm\">нет</a></html>"},
        {"/разделы/первая.htm", "<html><a href=\"../главная.htm\">назад</a></html>"},
    };
    WriteAll(site, inside);
    const std::string output = root / "готовые/новая папка/справка.chm";
    test::ScriptedHost host;
    host.fields = {{kIdPageEdit, (site / "главная.htm").string()},
                   {kIdOutputEdit, output},
                   {kIdTitleEdit, "Справка"}};
    test::RecordingShell shell;
    CompileJobs jobs(host, shell, hive, fs::path(TBX_HHC_PATH).parent_path().string() + "/");

    jobs.CompileThreadProc();

    char size[32];
    std::snprintf(size, sizeof size, "%.1f КБ", fs::file_size(output) / 1024.0);
    *std::strchr(size, '.') = ',';
    EXPECT_EQ(host.messages.back(), LoadString(111) + "\nФайл справки: " + output +
                                        "\nФайлов в справке: 2, размер: " + size +
                                        "\nНе пройдено ссылок: 1. Эти файлы не вошли в справку:"
                                        "\n«нет.htm» на странице /главная.htm: такого файла нет");
    EXPECT_TRUE(host.endResults.empty());
    test::ExpectHelpFileHolds(output, inside);
    EXPECT_EQ(shell.opened, std::vector<std::string>{output});
    EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});

    // An output that is a page of the site: the window says why not, from
    // hhc, in Russian whatever the tests' locale.
    const std::string page = site / "разделы/первая.htm";
    host.fields[kIdOutputEdit] = page;
    host.answers = {true}; // replace the file that is there
    jobs.CompileThreadProc();
    EXPECT_EQ(host.messages.back(), LoadString(kMsgCompilerFailed) +
                                        "\nне удалось записать файл справки " + page +
                                        ": это «разделы/первая.htm» на странице «/главная.htm», "
                                        "файл, который читает сборка");
    EXPECT_EQ(ReadFile(page), inside.at("/разделы/первая.htm"));
    EXPECT_EQ(shell.opened, std::vector<std::string>{output});
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

// The site every output case below is compiled from: a page, a style sheet,
// an image, a [FILES] entry and the project's own contents and index.
class HhcOutputTest : public HhcTest {
protected:
    HhcOutputTest() {
        WriteAll(site, {{"/start.htm", "<title>S</title><link rel=stylesheet href=\"style.css\">"
                                       "<a href=\"page.htm\">p</a><img src=\"pic.png\">"},
                        {"/page.htm", "<title>P</title>page"},
                        {"/style.css", "body {}"},
                        {"/pic.png", "not really a picture"},
                        {"/extra.htm", "<title>E</title>extra"},
                        {"/toc.hhc", "<ul><li><object type=\"text/sitemap\"></object></ul>"},
                        {"/idx.hhk", "<ul></ul>"}});
    }

    // Writes the project compiling the site into output; its path.
    std::string Project(const std::string& output) const {
        const std::string path = root / "p.hhp";
        WriteFile(path, "[OPTIONS]\nLanguage=0x419\nCompiled file=" + output +
                            "\nContents file=site/toc.hhc\nIndex file=site/idx.hhk"
                            "\nDefault topic=site/start.htm\n[FILES]\nsite/extra.htm\n");
        return path;
    }

    const fs::path site = root.Path() / "site";
};

// An output that is a file the build reads (by any name: device and inode
// count), or anything but a regular file, is refused with nothing written;
// a symbolic link stays and the file it names is replaced beside itself.
TEST_F(HhcOutputTest, OutputOverAnInputOrNotAFileIsRefusedAndALinkIsFollowed) {
    const std::string project = root / "p.hhp";
    ASSERT_EQ(::mkfifo((root / "fifo.chm").c_str(), 0600), 0);
    fs::create_directories(root / "folder.chm");
    fs::create_hard_link(site / "page.htm", root / "hard.chm");
    fs::create_symlink(site / "style.css", root / "to-style.chm");
    fs::create_symlink(root / "nowhere.chm", root / "dangling.chm");
    const struct {
        std::string output;
        std::string error; // after "cannot write the help file OUTPUT: "
    } cases[] = {
        {site / "start.htm",
         "it is \"" + (site / "start.htm").string() + "\" of the project, a file the build reads"},
        {site / "extra.htm",
         "it is \"" + (site / "extra.htm").string() + "\" of the project, a file the build reads"},
        {site / "toc.hhc",
         "it is \"" + (site / "toc.hhc").string() + "\" of the project, a file the build reads"},
        {site / "idx.hhk",
         "it is \"" + (site / "idx.hhk").string() + "\" of the project, a file the build reads"},
        {site / "page.htm", "it is \"page.htm\" in \"/site/start.htm\", a file the build reads"},
        {site / "style.css", "it is \"style.css\" in \"/site/start.htm\", a file the build reads"},
        {site / "pic.png", "it is \"pic.png\" in \"/site/start.htm\", a file the build reads"},
        {root / "hard.chm", "it is \"page.htm\" in \"/site/start.htm\", a file the build reads"},
        {root / "to-style.chm",
         "it is \"style.css\" in \"/site/start.htm\", a file the build reads"},
        {project, "it is the project itself"},
        {root / "fifo.chm", "it is not a regular file but a pipe, device or socket"},
        {root / "folder.chm", "it is a folder"},
        {root / "dangling.chm", "it is a symbolic link to nothing"},
    };
    std::map<fs::path, std::string> before;
    for (const auto& entry : fs::recursive_directory_iterator(root.Path())) {
        if (entry.is_regular_file())
            before[entry.path()] = ReadFile(entry.path());
    }
    for (const auto& c : cases) {
        const HhcRun run = RunHhc({Project(c.output)});
        EXPECT_TRUE(run.outcome.exited && run.outcome.exitCode == 1) << Show(run);
        EXPECT_EQ(run.outcome.errorOutput,
                  "hhc: cannot write the help file " + c.output + ": " + c.error + "\n")
            << Show(run);
        for (const auto& [path, bytes] : before) {
            if (path != project) {
                EXPECT_TRUE(ReadFile(path) == bytes) << c.output << ": " << path;
            }
        }
        EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
    }
    EXPECT_EQ(fs::status(root / "fifo.chm").type(), fs::file_type::fifo);
    EXPECT_FALSE(fs::exists(root / "nowhere.chm"));

    // A link to a file elsewhere: the link stays, its target becomes the help file.
    fs::create_directories(root / "elsewhere");
    WriteFile(root / "elsewhere/old.chm", "earlier help file");
    fs::create_symlink("elsewhere/old.chm", root / "link.chm");
    const HhcRun run = RunHhc({Project(root / "link.chm")});
    ASSERT_TRUE(run.Succeeded()) << Show(run);
    EXPECT_TRUE(fs::is_symlink(root / "link.chm"));
    EXPECT_EQ(fs::read_symlink(root / "link.chm"), "elsewhere/old.chm");
    test::ExpectHelpFileHolds(root / "elsewhere/old.chm",
                              {{"/site/start.htm", ReadFile(site / "start.htm")},
                               {"/site/page.htm", ReadFile(site / "page.htm")},
                               {"/site/style.css", "body {}"},
                               {"/site/pic.png", "not really a picture"},
                               {"/site/extra.htm", ReadFile(site / "extra.htm")},
                               {"/site/toc.hhc", ReadFile(site / "toc.hhc")},
                               {"/site/idx.hhk", ReadFile(site / "idx.hhk")}});
    EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
}

// A folder of the site swapped again and again with a link to a folder
// outside holding files of the same names: whatever each build takes, it
// is never an outside file.
TEST_F(HhcTest, AFolderSwappedForALinkOutsideNeverBringsAnOutsideFileIn) {
    constexpr int kFiles = 150;
    const fs::path site = root.Path() / "site";
    std::string start = "<title>S</title>";
    std::vector<std::string> names;
    fs::create_directories(site / "real");
    fs::create_directories(root.Path() / "outside");
    for (int i = 0; i < kFiles; ++i) {
        const std::string page = "sub/p" + std::to_string(i) + ".htm";
        const std::string image = "sub/i" + std::to_string(i) + ".png";
        start += "<a href=\"" + page + "\">x</a><img src=\"" + image + "\">";
        for (const std::string& name : {page, image}) {
            WriteFile(site / "real" / name.substr(4), "inside");
            WriteFile(root.Path() / "outside" / name.substr(4), "OUTSIDE");
            names.push_back("/" + name);
        }
    }
    WriteFile(site / "start.htm", start);
    fs::rename(site / "real", site / "sub");
    fs::create_symlink("../outside", site / "other");
    const std::string help = root / "race.chm";
    // In the site folder, so that the folder outside is outside the site.
    const std::string project = site / "p.hhp";
    WriteFile(project, "[OPTIONS]\nCompiled file=" + help + "\nDefault topic=start.htm\n");

    std::atomic<bool> done{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const std::string sub = site / "sub", other = site / "other";
        // In bursts, with quiet between them in which a build can run
        // whole: one that ran into a swap fails, and one that did not must
        // be written.
        for (int n = 0; !done; ++n) {
            if (::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) == 0)
                ++swaps;
            if (n % 64 == 63 && swaps % 2 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    int builds = 0, written = 0, taken = 0, outside = 0;
    std::string unexpected; // a failure other than a file found changed
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until && outside == 0 && unexpected.empty()) {
        ::unlink(help.c_str());
        const HhcRun run = RunHhc({project});
        ++builds;
        // A file the walk took and found changed when read again fails the build.
        if (!run.Succeeded()) {
            if (run.outcome.errorOutput.find("changed since the site was walked") ==
                std::string::npos)
                unexpected = Show(run);
            continue;
        }
        ++written;
        for (const std::optional<std::string>& bytes : test::ReadChmObjects(help, names)) {
            taken += bytes && *bytes == "inside";
            outside += bytes && *bytes != "inside";
        }
    }
    done = true;
    swapper.join();
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(unexpected, "");
    EXPECT_GT(swaps, builds);
    EXPECT_GT(written, 0);
    EXPECT_GT(taken, 0); // the race was run: files were taken meanwhile
}

// A page larger than the memory hhc may have is a message and status 1,
// never an abort; a file that is only stored, however large, is streamed
// through the compressor and needs no memory of its size.
TEST_F(HhcTest, OutOfMemoryIsAMessageAndAStoredFileIsStreamed) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's shadow memory is larger than any address-space limit";
#endif
    const fs::path site = root.Path() / "site";
    fs::create_directories(site);
    WriteFile(site / "start.htm", "<title>S</title><a href=\"big.htm\">b</a>");
    WriteFile(site / "stored.htm", "<title>S</title><img src=\"big.bin\">");
    for (const std::string name : {"big.htm", "big.bin"}) {
        WriteFile(site / name, "");
        fs::resize_file(site / name, std::uint64_t{1} << 28); // sparse: nothing on disk
    }
    // Smaller than the big file, larger than what hhc needs for itself.
    const auto limited = [&](const std::string& start) {
        WriteFile(root / "p.hhp", "[OPTIONS]\nLanguage=0x419\nCompiled file=" + (root / "out.chm") +
                                      "\nDefault topic=site/" + start + "\n");
        ChildProcess child;
        // One malloc arena: what each thread would reserve counts against the limit.
        child.Start("/bin/sh", {"-c", "ulimit -v 200000 && MALLOC_ARENA_MAX=1 exec \"$0\" \"$1\"",
                                TBX_HHC_PATH, root / "p.hhp"});
        return child.Wait([](std::string_view) {});
    };
    const ProcessOutcome page = limited("start.htm");
    EXPECT_TRUE(page.exited && page.exitCode == 1) << page.exitCode << page.errorOutput;
    EXPECT_EQ(page.errorOutput,
              "hhc: not enough memory to read " + fs::canonical(site / "big.htm").string() + "\n");
    EXPECT_FALSE(fs::exists(root / "out.chm"));

    const ProcessOutcome stored = limited("stored.htm");
    EXPECT_TRUE(stored.exited && stored.exitCode == 0) << stored.errorOutput;
    EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
}

// Pages are read again when indexed and compressed: one that changed in any
// way since the walk (another file in its place, rewritten at its size,
// gone) fails the compile, naming it, and is never stored as it now is.
// The line of the link not followed comes after the walk, before any page
// is read again: the change is made then.
TEST_F(HhcTest, APageChangedSinceTheWalkFailsTheCompileWithItsName) {
    const fs::path site = root.Path() / "site";
    const fs::path page = site / "page.htm";
    const std::string help = (root.Path() / "help.chm").string();
    const std::function<void()> changes[] = {
        [&] {
            fs::rename(page, site / "old.htm");
            WriteFile(page, ReadFile(site / "old.htm"));
        },
        [&] {
            WriteFile(page, std::string(ReadFile(page).size(), 'x'));
            const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
            ::utimensat(AT_FDCWD, page.c_str(), later, 0);
        },
        [&] { fs::remove(page); },
    };
    for (const bool search : {false, true}) {
        for (const auto& change : changes) {
            fs::remove_all(site);
            WriteAll(site, {{"/start.htm", "<title>Start</title><a href=page.htm>p</a>"
                                           "<a href=missing.htm>m</a>"},
                            {"/page.htm", "<title>Page</title><p>words to be indexed</p>"}});
            WriteFile(help, "earlier help file");
            WriteFile(root / "p.hhp", "[OPTIONS]\nCompiled file=" + help +
                                          "\nDefault topic=site/start.htm\nFull-text search=" +
                                          (search ? "Yes" : "No") + "\n");
            bool changed = false;
            const hhc::CompileResult result =
                hhc::Compile(root / "p.hhp", {}, [&](const std::string& line) {
                    if (!changed && ParseUnfollowedLine(line)) {
                        change();
                        changed = true;
                    }
                });
            ASSERT_TRUE(changed);
            EXPECT_FALSE(result.Ok()) << search;
            EXPECT_NE(result.error.find(fs::canonical(site).string() + "/page.htm"),
                      std::string::npos)
                << result.error;
            EXPECT_NE(result.error.find("changed since the site was walked"), std::string::npos)
                << result.error;
            EXPECT_EQ(ReadFile(help), "earlier help file");
            EXPECT_EQ(Leftovers(root.Path()), std::vector<std::string>{});
        }
    }
}

// Each reason a link is not followed says what is wrong, and is never cut
// off its line, however long the link and page are.
TEST_F(HhcTest, NotFollowedLinesSayWhatIsWrongAndKeepTheirReason) {
    const fs::path site = root.Path() / "site";
    const std::string longPage = std::string(250, 'p') + ".htm";
    const std::string controls(1500, '\x01');
    const std::string deep = std::string(240, 'd') + "/";
    std::string tooLong;
    while (tooLong.size() <= PATH_MAX)
        tooLong += deep;
    const std::string tooLongName = std::string(300, 'n') + ".htm";
    std::string storedTooLong; // over 1,000 bytes, each name as long as a disk allows
    for (int i = 0; i < 6; ++i)
        storedTooLong += std::string(200, static_cast<char>('a' + i)) + "/";
    storedTooLong += "c.png";
    fs::create_directories(site / "closed");
    WriteFile(site / "closed/page.htm", "closed");
    WriteFile(site / "start.htm", "<title>S</title><a href=\"" + longPage + "\">l</a>");
    WriteFile(site / longPage, "<a href=\"sub\\page.htm\">b</a><a href=\"" + controls +
                                   "\">c</a><a href=\"" + tooLong + "x.htm\">t</a><a href=\"" +
                                   tooLongName +
                                   "\">n</a><a href=\"closed/page.htm\">e</a>"
                                   "<img src=\"" +
                                   storedTooLong + "\">");
    fs::create_directories((site / storedTooLong).parent_path());
    WriteFile(site / storedTooLong, "stored");
    const bool root_ = ::geteuid() == 0; // root enters every folder
    fs::permissions(site / "closed", fs::perms::none);
    WriteFile(root / "p.hhp", "[OPTIONS]\nCompiled file=" + (root / "out.chm") +
                                  "\nDefault topic=site/start.htm\n");
    const HhcRun run = RunHhc({root / "p.hhp"});
    fs::permissions(site / "closed", fs::perms::owner_all);
    ASSERT_TRUE(run.Succeeded()) << Show(run);

    std::map<std::string, std::string> why; // link, first bytes -> reason
    for (const std::string& line : run.lines) {
        if (line.starts_with("not followed: ")) {
            EXPECT_LT(line.size(), 4096u) << line.substr(0, 100);
            const auto parsed = ParseUnfollowedLine(line);
            ASSERT_TRUE(parsed) << line.substr(0, 100);
            why[parsed->link.substr(0, 20)] = parsed->why;
        }
    }
    std::map<std::string, std::string> expected = {
        {"sub\\page.htm", "does not exist, with its backslashes read as \"/\""},
        {controls.substr(0, 20), "has a name or path longer than the system takes"},
        {tooLong.substr(0, 20), "has a name or path longer than the system takes"},
        {tooLongName.substr(0, 20), "has a name or path longer than the system takes"},
        {("/site/" + storedTooLong).substr(0, 20), "the name is longer than 512 bytes"},
    };
    if (!root_)
        expected["closed/page.htm"] = "is in a folder that cannot be entered";
    EXPECT_EQ(why, expected) << Show(run);
}

// ---- Languages ------------------------------------------------------------------

// Text from one charset to another by glibc's iconv directly: the test's
// own converter, apart from the program's.
std::string Convert(std::string_view bytes, const std::string& from, const std::string& to) {
    const iconv_t cd = iconv_open(to.c_str(), from.c_str());
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << from << " to " << to;
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size(), outLeft = out.size();
    char* next = out.data();
    EXPECT_NE(iconv(cd, &in, &inLeft, &next, &outLeft), static_cast<std::size_t>(-1))
        << from << " to " << to;
    iconv(cd, nullptr, nullptr, &next, &outLeft); // a letter held for accents that may follow
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string InCharset(std::string_view utf8, const std::string& charset) {
    return Convert(utf8, "UTF-8", charset);
}

std::string FromCharset(std::string_view bytes, const std::string& charset) {
    return Convert(bytes, charset, "UTF-8");
}

std::string CString(const std::string& bytes, std::size_t at) {
    return at < bytes.size() ? bytes.substr(at, bytes.find('\0', at) - at) : std::string();
}

// Projects as authors write them in sixteen languages: the project in the
// language's ANSI code page, one page under a legacy charset label and one
// in UTF-8. The title, the window's caption and every topic title come back
// exact, read in the code page the help file's language gives.
TEST_F(HhcTest, EveryLanguageKeepsItsTitleCaptionAndTopicTitles) {
    const struct {
        const char* language;  // the project's Language line
        const char* codePage;  // iconv's name of its ANSI code page
        const char* pageLabel; // the legacy page's <meta charset>
        const char* pageIconv; // iconv's name of that charset
        std::string title, caption, legacyTitle, utf8Title;
    } cases[] = {
        {"0x40C French", "CP1252", "iso-8859-1", "CP1252", "Guide de l'été", "Fenêtre d'aide",
         "Première étape", "Œuvres complètes"},
        {"0x0407", "CP1252", "latin1", "CP1252", "Handbuch", "Hilfe für Größen", "Übersicht",
         "Straße"},
        {"1045", "CP1250", "iso-8859-2", "ISO-8859-2", "Pomoc", "Zażółć gęślą jaźń", "Łódź",
         "Źródło"},
        {"0x405 Czech", "CP1250", "windows-1250", "CP1250", "Nápověda", "Příliš žluťoučký kůň",
         "Úvod", "Řešení"},
        {"0x408 Greek", "CP1253", "iso-8859-7", "ISO-8859-7", "Βοήθεια", "Καλημέρα κόσμε",
         "Εισαγωγή", "Ψάξιμο"},
        {"0x41F Turkish", "CP1254", "iso-8859-9", "ISO-8859-9", "Yardım", "Şişli ığdır", "Giriş",
         "Çözüm"},
        {"0x40D Hebrew", "CP1255", "iso-8859-8", "ISO-8859-8", "עזרה", "שלום עולם", "מבוא",
         "פתרון"},
        {"0x401 Arabic", "CP1256", "windows-1256", "CP1256", "مساعدة", "مرحبا بالعالم", "مقدمة",
         "الحل"},
        {"0x427 Lithuanian", "CP1257", "iso-8859-13", "ISO-8859-13", "Pagalba",
         "Ąžuolas ir šaltinis", "Įvadas", "Sprendimų ūkis"},
        {"0x41E Thai", "WINDOWS-874", "tis-620", "TIS-620", "ความช่วยเหลือ", "สวัสดี", "บทนำ", "วิธีแก้"},
        {"0x411 Japanese", "CP932", "shift_jis", "CP932", "ヘルプ", "日本語の説明", "はじめに",
         "検索"},
        {"0x412 Korean", "CP949", "euc-kr", "CP949", "도움말", "안녕하세요", "소개", "해결책"},
        {"0x804 Chinese", "CP936", "gb2312", "CP936", "帮助文档", "简体中文", "简介", "解决方法"},
        {"0x419 Russian", "CP1251", "koi8-r", "KOI8-R", "Справка", "Привет, ёлка", "Введение",
         "Решение"},
        {"0x422 Ukrainian", "CP1251", "koi8-u", "KOI8-U", "Довідка", "Ґанок і їжак", "Єдність",
         "Вступ"},
        {"0x409 English", "CP1252", "us-ascii", "CP1252", "Help", "Getting started", "Contents",
         "Index"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        const fs::path site = root.Path() / c.codePage / c.pageLabel;
        const std::string legacy = "<html><head><meta charset=\"" + std::string(c.pageLabel) +
                                   "\"><title>" + c.legacyTitle +
                                   "</title></head>"
                                   "<body><a href=\"utf8.htm\">next</a></body></html>";
        WriteAll(site, {{"/legacy.htm", InCharset(legacy, c.pageIconv)},
                        {"/utf8.htm", "<html><head><meta charset=\"utf-8\"><title>" + c.utf8Title +
                                          "</title></head><body>text</body></html>"}});
        const std::string project =
            "[OPTIONS]\r\nCompiled file=help.chm\r\nDefault topic=legacy.htm\r\n"
            "Default Window=main\r\nLanguage=" +
            std::string(c.language) + "\r\nTitle=" + c.title + "\r\n\r\n[WINDOWS]\r\nmain=\"" +
            c.caption + "\",,,,,,,,,0x2520,,0x3006,,,,,,,,0\r\n";
        WriteFile(site / "help.hhp", InCharset(project, c.codePage));

        const HhcRun run = RunHhc({(site / "help.hhp").string()});
        ASSERT_TRUE(run.Succeeded()) << Show(run);
        std::string error;
        const auto file = chm::ChmFile::Open((site / "help.chm").string(), error);
        ASSERT_TRUE(file) << error;
        const std::string system = ReadStored(*file, "/#SYSTEM");
        std::map<std::uint16_t, std::string> records;
        for (std::size_t at = 4; at + 4 <= system.size();) {
            const std::uint16_t code = U32(system, at) & 0xFFFF;
            const std::uint16_t length = U32(system, at + 2) & 0xFFFF;
            records[code] = system.substr(at + 4, length);
            at += 4 + length;
        }
        EXPECT_EQ(FromCharset(CString(records[3], 0), c.codePage), c.title);
        const std::string strings = ReadStored(*file, "/#STRINGS");
        const std::string windows = ReadStored(*file, "/#WINDOWS");
        EXPECT_EQ(FromCharset(CString(strings, U32(windows, 8 + 0x14)), c.codePage), c.caption);
        const std::string topics = ReadStored(*file, "/#TOPICS");
        std::set<std::string> titles;
        for (std::size_t at = 0; at + 16 <= topics.size(); at += 16)
            titles.insert(FromCharset(CString(strings, U32(topics, at + 4)), c.codePage));
        EXPECT_EQ(titles, (std::set<std::string>{c.legacyTitle, c.utf8Title}));
    }
}

// The project the compile job writes for a Russian site, under a fixed
// time stamp, compiles to the same bytes as before the text layer: pages in
// Windows-1251 and UTF-8, declared and not, Cyrillic names written both
// ways, references in titles, full-text search. The expected digest is the
// SHA-256 of the file the hhc of commit f7bddd9 (the last before the text
// layer) wrote for this very project: the test was run once with that hhc
// in place of TBX_HHC_PATH. Since then the file changed five times, each
// time checked entry by entry before the digest was updated: #IDXHDR and its
// copy in #SYSTEM (codes 12, 13 and 15 after the old records) were added, as
// Microsoft's compiler writes them, then the binary keyword index (with
// Binary Index=No the digest stayed), and the default LZX parse three times
// chose its matches otherwise (longer chains; then costs from the last trees,
// a look two bytes ahead, longer chains again and a longer look ahead; then a
// margin on the look one byte ahead), which changed only the compressed
// section's bytes and its length.
TEST_F(HhcTest, RussianJobProjectsCompileToTheBytesTheyDidBefore) {
    const fs::path site = root.Path() / "сайт";
    WriteAll(
        site,
        {
            {"/index.htm",
             Cp1251("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                    "charset=windows-1251\"><title>Справка по программе «Тест» — 1</title>"
                    "<link rel=stylesheet href=\"style.css\"></head><body><ul>"
                    "<li><a href=\"glava1.htm\">Глава первая</a></li>"
                    "<li><a href=\"Глава 2.htm#x\">Глава вторая</a><ul>"
                    "<li><a href=\"sub/%D0%A2%D1%80%D0%B8.htm\">Три</a></li></ul></li>"
                    "</ul><img src=\"pic.gif\"> Ректификационная колонна и царга.</body></html>")},
            {"/glava1.htm", "<html><title>Глава первая: ёлка</title><body><p>Ёлка и ель, "
                            "<b>Ц</b>арга &laquo;тест&raquo;.</p><a href=\"index.htm\">назад</a>"
                            "</body></html>"},
            {"/Глава 2.htm",
             Cp1251("<html><title>Глава&nbsp;2 &amp; ещё</title><body>"
                    "Вторая глава: колонна.<a href=\"нет.htm\">нет</a></body></html>")},
            {"/sub/Три.htm", Cp1251("<title>&#1025;ж и &#x44f;</title><p>Третья страница</p>")},
            {"/style.css", "body { background: url(pic.gif) }"},
            {"/pic.gif", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14)},
        });
    const std::string help = root / "справка.chm";
    const HelpProjectResult project = WriteHelpProject(hive, {(site / "index.htm").string(),
                                                              help,
                                                              "Справка «Тест»",
                                                              {1024, 768},
                                                              "/opt/tomebox/",
                                                              root.Path().string()});
    ASSERT_TRUE(project.Ok()) << project.error;

    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    const HhcRun run = RunHhc({project.projectPath});
    ::unsetenv("SOURCE_DATE_EPOCH");
    ASSERT_TRUE(run.Succeeded()) << Show(run);

    ChildProcess sha;
    ASSERT_TRUE(sha.Start("sha256sum", {help}));
    std::string digest;
    const ProcessOutcome hashed =
        sha.Wait([&](std::string_view line) { digest = line.substr(0, 64); });
    ASSERT_TRUE(hashed.exited && hashed.exitCode == 0) << hashed.errorOutput;
    EXPECT_EQ(digest, "0ca76bbf718f0d3599839b2abaa67a35e2275cb80f2e73fa75c9fce07cde1ee4");
}

} // namespace
} // namespace tbx
