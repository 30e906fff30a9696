// The decompile job against a scripted window and fake viewers: shell
// scripts standing where the job looks for hh.

#include "chm/writer.h"
#include "decompile/decompile_job.h"
#include "decompile/extract_conflicts.h"
#include "platform/shell.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/scripted_host.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RecordingShell;
using test::ScriptedHost;
using test::TempDir;
using test::WaitFor;
using test::WriteFile;

class FailingShell : public IShell {
public:
    int Open(const std::string&) override { return kLaunchNoAssociation; }
};

class DecompileJobTest : public ::testing::Test {
protected:
    DecompileJobTest() : hive(store.Path()) {
        WriteFirstRunDefaults(hive);
        WriteFile(helpFile, "help file");
        host.fields[kIdDecInputEdit] = helpFile;
        host.fields[kIdDecOutputEdit] = files / "out";
        DecompileQuitFlag = 0;
    }
    ~DecompileJobTest() override { DecompileQuitFlag = 0; }

    // A viewer that appends each argument, one per line, to the call log.
    void Viewer(const std::string& body = "") {
        const fs::path hh = program.Path() / "hh";
        WriteFile(hh, "#!/bin/sh\nPATH=/usr/bin:/bin\nprintf '%s\\n' \"$@\" >> '" + calls + "'\n" +
                          body);
        fs::permissions(hh, fs::perms::owner_all);
    }

    void SetOption(const char* name, const char* text) {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(hive, kDecOptsKey), kErrorSuccess);
        key.SetText(name, text);
    }

    void RunJob(IShell& opener) {
        DecompileJobs jobs(host, opener, hive, program.Path().string() + "/");
        jobs.RunDecompileJob();
    }
    void RunJob() { RunJob(shell); }

    std::string Calls() const { return fs::exists(calls) ? ReadFile(calls) : std::string(); }

    TempDir store, files, program;
    RegHive hive;
    const std::string helpFile = files / "справка с пробелом.chm";
    const std::string calls = files / "calls.log";
    ScriptedHost host;
    RecordingShell shell;
};

TEST_F(DecompileJobTest, RunsHhWithThreeArgumentsAndOpensTheFolder) {
    Viewer();
    const std::string out = files / "новая папка/a/b";
    host.fields[kIdDecOutputEdit] = out; // no trailing separator, missing chain

    RunJob();

    EXPECT_EQ(host.messages, (std::vector<std::string>{LoadString(120), LoadString(119)}));
    EXPECT_TRUE(fs::is_directory(out));
    // Paths with blanks arrive whole: an argument vector, no shell.
    EXPECT_EQ(Calls(), "-decompile\n" + out + "/\n" + helpFile + "\n");
    EXPECT_EQ(shell.opened, std::vector<std::string>{out + "/"});
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_EQ(DecompileQuitFlag, 0);

    // A doubled separator is one separator; a trailing one is not doubled.
    host.fields[kIdDecOutputEdit] = files / "x//y/";
    RunJob();
    EXPECT_TRUE(fs::is_directory(files / "x/y"));
    EXPECT_EQ(shell.opened.back(), files / "x//y/");
}

TEST_F(DecompileJobTest, FolderAndFileChecksStopTheJobBeforeHh) {
    Viewer();
    WriteFile(files / "plain", "x");
    for (const std::string& bad :
         {std::string(), std::string("relative/out"), files / "plain/sub"}) {
        host.fields[kIdDecOutputEdit] = bad;
        RunJob();
        EXPECT_EQ(host.messages.back(), LoadString(118)) << bad;
    }
    // The folders made before the refusal stay.
    host.fields[kIdDecOutputEdit] = files / ("made/" + std::string(300, 'n') + "/sub");
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(118));
    EXPECT_TRUE(fs::is_directory(files / "made"));

    // A missing help file: the folder is still created first.
    host.fields[kIdDecOutputEdit] = files / "new/out";
    for (const std::string& bad :
         {files / "missing.chm", files.Path().string(), std::string("x.chm")}) {
        host.fields[kIdDecInputEdit] = bad;
        RunJob();
        EXPECT_EQ(host.messages.back(), LoadString(117)) << bad;
    }
    EXPECT_TRUE(fs::is_directory(files / "new/out"));
    EXPECT_EQ(host.messages.size(), 7u);
    EXPECT_EQ(Calls(), "");
    EXPECT_TRUE(shell.opened.empty());
}

