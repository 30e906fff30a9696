// hh run as the decompile job runs it: "-decompile", the output folder with
// its trailing "/", and the help file, as three arguments. Help files come
// from the real hhc; damaged ones are made from those.

#include "chm/chm_test_data.h"
#include "chm/format.h"
#include "chm/reader.h"
#include "compile/help_project.h"
#include "decompile/decompile_job.h"
#include "hh/hh_extract.h"
#include "platform/process.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/chm_bytes.h"
#include "support/chm_reader.h"
#include "support/scripted_host.h"
#include "support/temp_dir.h"
#include "tools/hh/crafted_chm.h"

#include <algorithm>
#include <chm_lib.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ChmDirectory;
using test::ChmEntry;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

ProcessOutcome RunHh(const std::string& outDir, const std::string& helpFile) {
    return RunProcess(TBX_HH_PATH, {"-decompile", outDir, helpFile});
}

// Every file below folder, as paths relative to it, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_symlink() && entry.is_regular_file())
            files[entry.path().lexically_relative(folder).generic_string()] =
                ReadFile(entry.path());
    }
    return files;
}

// Everything below folder, files and folders, relative to it.
std::set<std::string> NamesBelow(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(entry.path().lexically_relative(folder).generic_string());
    return names;
}

// What hhc adds beside the site, read with chmlib: the contents and keyword
// sitemaps it makes for a project that names none. They come back too.
void AddGeneratedSitemaps(const std::string& help, std::map<std::string, std::string>& files) {
    for (const char* name : {"Tomebox.hhc", "Tomebox.hhk"}) {
        const std::optional<std::string> bytes = test::ReadChmObject(help, std::string("/") + name);
        ASSERT_TRUE(bytes) << name;
        files[name] = *bytes;
    }
}

// A site whose names hold blanks and Cyrillic letters, compiled by the real hhc.
class HhTest : public ::testing::Test {
protected:
    HhTest() : hive(store.Path()) {
        WriteFirstRunDefaults(hive);
        siteFiles = {
            {"главная страница.htm",
             "<html><head><title>Начало</title>"
             "<link rel=\"stylesheet\" type=\"text/css\" href=\"стиль.css\"></head><body>"
             "<a href=\"разделы/первая глава.htm\">1</a> <a "
             "href=\"разделы/second%20page.htm\">2</a>"
             "<img src=\"картинки/рисунок 1.png\"></body></html>"},
            {"разделы/первая глава.htm",
             "<html><body>Один <a href=\"../главная страница.htm\">назад</a></body></html>"},
            {"разделы/second page.htm", "<html><body>Two</body></html>"},
            {"картинки/рисунок 1.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
            {"стиль.css", std::string(70000, 'x') + "body { color: #123456; }\n"},
        };
        for (const auto& [name, bytes] : siteFiles) {
            fs::create_directories(fs::path(site + "/" + name).parent_path());
            WriteFile(site + "/" + name, bytes);
        }
        const HelpProjectResult project = WriteHelpProject(hive, {site + "/главная страница.htm",
                                                                  help,
                                                                  "Справка",
                                                                  {1024, 768},
                                                                  root / "program/",
                                                                  site});
        EXPECT_TRUE(project.Ok()) << project.error;
        const ProcessOutcome compiled = RunProcess(TBX_HHC_PATH, {project.projectPath});
        EXPECT_TRUE(compiled.exited && compiled.exitCode == 0) << compiled.errorOutput;
        fs::remove(project.projectPath);
        AddGeneratedSitemaps(help, helpFiles = siteFiles);
    }

    // hh ended by itself, with a failure status and a message unless
    // mayPass, and left nothing beside "out" and no temporary file in it.
    static void ExpectFailedCleanly(const ProcessOutcome& run, const std::string& folder,
                                    const std::string& name, bool mayPass) {
        ASSERT_TRUE(run.exited) << name << ": signal " << run.exitCode;
        if (run.exitCode != 0 || !mayPass) {
            EXPECT_EQ(run.exitCode, 1) << name;
            EXPECT_NE(run.errorOutput.find("hh: "), std::string::npos) << name;
        }
        std::set<std::string> expected = {"help.chm", "out"};
        for (const std::string& written : NamesBelow(folder + "/out")) {
            expected.insert("out/" + written);
            EXPECT_EQ(written.find(".hh-"), std::string::npos) << name << ": " << written;
        }
        EXPECT_EQ(NamesBelow(folder), expected) << name;
    }

    // A fresh folder holding only the help file's bytes and an empty "out".
    std::string Place(const std::string& name, const std::string& bytes) {
        fs::create_directories(root / (name + "/out"));
        WriteFile(root / (name + "/help.chm"), bytes);
        return root / name;
    }

    TempDir store, root;
    RegHive hive;
    const std::string site = root / "мой сайт";
    const std::string help = root / "моя справка.chm";
    std::map<std::string, std::string> siteFiles;
    std::map<std::string, std::string> helpFiles; // siteFiles and hhc's sitemaps
};

TEST_F(HhTest, WrongCommandLineIsRefused) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"-decompile", root / ""},
                                                 {"-x", root / "", help},
                                                 {"-decompile", root / "", help, "more"}}) {
        const ProcessOutcome run = RunProcess(TBX_HH_PATH, args);
        EXPECT_TRUE(run.exited && run.exitCode == 2) << run.exitCode;
        EXPECT_NE(run.errorOutput.find("Usage"), std::string::npos);
    }
    const ProcessOutcome noFolder = RunHh(root / "missing/", help);
    EXPECT_TRUE(noFolder.exited && noFolder.exitCode == 1);
    const ProcessOutcome noFile = RunHh(root / "", root / "missing.chm");
    EXPECT_TRUE(noFile.exited && noFile.exitCode == 1);
    EXPECT_NE(noFile.errorOutput.find("missing.chm"), std::string::npos);
}

