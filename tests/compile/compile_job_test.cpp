#include "chm/internal_files.h"
#include "chm/writer.h"
#include "compile/compile_job.h"
#include "platform/shell.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/scripted_host.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <optional>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RecordingShell;
using test::ScriptedHost;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

// Fake compilers: shell scripts standing where the job looks for hhc.
// Each writes the help file named in the project it is given, or fails.
constexpr const char* kWritesHelpFile =
    "out=$(grep -a '^Compiled file=' \"$1\" | cut -d= -f2- | tr -d '\\r')\n"
    "printf 'compiled' > \"$out\"\n";

class CompileJobTest : public ::testing::Test {
protected:
    CompileJobTest() : hive(store.Path()) {
        WriteFirstRunDefaults(hive);
        page = site / "start.htm";
        WriteFile(page, "<html><title>T</title></html>");
        host.fields[kIdPageEdit] = page;
        host.fields[kIdOutputEdit] = site / "start.chm";
        host.fields[kIdTitleEdit] = "Title";
    }

    void Compiler(const std::string& body) {
        const fs::path hhc = program.Path() / "hhc";
        WriteFile(hhc, "#!/bin/sh\n" + body);
        fs::permissions(hhc, fs::perms::owner_all);
    }

    void SetOption(const char* name, const char* text) {
        COptKey key;
        key.OpenOrCreate(hive, kCmnOptsKey);
        key.SetText(name, text);
    }

    // Runs one job on this thread.
    void RunJob() {
        CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
        jobs.CompileThreadProc();
    }

    // Message 111 as a fake compiler that prints no summary gets it.
    std::string Built() {
        return LoadString(111) + "\nФайл справки: " + host.fields[kIdOutputEdit];
    }

    bool NoProjectLeft() {
        for (const auto& entry : fs::directory_iterator(site.Path())) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".hhp") || name.ends_with(".ini"))
                return false;
        }
        return true;
    }

    TempDir store, site, program;
    RegHive hive;
    std::string page;
    ScriptedHost host;
    RecordingShell shell;
};

TEST_F(CompileJobTest, SuccessfulBuildReportsOpensAndLeavesNoProject) {
    Compiler(kWritesHelpFile);
    RunJob();
    EXPECT_EQ(host.messages, (std::vector<std::string>{LoadString(112), Built()}));
    EXPECT_EQ(ReadFile(site / "start.chm"), "compiled");
    EXPECT_EQ(shell.opened, std::vector<std::string>{site / "start.chm"});
    EXPECT_EQ(host.busyStarts, 1);
    EXPECT_EQ(host.busyStops, 1);
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_TRUE(NoProjectLeft());
}

// The project goes into a folder of the program's own that only this user
// may use, never beside the page: the site is only read, so a read-only site
// builds and a killed build leaves nothing in it.
TEST_F(CompileJobTest, TheProjectLivesInAPrivateFolderAndTheSiteIsOnlyRead) {
    Compiler("log=\"$(dirname \"$0\")/seen\"\n"
             "printf '%s\\n' \"$1\" > \"$log\"\n"
             "stat -c '%a %u' \"$(dirname \"$1\")\" \"$(dirname \"$1\")/..\" >> \"$log\"\n"
             "ls -A \"" +
             site.Path().string() +
             "\" >> \"$log\"\n"
             "cp \"$1\" \"$log.hhp\"\n" +
             kWritesHelpFile);
    RunJob();
    ASSERT_EQ(host.messages.back(), Built());

    const std::string uid = std::to_string(::geteuid());
    const std::string seen = ReadFile(program.Path() / "seen");
    const std::string project = seen.substr(0, seen.find('\n'));
    EXPECT_EQ(seen, project + "\n700 " + uid + "\n700 " + uid + "\nstart.htm\n");
    EXPECT_FALSE(project.starts_with(site.Path().string())) << project;
    // The same project, naming the page and the output by their full paths.
    const std::string text = ReadFile(program.Path() / "seen.hhp");
    EXPECT_NE(text.find("\r\nDefault topic=" + page + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n[FILES]\r\n" + page + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nCompiled file=" + (site / "start.chm") + "\r\n"), std::string::npos);
    // Nothing of the job is left behind.
    EXPECT_FALSE(fs::exists(fs::path(project).parent_path()));
}

