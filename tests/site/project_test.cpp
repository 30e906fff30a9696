#include "compile/help_project.h"
#include "settings/opt_store.h"
#include "site/project.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tbx::site {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

class JobProjectTest : public ::testing::Test {
protected:
    JobProjectTest() : hive(store.Path()) {}

    void Set(const char* key, const char* name, const char* text) {
        COptKey k;
        ASSERT_EQ(k.OpenOrCreate(hive, key), kErrorSuccess);
        ASSERT_EQ(k.SetText(name, text), kErrorSuccess);
    }

    // Writes the project as the compile job does, into a folder of its own
    // away from the site, and reads it back.
    Project WriteAndRead(const std::string& title) {
        fs::create_directories(jobFolder);
        const ProjectResult read = ReadProject(
            WriteHelpProject(hive, {page, output, title, {1024, 768}, "/opt/tomebox/", jobFolder})
                .projectPath);
        EXPECT_TRUE(read.Ok()) << read.error;
        return read.project;
    }

    TempDir store;
    TempDir dir;
    RegHive hive;
    const std::string folder = dir / "Справка сайта";
    const std::string page = folder + "/Начало.htm";
    const std::string output = dir / "вывод/Справка.chm";
    const std::string jobFolder = dir / "job";
};

TEST_F(JobProjectTest, EveryKeyAndWindowFieldTheJobWritesIsReadBack) {
    WriteFirstRunDefaults(hive);
    fs::create_directories(folder);
    WriteFile(page, "<p>");

    const Project project = WriteAndRead("Моя справка");

    EXPECT_EQ(project.compiledFile, output);
    EXPECT_EQ(project.defaultTopic, page);
    EXPECT_EQ(project.siteRoot, folder + "/");
    EXPECT_EQ(project.files, std::vector<std::string>{page});
    EXPECT_EQ(project.language, 0x419u);
    EXPECT_FALSE(project.fullTextSearch);
    EXPECT_TRUE(project.displayProgress);
    EXPECT_EQ(project.title, "");
    EXPECT_EQ(project.defaultWindow, "Tomebox");
    ASSERT_EQ(project.windows.size(), 1u);
    chm::HelpWindow expected;
    expected.name = "Tomebox";
    expected.caption = "Моя справка";
    expected.homeFile = kAuthorSite;
    expected.jump1Url = "/opt/tomebox/about.htm";
    expected.jump1Text = "About";
    expected.properties = 8480;
    expected.navWidth = 0;
    expected.buttons = 0x40000 + 0x2 + 0x4 + 0x8 + 0x10 + 0x20 + 0x2000;
    expected.rect = chm::WindowRect{86, 64, 938, 704};
    expected.notifyId = 0;
    EXPECT_EQ(project.windows[0], expected);
}

TEST_F(JobProjectTest, QuotesAndCommasInTheTitleAndLinkTextKeepEveryField) {
    fs::create_directories(folder);
    WriteFile(page, "<p>");
    Set(kCmnOptsKey, "LSide", "-20");
    Set(kBtnOptsKey, "UserLink", "1");
    Set(kBtnOptsKey, "UserLinkUrl", "http://x.example/");

    chm::HelpWindow window = WriteAndRead("Справка \"Про\", том 2").windows.at(0);
    // The job writes the title's quotes as guillemets and its comma as it is.
    EXPECT_EQ(window.caption, "Справка «Про», том 2");
    EXPECT_EQ(window.rect->left, -20);
    EXPECT_EQ(window.buttons, 0x40000 + 0x80000);

    Set(kBtnOptsKey, "UserLinkTitle", "Сайт, форум");
    window = WriteAndRead("Справка").windows.at(0);
    EXPECT_EQ(window.jump2Url, "http://x.example/");
    EXPECT_EQ(window.jump2Text, "Сайт, форум");
    EXPECT_EQ(window.properties, 8480);
}