// The round trip: every page, picture and style sheet comes back byte for
// byte, and nothing of the format's own streams.
TEST_F(HhTest, RoundTripGivesBackEverySiteFile) {
    const std::string out = root / "вывод с пробелом";
    fs::create_directories(out);

    const ProcessOutcome run = RunHh(out + "/", help);

    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.exitCode << run.errorOutput;
    EXPECT_TRUE(FilesBelow(out) == helpFiles);
    EXPECT_EQ(NamesBelow(out).size(), helpFiles.size() + 2); // and the two sub-folders

    // A second run over the first replaces the files in place, and says
    // how far it got on standard output.
    WriteFile(out + "/стиль.css", "changed");
    std::istringstream progress(RunForOutput(TBX_HH_PATH, {"-decompile", out + "/", help}));
    EXPECT_TRUE(FilesBelow(out) == helpFiles);
    std::string line, last;
    std::size_t before = 0;
    while (std::getline(progress, line)) {
        std::size_t written = 0, total = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "files extracted: %zu of %zu", &written, &total), 2)
            << line;
        EXPECT_TRUE(written >= before && written <= total && total == helpFiles.size()) << line;
        before = written;
        last = line;
    }
    EXPECT_EQ(last, "files extracted: 7 of 7"); // the site's five and the two sitemaps
}

// The whole road: the job creates the folder chain and runs the real hh
// from its program folder.
TEST_F(HhTest, DecompileJobExtractsARealHelpFile) {
    test::ScriptedHost host;
    test::RecordingShell shell;
    const std::string out = root / "новая/папка";
    host.fields = {{kIdDecInputEdit, help}, {kIdDecOutputEdit, out}};
    DecompileJobs jobs(host, shell, hive, fs::path(TBX_HH_PATH).parent_path().string() + "/");

    jobs.RunDecompileJob();

    EXPECT_EQ(host.messages, (std::vector<std::string>{LoadString(120), LoadString(119)}));
    EXPECT_TRUE(FilesBelow(out) == helpFiles);
    EXPECT_EQ(shell.opened, std::vector<std::string>{out + "/"});
}

// The job runs the real hh so that its lines reach the log pane in Russian,
// whatever the locale the program runs under (the tests run under C.UTF-8).
TEST_F(HhTest, DecompileJobShowsWhatHhSaysInRussian) {
    test::ScriptedHost host;
    test::RecordingShell shell;
    const std::string damaged = root / "damaged.chm";
    WriteFile(damaged, "not a help file at all");
    host.fields = {{kIdDecInputEdit, damaged}, {kIdDecOutputEdit, root / "out"}};
    DecompileJobs jobs(host, shell, hive, fs::path(TBX_HH_PATH).parent_path().string() + "/");

    jobs.RunDecompileJob();

    EXPECT_EQ(host.messages.back(), LoadString(kMsgViewerFailed) + "\n" + damaged +
                                        ": это не файл справки, или его заголовок повреждён");
}