TEST_F(CompileJobTest, OutputChecksComeFirstAndStopTheJob) {
    Compiler(kWritesHelpFile);
    host.fields[kIdPageEdit] = site / "missing.htm";

    host.fields[kIdOutputEdit] = site.Path().string(); // a folder
    RunJob();
    host.fields[kIdOutputEdit] = "";
    RunJob();
    host.fields[kIdOutputEdit] = "relative/out.chm";
    RunJob();
    // A file where a folder of the output path should be.
    WriteFile(site / "file", "x");
    host.fields[kIdOutputEdit] = site / "file/sub/out.chm";
    RunJob();

    EXPECT_EQ(host.messages, (std::vector<std::string>{LoadString(115), LoadString(114),
                                                       LoadString(114), LoadString(114)}));
    EXPECT_EQ(host.busyStarts, 0);
    EXPECT_TRUE(shell.opened.empty());
}

TEST_F(CompileJobTest, MissingFolderChainIsCreatedEvenWhenThePageIsMissing) {
    Compiler(kWritesHelpFile);
    host.fields[kIdOutputEdit] = site / "a/b/c/out.chm";
    host.fields[kIdPageEdit] = site / "missing.htm";
    RunJob();
    EXPECT_EQ(host.messages, std::vector<std::string>{LoadString(110)});
    EXPECT_TRUE(fs::is_directory(site / "a/b/c"));

    host.fields[kIdPageEdit] = page;
    host.fields[kIdOutputEdit] = site / "x/y/out.chm";
    RunJob();
    EXPECT_EQ(ReadFile(site / "x/y/out.chm"), "compiled");
}

TEST_F(CompileJobTest, OverwriteAsksOnlyWithConsentOption) {
    Compiler(kWritesHelpFile);
    WriteFile(site / "start.chm", "old");
    RunJob(); // ConsentOnRewrite is off: no question (the host fails on one)
    EXPECT_EQ(ReadFile(site / "start.chm"), "compiled");

    SetOption("ConsentOnRewrite", "1");
    WriteFile(site / "start.chm", "old");
    host.messages.clear();
    host.answers = {false};
    RunJob();
    EXPECT_EQ(host.questions, std::vector<std::string>{LoadString(109)});
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(ReadFile(site / "start.chm"), "old");

    host.answers = {true};
    RunJob();
    EXPECT_EQ(ReadFile(site / "start.chm"), "compiled");
    EXPECT_EQ(host.messages.back(), Built());
}

// A help file as hhc writes it for a start page and a title.
void WriteHelpFile(const std::string& path, const std::string& topic, const std::string& title) {
    chm::HelpModel model;
    model.defaultTopic = "/" + topic;
    model.title = title;
    model.compiledFile = path;
    chm::Writer writer;
    ASSERT_EQ(writer.Add("/#SYSTEM", chm::BuildHelpFiles(model).system, chm::Storage::Uncompressed),
              "");
    ASSERT_EQ(writer.Add("/" + topic, "<title>old</title>"), "");
    ASSERT_EQ(writer.Finish(path), "");
}

// Without the consent option a help file is replaced unasked only when it
// was built from the same start page under the same title: sites share
// start page names, and another site's help file is not lost unasked.
TEST_F(CompileJobTest, AnotherSitesHelpFileIsAskedAboutEvenWithoutConsent) {
    Compiler(kWritesHelpFile);
    const std::string output = site / "start.chm";
    host.fields[kIdTitleEdit] = "Справка \"X\"";
    const std::string question109 = LoadString(109);
    struct Case {
        const char* what;
        std::string topic, title;
        bool consent;
        std::string question; // empty: none
    };
    const Case cases[] = {
        {"this page and title", "start.htm", "Справка «X»", false, ""},
        {"another start page", "index.htm", "Справка «X»", false,
         question109 +
             "\nВ нём справка другого сайта: «Справка «X»», начальная страница index.htm."},
        {"another title", "start.htm", "Другая", false,
         question109 + "\nВ нём справка другого сайта: «Другая», начальная страница start.htm."},
        {"this page and title, with consent", "start.htm", "Справка «X»", true, question109},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetOption("ConsentOnRewrite", c.consent ? "1" : "0");
        for (const bool yes : {false, true}) {
            WriteHelpFile(output, c.topic, c.title);
            const std::string old = ReadFile(output);
            host.questions.clear();
            host.messages.clear();
            if (!c.question.empty())
                host.answers = {yes};
            RunJob();
            if (c.question.empty()) {
                EXPECT_TRUE(host.questions.empty());
                EXPECT_EQ(ReadFile(output), "compiled");
                break;
            }
            EXPECT_EQ(host.questions, std::vector<std::string>{c.question});
            // "Нет" keeps the old help file and says nothing.
            EXPECT_EQ(ReadFile(output), yes ? "compiled" : old);
            EXPECT_EQ(host.messages.empty(), !yes);
        }
    }
}