// The viewer speaks Russian to the window whatever the user's locale, and
// a long run of its errors shows as its summary (the last line), its first
// lines and how many more there were.
TEST_F(DecompileJobTest, TheViewersLinesComeInRussianAndALongRunIsCutShort) {
    const std::string locale = "LANGUAGE=ru LC_MESSAGES=C.UTF-8 LC_CTYPE=C.UTF-8 LC_ALL=";
    const struct {
        int damaged; // entries the viewer reports between its first and last line
        std::string shown;
    } cases[] = {
        {0, "\n" + locale + "\nsummary"},
        {2, "\n" + locale + "\nentry 1\nentry 2\nsummary"},
        {250, "\nsummary\n" + locale + "\nentry 1\nentry 2\n" + FillString(kMsgMoreLines, {"248"})},
    };
    for (const auto& c : cases) {
        Viewer("echo \"hh: LANGUAGE=$LANGUAGE LC_MESSAGES=$LC_MESSAGES LC_CTYPE=$LC_CTYPE "
               "LC_ALL=$LC_ALL\" >&2\n"
               "i=1; while [ $i -le " +
               std::to_string(c.damaged) +
               " ]; do echo \"hh: entry $i\" >&2; i=$((i+1)); done\n"
               "echo 'hh: summary' >&2\nexit 1\n");
        RunJob();
        EXPECT_EQ(host.messages.back(), LoadString(kMsgViewerFailed) + c.shown) << c.damaged;
    }
}

TEST_F(DecompileJobTest, ViewerFailuresAreReportedAndSkipTheAfterActions) {
    SetOption("QuitAfterDec", "1");

    RunJob(); // no hh in the program folder
    EXPECT_EQ(host.messages.back().find(LoadString(kMsgViewerNotStarted) + "\n" +
                                        program.Path().string() + "/hh ("),
              0u)
        << host.messages.back();

    Viewer("echo 'hh: damaged directory' >&2\necho 'hh: 3 files written' >&2\nexit 1\n");
    RunJob();
    EXPECT_EQ(host.messages.back(),
              LoadString(kMsgViewerFailed) + "\ndamaged directory\n3 files written");

    Viewer("kill -KILL $$\n");
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(kMsgViewerFailed));

    EXPECT_EQ(host.Count(LoadString(119)), 0);
    EXPECT_EQ(host.Count(LoadString(120)), 3);
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_EQ(DecompileQuitFlag, 0);
}

// The help file's own folder after a build is the site: edited pages there
// are replaced only when the user says so, and "No" writes nothing at all.
TEST_F(DecompileJobTest, ReplacingChangedFilesIsAskedOnceBeforeHhRuns) {
    Viewer();
    chm::Writer writer;
    for (const char* name : {"/index.htm", "/a.htm", "/b.htm"})
        ASSERT_EQ(writer.Add(name, std::string("stored ") + name), "");
    ASSERT_EQ(writer.Finish(helpFile), "");
    const std::string out = files / "out/";
    fs::create_directories(out);
    WriteFile(out + "index.htm", "stored /index.htm"); // the same: no reason to ask
    const std::string oneRun = "-decompile\n" + out + "\n" + helpFile + "\n";

    RunJob();
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(Calls(), oneRun);

    WriteFile(out + "a.htm", "edited since the build");
    WriteFile(out + "b.htm", "edited too");
    const std::string question = FillString(kMsgExtractWouldReplace, {"2"}) + "\na.htm\nb.htm\n" +
                                 LoadString(kMsgReplaceQuestion);
    host.answers = {false};
    RunJob();
    EXPECT_EQ(host.questions, std::vector<std::string>{question});
    EXPECT_EQ(host.messages.back(), LoadString(kMsgNothingExtracted));
    EXPECT_EQ(Calls(), oneRun); // hh did not run again
    EXPECT_EQ(ReadFile(out + "a.htm"), "edited since the build");
    EXPECT_EQ(shell.opened.size(), 1u);

    host.answers = {true};
    RunJob();
    EXPECT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(Calls(), oneRun + oneRun);
    EXPECT_EQ(host.messages.back(), LoadString(119));
}