TEST(ProjectReader, HandWrittenProjectsUseRelativePathsAndEitherEncoding) {
    const std::string utf8 = "\xEF\xBB\xBF[OPTIONS]\n"
                             "Compiled file=out\\Справка.chm\n"
                             "Default topic=html\\start.htm\n"
                             "Title=Справка\n"
                             "Contents file=toc.hhc\n"
                             "Index file = idx.hhk \n"
                             "Language=0x409 English (United States)\n"
                             "Full-text search=YES\n"
                             "Binary TOC=Yes\n"
                             "Default topic=ignored.htm\n"
                             "\n[FILES]\nhtml\\a.htm\n; a comment\n/abs/b.htm\n"
                             "[ALIAS]\nx=y\n"
                             "[WINDOWS]\nmain=\"Help\",\"toc.hhc\",\"idx.hhk\",\"start.htm\",,,,,,"
                             "0x63520,250,0x3006,[10, 20, 800, 600],,,1\n"
                             "main=\"second definition of main\"\n"
                             "short=\"Only a caption\"\n";
    const ProjectResult read = ParseProject(utf8, "/proj/help.hhp");
    ASSERT_TRUE(read.Ok()) << read.error;
    const Project& p = read.project;
    EXPECT_EQ(p.compiledFile, "/proj/out/Справка.chm");
    EXPECT_EQ(p.defaultTopic, "/proj/html/start.htm");
    EXPECT_EQ(p.siteRoot, "/proj/");
    EXPECT_EQ(p.files, (std::vector<std::string>{"/proj/html/a.htm", "/abs/b.htm"}));
    EXPECT_EQ(p.title, "Справка");
    EXPECT_EQ(p.contentsFile, "/proj/toc.hhc");
    EXPECT_EQ(p.indexFile, "/proj/idx.hhk");
    EXPECT_EQ(p.language, 0x409u);
    EXPECT_TRUE(p.fullTextSearch);
    EXPECT_TRUE(p.displayProgress); // Microsoft's default
    ASSERT_EQ(p.windows.size(), 2u);
    const chm::HelpWindow& main = p.windows[0];
    EXPECT_EQ(main.caption, "Help");
    EXPECT_EQ(main.contentsFile, "toc.hhc");
    EXPECT_EQ(main.defaultFile, "start.htm");
    EXPECT_EQ(main.homeFile, "");
    EXPECT_EQ(main.properties, 0x63520);
    EXPECT_EQ(main.buttons, 0x3006);
    EXPECT_EQ(main.rect, (chm::WindowRect{10, 20, 800, 600}));
    EXPECT_EQ(main.showState, 1);
    EXPECT_FALSE(main.styles.has_value());
    EXPECT_FALSE(main.notifyId.has_value());
    EXPECT_EQ(p.windows[1].caption, "Only a caption");
    EXPECT_FALSE(p.windows[1].rect.has_value());

    // The same in Windows-1251; an absolute start page makes its folder the root.
    const std::string cp1251 = EncodeCp1251("[options]\r\ncompiled file=Справка.chm\r\n"
                                            "default topic=/site/Начало.htm\r\n"
                                            "Title=Справка\r\nLanguage=1049\r\n",
                                            Unmappable::Nearest);
    const ProjectResult legacy = ParseProject(cp1251, "/elsewhere/p.hhp");
    ASSERT_TRUE(legacy.Ok()) << legacy.error;
    EXPECT_EQ(legacy.project.title, "Справка");
    EXPECT_EQ(legacy.project.compiledFile, "/elsewhere/Справка.chm");
    EXPECT_EQ(legacy.project.siteRoot, "/site/");
    EXPECT_EQ(legacy.project.language, 0x419u);
}

// A pattern in [FILES] names the matching files of its folder, in name
// order; a real file of that name, or a pattern that matches nothing, stays.
TEST(ProjectReader, FilePatternsNameTheFilesOfTheirFolder) {
    TempDir dir;
    const fs::path img = dir.Path() / "img";
    fs::create_directories(img);
    for (const char* name : {"b.GIF", "a.gif", "c.png", "what?.htm"})
        WriteFile(img / name, "x");
    fs::create_directory(img / "folder.gif");
    fs::create_symlink(img / "gone", img / "broken.gif");
    const ProjectResult read = ParseProject("[OPTIONS]\nLanguage=0x409\nDefault topic=a.htm\n"
                                            "[FILES]\nimg\\*.gif\nimg\\what?.htm\n"
                                            "img\\*.jpg\n",
                                            (dir.Path() / "p.hhp").string());
    ASSERT_TRUE(read.Ok()) << read.error;
    const std::string at = img.string() + "/";
    EXPECT_EQ(read.project.files, (std::vector<std::string>{at + "a.gif", at + "b.GIF",
                                                            at + "what?.htm", at + "*.jpg"}));
}