// "Open after compile" that shows nothing says why, and the window stays so
// that it can be read; the desktop's program being Tomebox itself is never
// started from the job.
TEST_F(CompileJobTest, AHelpFileThatCannotBeShownIsSaidAndTheWindowStays) {
    Compiler(kWritesHelpFile);
    SetOption("QuitAfterCompile", "1");
    struct Case {
        const char* what;
        std::string handler;
        int openResult;
        int reason;
        std::size_t opens;
    };
    const Case cases[] = {
        {"no program (xdg-open exits 3)", "", kLaunchNoAssociation, kMsgReasonNoViewer, 1},
        {"gone", "xchm.desktop", kLaunchFileNotFound, kMsgReasonHelpFileGone, 1},
        {"Tomebox itself", "org.example.tomebox.desktop", kLaunchOk, kMsgReasonViewerIsTomebox, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shell.handler = c.handler;
        shell.openResult = c.openResult;
        shell.opened.clear();
        host.messages.clear();
        RunJob();
        EXPECT_EQ(shell.opened.size(), c.opens);
        EXPECT_EQ(host.messages.back(),
                  Built() + "\n" + FillString(kMsgHelpNotShown, {LoadString(c.reason)}));
        EXPECT_TRUE(host.endResults.empty());
    }
    shell.handler = "xchm.desktop";
    shell.openResult = kLaunchOk;
    RunJob();
    EXPECT_EQ(host.messages.back(), Built());
    EXPECT_EQ(host.endResults, std::vector<int>{1});

    // With a viewer of the program's own, the help file goes to it, whatever
    // the desktop would choose.
    shell.handler = "org.example.tomebox.desktop";
    shell.opened.clear();
    std::vector<std::string> viewed;
    CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
    jobs.ShowHelpFilesWith([&](const std::string& helpFile) { viewed.push_back(helpFile); });
    jobs.CompileThreadProc();
    EXPECT_EQ(viewed, std::vector<std::string>{host.fields[kIdOutputEdit]});
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_EQ(host.messages.back(), Built());
}

TEST_F(CompileJobTest, CompilerFailuresAreReportedAndSkipTheAfterActions) {
    SetOption("QuitAfterCompile", "1");
    const std::string output = site / "start.chm";

    RunJob(); // no hhc in the program folder
    EXPECT_EQ(host.messages.back().find(LoadString(kMsgCompilerNotStarted)), 0u);

    Compiler("echo 'cannot read the page' >&2\nexit 3\n");
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(kMsgCompilerFailed) + "\ncannot read the page");

    Compiler("kill -KILL $$\n");
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(kMsgCompilerFailed));

    Compiler("exit 0\n"); // succeeds but writes nothing
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(kMsgNoHelpFile) + "\n" + output);

    // An old help file that the compiler leaves alone was not made by this job.
    WriteFile(output, "old");
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(kMsgNoHelpFile) + "\n" + output);

    EXPECT_EQ(host.CountHeaded(LoadString(111)), 0);
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_EQ(host.busyStarts, host.busyStops);
    EXPECT_TRUE(NoProjectLeft());
}

TEST_F(CompileJobTest, QuitAfterCompileEndsTheWindowAfterOpening) {
    Compiler(kWritesHelpFile);
    SetOption("QuitAfterCompile", "1");
    SetOption("OpenAfterCompile", "0");
    RunJob();
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_EQ(host.endResults, std::vector<int>{1});
}

