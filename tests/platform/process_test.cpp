#include "controls/link_target.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;

std::string Script(const test::TempDir& dir, const std::string& name, const std::string& body) {
    const fs::path path = dir.Path() / name;
    test::WriteFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
}

// The started program runs on its own; wait until it has written its file.
bool WaitForFile(const fs::path& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path);
}

TEST(Process, ReportsExitStatusSignalAndErrorOutputTail) {
    test::TempDir dir;
    // Arguments reach the program as they are, blanks and quotes included.
    const std::string echo = Script(dir, "echo args", "printf '%s|' \"$@\" >&2\nexit 7\n");
    ProcessOutcome run = RunProcess(echo, {"a b", "\"q\"", "край"});
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(run.errorOutput, "a b|\"q\"|край|");

    // Only the tail of a long error output is kept.
    run = RunProcess(Script(dir, "noisy", "yes x | head -c 100000 >&2\necho LAST >&2\n"), {});
    EXPECT_LE(run.errorOutput.size(), 4096u);
    EXPECT_EQ(run.errorOutput.substr(run.errorOutput.size() - 5), "LAST\n");

    run = RunProcess(Script(dir, "killed", "kill -TERM $$\n"), {});
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.exited);
}

TEST(Process, MissingOrNonExecutableProgramDoesNotStart) {
    test::TempDir dir;
    ProcessOutcome run = RunProcess(dir / "nothing", {});
    EXPECT_FALSE(run.started);
    EXPECT_FALSE(run.error.empty());

    test::WriteFile(dir / "plain", "not a program");
    run = RunProcess(dir / "plain", {});
    EXPECT_FALSE(run.started);
}

TEST(Process, TerminateFromAnotherThreadEndsTheWait) {
    test::TempDir dir;
    ChildProcess child;
    ASSERT_TRUE(child.Start(Script(dir, "forever", "while :; do sleep 0.05; done\n"), {}));
    std::thread stopper([&] { child.Terminate(); });
    const ProcessOutcome run = child.Wait();
    stopper.join();
    EXPECT_FALSE(run.exited);
    child.Terminate(); // after the end: nothing happens
}

// Lines reach the sink while the child still runs: the script waits for a
// file that only the sink creates.
TEST(Process, OutputLinesArriveWhileTheChildRuns) {
    test::TempDir dir;
    const std::string go = dir / "go";
    const std::string tool = Script(dir, "tool",
                                    "printf 'one\\r\\n\\n'\n"
                                    "head -c 5000 /dev/zero | tr '\\0' x; echo\n"
                                    "echo two\n"
                                    "while [ ! -e \"$1\" ]; do sleep 0.01; done\n"
                                    "echo err >&2\nprintf 'last'\nprintf 'end' >&2\n");
    ChildProcess child;
    ASSERT_TRUE(child.Start(tool, {go}));
    std::vector<std::string> lines, errorLines;
    const ProcessOutcome run = child.Wait(
        [&](std::string_view line) {
            lines.emplace_back(line);
            if (line == "two")
                test::WriteFile(go, "");
        },
        [&](std::string_view line) { errorLines.emplace_back(line); });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.errorOutput, "err\nend");
    // The 5,000-byte line is dropped; an unterminated last line still counts.
    EXPECT_EQ(lines, (std::vector<std::string>{"one\r", "", "two", "last"}));
    EXPECT_EQ(errorLines, (std::vector<std::string>{"err", "end"}));
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstReleases) {
    test::TempDir dir;
    InstanceLock first(dir.Path().string());
    InstanceLock second(dir.Path().string());
    ASSERT_TRUE(first.Acquire());
    EXPECT_TRUE(fs::exists(dir.Path() / kInstanceLockName));
    EXPECT_FALSE(second.Acquire());
    first.Release();
    EXPECT_TRUE(second.Acquire());
}

// A folder that cannot hold the lock is no sign of another running copy: a
// missing one, a file, and a folder that others may write into (whoever can
// write there could hold or plant the lock) are passed over, and with no
// usable folder at all the program starts without the guard.
TEST(InstanceLock, FoldersThatCannotHoldTheLockAreNotAnotherCopy) {
    test::TempDir dir;
    const std::string missing = dir / "missing";
    const std::string file = dir / "file";
    const std::string shared = dir / "shared";
    test::WriteFile(file, "");
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all);
    const std::string good = dir / "good";
    fs::create_directory(good);
    fs::permissions(good, fs::perms::owner_all);
    for (const std::string& bad : {missing, file, shared}) {
        InstanceLock alone(bad);
        EXPECT_TRUE(alone.Acquire()) << bad;
        EXPECT_FALSE(alone.Held()) << bad;
    }
    EXPECT_FALSE(fs::exists(fs::path(shared) / kInstanceLockName));

    InstanceLock first({missing, file, shared, good});
    ASSERT_TRUE(first.Acquire());
    EXPECT_TRUE(first.Held());
    EXPECT_TRUE(fs::exists(fs::path(good) / kInstanceLockName));
    // A copy that finds the lock held in a later folder is refused all the same.
    EXPECT_FALSE(InstanceLock({missing, good}).Acquire());

    // The runtime folder of another user (left set after su) is not used; the
    // per-user folder is offered after it, made private.
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = saved ? saved : "";
    setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
    const std::vector<std::string> folders = InstanceLock::DefaultFolders();
    if (saved)
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders.back(), "/tmp/tomebox-" + std::to_string(::geteuid()));
    const fs::file_status perUser = fs::symlink_status(folders.back());
    EXPECT_TRUE(fs::is_directory(perUser));
    EXPECT_EQ(perUser.permissions() & (fs::perms::group_write | fs::perms::others_write),
              fs::perms::none);
}