// Every way authors spell "Language", and the code page it gives a project
// that is not UTF-8: the Language line is read as ASCII first.
TEST(ProjectReader, LanguageIsReadInEverySpellingAndSetsTheProjectsCodePage) {
    const struct {
        std::string line; // empty: no Language at all
        std::uint32_t language;
        bool warned;
    } cases[] = {
        {"Language=0x409", 0x409, false},
        {"Language=0x0409", 0x409, false},
        {"Language=0X40C", 0x40C, false},
        {"Language=1033", 0x409, false},
        {"Language=0x411 Japanese", 0x411, false},
        {"LANGUAGE = 1049 Russian (Russia)", 0x419, false},
        {"Language=\t0x0804\tChinese (PRC)", 0x804, false},
        {"Language=0x7777", 0x7777, true}, // no language Windows knows
        {"", 0x409, true},
    };
    for (const auto& c : cases) {
        const ProjectResult read = ParseProject(
            "[OPTIONS]\nCompiled file=a.chm\nDefault topic=a.htm\n" + c.line + "\n", "/p/p.hhp");
        ASSERT_TRUE(read.Ok()) << c.line << ": " << read.error;
        EXPECT_EQ(read.project.language, c.language) << c.line;
        EXPECT_EQ(!read.warnings.empty(), c.warned) << c.line;
    }
    // Not UTF-8: the bytes are read in the language's code page, whichever
    // line names it.
    const struct {
        std::string language, codePage, title;
    } legacy[] = {
        {"0x0411", "CP932", "日本語のヘルプ"},
        {"0x408 Greek", "CP1253", "Βοήθεια"},
        {"1250", "CP1252", "Fenêtre"}, // no such id: Windows-1252, with a warning
    };
    for (const auto& c : legacy) {
        const std::string utf8 =
            "[OPTIONS]\r\nTitle=" + c.title +
            "\r\nCompiled file=a.chm\r\nDefault topic=a.htm\r\nLanguage=" + c.language + "\r\n";
        const int codePage = c.codePage == "CP932" ? 932 : c.codePage == "CP1253" ? 1253 : 1252;
        const ProjectResult read = ParseProject(*text::EncodeExact(utf8, codePage), "/p/p.hhp");
        ASSERT_TRUE(read.Ok()) << read.error;
        EXPECT_EQ(read.project.title, c.title) << c.language;
    }
}

TEST(ProjectReader, WhatCannotBeCompiledIsAClearError) {
    const std::string both = "[OPTIONS]\nCompiled file=a.chm\nDefault topic=a.htm\n";
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"[OPTIONS]\nCompiled file=a.chm\nDefault topic=\n", "no start page"},
        {"", "no start page"},
        {both + "Language=Klingon\n", "\"Language\""},
        {both + "Language=0x419Russian\n", "\"Language\""},
        {both + "Language=0x10000\n", "\"Language\""},
        {both + "Language=0\n", "\"Language\""},
        {both + "[MAP]\n#include \"ids.h\"\n", "cannot read /p/ids.h, which the project includes"},
        {both + "[WINDOWS]\nw=\"T\",,,,,,,,,style\n", "field 10 (navigation style)"},
        {both + "[WINDOWS]\nw=\"T\",,,,,,,,,1,2,3,[1,2,3]\n", "field 13 (window rectangle)"},
        {both + "[WINDOWS]\nw=\"T\",,,,,,,,,1,2,3,4,,,,,,,,,\n", "more than 20 fields"},
    };
    for (const auto& c : cases) {
        const ProjectResult read = ParseProject(c.text, "/p/p.hhp");
        EXPECT_NE(read.error.find(c.error), std::string::npos) << c.text << "\n" << read.error;
    }
    TempDir dir;
    WriteFile(dir.Path() / "loop.h", "#include loop.h\n");
    WriteFile(dir.Path() / "p.hhp", both + "[ALIAS]\n#include loop.h\n");
    EXPECT_NE(ReadProject(dir / "p.hhp").error.find("it includes itself"), std::string::npos);
}