TEST_F(CompileJobTest, ProjectThatCannotBeWrittenIsReported) {
    Compiler(kWritesHelpFile);
    const fs::path folder = site.Path() / "名";
    fs::create_directory(folder);
    WriteFile(folder / "p.htm", "x");
    host.fields[kIdPageEdit] = (folder / "p.htm").string();
    RunJob();
    EXPECT_EQ(host.messages.back().find(LoadString(kMsgPathNotWritable1251)), 0u);
    EXPECT_EQ(host.busyStarts, host.busyStops);

    // No private folder to be had: neither the runtime folder nor the
    // temporary one can hold it.
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto runtime = saved("XDG_RUNTIME_DIR"), temp = saved("TMPDIR");
    setenv("XDG_RUNTIME_DIR", (site / "missing").c_str(), 1);
    setenv("TMPDIR", page.c_str(), 1);
    host.fields[kIdPageEdit] = page;
    RunJob();
    for (const auto& [name, value] : {std::pair{"XDG_RUNTIME_DIR", runtime}, {"TMPDIR", temp}}) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    EXPECT_EQ(host.messages.back(), LoadString(kMsgProjectWriteFailed));
    EXPECT_FALSE(fs::exists(site / "start.chm"));
    EXPECT_EQ(host.busyStarts, host.busyStops);
}

// Jobs queue on the lock: each waiting job says so, the compilers never
// overlap, and every job builds in turn.
void RunQueuedJobs(ScriptedHost& host, CompileJobs& jobs, const TempDir& program, int count) {
    for (int i = 0; i < count; ++i)
        jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return host.Count(LoadString(113)) == count - 1; }));
    WriteFile(program.Path() / "go", "");
    ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));
    jobs.Join();
    EXPECT_EQ(host.CountHeaded(LoadString(111)), count);
    EXPECT_FALSE(fs::exists(program.Path() / "overlap"));
}

constexpr const char* kWaitsForGo =
    "dir=$(dirname \"$0\")\n"
    "mkdir \"$dir/running\" 2>/dev/null || touch \"$dir/overlap\"\n"
    "while [ ! -e \"$dir/go\" ]; do sleep 0.01; done\n"
    "out=$(grep -a '^Compiled file=' \"$1\" | cut -d= -f2- | tr -d '\\r')\n"
    "printf 'compiled' > \"$out\"\n"
    "rmdir \"$dir/running\"\n";

TEST_F(CompileJobTest, TwoQuickJobsQueueAndTheSecondAsksToOverwrite) {
    Compiler(kWaitsForGo);
    SetOption("ConsentOnRewrite", "1");
    host.answers = {true};
    CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
    RunQueuedJobs(host, jobs, program, 2);
    EXPECT_EQ(host.questions, std::vector<std::string>{LoadString(109)});
    EXPECT_EQ(shell.opened.size(), 2u);
    EXPECT_TRUE(NoProjectLeft());
}

TEST_F(CompileJobTest, TenQuickJobsRunOneAtATime) {
    Compiler(kWaitsForGo);
    CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
    RunQueuedJobs(host, jobs, program, 10);
    EXPECT_EQ(host.busyStarts, 10);
    EXPECT_EQ(host.busyStops, 10);
    EXPECT_TRUE(NoProjectLeft());
}

TEST_F(CompileJobTest, ShutdownStopsTheRunningCompilerAndDropsWaitingJobs) {
    Compiler(kWaitsForGo); // never gets its "go"
    SetOption("QuitAfterCompile", "1");
    {
        CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
        for (int i = 0; i < 3; ++i)
            jobs.Start();
        ASSERT_TRUE(WaitFor([&] {
            return host.Count(LoadString(113)) == 2 && fs::exists(program.Path() / "running");
        }));
        jobs.Shutdown();
        jobs.Start(); // a press after closing starts nothing
        ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));
    }
    EXPECT_EQ(host.CountHeaded(LoadString(111)), 0);
    EXPECT_EQ(host.Count(LoadString(112)), 1);
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_EQ(host.busyStarts, host.busyStops);
    EXPECT_TRUE(NoProjectLeft());
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

// Reports its progress, noted its process id, then waits for "go" as
// kWaitsForGo does.
constexpr const char* kReportsThenWaits =
    "dir=$(dirname \"$0\")\n"
    "echo $$ > \"$dir/pid\"\n"
    "echo 'files read: 3'\n"
    "echo 'some other line'\n"
    "echo 'files compressed: 1 of 3'\n"
    "while [ ! -e \"$dir/go\" ]; do sleep 0.01; done\n"
    "out=$(grep -a '^Compiled file=' \"$1\" | cut -d= -f2- | tr -d '\\r')\n"
    "printf 'compiled' > \"$out\"\n";