// Damaged help files: a message, a failure status, and nothing outside DIR.
TEST_F(HhTest, DamagedHelpFilesFailWithAMessageAndWriteNothingOutside) {
    const std::string good = ReadFile(help);
    const ChmDirectory dir(good);
    std::uint32_t listing = 0;
    while (!dir.IsListing(good, listing))
        ++listing;

    std::map<std::string, std::string> damaged;
    damaged["empty"] = "";
    damaged["header only"] = good.substr(0, 0x60);
    damaged["half"] = good.substr(0, good.size() / 2);
    damaged["all but the last byte"] = good.substr(0, good.size() - 1);
    damaged["bad signature"] = "XXXX" + good.substr(4);
    std::string farDirectory = good;
    test::WriteLe(farDirectory, 0x48, 8, 0x7FFFFFFFFFFFull);
    damaged["directory beyond the end"] = farDirectory;
    std::string hugeChunks = good;
    test::WriteLe(hugeChunks, dir.firstChunk - 0x54 + 0x10, 4, 0xFFFFFFF0u);
    damaged["huge chunk size"] = hugeChunks;
    std::string noListing = good;
    noListing.replace(dir.Chunk(listing), 4, "XXXX");
    damaged["bad listing signature"] = noListing;
    std::string longName = good;
    longName.replace(dir.Chunk(listing) + 20, 4, "\xFF\xFF\xFF\x7F");
    damaged["name length beyond the chunk"] = longName;
    std::string badFree = good;
    test::WriteLe(badFree, dir.Chunk(listing) + 4, 4, 0xFFFFFFFFu);
    damaged["free space beyond the chunk"] = badFree;
    // Content lengths and offsets far beyond the file.
    std::string badLengths = good;
    std::vector<ChmEntry> entries = dir.Entries(good, listing);
    for (ChmEntry& entry : entries) {
        if (entry.name.ends_with(".htm"))
            entry.length = 0x7FFFFFFFFFull;
        if (entry.name.ends_with(".css"))
            entry.start = 0x7FFFFFFFFFull;
    }
    dir.Rewrite(badLengths, listing, entries);
    damaged["content beyond the end"] = badLengths;
    // Bytes spoilt at random places, compressed content included.
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::string spoilt = good;
        for (unsigned i = 0; i < 40; ++i)
            spoilt[(seed * 7919u + i * 104729u) % spoilt.size()] ^=
                static_cast<char>(seed * 37 + i);
        damaged["spoilt " + std::to_string(seed)] = spoilt;
    }

    for (const auto& [name, bytes] : damaged) {
        const std::string folder = Place(name, bytes);
        const ProcessOutcome run = RunHh(folder + "/out/", folder + "/help.chm");
        // A spoilt byte may land where nothing reads it, or change content
        // in a way no check can see: the format carries no checksums.
        const bool spoilt = name.starts_with("spoilt");
        ExpectFailedCleanly(run, folder, name, spoilt);
        for (const auto& [written, content] : FilesBelow(folder + "/out")) {
            if (!spoilt && siteFiles.count(written)) {
                EXPECT_EQ(content, siteFiles[written]) << name << ": " << written;
            }
        }
    }
}

// Help files that made the reader or decoder fail while it was fuzzed,
// and their valid seeds: hh ends with success or with a message, and
// leaves nothing outside DIR and no partial file.
TEST_F(HhTest, FuzzCorpusFilesEndWithSuccessOrAMessage) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(TBX_CHM_CORPUS)) {
        const std::string folder =
            Place("corpus " + std::to_string(++files), ReadFile(entry.path()));
        const ProcessOutcome run = RunHh(folder + "/out/", folder + "/help.chm");
        ExpectFailedCleanly(run, folder, entry.path().filename(), true);
    }
    EXPECT_GT(files, 10);
}

// Stored names crafted to climb out of DIR are refused; the others are
// still written, and hh reports the refusal with a failure status.
TEST_F(HhTest, NamesThatWouldLeaveTheFolderAreRefused) {
    std::string bytes = ReadFile(help);
    const ChmDirectory dir(bytes);
    const std::string escapeTarget = root / "crafted/escaped-absolute.css";
    const std::map<std::string, std::string> crafted = {
        {"/стиль.css", "../escaped.css"},
        {"/разделы/second page.htm", "/../escaped.htm"},
        {"/картинки/рисунок 1.png", "/" + escapeTarget},
        {"/разделы/первая глава.htm", "/разделы/../../../escaped2.htm"},
    };
    int replaced = 0;
    for (std::uint32_t chunk = 0; chunk < dir.chunks; ++chunk) {
        if (!dir.IsListing(bytes, chunk))
            continue;
        std::vector<ChmEntry> entries = dir.Entries(bytes, chunk);
        for (ChmEntry& entry : entries) {
            if (const auto it = crafted.find(entry.name); it != crafted.end()) {
                entry.name = it->second;
                ++replaced;
            }
        }
        dir.Rewrite(bytes, chunk, entries);
    }
    ASSERT_EQ(replaced, 4);
    const std::string folder = Place("crafted", bytes);
    fs::create_directories(folder + "/out/inner");

    const ProcessOutcome run = RunHh(folder + "/out/inner/", folder + "/help.chm");

    EXPECT_TRUE(run.exited && run.exitCode == 1) << run.exitCode;
    // A name without the leading "/" is said to be no file of the tree.
    for (const auto& [original, name] : crafted)
        EXPECT_NE(run.errorOutput.find((name.starts_with('/')
                                            ? "refused, would land outside the output folder: "
                                            : "does not start with \"/\", so it is no file of "
                                              "the help file's folder tree: ") +
                                       name),
                  std::string::npos)
            << run.errorOutput;
    // The folder entries are still made, inside DIR.
    EXPECT_EQ(
        NamesBelow(folder),
        (std::set<std::string>{"help.chm", "out", "out/inner", "out/inner/главная страница.htm",
                               "out/inner/картинки", "out/inner/разделы", "out/inner/Tomebox.hhc",
                               "out/inner/Tomebox.hhk"}));
    EXPECT_EQ(ReadFile(folder + "/out/inner/главная страница.htm"),
              siteFiles["главная страница.htm"]);
}