TEST_F(DecompileJobTest, PostActionsFollowTheOptions) {
    Viewer();
    // QuitAfterDec with OpnDecDir: the folder opens, then the window ends.
    SetOption("QuitAfterDec", "1");
    RunJob();
    EXPECT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(host.endResults, std::vector<int>{1});
    EXPECT_EQ(DecompileQuitFlag, 1);

    // Quit without opening.
    DecompileQuitFlag = 0;
    SetOption("OpnDecDir", "0");
    RunJob();
    EXPECT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(host.endResults, (std::vector<int>{1, 1}));

    // No option key after the run: neither action.
    fs::remove_all(store.Path() / "Software/Tomebox/DecOpts");
    RunJob();
    EXPECT_EQ(host.messages.back(), LoadString(119));
    EXPECT_EQ(host.endResults.size(), 2u);
}

TEST_F(DecompileJobTest, FolderThatCannotBeOpenedIsSaidAndTheProgramStays) {
    Viewer();
    SetOption("QuitAfterDec", "1");
    FailingShell failing;
    RunJob(failing);
    EXPECT_EQ(host.messages.back(), LoadString(kMsgFolderNotOpened) + "\n" + files / "out/");
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_EQ(DecompileQuitFlag, 0);
}

TEST_F(DecompileJobTest, SecondQuickJobWaitsAndThenRunsItsOwnViewer) {
    const std::string started = files / "started";
    const std::string go = files / "go";
    // Each run marks its start and waits for the test's go-ahead.
    Viewer("touch '" + started + "'\nwhile [ ! -e '" + go + "' ]; do sleep 0.01; done\n");
    DecompileJobs jobs(host, shell, hive, program.Path().string() + "/");

    jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return fs::exists(started); }));
    jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return host.Count(LoadString(123)) == 1; }));
    EXPECT_EQ(Calls(), "-decompile\n" + files / "out/\n" + helpFile + "\n"); // one hh so far
    WriteFile(go, "");
    ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));
    jobs.Join();

    EXPECT_EQ(host.messages,
              (std::vector<std::string>{LoadString(120), LoadString(123), LoadString(119),
                                        LoadString(120), LoadString(119)}));
    const std::string oneRun = "-decompile\n" + files / "out/\n" + helpFile + "\n";
    EXPECT_EQ(Calls(), oneRun + oneRun);
    EXPECT_EQ(shell.opened.size(), 2u);
}

TEST_F(DecompileJobTest, ShutdownStopsTheRunningViewerAndTheWaitingJob) {
    const std::string started = files / "started";
    Viewer("touch '" + started + "'\nexec sleep 30\n");
    SetOption("QuitAfterDec", "1");
    DecompileJobs jobs(host, shell, hive, program.Path().string() + "/");

    jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return fs::exists(started); }));
    jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return host.Count(LoadString(123)) == 1; }));
    const auto start = std::chrono::steady_clock::now();
    jobs.Shutdown();
    ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));
    jobs.Join();

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // Nothing more is said or done for a window that is closing, and the
    // waiting job never starts its viewer.
    EXPECT_EQ(host.messages, (std::vector<std::string>{LoadString(120), LoadString(123)}));
    EXPECT_EQ(Calls(), "-decompile\n" + files / "out/\n" + helpFile + "\n");
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_TRUE(host.endResults.empty());

    jobs.Start(); // after Shutdown nothing starts
    EXPECT_TRUE(jobs.Idle());
}

TEST_F(DecompileJobTest, ProgressShowsUnderMessage120AndTheUsersStopIsSaid) {
    Viewer("echo 'files extracted: 1 of 4'\nexec sleep 30\n");
    SetOption("QuitAfterDec", "1");
    DecompileJobs jobs(host, shell, hive, program.Path().string() + "/");
    jobs.Start();
    ASSERT_TRUE(WaitFor([&] { return host.Progress().size() == 1; }));
    EXPECT_EQ(host.Progress()[0], LoadString(120) + "\nИзвлечено файлов: 1 из 4");
    jobs.Stop();
    ASSERT_TRUE(WaitFor([&] { return jobs.Idle(); }));

    EXPECT_EQ(host.messages,
              (std::vector<std::string>{LoadString(120),
                                        LoadString(kMsgDecompileStopped) + "\n" + files / "out/"}));
    EXPECT_TRUE(shell.opened.empty());
    EXPECT_TRUE(host.endResults.empty());
    EXPECT_EQ(DecompileQuitFlag, 0);
}

} // namespace
} // namespace tbx