TEST_F(CompileJobTest, ProgressShowsUnderMessage112WhileTheCompilerRuns) {
    Compiler(kReportsThenWaits);
    CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
    jobs.Start();
    // Both lines arrive while the compiler still waits for its "go".
    ASSERT_TRUE(WaitFor([&] { return host.Progress().size() == 2; }));
    EXPECT_FALSE(jobs.Idle());
    EXPECT_EQ(host.Progress(),
              (std::vector<std::string>{LoadString(112) + "\nПрочитано файлов: 3",
                                        LoadString(112) + "\nСжато файлов: 1 из 3"}));
    WriteFile(program.Path() / "go", "");
    ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));
    EXPECT_EQ(host.messages, (std::vector<std::string>{LoadString(112), Built()}));
}

// What the compiler said beyond its progress joins message 111: the help
// file, its count and size, and the links it did not follow, the first five
// of them with the reason in Russian (an unknown reason as it came).
TEST_F(CompileJobTest, FinishedBuildNamesTheFileItsSizeAndTheLinksNotFollowed) {
    Compiler(
        "echo 'files read: 3'\n"
        "echo 'not followed: \"a.htm\" in \"/start.htm\": does not exist'\n"
        "printf '%s\\n' 'not followed: \"100%2 \\\"q\\\".htm\" in \"/start.htm\": "
        "is a symbolic link to outside the site folder'\n"
        "echo 'not followed: \"/x/p.htm\": leaves the site folder'\n"
        "echo 'not followed: \"b.htm\" in \"/start.htm\": cannot be read (Permission denied)'\n"
        "echo 'not followed: \"c.htm\" in \"/start.htm\": something new'\n"
        "echo 'not followed: \"d.htm\" in \"/start.htm\": does not exist'\n"
        "echo 'not followed: \"e.htm\" in \"/d.htm\": does not exist'\n"
        "echo 'compiled: 3 files, 300 bytes in, 2150 bytes out, 0.01 s'\n"
        "out=$(grep -a '^Compiled file=' \"$1\" | cut -d= -f2- | tr -d '\\r')\n"
        "head -c 2150 /dev/zero > \"$out\"\n");
    RunJob();
    EXPECT_EQ(host.messages.back(),
              Built() +
                  "\nФайлов в справке: 3, размер: 2,1 КБ"
                  "\nНе пройдено ссылок: 7. Эти файлы не вошли в справку:"
                  "\n«a.htm» на странице /start.htm: такого файла нет"
                  "\n«100%2 \"q\".htm» на странице /start.htm: символическая ссылка за пределы "
                  "каталога сайта"
                  "\n«/x/p.htm» в проекте: ведёт за пределы каталога сайта"
                  "\n«b.htm» на странице /start.htm: файл не удалось прочитать (Permission denied)"
                  "\n«c.htm» на странице /start.htm: something new"
                  "\n... и ещё 2");
    EXPECT_EQ(shell.opened, std::vector<std::string>{site / "start.chm"});
}

// The user's stop ends the running compiler and drops the jobs pressed
// before it; the window stays, and a later press builds as usual.
TEST_F(CompileJobTest, StopEndsTheRunningAndWaitingJobsButNotLaterOnes) {
    Compiler(kReportsThenWaits);
    SetOption("QuitAfterCompile", "1");
    CompileJobs jobs(host, shell, hive, program.Path().string() + "/");
    for (int i = 0; i < 3; ++i)
        jobs.Start();
    ASSERT_TRUE(
        WaitFor([&] { return host.Count(LoadString(113)) == 2 && host.Progress().size() == 2; }));
    const pid_t compiler = std::stoi(ReadFile(program.Path() / "pid"));
    jobs.Stop();
    ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));

    EXPECT_EQ(host.Count(LoadString(112)), 1);
    EXPECT_EQ(host.messages.back(), LoadString(kMsgCompileStopped));
    EXPECT_EQ(host.CountHeaded(LoadString(111)), 0);
    // The compiler is gone, reaped, and left nothing behind.
    EXPECT_EQ(::kill(compiler, 0), -1);
    EXPECT_FALSE(fs::exists(site / "start.chm"));
    EXPECT_TRUE(NoProjectLeft());
    EXPECT_EQ(host.busyStarts, host.busyStops);
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_TRUE(shell.opened.empty());

    WriteFile(program.Path() / "go", "");
    jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return host.CountHeaded(LoadString(111)) == 1; }));
    EXPECT_EQ(ReadFile(site / "start.chm"), "compiled");
}

} // namespace
} // namespace tbx
