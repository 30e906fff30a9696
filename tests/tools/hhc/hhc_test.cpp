// hhc run as the compile job runs it: one argument, the project the job
// writes, chmcmd taken from PATH (a real one, or a script standing in for it).

#include "build/compile_job.h"
#include "build/help_project.h"
#include "platform/shell.h"
#include "res/cp1251.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/scripted_host.h"
#include "support/temp_dir.h"

#include <chm_lib.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Hhc {
    pid_t pid = -1;
    int errorPipe = -1;
};

struct HhcResult {
    bool exited = false; // else killed by a signal
    int code = -1;       // exit status
    std::string errorOutput;
};

// Starts hhc with only PATH in its environment, its standard error captured.
Hhc StartHhc(const std::vector<std::string>& args, const std::string& path) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, pipeEnds[1], STDERR_FILENO);

    std::vector<std::string> argStrings = {TBX_HHC_PATH};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string pathEntry = "PATH=" + path;
    char* envp[] = {pathEntry.data(), nullptr};

    Hhc hhc;
    const int error = posix_spawn(&hhc.pid, TBX_HHC_PATH, &files, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&files);
    close(pipeEnds[1]);
    if (error != 0) {
        close(pipeEnds[0]);
        throw std::runtime_error("cannot start hhc");
    }
    hhc.errorPipe = pipeEnds[0];
    return hhc;
}

HhcResult FinishHhc(const Hhc& hhc) {
    HhcResult result;
    char buffer[4096];
    ssize_t got;
    while ((got = read(hhc.errorPipe, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        result.errorOutput.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    close(hhc.errorPipe);
    int status = 0;
    waitpid(hhc.pid, &status, 0);
    result.exited = WIFEXITED(status);
    result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return result;
}

HhcResult RunHhc(const std::vector<std::string>& args, const std::string& path) {
    return FinishHhc(StartHhc(args, path));
}

std::string SystemPath() {
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/bin:/bin";
}

// Every file below folder, as paths relative to it, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).generic_string()] =
                ReadFile(entry.path());
    }
    return files;
}

std::vector<std::string> TemporaryLeftovers(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".hhc-"))
            found.push_back(entry.path().string());
    }
    return found;
}

void WriteScript(const std::string& path, const std::string& body) {
    // The script runs with hhc's PATH, which may hold nothing but itself.
    WriteFile(path, "#!/bin/sh\nPATH=/usr/bin:/bin\n"
                    "for arg in \"$@\"; do project=$arg; done\n"
                    "out=$(sed -n 's/^Compiled file=//p' \"$project\" | tr -d '\\r')\n" +
                        body);
    fs::permissions(path, fs::perms::owner_all);
}

// A site whose folder names hold blanks and Cyrillic letters, its project
// written by the compile job's own writer, and an output folder beside it.
class HhcTest : public ::testing::Test {
protected:
    HhcTest() : hive(store.Path()) {
        WriteFirstRunDefaults(hive);
        fs::create_directories(site);
        fs::create_directories(outFolder);
        fs::create_directories(bin);
        WriteFile(page, "<html><head><title>Начало</title></head><body>Текст</body></html>");
    }

    std::string WriteProject() {
        const HelpProjectResult project = WriteHelpProject(
            hive, {page, output, "Справка «тест», один", {1024, 768}, root / "program/", site});
        EXPECT_TRUE(project.Ok()) << project.error;
        return project.projectPath;
    }

    void ExpectNoLeftovers() {
        EXPECT_EQ(TemporaryLeftovers(root.Path()), std::vector<std::string>());
    }

    TempDir store;
    TempDir root;
    RegHive hive;
    const std::string site = root / "мой сайт";
    const std::string page = site + "/главная страница.htm";
    const std::string outFolder = root / "готовые справки";
    const std::string output = outFolder + "/моя справка.chm";
    const std::string bin = root / "bin";
};

TEST_F(HhcTest, WrongArgumentsAndUnusableProjectsFailWithAMessage) {
    HhcResult none = RunHhc({}, SystemPath());
    EXPECT_TRUE(none.exited && none.code == 2) << none.code;
    EXPECT_NE(none.errorOutput.find("usage"), std::string::npos) << none.errorOutput;
    HhcResult two = RunHhc({"a.hhp", "b.hhp"}, SystemPath());
    EXPECT_TRUE(two.exited && two.code == 2) << two.code;

    const std::string missing = site + "/нет такого.hhp";
    HhcResult absent = RunHhc({missing}, SystemPath());
    EXPECT_TRUE(absent.exited && absent.code != 0);
    EXPECT_NE(absent.errorOutput.find(missing), std::string::npos) << absent.errorOutput;

    const std::string noOutput = site + "/p.hhp";
    WriteFile(noOutput, "[OPTIONS]\r\nDefault topic=" + page + "\r\n");
    HhcResult unnamed = RunHhc({noOutput}, SystemPath());
    EXPECT_TRUE(unnamed.exited && unnamed.code != 0);
    EXPECT_NE(unnamed.errorOutput.find("Compiled file"), std::string::npos) << unnamed.errorOutput;
    ExpectNoLeftovers();
}

