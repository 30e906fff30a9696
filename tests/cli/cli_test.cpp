// tomebox-cli by command: the program itself for its command line and exit
// statuses, and RunCli in process (with the real hhc and hh beside it) for
// what each command makes.

#include "chm/writer.h"
#include "cli/cli.h"
#include "index/index_page.h"
#include "index/page_list.h"
#include "platform/process.h"
#include "settings/opt_store.h"
#include "support/mspack_reader.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kToolsFolder = fs::path(TBX_CLI_PATH).parent_path().string() + "/";

struct CliRun {
    int status = -1;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    // RunCli in process, from the test folder, with the test's own settings.
    CliRun Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        cli::StopSwitch stop;
        cli::Environment env{
            dir.Path().string(), kToolsFolder, settings.Path(), out, err, false, stop};
        CliRun run;
        run.status = cli::RunCli(args, env);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

    // Writes files (path below the test folder, bytes).
    void Place(const std::map<std::string, std::string>& files) {
        for (const auto& [name, bytes] : files) {
            fs::create_directories(fs::path(dir / name).parent_path());
            WriteFile(dir / name, bytes);
        }
    }

    TempDir dir, settings;
};

// The process itself: the exit statuses a script sees, and --help and
// --version on standard output.
TEST(CliProgram, WrongUsageExitsWithTwoAndSaysWhereTheHelpIs) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"build"},
        {"build", "a.htm", "b.htm"},
        {"build", "a.htm", "--title"},
        {"build", "a.htm", "--bogus"},
        {"build", "a.htm", "--strict", "--strict"},
        {"extract", "a.chm", "--overwrite=yes"},
        {"extract", "a.chm", "dir", "more"},
        {"index", "folder", "--copy-style"},
        {"index"},
    };
    for (const auto& args : wrong) {
        const ProcessOutcome run = RunProcess(TBX_CLI_PATH, args);
        const std::string shown = args.empty() ? "(none)" : args[0];
        EXPECT_TRUE(run.exited && run.exitCode == 2) << shown << " " << run.exitCode;
        EXPECT_EQ(run.errorOutput.rfind("tomebox-cli: ", 0), 0u) << run.errorOutput;
        EXPECT_NE(run.errorOutput.find("--help"), std::string::npos) << run.errorOutput;
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                                 {"build", "--help"},
                                                 {"extract", "x.chm", "-h"},
                                                 {"index", "--help", "--bogus"}}) {
        const std::string help = RunForOutput(TBX_CLI_PATH, args);
        EXPECT_NE(help.find("Usage: tomebox-cli"), std::string::npos) << args[0];
        EXPECT_NE(help.find("2 wrong command line"), std::string::npos) << args[0];
    }
    EXPECT_EQ(RunForOutput(TBX_CLI_PATH, {"--version"}).rfind("Tomebox! ", 0), 0u);
    // After "--" a name that looks like an option is a file.
    const ProcessOutcome file = RunProcess(TBX_CLI_PATH, {"index", "--", "--help"});
    EXPECT_TRUE(file.exited && file.exitCode == 1);
    EXPECT_NE(file.errorOutput.find("--help/"), std::string::npos) << file.errorOutput;
}

TEST(CliProgram, HhAnswersHelpAndVersion) {
    const std::string hh = kToolsFolder + "hh";
    EXPECT_NE(RunForOutput(hh, {"--help"}).find("hh -decompile DIR FILE"), std::string::npos);
    EXPECT_EQ(RunForOutput(hh, {"--version"}).rfind("hh (Tomebox!) ", 0), 0u);
}