// Every key and section Microsoft's compiler knows is read, or named in a
// warning when hhc does not do what it asks; #include works in any section,
// and a project Microsoft compiles gets Microsoft's defaults.
TEST(ProjectReader, EveryOptionAndSectionIsHonouredOrNamedInAWarning) {
    TempDir dir;
    const std::string d = dir.Path().string();
    fs::create_directories(dir.Path() / "html");
    WriteFile(dir.Path() / "html/toc.hhc", "");
    WriteFile(dir.Path() / "ids.h", "#define IDH_A 1 // first\r\n#include \"more.h\"\r\n");
    WriteFile(dir.Path() / "more.h", "#define IDH_B 0x2\n");
    WriteFile(dir.Path() / "alias.h", "IDH_A=a.htm\n");
    WriteFile(dir.Path() / "options.txt", "Title=Included\nDefault Font=Arial,8,0\n");
    using Lines = std::vector<std::string>;
    const std::string topic = "Default topic=a.htm\n";
    const struct {
        std::string text;    // after "[OPTIONS]\nLanguage=0x409\n"
        std::string warning; // in a warning; empty: no warning at all
        std::function<void(const Project&)> check;
    } cases[] = {
        {topic + "Compiled file=out.chm\nDefault Font=Tahoma,9,204\nError log file=log\\hhc.log\n"
                 "Full text search stop list file=s.stp\nCompression=best\n"
                 "Display compile progress=No\nBinary TOC=No\nBinary Index=no\n"
                 "Compatibility=1.1 or later\nDisplay compile notes=Yes\nCreate CHI file=No\n"
                 "Enhanced decompilation=No\nFlat=No\nAuto Index=No\nAuto TOC=0\n",
         "",
         [&](const Project& p) {
             EXPECT_EQ(p.compiledFile, d + "/out.chm");
             EXPECT_EQ(p.defaultFont, "Tahoma,9,204");
             EXPECT_EQ(p.errorLogFile, d + "/log/hhc.log");
             EXPECT_EQ(p.stopListFile, d + "/s.stp");
             EXPECT_TRUE(p.bestCompression);
             EXPECT_FALSE(p.displayProgress);
             EXPECT_FALSE(p.binaryIndex);
             EXPECT_FALSE(p.autoIndex);
         }},
        {topic + "Binary TOC=Yes\n", "\"Binary TOC=Yes\" in [OPTIONS] is not honoured",
         [](const Project& p) { EXPECT_TRUE(p.binaryToc); }},
        {topic + "Binary Index=YES\nAuto Index=Yes\n", "",
         [](const Project& p) { EXPECT_TRUE(p.binaryIndex && p.autoIndex && !p.binaryToc); }},
        {topic + "Create CHI file=Yes\n", "\"Create CHI file=Yes\"", {}},
        {topic + "Enhanced decompilation=Yes\n", "\"Enhanced decompilation=Yes\"", {}},
        {topic + "Flat=Yes\n", "\"Flat=Yes\"", {}},
        {topic + "Compatibility=1.0\n", "\"Compatibility=1.0\"", {}},
        {topic + "Display compile notes=No\n", "\"Display compile notes=No\"", {}},
        {topic + "Auto TOC=9\n", "\"Auto TOC=9\"", {}},
        {topic + "Custom tab=tab.dll\n", "\"Custom tab=tab.dll\"", {}},
        {topic + "Frobnicate=1\n", "\"Frobnicate\" in [OPTIONS] is not read", {}},
        {topic + "[INFOTYPES]\nCategory:Level\n", "[INFOTYPES] is not read", {}},
        {topic + "[SUBSETS]\nAll\n", "[SUBSETS] is not read", {}},
        {topic + "[NOTES]\nx\n", "[NOTES] is not read", {}},
        {topic + "Default Window=main\n", "\"Default Window\" names main", {}},
        // Keys and sections in any case, the first of a key counting, comments.
        {"default TOPIC=a.htm\ntitle=First\nTITLE=Second\n[files]\n; no file\nb.htm\n"
         "[text popups]\npopups\\cs.txt\n[Merge Files]\nother.chm\n",
         "",
         [&](const Project& p) {
             EXPECT_EQ(p.defaultTopic, d + "/a.htm");
             EXPECT_EQ(p.title, "First");
             EXPECT_EQ(p.files, Lines{d + "/b.htm"});
             EXPECT_EQ(p.textPopups, Lines{d + "/popups/cs.txt"});
             EXPECT_EQ(p.mergeFiles, Lines{"other.chm"});
         }},
        // #include in any section, nested, its lines where the line stood.
        {topic + "#include options.txt\n[ALIAS]\n#include alias.h\nIDH_C=c.htm\n"
                 "[MAP]\n#include ids.h\n#define IDH_C 3\n",
         "",
         [&](const Project& p) {
             EXPECT_EQ(p.title, "Included");
             EXPECT_EQ(p.defaultFont, "Arial,8,0");
             EXPECT_EQ(p.aliasLines, (Lines{"IDH_A=a.htm", "IDH_C=c.htm"}));
             EXPECT_EQ(p.mapLines,
                       (Lines{"#define IDH_A 1 // first", "#define IDH_B 0x2", "#define IDH_C 3"}));
         }},
        // Microsoft's defaults: the help file after the project, the walk
        // from the first of [FILES] with no start page recorded.
        {"[FILES]\nfirst.htm\nsecond.htm\n", "",
         [&](const Project& p) {
             EXPECT_EQ(p.compiledFile, d + "/p.chm");
             EXPECT_EQ(p.defaultTopic, "");
             EXPECT_EQ(p.files, (Lines{d + "/first.htm", d + "/second.htm"}));
             EXPECT_EQ(p.siteRoot, d + "/");
             EXPECT_TRUE(p.binaryIndex && !p.autoIndex && !p.binaryToc);
         }},
        {topic + "Compiled file=C:\\Projects\\x\\Dev5.chm\n", "is a Windows path",
         [&](const Project& p) { EXPECT_EQ(p.compiledFile, d + "/Dev5.chm"); }},
        {topic + "Compiled file=\\\\srv\\share\\a.chm\n", "is a Windows path",
         [&](const Project& p) { EXPECT_EQ(p.compiledFile, d + "/a.chm"); }},
        {topic + "[MAP]\n#include C:\\Work\\ids.h\n", "is a Windows path",
         [&](const Project& p) { EXPECT_EQ(p.mapLines.size(), 2u); }},
        {topic + "Contents file=D:\\Work\\Help\\html\\toc.hhc\n", "is a Windows path",
         [&](const Project& p) { EXPECT_EQ(p.contentsFile, d + "/html/toc.hhc"); }},
    };
    for (const auto& c : cases) {
        WriteFile(dir.Path() / "p.hhp", "[OPTIONS]\nLanguage=0x409\n" + c.text);
        const ProjectResult read = ReadProject(dir / "p.hhp");
        ASSERT_TRUE(read.Ok()) << c.text << read.error;
        std::string warnings;
        for (const std::string& warning : read.warnings)
            warnings += warning + "\n";
        if (c.warning.empty())
            EXPECT_EQ(warnings, "") << c.text;
        else
            EXPECT_NE(warnings.find(c.warning), std::string::npos) << c.text << warnings;
        if (c.check)
            c.check(read.project);
    }
}

TEST(ProjectReader, AFileThatIsNoProjectIsRefusedWithoutHanging) {
    TempDir dir;
    EXPECT_NE(ReadProject(dir / "none.hhp").error.find("cannot open"), std::string::npos);
    ASSERT_EQ(::mkfifo((dir / "pipe.hhp").c_str(), 0644), 0);
    EXPECT_NE(ReadProject(dir / "pipe.hhp").error.find("is not a file"), std::string::npos);
    WriteFile(dir.Path() / "p.hhp", "[OPTIONS]\nCompiled file=a.chm\nDefault topic=a.htm\n");
    EXPECT_EQ(ReadProject(dir / "p.hhp").project.compiledFile, dir / "a.chm");
}

} // namespace
} // namespace tbx::site