// A symbolic link inside DIR is never followed, whether it stands for a
// sub-folder or for a file.
TEST_F(HhTest, SymbolicLinksOnTheWayAreNotFollowed) {
    const std::string outside = root / "outside";
    const std::string out = root / "out";
    fs::create_directories(outside);
    fs::create_directories(out);
    fs::create_directory_symlink(outside, out + "/разделы");
    WriteFile(outside + "/victim.css", "keep");
    fs::create_symlink(outside + "/victim.css", out + "/стиль.css");

    const ProcessOutcome run = RunHh(out + "/", help);

    EXPECT_TRUE(run.exited && run.exitCode == 1) << run.exitCode;
    EXPECT_NE(run.errorOutput.find("symbolic link on the way: разделы"), std::string::npos)
        << run.errorOutput;
    EXPECT_EQ(NamesBelow(outside), std::set<std::string>{"victim.css"});
    EXPECT_EQ(ReadFile(outside + "/victim.css"), "keep");
    EXPECT_TRUE(fs::is_symlink(out + "/разделы"));
    // The link named like a stored file is replaced by the file, not written through.
    EXPECT_FALSE(fs::is_symlink(out + "/стиль.css"));
    EXPECT_EQ(ReadFile(out + "/стиль.css"), siteFiles["стиль.css"]);
    EXPECT_EQ(ReadFile(out + "/картинки/рисунок 1.png"), siteFiles["картинки/рисунок 1.png"]);
}