TEST(DesktopShell, MapsTheOpenersExitStatus) {
    test::TempDir dir;
    const std::string savedPath = std::getenv("PATH");
    Script(dir, "xdg-open",
           "case \"$1\" in *missing*) exit 2;; *none*) exit 3;; esac\n"
           "echo \"$1\" > \"${0%/*}/opened\"\n");
    setenv("PATH", dir.Path().c_str(), 1);
    DesktopShell shell;
    EXPECT_EQ(shell.Open("/tmp/a b.chm"), kLaunchOk);
    EXPECT_EQ(shell.Open("/tmp/missing.chm"), kLaunchFileNotFound);
    EXPECT_EQ(shell.Open("/tmp/none.xyz"), kLaunchNoAssociation);
    setenv("PATH", (dir.Path() / "empty").c_str(), 1);
    EXPECT_EQ(shell.Open("/tmp/a.chm"), kLaunchNoAssociation);
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(test::ReadFile(dir.Path() / "opened"), "/tmp/a b.chm\n");
}

// Some openers take a while to fail. A link, which waits for the verdict off
// the interface thread, must take a late failure for the failure it is.
TEST(DesktopShell, ALinkTakesAnOpenerThatFailsLateForAFailure) {
    test::TempDir dir;
    const std::string savedPath = std::getenv("PATH");
    Script(dir, "xdg-open", "/bin/sleep 2.5\nexit 3\n");
    setenv("PATH", dir.Path().c_str(), 1);
    DesktopShell shell;
    const int result = OpenTarget(shell, "http://late.example/");
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_EQ(result, kLaunchNoAssociation);
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

TEST(DesktopShell, SplitsCommandLinesAndReadsDesktopEntries) {
    EXPECT_EQ(SplitCommandLine("  a \"b c\" d\\e \"x\\\"y\"  "),
              (std::vector<std::string>{"a", "b c", "d\\e", "x\"y"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    EXPECT_EQ(DesktopEntryExec("[Desktop Action new]\nExec=wrong %u\n"
                               "[Desktop Entry]\r\nName=B\r\nExec=browser --flag %U\r\n"),
              "browser --flag %U");
    EXPECT_EQ(DesktopEntryExec("[Desktop Entry]\nName=No command\n"), "");
}

// Also the program xdg-mime names for help files.
TEST(DesktopShell, FindsTheWebBrowserAndStartsItWithTheTarget) {
    test::TempDir dir;
    const std::string savedPath = std::getenv("PATH");
    const char* savedData = std::getenv("XDG_DATA_DIRS");
    const std::string savedDataDirs = savedData ? savedData : "";
    const std::string bin = (dir.Path() / "bin").string();
    fs::create_directories(bin);
    fs::create_directories(dir.Path() / "share/applications");
    // The type of a help file, then the program for each type.
    Script(dir, "bin/xdg-mime",
           "case \"$2 $3\" in\n"
           "'filetype '*unknown*) ;;\n"
           "filetype*) echo application/vnd.ms-htmlhelp;;\n"
           "'default text/html') echo 'web browser.desktop';;\n"
           "'default application/vnd.ms-htmlhelp') echo 'tomebox viewer.desktop;other.desktop';;\n"
           "esac\n");
    Script(dir, "bin/browser", "printf '%s|' \"$@\" > \"${0%/*}/args\"\n");
    test::WriteFile(dir.Path() / "share/applications/web browser.desktop",
                    "[Desktop Entry]\nExec=browser --new \"%u\"\n");
    setenv("PATH", bin.c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir.Path() / "share").c_str(), 1);

    DesktopShell shell;
    const std::string command = shell.HtmlHandlerCommand();
    const std::string helpViewer = shell.DefaultHandlerFor("/tmp/a.chm");
    const std::string unknownType = shell.DefaultHandlerFor("/tmp/unknown.chm");
    const int result = shell.RunCommand("browser --new ", "http://a b.example/");
    const int missing = shell.RunCommand("no-such-browser", "x");

    setenv("PATH", savedPath.c_str(), 1);
    if (savedData)
        setenv("XDG_DATA_DIRS", savedDataDirs.c_str(), 1);
    else
        unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(command, "browser --new \"%u\"");
    EXPECT_EQ(helpViewer, "tomebox viewer.desktop");
    EXPECT_EQ(unknownType, "tomebox viewer.desktop");
    EXPECT_EQ(result, kLaunchOk);
    EXPECT_EQ(missing, kLaunchFileNotFound);
    // The target arrives as one argument, blanks and all.
    ASSERT_TRUE(WaitForFile(dir.Path() / "bin/args"));
    EXPECT_EQ(test::ReadFile(dir.Path() / "bin/args"), "--new|http://a b.example/|");
}

} // namespace
} // namespace tbx