TEST_F(HhcTest, MissingChmcmdIsReportedAndNothingIsWritten) {
    // An entry that is no executable does not count as the compiler.
    const std::string notExecutable = root / "not executable";
    fs::create_directories(notExecutable);
    WriteFile(notExecutable + "/chmcmd", "#!/bin/sh\nexit 0\n");
    const std::string project = WriteProject();

    const HhcResult result = RunHhc({project}, bin + ":" + notExecutable);

    EXPECT_TRUE(result.exited && result.code != 0);
    EXPECT_NE(result.errorOutput.find("fp-utils"), std::string::npos) << result.errorOutput;
    EXPECT_FALSE(fs::exists(output));
    ExpectNoLeftovers();
}

TEST_F(HhcTest, FailingChmcmdLeavesThePreviousHelpFileWhole) {
    WriteScript(bin + "/chmcmd", "printf 'half a help file' > \"$out\"\n"
                                 "echo 'fake compiler: broken' >&2\nexit 3\n");
    WriteFile(output, "previous help file");

    const HhcResult result = RunHhc({WriteProject()}, bin);

    EXPECT_TRUE(result.exited && result.code != 0);
    EXPECT_NE(result.errorOutput.find("fake compiler: broken"), std::string::npos);
    EXPECT_NE(result.errorOutput.find("exit status 3"), std::string::npos) << result.errorOutput;
    EXPECT_EQ(ReadFile(output), "previous help file");
    ExpectNoLeftovers();
}

TEST_F(HhcTest, ChmcmdThatSucceedsWithoutWritingIsAFailure) {
    WriteScript(bin + "/chmcmd", "exit 0\n");

    const HhcResult result = RunHhc({WriteProject()}, bin);

    EXPECT_TRUE(result.exited && result.code != 0);
    EXPECT_NE(result.errorOutput.find(output), std::string::npos) << result.errorOutput;
    EXPECT_FALSE(fs::exists(output));
    ExpectNoLeftovers();
}

TEST_F(HhcTest, ChmcmdGetsTheConvertedProjectAndItsOutputIsPutInPlace) {
    const std::string seen = root / "seen";
    WriteScript(bin + "/chmcmd", "cp \"$project\" '" + seen +
                                     ".hhp'\n"
                                     "echo \"$@\" > '" +
                                     seen +
                                     ".args'\n"
                                     "echo 'fake compiler: writing'\n"
                                     "printf 'compiled' > \"$out\"\n");
    WriteFile(output, "previous help file");
    const std::string project = WriteProject();
    const std::string original = ReadFile(project);

    const HhcResult result = RunHhc({project}, bin);

    ASSERT_TRUE(result.exited && result.code == 0) << result.code << result.errorOutput;
    EXPECT_EQ(ReadFile(output), "compiled");
    // chmcmd's standard output reaches hhc's standard error.
    EXPECT_NE(result.errorOutput.find("fake compiler: writing"), std::string::npos);
    // Written for the user to read, not with the temporary file's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(output).permissions(), static_cast<fs::perms>(0666 & ~mask));

    const std::string handed = ReadFile(seen + ".hhp");
    EXPECT_NE(handed.find("\r\nDefault topic=главная страница.htm\r\n"), std::string::npos)
        << handed;
    EXPECT_NE(handed.find("\r\n[FILES]\r\nглавная страница.htm\r\n"), std::string::npos);
    EXPECT_NE(handed.find("\r\nCompiled file=" + outFolder + "/.hhc-"), std::string::npos);
    const std::string window = original.substr(original.find("\r\n[WINDOWS]\r\n"));
    EXPECT_TRUE(handed.ends_with(window)) << handed;
    const std::string args = ReadFile(seen + ".args");
    EXPECT_TRUE(args.starts_with("--html-scan " + site + "/.hhc-")) << args;
    // The job's own project is left for the job to delete.
    EXPECT_EQ(ReadFile(project), original);
    ExpectNoLeftovers();
}