// What stands where a file is to go and is not a file, a FIFO or a device,
// stays as it is; the other files are written. Temporary files and folders
// of our naming whose process is gone are removed from the folders written
// into; those of a live process and other names stay.
TEST_F(HhTest, SpecialFilesAtTargetsStayAndStaleTemporariesGo) {
    const std::string out = root / "out";
    fs::create_directories(out + "/разделы");
    struct Case {
        std::string path; // below out
        mode_t type;
        const char* kind;
    };
    const Case cases[] = {
        {"стиль.css", S_IFIFO, "a FIFO"},
        {"разделы/second page.htm", S_IFCHR, "a device"},
    };
    std::vector<const Case*> made;
    for (const Case& c : cases) {
        // A device needs root; where there is none, the FIFO still counts.
        if (::mknod((out + "/" + c.path).c_str(), c.type | 0666, ::makedev(1, 3)) == 0)
            made.push_back(&c);
    }
    ASSERT_FALSE(made.empty());
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = ".hh-" + std::to_string(gone);
    const std::string alive = ".hh-" + std::to_string(::getpid()) + "-0.tmp";
    WriteFile(out + "/" + dead + "-0.tmp", "stale");
    WriteFile(out + "/разделы/" + dead + "-1.tmp", "stale");
    fs::create_directories(out + "/" + dead + "-0.dir/d/d");
    WriteFile(out + "/" + alive, "in use");
    WriteFile(out + "/.hh-other.tmp", "not ours");

    const ProcessOutcome run = RunHh(out + "/", help);

    EXPECT_TRUE(run.exited && run.exitCode == 1) << run.exitCode;
    for (const Case* c : made) {
        const std::string name = fs::path(c->path).filename();
        EXPECT_NE(run.errorOutput.find("not replaced: " + name + " is " + c->kind + ", not a file"),
                  std::string::npos)
            << run.errorOutput;
        struct stat st;
        ASSERT_EQ(::lstat((out + "/" + c->path).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c->type) << c->path;
    }
    EXPECT_EQ(ReadFile(out + "/главная страница.htm"), siteFiles["главная страница.htm"]);
    EXPECT_EQ(ReadFile(out + "/картинки/рисунок 1.png"), siteFiles["картинки/рисунок 1.png"]);
    EXPECT_FALSE(fs::exists(out + "/" + dead + "-0.tmp"));
    EXPECT_FALSE(fs::exists(out + "/разделы/" + dead + "-1.tmp"));
    EXPECT_FALSE(fs::exists(out + "/" + dead + "-0.dir"));
    EXPECT_TRUE(fs::exists(out + "/" + alive));
    EXPECT_TRUE(fs::exists(out + "/.hh-other.tmp"));
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

int CountPages(chmFile*, chmUnitInfo* unit, void* context) {
    if (std::string_view(unit->path).ends_with(".htm"))
        ++*static_cast<int*>(context);
    return CHM_ENUMERATOR_CONTINUE;
}

// A large help file with several listing chunks, its header damaged the
// way some compilers write it: the first-listing field skips the first
// chunk. Every page must still come back, and hh says what the header alone
// would have given.
// Compiles pages (name: bytes) with the real hhc into help, and adds to
// pages the sitemaps hhc makes: what an extraction gives back.
void CompilePages(const TempDir& root, std::map<std::string, std::string>& pages,
                  const std::string& help) {
    TempDir store;
    const RegHive hive(store.Path());
    WriteFirstRunDefaults(hive);
    const std::string site = root / "site";
    for (const auto& [name, bytes] : pages) {
        fs::create_directories(fs::path(site + "/" + name).parent_path());
        WriteFile(site + "/" + name, bytes);
    }
    const HelpProjectResult project = WriteHelpProject(
        hive, {site + "/index.htm", help, "Site", {1024, 768}, root / "program/", site});
    ASSERT_TRUE(project.Ok()) << project.error;
    const ProcessOutcome compiled = RunProcess(TBX_HHC_PATH, {project.projectPath});
    ASSERT_TRUE(compiled.exited && compiled.exitCode == 0) << compiled.errorOutput;
    fs::remove(project.projectPath);
    AddGeneratedSitemaps(help, pages);
}

TEST(HhLargeHelpFile, EveryPageOfA2000PageSiteComesBack) {
    TempDir root;
    std::map<std::string, std::string> pages;
    std::string index = "<html><head><title>Site</title></head><body>\n";
    for (int i = 0; i < 2000; ++i) {
        const std::string name =
            "part" + std::to_string(i / 200) + "/page" + std::to_string(i) + ".htm";
        pages[name] = "<html><head><title>Page " + std::to_string(i) + "</title></head><body>" +
                      std::string(static_cast<std::size_t>(i % 97), 'p') + "</body></html>\n";
        index += "<a href=\"" + name + "\">" + name + "</a><br>\n";
    }
    pages["index.htm"] = index + "</body></html>\n";
    const std::string help = root / "big.chm";
    CompilePages(root, pages, help);
    std::string bytes = ReadFile(help);
    const std::uint64_t directory = test::ReadLe(bytes, 0x48, 8);
    ASSERT_GT(test::ReadLe(bytes, directory + 0x24, 4), 0u) << "one listing chunk only";
    test::WriteLe(bytes, directory + 0x20, 4, 1);
    WriteFile(help, bytes);

    // The file shows the fault: chmlib's own listing misses pages.
    chmFile* opened = chm_open(help.c_str());
    ASSERT_NE(opened, nullptr);
    int listed = 0;
    chm_enumerate(opened, CHM_ENUMERATE_ALL, CountPages, &listed);
    chm_close(opened);
    EXPECT_LT(listed, 2001);

    const std::string out = root / "out";
    fs::create_directories(out);
    const ProcessOutcome run = RunHh(out + "/", help);

    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.exitCode << run.errorOutput;
    EXPECT_TRUE(FilesBelow(out) == pages);
    EXPECT_NE(run.errorOutput.find("lists only "), std::string::npos) << run.errorOutput;
    const std::size_t at = run.errorOutput.find("lists only ") + 11;
    const int headerEntries = std::stoi(run.errorOutput.substr(at));
    EXPECT_GT(headerEntries, 0);
    EXPECT_LT(headerEntries, 2001);

    // Stopped halfway, as a closing window stops it, once its first
    // progress line shows it at work: whatever is there is whole, and no
    // temporary file is left.
    const std::string stopped = root / "stopped";
    fs::create_directories(stopped);
    int progress[2];
    ASSERT_EQ(::pipe2(progress, O_CLOEXEC), 0);
    std::string error;
    const pid_t pid =
        SpawnHidden(TBX_HH_PATH, {"-decompile", stopped + "/", help}, -1, error, progress[1]);
    ::close(progress[1]);
    ASSERT_GT(pid, 0) << error;
    std::string output;
    char byte;
    while (output.find('\n') == std::string::npos && ::read(progress[0], &byte, 1) == 1)
        output += byte;
    ::kill(pid, SIGTERM);
    while (::read(progress[0], &byte, 1) == 1)
        output += byte;
    ::close(progress[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(output.starts_with("files extracted: ")) << output;
    EXPECT_TRUE(WIFEXITED(status) &&
                (WEXITSTATUS(status) == 128 + SIGTERM || WEXITSTATUS(status) == 0))
        << status;
    const std::map<std::string, std::string> whole = FilesBelow(stopped);
    for (const auto& [name, bytes] : whole) {
        ASSERT_TRUE(pages.count(name)) << name;
        EXPECT_EQ(bytes, pages[name]) << name;
    }
    // The count said last is the count of files on disk.
    const std::size_t last = output.rfind("files extracted: ");
    EXPECT_EQ(std::stoul(output.substr(last + 17)), whole.size()) << output.substr(last);
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

using test::CraftedChm;
using test::CraftedEntry;
using test::CraftedLzx;

struct ChildRun {
    bool exited = false;
    int code = -1; // exit status, or the signal
    std::string out, err;
    long peakKb = 0; // the child's peak resident memory
};

std::string ReadBack(int fd) {
    std::string text;
    char buffer[65536];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

// hh in a child of its own, with at most files descriptors when not 0.
ChildRun RunHhChild(const std::string& outDir, const std::string& helpFile, rlim_t files = 0) {
    const int out = ::memfd_create("hh-out", MFD_CLOEXEC);
    const int err = ::memfd_create("hh-err", MFD_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        const rlimit limit{files, files};
        if (files == 0 || ::setrlimit(RLIMIT_NOFILE, &limit) == 0)
            ::execl(TBX_HH_PATH, "hh", "-decompile", outDir.c_str(), helpFile.c_str(), nullptr);
        ::_exit(127);
    }
    ChildRun run;
    int status = 0;
    rusage usage{};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        run.exited = WIFEXITED(status);
        run.code = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
        run.peakKb = usage.ru_maxrss;
    }
    run.out = ReadBack(out);
    run.err = ReadBack(err);
    return run;
}

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Names of hh's temporary files anywhere below folder.
std::vector<std::string> TempsBelow(const fs::path& folder) {
    std::vector<std::string> temps;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".hh-"))
            temps.push_back(entry.path());
    return temps;
}

// Sizes far beyond the file, in sparse files of a few kilobytes on disk.
// hh ends with a message and status 1 and still writes the page it can
// read, holds well under 300 MB more than for a small file whatever the
// claim, reports a run of damaged chunks once, and leaves no temporary
// file.
TEST(HhCraftedFiles, HugeClaimedSizesEndWithAMessageNotAnAbort) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    struct Case {
        const char* name;
        std::uint32_t chunks;   // claimed directory chunks, 0: one
        std::uint64_t interval; // bytes of the one reset interval, 0: none
        const char* message;
        bool noFreeSpace = false; // zero bytes where the listing chunk's entries go on
    };
    const Case cases[] = {
        {"16 GB directory", 4u << 20, 0,
         "directory chunks 1 to 4194303 are damaged (4194303 chunks)"},
        {"4 GB directory", 1u << 20, 0,
         "directory chunks 1 to 1048575 are damaged (1048575 chunks)"},
        {"3 GB interval", 0, 3 * kGiB, "big.htm: damaged content"},
        {"4 GB interval", 0, 4 * kGiB, "big.htm: damaged content"},
        {"32 GB interval", 0, 32 * kGiB, "big.htm: damaged content"},
        {"4 KB of blank entries", 0, 0, "(zero bytes where its entries go on)", true},
    };
    TempDir root;
    // What hh holds for a help file of one small page: the bound is above
    // that, so that a sanitizer's own memory does not count.
    CraftedChm small;
    small.section0 = "<html>page</html>";
    small.entries = {{"/page.htm", 0, 0, small.section0.size()}};
    small.WriteTo(root / "small.chm");
    fs::create_directories(root / "small");
    const long baseKb = RunHhChild(root / "small/", root / "small.chm").peakKb;
    for (const Case& c : cases) {
        const fs::path folder = root / c.name;
        fs::create_directories(folder / "out");
        CraftedChm help = small;
        help.claimedChunks = c.chunks;
        help.noFreeSpace = c.noFreeSpace;
        const CraftedLzx lzx{c.interval / chm::kLzxFrameSize, c.interval, c.interval};
        if (c.interval) {
            help.lzx = &lzx;
            help.entries.push_back({"/big.htm", 1, 0, 1 << 20});
        }
        help.WriteTo(folder / "help.chm");

        const ChildRun run = RunHhChild(folder / "out/", folder / "help.chm");

        EXPECT_TRUE(run.exited && run.code == 1) << c.name << ": " << run.code << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        EXPECT_LE(Lines(run.err), 4u) << c.name << ": " << run.err.substr(0, 2000);
        EXPECT_LT(run.peakKb, baseKb + 300 * 1024) << c.name;
        EXPECT_TRUE(fs::exists(folder / "out/page.htm") &&
                    ReadFile(folder / "out/page.htm") == help.section0)
            << c.name;
        EXPECT_EQ(TempsBelow(folder / "out"), std::vector<std::string>{}) << c.name;
    }
}

// Takes apart a chain of folders named "d" in folder from the top, moving
// the second up in place of the first each time, so that no path grows
// long: removing it by paths would take minutes.
void RemoveDeepChain(const fs::path& folder) {
    const int at = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (::renameat(at, "d/d", at, "next") == 0 && ::unlinkat(at, "d", AT_REMOVEDIR) == 0 &&
           ::renameat(at, "next", at, "d") == 0) {
    }
    ::close(at);
    fs::remove_all(folder);
}

// One entry thousands of folders deep, with 64 descriptors: created
// without one descriptor a level, and its file written at the bottom.
// In memory where it can be: removing thousands of folders from a disk
// mounted with discard takes a minute.
TEST(HhCraftedFiles, DeepFoldersNeedFewDescriptors) {
    TempDir disk;
    char memory[] = "/dev/shm/tomebox-deep-XXXXXX";
    const fs::path root = ::mkdtemp(memory) ? fs::path(memory) : disk.Path();
    for (const int depth : {300, 5000, 12000}) {
        const fs::path folder = root / std::to_string(depth);
        fs::create_directories(folder / "out");
        std::string name = "/";
        for (int i = 0; i < depth; ++i)
            name += "d/";
        CraftedChm help;
        help.chunkSize = 0x8000;
        help.section0 = "deep";
        help.entries = {{name + "page.htm", 0, 0, 4}, {"/top.htm", 0, 0, 4}};
        help.WriteTo(folder / "help.chm");

        const ChildRun run = RunHhChild(folder / "out/", folder / "help.chm", 64);

        EXPECT_TRUE(run.exited && run.code == 0) << depth << ": " << run.code << run.err;
        // Down the chain by descriptor: the path is longer than any path
        // the system takes.
        int at = ::open((folder / "out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < depth && at >= 0; ++i) {
            const int next = ::openat(at, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(at);
            at = next;
        }
        ASSERT_GE(at, 0) << depth;
        const int file = ::openat(at, "page.htm", O_RDONLY | O_CLOEXEC);
        ::close(at);
        ASSERT_GE(file, 0) << depth;
        EXPECT_EQ(ReadBack(file), "deep") << depth;
        // The segments the chain was made in are all moved into place.
        std::set<std::string> top;
        for (const auto& entry : fs::directory_iterator(folder / "out"))
            top.insert(entry.path().filename());
        EXPECT_EQ(top, (std::set<std::string>{"d", "top.htm"})) << depth;
        RemoveDeepChain(folder / "out");
    }
    fs::remove_all(root);
}

// Stored names are outside input: control bytes come out escaped, a name
// without the leading "/" is said to be what it is, and a name stored
// twice is reported, its first entry written.
TEST(HhCraftedFiles, StoredNamesInMessagesAreEscapedAndExplained) {
    struct Case {
        std::string name;
        std::string message; // "" for a name that is extracted without a word
    };
    const std::vector<Case> cases = {
        {"/ok.htm", ""},
        {"/title\x1b]0;owned\x07.htm", "title\\x1B]0;owned\\x07.htm"},
        {"/line\rhh: all is well.htm", "line\\x0Dhh: all is well.htm"},
        {"/tab\there.htm", "tab\\x09here.htm"},
        {"relative.htm", "the name does not start with \"/\", so it is no file of the help "
                         "file's folder tree: relative.htm"},
        {"/dup.htm", "/dup.htm: stored more than once; only its first entry is extracted"},
    };
    TempDir root;
    fs::create_directories(root / "out");
    CraftedChm help;
    help.section0 = "firstsecond";
    for (const Case& c : cases)
        help.entries.push_back({c.name, 0, 0, 5});
    help.entries.push_back({"/dup.htm", 0, 5, 6});
    // A name no file can have, so that every escaped one is in a message.
    for (CraftedEntry& entry : help.entries)
        if (entry.name.find_first_of("\x1b\r\t") != std::string::npos)
            entry.length = 1000;
    help.WriteTo(root / "help.chm");

    const ChildRun run = RunHhChild(root / "out/", root / "help.chm");

    EXPECT_TRUE(run.exited && run.code == 1) << run.code;
    for (const Case& c : cases) {
        if (!c.message.empty()) {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << "\n" << run.err;
        }
    }
    EXPECT_EQ(run.err.find("would land outside"), std::string::npos) << run.err;
    EXPECT_EQ(std::count_if(run.err.begin(), run.err.end(),
                            [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7F; }),
              0)
        << run.err;
    EXPECT_EQ(ReadFile(root / "out/ok.htm"), "first");
    EXPECT_EQ(ReadFile(root / "out/dup.htm"), "first");
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

// A chmlib count for comparison: the files it reads back whole and right.
std::size_t ChmlibReadsBack(const std::string& help,
                            const std::map<std::string, std::string>& files) {
    chmFile* opened = chm_open(help.c_str());
    if (!opened)
        return 0;
    std::size_t right = 0;
    for (const auto& [name, bytes] : files) {
        chmUnitInfo unit;
        if (chm_resolve_object(opened, ("/" + name).c_str(), &unit) != CHM_RESOLVE_SUCCESS)
            continue;
        std::string got(bytes.size(), '\0');
        if (unit.length == bytes.size() &&
            chm_retrieve_object(opened, &unit, reinterpret_cast<unsigned char*>(got.data()), 0,
                                static_cast<LONGINT64>(got.size())) ==
                static_cast<LONGINT64>(got.size()) &&
            got == bytes)
            ++right;
    }
    chm_close(opened);
    return right;
}

// A help file cut short, or with a bad entry in a listing chunk: every file
// whose bytes are still there comes back, the count says how many of how
// many, each lost name is said, and the status is 1. Which files the bytes
// still hold is worked out from the whole file's reset table.
TEST(HhDamagedFiles, EveryFileWhoseBytesArePresentComesBack) {
    TempDir root;
    std::map<std::string, std::string> files;
    std::string index = "<html><body>\n";
    for (int i = 0; i < 300; ++i) {
        const std::string name = "pages/page" + std::to_string(i) + ".htm";
        files[name] = "<html><body><p>" + test::Prose(static_cast<std::uint64_t>(i), 1500) +
                      "</p></body></html>\n";
        index += "<a href=\"" + name + "\">" + std::to_string(i) + "</a>\n";
    }
    files["index.htm"] = index + "</body></html>\n";
    const std::string help = root / "whole.chm";
    CompilePages(root, files, help);
    const std::string good = ReadFile(help);

    // Where the bytes of each file end in the whole file: for a compressed
    // one, where the frame holding its last byte ends.
    std::string error;
    const std::unique_ptr<chm::ChmFile> whole = chm::ChmFile::Open(help, error);
    ASSERT_TRUE(whole) << error;
    const std::uint64_t section0 = test::ReadLe(good, 0x58, 8);
    const chm::ChmEntry content = whole->Entry(*whole->Find(chm::kContent));
    const chm::ChmEntry table = whole->Entry(*whole->Find(chm::kResetTable));
    const std::uint64_t tableAt = section0 + table.offset;
    const std::uint64_t frames = test::ReadLe(good, tableAt + 4, 4);
    const int entrySize = static_cast<int>(test::ReadLe(good, tableAt + 8, 4));
    const std::uint64_t firstEntry = tableAt + test::ReadLe(good, tableAt + 12, 4);
    // chmlib decodes the frame the cut falls in as far as its bytes go, so
    // it may read files that end in that frame too; hh reads whole frames.
    std::map<std::string, std::uint64_t> endOf, frameOf;
    for (std::size_t i = 0; i < whole->Count(); ++i) {
        const chm::ChmEntry entry = whole->Entry(i);
        const std::string name(entry.name.substr(1));
        if (!files.count(name))
            continue;
        if (entry.section == 0) {
            endOf[name] = section0 + entry.offset + entry.length;
            continue;
        }
        const std::uint64_t last = (entry.offset + entry.length - 1) / chm::kLzxFrameSize;
        const auto frameAt = [&](std::uint64_t frame) {
            return section0 + content.offset +
                   (frame < frames ? test::ReadLe(good, firstEntry + frame * entrySize, entrySize)
                                   : content.length);
        };
        frameOf[name] = frameAt(last);
        endOf[name] = frameAt(last + 1);
    }
    ASSERT_EQ(endOf.size(), files.size());
    ASSERT_GT(frames, 8u) << "too few frames to cut between";
    // The file starts with the directory and the section's own streams.
    ASSERT_LT(std::max(tableAt + table.length, section0 + content.offset), good.size() * 3 / 10);

    // A bad entry: the name of one page blanked, or given a zero byte.
    const ChmDirectory dir(good);
    std::uint32_t listing = 0;
    while (!dir.IsListing(good, listing))
        ++listing;
    const auto badName = [&](const std::string& name, std::string& lost) {
        std::string bytes = good;
        std::vector<ChmEntry> entries = dir.Entries(bytes, listing);
        ChmEntry& entry = entries[entries.size() / 2];
        lost = entry.name.substr(1);
        entry.name = name;
        dir.Rewrite(bytes, listing, entries);
        return bytes;
    };

    struct Case {
        std::string name;
        std::string bytes;
        std::string lost;    // the file whose entry is bad, if any
        std::string message; // what is said of the damage
    };
    std::vector<Case> cases = {
        {"last 100 bytes cut", good.substr(0, good.size() - 100), "", "cut short"},
        {"90 % kept", good.substr(0, good.size() * 9 / 10), "", "cut short"},
        {"60 % kept", good.substr(0, good.size() * 6 / 10), "", "cut short"},
        {"30 % kept", good.substr(0, good.size() * 3 / 10), "", "cut short"},
        {"blank name", "", "", "skipped, its name is blank"},
        {"zero byte in a name", "", "", "skipped, its name holds a zero byte"},
    };
    cases[4].bytes = badName("", cases[4].lost);
    cases[5].bytes = badName(std::string("/pa\0ge.htm", 10), cases[5].lost);

    for (const Case& c : cases) {
        const fs::path folder = root / c.name;
        fs::create_directories(folder / "out");
        WriteFile(folder / "help.chm", c.bytes);
        std::map<std::string, std::string> expected;
        for (const auto& [name, bytes] : files)
            if (endOf[name] <= c.bytes.size() && name != c.lost)
                expected[name] = bytes;

        const ChildRun run = RunHhChild(folder / "out/", folder / "help.chm");

        EXPECT_TRUE(run.exited && run.code == 1) << c.name << ": " << run.code;
        EXPECT_TRUE(FilesBelow(folder / "out") == expected)
            << c.name << ": " << FilesBelow(folder / "out").size() << " files, " << expected.size()
            << " expected\n"
            << run.err.substr(0, 3000);
        const std::string count = "files extracted: " + std::to_string(expected.size()) + " of " +
                                  std::to_string(files.size()) + "\n";
        EXPECT_TRUE(run.out.ends_with(count)) << c.name << ": " << run.out;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        for (const auto& [name, bytes] : files) {
            if (!expected.count(name) && name != c.lost) {
                EXPECT_NE(run.err.find("hh: /" + name + ": "), std::string::npos)
                    << c.name << ": " << name;
            }
        }
        std::size_t cutFrame = 0;
        for (const auto& [name, end] : endOf)
            cutFrame += frameOf[name] < c.bytes.size() && c.bytes.size() < end;
        EXPECT_GE(expected.size() + cutFrame, ChmlibReadsBack(folder / "help.chm", files))
            << c.name;
    }
}

} // namespace
} // namespace tbx
