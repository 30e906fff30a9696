// The projects documentation generators write, made at test time by the
// real generators and compiled by hhc (or, for Doxygen, by hhc.exe run by
// Doxygen itself): each help file holds every file the project lists and
// every page, its contents, index, window and context ids, read back by chmlib,
// libmspack, 7-Zip and our own reader.

#include "platform/process.h"
#include "support/chm_bytes.h"
#include "support/chm_reader.h"
#include "support/help_file_check.h"
#include "support/sitemap_reader.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The generator's path on PATH, or empty when it is not installed.
std::string FindProgram(const std::string& name) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string folder; std::getline(path, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

std::string Run(const std::string& program, const std::vector<std::string>& args) {
    const ProcessOutcome run = RunProcess(program, args);
    return run.exited && run.exitCode == 0
               ? std::string()
               : program + " exited " + std::to_string(run.exitCode) + ": " + run.errorOutput;
}

struct Generated {
    std::string project;   // the .hhp
    std::string error;     // the generator failed
    bool compiled = false; // the generator ran hhc.exe itself
};

const char* const kHeader = "/** @file api.h\n *  @brief A small API. */\n"
                            "/** Adds two numbers. @param a first @param b second */\n"
                            "int add(int a, int b);\n"
                            "/** A point. */\nstruct Point { int x; /**< across */ };\n";

Generated Sphinx(const TempDir& dir, const std::string& language) {
    const bool russian = language == "ru";
    fs::create_directories(dir.Path() / "src");
    WriteFile(dir.Path() / "src/conf.py",
              "project = 'Small'\nlanguage = '" + language +
                  "'\nextensions = ['sphinxcontrib.htmlhelp']\nhtml_show_sourcelink = False\n");
    WriteFile(dir.Path() / "src/index.rst",
              russian
                  ? "Справка\n=======\n\n.. toctree::\n\n   usage\n\n.. index:: начало\n\n"
                    "Первая страница.\n"
                  : "Help\n====\n\n.. toctree::\n\n   usage\n\n.. index:: start\n\nFirst page.\n");
    WriteFile(dir.Path() / "src/usage.rst",
              russian ? "Использование\n=============\n\n.. index:: запуск\n\nКак запустить.\n"
                      : "Usage\n=====\n\n.. index:: running\n\nHow to run it.\n");
    return {dir / "out/smalldoc.hhp",
            Run(FindProgram("sphinx-build"),
                {"-q", "-b", "htmlhelp", "-d", dir / "doctrees", dir / "src", dir / "out"})};
}

// Doxygen leaves "Compiled file" out unless CHM_FILE is set: the help file
// is named after the project. Through HHC_LOCATION Doxygen takes status 1 for
// success, and with WARN_AS_ERROR any other status fails the build.
Generated Doxygen(const TempDir& dir, bool throughHhcLocation) {
    WriteFile(dir.Path() / "api.h", kHeader);
    std::string doxyfile = "PROJECT_NAME = Small\nINPUT = " + (dir / "api.h") +
                           "\nOUTPUT_DIRECTORY = " + (dir / "out") +
                           "\nGENERATE_LATEX = NO\nGENERATE_HTMLHELP = YES\nHAVE_DOT = NO\n"
                           "SEARCHENGINE = NO\nHTML_DYNAMIC_MENUS = NO\nQUIET = YES\n";
    if (throughHhcLocation)
        doxyfile += "HHC_LOCATION = " TBX_HHC_EXE_PATH "\nWARN_AS_ERROR = YES\n";
    WriteFile(dir.Path() / "Doxyfile", doxyfile);
    return {dir / "out/html/index.hhp", Run(FindProgram("doxygen"), {dir / "Doxyfile"}),
            throughHhcLocation};
}

// A book whose chapters carry context ids, which the stylesheet writes into
// C headers that [ALIAS] and [MAP] #include.
Generated DocBook(const TempDir& dir) {
    WriteFile(dir.Path() / "book.xml",
              "<?xml version=\"1.0\"?>\n<book id=\"small\"><title>Small Book</title>\n"
              "<chapter id=\"start\"><?dbhh topicname=\"IDH_START\" topicid=\"100\"?>"
              "<title>Getting started</title><para>Start here.<indexterm><primary>start"
              "</primary></indexterm></para></chapter>\n"
              "<chapter id=\"usage\"><?dbhh topicname=\"IDH_USAGE\" topicid=\"0x65\"?>"
              "<title>Usage</title><para>Use it.<indexterm><primary>usage</primary>"
              "</indexterm></para></chapter></book>\n");
    const std::string stylesheet =
        "/usr/share/xml/docbook/stylesheet/docbook-xsl/htmlhelp/htmlhelp.xsl";
    if (!fs::exists(stylesheet))
        return {{}, "no DocBook XSL at " + stylesheet};
    return {
        dir / "out/htmlhelp.hhp",
        Run(FindProgram("xsltproc"), {"--nonet", "--stringparam", "base.dir", dir / "out/",
                                      "--stringparam", "manifest.in.base.dir", "1", "--stringparam",
                                      "htmlhelp.use.hhk", "1", stylesheet, dir / "book.xml"})};
}

struct GeneratorCase {
    std::string name;
    std::string program; // skipped when it is not installed
    std::function<Generated(const TempDir&)> generate;
    int codePage; // of the project and the help file's strings
    std::vector<std::pair<std::uint32_t, std::string>> contextIds = {}; // id, file
};

void PrintTo(const GeneratorCase& c, std::ostream* os) {
    *os << c.name;
}

// The lines of one section of the project as the generator wrote them.
std::vector<std::string> SectionLines(const std::string& project, const std::string& section) {
    std::vector<std::string> lines;
    std::istringstream text(project);
    bool in = false;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with('['))
            in = line == "[" + section + "]";
        else if (in && !line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::string OptionValue(const std::string& project, const std::string& key) {
    for (const std::string& line : SectionLines(project, "OPTIONS")) {
        if (line.starts_with(key + "="))
            return line.substr(key.size() + 1);
    }
    return {};
}

std::string Slashes(std::string name) {
    for (char& c : name)
        c = c == '\\' ? '/' : c;
    return name;
}

// The #SYSTEM records by code.
std::map<std::uint16_t, std::string> SystemRecords(const std::string& system) {
    std::map<std::uint16_t, std::string> records;
    for (std::size_t at = 4; at + 4 <= system.size();) {
        const auto code = static_cast<std::uint16_t>(test::ReadLe(system, at, 2));
        const auto length = static_cast<std::size_t>(test::ReadLe(system, at + 2, 2));
        records[code] = system.substr(at + 4, length);
        at += 4 + length;
    }
    return records;
}

// Every Local of a stored sitemap, without its anchor.
void CollectLocals(const std::vector<test::ReadEntry>& entries, std::vector<std::string>& locals) {
    for (const test::ReadEntry& entry : entries) {
        if (entry.local)
            locals.push_back(Slashes(entry.local->substr(0, entry.local->find('#'))));
        CollectLocals(entry.children, locals);
    }
}

class GeneratorTest : public ::testing::TestWithParam<GeneratorCase> {};

TEST_P(GeneratorTest, ItsProjectCompilesWithEveryFileContentsIndexAndWindow) {
    const GeneratorCase& c = GetParam();
    if (FindProgram(c.program).empty())
        GTEST_SKIP() << c.program << " is not installed";
    const TempDir dir;
    const Generated generated = c.generate(dir);
    ASSERT_EQ(generated.error, "");
    const std::string project = ReadFile(generated.project);
    const fs::path folder = fs::path(generated.project).parent_path();
    const std::string output = OptionValue(project, "Compiled file");
    const fs::path help =
        folder / (output.empty() ? fs::path(generated.project).stem().string() + ".chm" : output);
    if (!generated.compiled) {
        const ProcessOutcome run = RunProcess(TBX_HHC_PATH, {generated.project});
        ASSERT_TRUE(run.exited && run.exitCode == 0) << run.errorOutput;
    }
    ASSERT_TRUE(fs::exists(help)) << help;

    // Every file of [FILES] and every page, byte for byte. The sitemaps are
    // checked below: the stored ones may have their "\" rewritten.
    std::map<std::string, std::string> files;
    for (const std::string& name : SectionLines(project, "FILES")) {
        if (fs::exists(folder / Slashes(name)))
            files["/" + Slashes(name)] = ReadFile(folder / Slashes(name));
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".html")
            files["/" + entry.path().filename().string()] = ReadFile(entry.path());
    }
    ASSERT_GT(files.size(), 2u);
    test::ExpectHelpFileHolds(help, files, test::Others::Allowed);

    // The contents and index the project names, each entry on a stored file.
    const std::string charset = c.codePage == 1251 ? "CP1251" : "CP1252";
    const auto records = SystemRecords(test::ReadChmObject(help, "/#SYSTEM").value_or(""));
    const std::pair<std::uint16_t, std::string> sitemaps[] = {
        {0, OptionValue(project, "Contents file")}, {1, OptionValue(project, "Index file")}};
    for (const auto& [code, name] : sitemaps) {
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(records.count(code) ? records.at(code) : "", name + '\0');
        const std::optional<std::string> stored = test::ReadChmObject(help, "/" + name);
        ASSERT_TRUE(stored) << name;
        std::vector<std::string> locals;
        CollectLocals(
            test::ReadSitemap(text::Decode(*stored, text::Charset::ForCodePage(c.codePage))),
            locals);
        EXPECT_GE(locals.size(), 2u) << name;
        for (const std::string& local : locals)
            EXPECT_TRUE(test::ReadChmObject(help, "/" + local)) << name << ": " << local;
    }

    // The window: its name and caption as the project gives them.
    const std::vector<std::string> windows = SectionLines(project, "WINDOWS");
    ASSERT_EQ(windows.size(), 1u);
    const std::string& definition = windows[0];
    const std::string windowName = definition.substr(0, definition.find('='));
    const std::size_t open = definition.find('"');
    const std::string caption =
        definition.substr(open + 1, definition.find('"', open + 1) - open - 1);
    const std::string table = test::ReadChmObject(help, "/#WINDOWS").value_or("");
    const std::string strings = test::ReadChmObject(help, "/#STRINGS").value_or("");
    ASSERT_GE(table.size(), 8u + 196u);
    EXPECT_EQ(test::ReadLe(table, 0, 4), 1u);
    const auto text = [&](std::size_t field) {
        const auto at = static_cast<std::size_t>(test::ReadLe(table, 8 + field, 4));
        return strings.substr(at, strings.find('\0', at) - at);
    };
    EXPECT_EQ(text(0x08), windowName);
    EXPECT_EQ(text(0x14), caption); // both in the project's code page
    EXPECT_EQ(records.count(5) ? records.at(5) : "", OptionValue(project, "Default Window") + '\0');

    // Context ids, from the headers [ALIAS] and [MAP] #include: #IVB pairs
    // each id with the #STRINGS offset of its file as [ALIAS] names it.
    std::vector<std::pair<std::uint32_t, std::string>> ids;
    if (const std::optional<std::string> ivb = test::ReadChmObject(help, "/#IVB")) {
        ASSERT_EQ(test::ReadLe(*ivb, 0, 4), ivb->size() - 4);
        for (std::size_t at = 4; at + 8 <= ivb->size(); at += 8) {
            const auto offset = static_cast<std::size_t>(test::ReadLe(*ivb, at + 4, 4));
            ids.emplace_back(static_cast<std::uint32_t>(test::ReadLe(*ivb, at, 4)),
                             strings.substr(offset, strings.find('\0', offset) - offset));
        }
    }
    EXPECT_EQ(ids, c.contextIds);
}

INSTANTIATE_TEST_SUITE_P(
    Generators, GeneratorTest,
    ::testing::Values(GeneratorCase{"SphinxEnglish", "sphinx-build",
                                    [](const TempDir& dir) { return Sphinx(dir, "en"); }, 1252},
                      GeneratorCase{"SphinxRussian", "sphinx-build",
                                    [](const TempDir& dir) { return Sphinx(dir, "ru"); }, 1251},
                      GeneratorCase{"DoxygenWithoutChmFile", "doxygen",
                                    [](const TempDir& dir) { return Doxygen(dir, false); }, 1252},
                      GeneratorCase{"DoxygenThroughHhcLocation", "doxygen",
                                    [](const TempDir& dir) { return Doxygen(dir, true); }, 1252},
                      GeneratorCase{"DocBookWithContextIds",
                                    "xsltproc",
                                    DocBook,
                                    1252,
                                    {{100, "ch01.html"}, {0x65, "ch02.html"}}}),
    [](const ::testing::TestParamInfo<GeneratorCase>& info) { return info.param.name; });

// DocBook XSL places every <indexterm> in its page as a KLink object and
// writes an empty index file with Auto Index=Yes: every term, its
// secondary under its primary, reaches the binary index on its page.
TEST(DocBookIndex, EveryIndexTermIsAKeywordOnItsPage) {
    const std::string stylesheet =
        "/usr/share/xml/docbook/stylesheet/docbook-xsl/htmlhelp/htmlhelp.xsl";
    if (FindProgram("xsltproc").empty() || !fs::exists(stylesheet))
        GTEST_SKIP() << "no xsltproc or DocBook XSL";
    const TempDir dir;
    WriteFile(dir.Path() / "book.xml",
              "<?xml version=\"1.0\"?>\n<book><title>Index Book</title>\n"
              "<chapter id=\"one\"><title>Paper</title><para>Sizes."
              "<indexterm><primary>paper</primary><secondary>sizes</secondary></indexterm>"
              "<indexterm><primary>Margins</primary></indexterm></para></chapter>\n"
              "<chapter id=\"two\"><title>Ink</title><para>Colours."
              "<indexterm><primary>ink</primary></indexterm>"
              "<indexterm><primary>paper</primary><secondary>weight</secondary>"
              "<tertiary>heavy</tertiary></indexterm>"
              "<indexterm><primary>Margins</primary></indexterm></para></chapter></book>\n");
    ASSERT_EQ(tbx::Run(FindProgram("xsltproc"),
                       {"--nonet", "--stringparam", "base.dir", dir / "out/", "--stringparam",
                        "manifest.in.base.dir", "1", stylesheet, dir / "book.xml"}),
              "");
    const std::string project = ReadFile(dir.Path() / "out/htmlhelp.hhp");
    ASSERT_NE(project.find("Auto Index=Yes"), std::string::npos) << project;
    const ProcessOutcome run = RunProcess(TBX_HHC_PATH, {dir / "out/htmlhelp.hhp"});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.errorOutput;
    const std::string output = OptionValue(project, "Compiled file");
    const auto files =
        test::ReadHelpFile(dir / ("out/" + (output.empty() ? "htmlhelp.chm" : output)));
    EXPECT_EQ(test::HelpKeywords(files),
              (std::vector<std::string>{
                  "ink -> ch02.html", "Margins -> ch01.html, ch02.html",
                  "paper -> ch01.html, ch02.html", "  paper, sizes -> ch01.html",
                  "  paper, weight -> ch02.html", "    paper, weight, heavy -> ch02.html"}));
}

// hhc.exe is hhc answering as Microsoft's compiler: 1 when the help file
// was written, 0 on any failure; hhc keeps its own statuses.
TEST(HhcExe, AnswersWithMicrosoftsExitStatuses) {
    const TempDir dir;
    WriteFile(dir.Path() / "a.htm", "<title>A</title>");
    WriteFile(dir.Path() / "good.hhp", "[OPTIONS]\nDefault topic=a.htm\nLanguage=0x409\n");
    WriteFile(dir.Path() / "bad.hhp", "[OPTIONS]\nDefault topic=none.htm\nLanguage=0x409\n");
    const struct {
        const char* program;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {TBX_HHC_EXE_PATH, {dir / "good.hhp"}, 1},
        {TBX_HHC_EXE_PATH, {dir / "bad.hhp"}, 0},
        {TBX_HHC_EXE_PATH, {}, 0},
        {TBX_HHC_EXE_PATH, {"--version"}, 1},
        {TBX_HHC_PATH, {dir / "good.hhp"}, 0},
        {TBX_HHC_PATH, {dir / "bad.hhp"}, 1},
    };
    for (const auto& c : cases) {
        const ProcessOutcome run = RunProcess(c.program, c.args);
        EXPECT_TRUE(run.exited && run.exitCode == c.status)
            << c.program << " " << (c.args.empty() ? "" : c.args[0]) << ": " << run.exitCode
            << run.errorOutput;
    }
    EXPECT_TRUE(fs::exists(dir.Path() / "good.chm")); // named after the project
}

} // namespace
} // namespace tbx