TEST_F(HhcTest, TerminationIsPassedToChmcmdAndCleansUp) {
    const std::string pidFile = root / "chmcmd.pid";
    WriteScript(bin + "/chmcmd", "printf 'half' > \"$out\"\n"
                                 "echo $$ > '" +
                                     pidFile +
                                     ".tmp'\n"
                                     "mv '" +
                                     pidFile + ".tmp' '" + pidFile +
                                     "'\n"
                                     "exec sleep 30\n");
    WriteFile(output, "previous help file");
    const Hhc hhc = StartHhc({WriteProject()}, bin);
    for (int i = 0; i < 1000 && !fs::exists(pidFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(pidFile));
    const pid_t compiler = std::stoi(ReadFile(pidFile));

    kill(hhc.pid, SIGTERM);
    const auto start = std::chrono::steady_clock::now();
    const HhcResult result = FinishHhc(hhc);

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(result.exited && result.code == 128 + SIGTERM) << result.code;
    // hhc waited for its child, so the process is gone, not left running.
    const bool compilerGone = kill(compiler, 0) != 0 && errno == ESRCH;
    EXPECT_TRUE(compilerGone);
    if (!compilerGone)
        kill(compiler, SIGKILL);
    EXPECT_EQ(ReadFile(output), "previous help file");
    ExpectNoLeftovers();
}

// Every file of the site is in the help file, byte for byte.
void ExpectHelpFileHolds(const std::string& output,
                         const std::map<std::string, std::string>& siteFiles) {
    chmFile* help = chm_open(output.c_str());
    ASSERT_NE(help, nullptr) << output;
    for (const auto& [name, bytes] : siteFiles) {
        chmUnitInfo unit{};
        ASSERT_EQ(chm_resolve_object(help, ("/" + name).c_str(), &unit), CHM_RESOLVE_SUCCESS)
            << name;
        std::string stored(static_cast<std::size_t>(unit.length), '\0');
        const LONGINT64 got = chm_retrieve_object(
            help, &unit, reinterpret_cast<unsigned char*>(stored.data()), 0, unit.length);
        EXPECT_EQ(got, static_cast<LONGINT64>(bytes.size())) << name;
        EXPECT_EQ(stored, bytes) << name;
    }
    // The window caption reached the help file in Windows-1251, untouched.
    chmUnitInfo strings{};
    ASSERT_EQ(chm_resolve_object(help, "/#STRINGS", &strings), CHM_RESOLVE_SUCCESS);
    std::string table(static_cast<std::size_t>(strings.length), '\0');
    chm_retrieve_object(help, &strings, reinterpret_cast<unsigned char*>(table.data()), 0,
                        strings.length);
    EXPECT_NE(table.find(*EncodeCp1251Exact("Справка «тест»")), std::string::npos);
    chm_close(help);
}

// A start page linking pages in a sub-folder, an image and a style sheet.
std::map<std::string, std::string> WriteSite(const std::string& site) {
    std::map<std::string, std::string> siteFiles = {
        {"главная страница.htm",
         "<html><head><title>Начало</title>"
         "<link rel=\"stylesheet\" type=\"text/css\" href=\"стиль.css\"></head><body>"
         "<a href=\"разделы/первая глава.htm\">1</a> <a href=\"разделы/second%20page.htm\">2</a>"
         "<img src=\"картинки/рисунок 1.png\"></body></html>"},
        {"разделы/первая глава.htm",
         "<html><body>Один <a href=\"../главная страница.htm\">назад</a></body></html>"},
        {"разделы/second page.htm", "<html><body>Two</body></html>"},
        {"картинки/рисунок 1.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
        {"стиль.css", "body { color: #123456; }\n"},
    };
    for (const auto& [name, bytes] : siteFiles) {
        fs::create_directories(fs::path(site + "/" + name).parent_path());
        WriteFile(site + "/" + name, bytes);
    }
    return siteFiles;
}

// The real compiler: every file the start page reaches is in the help file,
// byte for byte, and the site folder holds nothing new but the job's project.
TEST_F(HhcTest, RealChmcmdCompilesEverythingTheStartPageReaches) {
    std::map<std::string, std::string> siteFiles = WriteSite(site);
    const std::string project = WriteProject();

    const HhcResult result = RunHhc({project}, SystemPath());

    ASSERT_TRUE(result.exited && result.code == 0) << result.code << "\n" << result.errorOutput;
    ExpectHelpFileHolds(output, siteFiles);
    siteFiles["Tomebox!.hhp"] = ReadFile(project);
    EXPECT_EQ(FilesBelow(site), siteFiles);
    EXPECT_EQ(FilesBelow(outFolder).size(), 1u);
    ExpectNoLeftovers();
}

// The whole road of a build: the compile job checks the paths, creates the
// missing output folders, writes the project, runs the real hhc from its
// program folder, removes the project and opens the result.
TEST_F(HhcTest, CompileJobBuildsARealHelpFile) {
    const std::map<std::string, std::string> siteFiles = WriteSite(site);
    const std::string nestedOutput = outFolder + "/новая папка/справка.chm";
    test::ScriptedHost host;
    host.fields = {
        {kIdPageEdit, page}, {kIdOutputEdit, nestedOutput}, {kIdTitleEdit, "Справка «тест»"}};
    test::RecordingShell shell;
    CompileJobs jobs(host, shell, hive, fs::path(TBX_HHC_PATH).parent_path().string() + "/");

    jobs.CompileThreadProc();

    ASSERT_EQ(host.messages.back(), LoadString(111));
    EXPECT_TRUE(host.endResults.empty());
    ExpectHelpFileHolds(nestedOutput, siteFiles);
    EXPECT_EQ(FilesBelow(site), siteFiles); // no project left beside the page
    EXPECT_EQ(shell.opened, std::vector<std::string>{nestedOutput});
    ExpectNoLeftovers();
}

} // namespace
} // namespace tbx