// Builds with the real hhc, read back by libmspack: every page the start
// page reaches is inside byte for byte, and the options come from where
// the command line says.
TEST_F(CliTest, BuildMakesAHelpFileThatAnIndependentReaderReadsBack) {
    const std::map<std::string, std::string> reached = {
        {"index.html", "<html><head><title>Руководство</title></head><body>"
                       "<a href=\"часть/один.htm\">1</a><img src=\"img/p.png\"></body></html>"},
        {"часть/один.htm", "<html><body>Один <a href=\"../index.html\">назад</a></body></html>"},
        {"img/p.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
    };
    for (const auto& [name, bytes] : reached)
        Place({{"docs/" + name, bytes}});
    Place({{"docs/unlinked.htm", "<html>not reached</html>"}});
    // Saved options that ask for full-text search.
    ASSERT_EQ(RegCreateKeyWithValues(RegHive(settings.Path()), kNavOptsKey,
                                     {{"NavPanel", "1"}, {"NavSearch", "1"}}),
              kErrorSuccess);
    const auto settingsFiles = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(settings.Path()))
            names.push_back(entry.path().string());
        return names;
    };
    const std::vector<std::string> before = settingsFiles();

    struct Case {
        std::vector<std::string> args;
        std::string help;    // the help file, below the test folder
        std::string caption; // in the help file's strings
        bool search;
    };
    const std::vector<Case> cases = {
        {{"docs/index.html", "--no-settings"}, "docs/index.chm", "Руководство", false},
        {{"docs/index.html", "-o", "out/new/справка.chm", "--title", "Другое"},
         "out/new/справка.chm",
         "Другое",
         true},
        {{"--search", "--no-settings", "docs/index.html", "--output=s.chm"},
         "s.chm",
         "Руководство",
         true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"build"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun run = Run(args);
        ASSERT_EQ(run.status, 0) << c.help << "\n" << run.err;
        EXPECT_EQ(run.out, dir / c.help + "\n");

        test::MspackReader reader(dir / c.help);
        ASSERT_TRUE(reader.Opened()) << c.help;
        for (const auto& [name, bytes] : reached)
            EXPECT_EQ(reader.FindAndRead("/" + name), bytes) << c.help << " " << name;
        EXPECT_FALSE(reader.FindAndRead("/unlinked.htm")) << c.help;
        const auto strings = reader.FindAndRead("/#STRINGS");
        ASSERT_TRUE(strings) << c.help;
        EXPECT_NE(strings->find(EncodeCp1251(c.caption, Unmappable::Nearest)), std::string::npos)
            << c.help;
        EXPECT_EQ(reader.FindAndRead("/$FIftiMain").has_value(), c.search) << c.help;
    }
    // Read, never written: not even the first-run defaults.
    EXPECT_EQ(settingsFiles(), before);
}

// --strict: a link not followed fails the build and writes no help file,
// where without it the link is only reported.
TEST_F(CliTest, StrictBuildFailsOnALinkNotFollowed) {
    Place({{"site/index.htm", "<html><a href=\"missing.htm\">x</a></html>"}});

    const CliRun lax = Run({"build", "site/index.htm", "--no-settings", "-o", "help.chm"});
    EXPECT_EQ(lax.status, 0) << lax.err;
    EXPECT_NE(lax.err.find("missing.htm"), std::string::npos) << lax.err;
    const std::string built = ReadFile(dir / "help.chm");

    for (const std::string output : {"help.chm", "new.chm"}) {
        const CliRun strict =
            Run({"build", "site/index.htm", "--no-settings", "--strict", "-o", output});
        EXPECT_EQ(strict.status, 1);
        EXPECT_EQ(strict.out, "");
        EXPECT_NE(strict.err.find("missing.htm"), std::string::npos) << strict.err;
        EXPECT_NE(
            strict.err.find(dir / output + ": the help compiler failed: no help file was made"),
            std::string::npos)
            << strict.err;
    }
    EXPECT_EQ(ReadFile(dir / "help.chm"), built);
    EXPECT_FALSE(fs::exists(dir / "new.chm"));

    // A page that is not there is named, and no output folder is made for it.
    const CliRun missing = Run({"build", "nowhere/page.htm"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(dir / "nowhere/page.htm"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

// A start page or output that cannot be is named with what is wrong, and
// whatever the compiler refuses it says why; nothing is written.
TEST_F(CliTest, BuildSaysWhatIsWrongWithThePageOrTheOutput) {
    Place({{"site/index.htm", "<title>S</title><link rel=stylesheet href=\"s.css\">"},
           {"site/s.css", "body {}"}});
    ASSERT_EQ(::mkfifo((dir / "fifo.chm").c_str(), 0600), 0);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string error; // in standard error
    } cases[] = {
        {{"build", ""}, 2, "tomebox-cli: the start page's name is empty\n"},
        {{"build", "site/index.htm", "-o", ""}, 2, "tomebox-cli: the help file's name is empty\n"},
        {{"build", "site"},
         1,
         "tomebox-cli: " + dir / "site" + ": this is a folder, not a start page"},
        {{"build", "site/index.htm", "--no-settings", "-o", "fifo.chm"},
         1,
         "fifo.chm: it is not a regular file but a pipe, device or socket\n"},
        {{"build", "site/index.htm", "--no-settings", "-o", "site/s.css"},
         1,
         "s.css: it is \"s.css\" in \"/index.htm\", a file the build reads\n"},
    };
    for (const auto& c : cases) {
        const CliRun run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(ReadFile(dir / "site/s.css"), "body {}");
    EXPECT_EQ(fs::status(dir / "fifo.chm").type(), fs::file_type::fifo);
}

// The index page of a folder is the very page the window writes for its
// rows as it lists them: the core's writer with ListPages' rows.
TEST_F(CliTest, IndexWritesTheWindowsPageForTheSameFolder) {
    Place({{"site/b.htm", "<title>Второй</title>"},
           {"site/A.html", "<title>Первый & главный</title>"},
           {"site/c.htm", "no title"},
           {"site/notes.txt", "not a page"},
           {"css/my.css", "body {}"}});
    const std::string folder = dir / "site/";
    // The user's own index options are not the command line's.
    {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(RegHive(settings.Path()), kIndOptsKey), kErrorSuccess);
        key.SetText("CSSStyle", "sand.css");
    }
    const auto expected = [&](const std::string& reference) {
        std::vector<IndexRow> rows;
        for (const PageEntry& page : ListPages(folder))
            rows.push_back({page.title, page.name});
        CIndexPageFile file;
        WriteIndexPage(file, rows, reference);
        return file.Bytes();
    };
    struct Case {
        std::vector<std::string> options;
        std::string reference;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"--style", "blue.css"}, kToolsFolder + "css_dir/blue.css"},
        {{"--style=css/my.css"}, dir / "css/my.css"},
        {{"--style", "blue.css", "--copy-style"}, "blue.css"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"index", "site"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        // The page of an earlier round is listed like any other page.
        const std::string page = expected(c.reference);
        const CliRun run = Run(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, folder + kIndexPageName + "\n");
        EXPECT_EQ(ReadFile(folder + kIndexPageName), page) << c.reference;
    }
    EXPECT_EQ(ReadFile(folder + "blue.css"), ReadFile(kToolsFolder + "css_dir/blue.css"));

    const CliRun missingSheet = Run({"index", "site", "--style", "none.css"});
    EXPECT_EQ(missingSheet.status, 1);
    EXPECT_NE(missingSheet.err.find("css_dir/none.css"), std::string::npos) << missingSheet.err;
    fs::create_directories(dir / "empty");
    const CliRun empty = Run({"index", "empty"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find(dir / "empty/"), std::string::npos) << empty.err;
    EXPECT_FALSE(fs::exists(dir / "empty/" + kIndexPageName));
}

// Extraction: the round trip into the default folder beside the help file,
// a refused overwrite that writes nothing, and --overwrite.
TEST_F(CliTest, ExtractRoundTripsAndReplacesChangedFilesOnlyWhenAsked) {
    const std::map<std::string, std::string> files = {
        {"index.htm", "<html><a href=\"раздел/глава.htm\">1</a></html>"},
        {"раздел/глава.htm", std::string(100000, 'x')},
        {"img/a.png", std::string("\x89PNG\0\0", 6)},
    };
    chm::Writer writer;
    for (const auto& [name, bytes] : files)
        ASSERT_EQ(writer.Add("/" + name, bytes), "");
    ASSERT_EQ(writer.Finish(dir / "моя справка.chm"), "");
    const std::string out = dir / "моя справка/";

    const CliRun first = Run({"extract", "моя справка.chm"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, out + "\n");
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(ReadFile(out + name), bytes) << name;

    // The same files again: nothing differs, nothing to ask.
    EXPECT_EQ(Run({"extract", "моя справка.chm"}).status, 0);

    WriteFile(out + "index.htm", "edited");
    const CliRun refused = Run({"extract", "моя справка.chm", out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("1 file of the folder has other content and would be replaced; "
                               "among them:\nindex.htm\n"),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(ReadFile(out + "index.htm"), "edited");

    const CliRun replaced = Run({"extract", "--overwrite", "моя справка.chm", out});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ReadFile(out + "index.htm"), files.at("index.htm"));

    // A help file that is not there: said with its name, and no folder made.
    const CliRun missing = Run({"extract", "нет.chm"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(dir / "нет.chm"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(dir / "нет"));

    // A file that is no help file: hh fails, and the folders made for it,
    // two levels of them, are taken back.
    WriteFile(dir / "текст.chm", "just text, no help file");
    const CliRun notHelp = Run({"extract", "текст.chm", dir / "новая/папка"});
    EXPECT_EQ(notHelp.status, 1);
    EXPECT_FALSE(fs::exists(dir / "новая")) << notHelp.err;
    EXPECT_EQ(Run({"extract", "текст.chm"}).status, 1);
    EXPECT_FALSE(fs::exists(dir / "текст"));
}

} // namespace
} // namespace tbx
