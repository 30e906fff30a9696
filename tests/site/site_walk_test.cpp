#include "site/open_beneath.h"
#include "site/read_ahead.h"
#include "site/site_walk.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace tbx::site {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

using Refused = std::tuple<std::string, std::string, RefusalReason>; // link, page, why

std::set<Refused> RefusalsOf(const SiteWalk& walk) {
    std::set<Refused> refused;
    for (const Refusal& r : walk.refusals)
        refused.emplace(r.link, r.page, r.reason);
    return refused;
}

std::map<std::string, const SiteFile*> FilesOf(const SiteWalk& walk) {
    std::map<std::string, const SiteFile*> files;
    for (const SiteFile& file : walk.files)
        files.emplace(file.name, &file);
    return files;
}

// One site with a link of every kind the walk must follow or refuse.
class SiteWalkTest : public ::testing::Test {
protected:
    SiteWalkTest() : root(dir.Path() / "site") {
        fs::create_directories(root / "pics");
        fs::create_directories(root / "sub");
        WriteFile(dir.Path() / "outside.htm", "<p>secret</p>");
        const std::string index =
            "<html><head><meta http-equiv=\"Content-Type\" "
            "content=\"text/html; charset=windows-1251\">\n"
            "<title>" +
            Cp1251("Оглавление &amp; справка") + "</title></head><body>\n" + "<a href=\"" +
            Cp1251("Глава 1.htm") +
            "\">raw Windows-1251</a>\n"
            "<a href=\"%D0%93%D0%BB%D0%B0%D0%B2%D0%B0%202.htm\">UTF-8 escapes</a>\n"
            "<a href=\"%C3%EB%E0%E2%E0%203.htm\">Windows-1251 escapes</a>\n"
            "<a href=\"&#1043;&#1083;&#1072;&#x432;&#x430; 4.htm#part\">references</a>\n"
            "<a href=\"" +
            Cp1251("ГЛАВА 5.HTM") +
            "\">Cyrillic case</a>\n"
            "<a href=\"a&amp;b.htm?x=1\">ampersand</a> <a href=\"hash%23name.htm\">hash</a>\n"
            "<a href=\"100%25.htm\">percent</a> <a href=\"50%.htm\">bare percent</a>\n"
            "<img src=\"PICS\\Logo.GIF\"> <link rel=stylesheet href=\"style.css\">\n"
            "<a href=\"broken.htm\">b</a> <a href=\"frames.htm\">f</a> <a "
            "href=\"sub/\">folder</a>\n"
            "<a href=\"../outside.htm\">up</a> <a href=\"escape.htm\">symlink out</a>\n"
            "<a href=\"alias.htm\">symlink in</a> <a href=\"fifo.htm\">pipe</a>\n"
            "<a href=\"missing.htm\">gone</a> <a href=\"missing.htm\">gone again</a>\n"
            "<a href=\"C:\\site\\x.htm\">drive</a> <a href=\"help.chm\">the help file</a>\n"
            "<a href=\"Dup.htm\">one</a> <a href=\"dup.htm\">other</a>\n"
            "<a href=\"http://example.com/\">web</a> <a href=\"mailto:me@example.com\">mail</a>\n"
            "</body></html>\n";
        WriteFile(root / "index.htm", index);
        for (const char* name :
             {"Глава 1.htm", "Глава 2.htm", "Глава 3.htm", "Глава 4.htm", "глава 5.htm", "a&b.htm",
              "hash#name.htm", "100%.htm", "50%.htm", "left.htm", "right.htm", "Dup.htm", "dup.htm",
              "after broken.htm", "unlinked.htm"})
            WriteFile(root / name, std::string("<p>") + name + "</p>");
        WriteFile(root / "pics/logo.gif", std::string("GIF89a\0\x01\x02", 9));
        WriteFile(root / "pics/bg.png", "png");
        WriteFile(root / "pics/more.png", "png2");
        WriteFile(root / "style.css",
                  "@import \"more.css\";\nbody { background: url(pics/bg.png) }\n");
        WriteFile(root / "more.css", "p { background: url('PICS/more.png') }\n");
        WriteFile(root / "broken.htm", Cp1251("<p>Введите <имя файла> и нажмите <Enter>.</p>"
                                              "<a href=\"after%20broken.htm\">дальше</a>"));
        WriteFile(root / "frames.htm", "<frameset><frame src=\"left.htm\">"
                                       "<frame src=\"right.htm\"></frameset>");
        WriteFile(root / "sub/index.htm", "<a href=\"../index.htm\">back</a>"
                                          "<a href=\"../../outside.htm\">out</a>");
        WriteFile(root / "help.chm", "ITSF");
        fs::create_symlink("../outside.htm", root / "escape.htm");
        fs::create_symlink("left.htm", root / "alias.htm");
        EXPECT_EQ(::mkfifo((root / "fifo.htm").c_str(), 0644), 0);
    }

    WalkOptions Options() const {
        WalkOptions options;
        options.root = root.string() + "/";
        options.starts = {(root / "index.htm").string(), (root / "sub/index.htm").string()};
        options.skip = {(root / "help.chm").string()};
        return options;
    }

    TempDir dir;
    fs::path root;
};

TEST_F(SiteWalkTest, ReachesEveryLinkedFileAndNamesEveryRefusalWithItsPage) {
    std::vector<std::size_t> progress;
    WalkOptions options = Options();
    options.progress = [&](std::size_t read) { progress.push_back(read); };

    const SiteWalk walk = WalkSite(options);

    ASSERT_EQ(walk.error, "");
    EXPECT_EQ(walk.startNames, (std::vector<std::string>{"/index.htm", "/sub/index.htm"}));
    std::set<std::string> names;
    for (const SiteFile& file : walk.files)
        names.insert(file.name);
    EXPECT_EQ(names, (std::set<std::string>{
                         "/index.htm",     "/sub/index.htm",    "/Глава 1.htm", "/Глава 2.htm",
                         "/Глава 3.htm",   "/Глава 4.htm",      "/глава 5.htm", "/a&b.htm",
                         "/hash#name.htm", "/100%.htm",         "/50%.htm",     "/pics/logo.gif",
                         "/style.css",     "/more.css",         "/pics/bg.png", "/pics/more.png",
                         "/broken.htm",    "/after broken.htm", "/frames.htm",  "/left.htm",
                         "/right.htm",     "/alias.htm",        "/Dup.htm"}));
    EXPECT_EQ(progress.size(), walk.files.size());
    EXPECT_EQ(progress.back(), walk.files.size());

    const std::set<Refused> expected = {
        {"sub/", "/index.htm", RefusalReason::NotAFile},
        {"../outside.htm", "/index.htm", RefusalReason::OutsideRoot},
        {"escape.htm", "/index.htm", RefusalReason::LinkOutsideRoot},
        {"fifo.htm", "/index.htm", RefusalReason::NotAFile},
        {"missing.htm", "/index.htm", RefusalReason::Missing},
        {"C:\\site\\x.htm", "/index.htm", RefusalReason::DrivePath},
        {"help.chm", "/index.htm", RefusalReason::HelpFile},
        {"dup.htm", "/index.htm", RefusalReason::NameClash},
        {"../../outside.htm", "/sub/index.htm", RefusalReason::OutsideRoot},
    };
    EXPECT_EQ(RefusalsOf(walk), expected);
}

// The bytes of a file of the walk read again, or "" with error set.
std::string ReadAgain(const SiteWalk& walk, const SiteFile& file, std::string& error) {
    const int fd = OpenSiteFile(walk, file, error);
    if (fd < 0)
        return {};
    std::string bytes(file.size + 1, '\0');
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    ::close(fd);
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

TEST_F(SiteWalkTest, FilesKeepTheirKindAndTitleAndAreReadAgainAsTaken) {
    const SiteWalk walk = WalkSite(Options());
    const auto files = FilesOf(walk);

    ASSERT_TRUE(files.contains("/pics/logo.gif") && files.contains("/index.htm"));
    const SiteFile& index = *files.at("/index.htm");
    EXPECT_EQ(index.kind, FileKind::Page);
    // The start page stays held (the contents are made from it), other
    // pages and files are let go and read again as the very file taken.
    EXPECT_EQ(index.bytes, test::ReadFile(root / "index.htm"));
    EXPECT_EQ(index.title, "Оглавление & справка");
    // A page without a title is known by its file name.
    EXPECT_EQ(files.at("/left.htm")->title, "left.htm");
    EXPECT_EQ(files.at("/style.css")->kind, FileKind::StyleSheet);
    const SiteFile& logo = *files.at("/pics/logo.gif");
    EXPECT_EQ(logo.kind, FileKind::Other);
    EXPECT_EQ(logo.path, fs::canonical(root / "pics/logo.gif").string());
    // Through a symbolic link inside the site: the link's name, the target's bytes.
    const SiteFile& alias = *files.at("/alias.htm");
    std::string error;
    for (const SiteFile* file : {&logo, &alias, files.at("/style.css")})
        EXPECT_EQ(file->bytes, "") << file->name;
    EXPECT_EQ(ReadAgain(walk, alias, error), "<p>left.htm</p>") << error;
    EXPECT_EQ(ReadAgain(walk, logo, error), test::ReadFile(root / "pics/logo.gif")) << error;

    // Each way a file can differ from the one taken is refused, never read.
    struct Change {
        const char* file;
        std::function<void(const fs::path&)> change;
    };
    const Change changes[] = {
        {"pics/logo.gif",
         [](const fs::path& path) { // another file of the same bytes in its place
             fs::rename(path, path.string() + ".old");
             WriteFile(path, test::ReadFile(path.string() + ".old"));
         }},
        {"left.htm",
         [](const fs::path& path) { // rewritten in place at the same size
             const std::string bytes = test::ReadFile(path);
             WriteFile(path, std::string(bytes.size(), 'x'));
             const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
             ::utimensat(AT_FDCWD, path.c_str(), later, 0);
         }},
        {"style.css", [](const fs::path& path) { WriteFile(path, "body {}"); }},
        {"right.htm", [](const fs::path& path) { fs::remove(path); }},
    };
    for (const Change& c : changes) {
        const std::string name = "/" + std::string(c.file);
        ASSERT_TRUE(files.contains(name)) << name;
        c.change(root / c.file);
        error.clear();
        EXPECT_EQ(OpenSiteFile(walk, *files.at(name), error), -1) << name;
        EXPECT_EQ(error, "changed since the site was walked") << name;
    }
}

// Each page is read in the one charset decided for it (the project's code
// page when it declares none), its links and title alike; a link whose
// bytes name a file as they stand is followed whatever the charset says.
TEST(SiteWalkCharsets, EachPageIsReadInItsOwnCharset) {
    const TempDir dir;
    const fs::path root = dir.Path();
    const auto in = [](std::string_view utf8, int codePage) {
        return *text::EncodeExact(utf8, codePage);
    };
    WriteFile(root / "a.htm", in("<title>Łódź</title><a href=\"żółw.htm\">1</a>"
                                 "<a href=\"b.htm\">2</a><a href=\"c.htm\">3</a>",
                                 1250));
    WriteFile(root / "żółw.htm", "<title>żółw</title>");
    // Declared Windows-1251, but the link is in UTF-8, as the file's name is.
    WriteFile(root / "b.htm", "<meta charset=windows-1251><title>" + in("Глава", 1251) +
                                  "</title><a href=\"Глава.htm\">x</a>");
    WriteFile(root / "Глава.htm", "<p>");
    std::u16string wide = u"\uFEFF<title>Ωμέγα</title><a href=\"d.htm\">d</a>";
    WriteFile(root / "c.htm", std::string(reinterpret_cast<const char*>(wide.data()),
                                          wide.size() * sizeof(char16_t)));
    WriteFile(root / "d.htm", "<meta http-equiv=Content-Type content=\"text/html; charset=koi8-r\">"
                              "<title>\xF4\xC5\xCB\xD3\xD4</title>");

    WalkOptions options;
    options.root = root.string() + "/";
    options.starts = {(root / "a.htm").string()};
    options.legacy = text::Charset::ForCodePage(1250);
    const SiteWalk walk = WalkSite(options);

    EXPECT_EQ(RefusalsOf(walk), std::set<Refused>{});
    std::map<std::string, std::pair<std::string, std::string>> read; // name -> charset, title
    for (const SiteFile& file : walk.files)
        read[file.name] = {std::string(file.charset.Name()), file.title};
    EXPECT_EQ(read, (std::map<std::string, std::pair<std::string, std::string>>{
                        {"/a.htm", {"windows-1250", "Łódź"}},
                        {"/żółw.htm", {"UTF-8", "żółw"}}, // undeclared, valid UTF-8
                        {"/b.htm", {"windows-1251", "Глава"}},
                        {"/Глава.htm", {"windows-1250", "Глава.htm"}},
                        {"/c.htm", {"UTF-16LE", "Ωμέγα"}},
                        {"/d.htm", {"KOI8-R", "Текст"}},
                    }));
}

TEST_F(SiteWalkTest, StartsOutsideTheRootOrMissingAreRefusedAndAnUnusableRootIsAnError) {
    WalkOptions options = Options();
    options.starts = {(root / "nothing.htm").string(), (dir.Path() / "outside.htm").string(),
                      (root / "left.htm").string()};
    const SiteWalk walk = WalkSite(options);
    EXPECT_EQ(walk.startNames, (std::vector<std::string>{"", "", "/left.htm"}));
    EXPECT_EQ(RefusalsOf(walk),
              (std::set<Refused>{{options.starts[0], "", RefusalReason::Missing},
                                 {options.starts[1], "", RefusalReason::OutsideRoot}}));
    ASSERT_EQ(walk.files.size(), 1u);
    EXPECT_EQ(walk.files[0].name, "/left.htm");

    options.root = (root / "index.htm").string();
    EXPECT_NE(WalkSite(options).error, "");
}

} // namespace
} // namespace tbx::site

namespace tbx::site {
namespace {

// Both ways of looking names up below the site folder come to the same:
// links inside are followed, links out are refused, nothing else opened.
TEST(OpenBeneath, EitherLookupFollowsLinksInsideOnlyAndOpensOnlyFiles) {
    TempDir dir;
    const fs::path root = dir.Path() / "site";
    fs::create_directories(root / "real");
    fs::create_directories(dir.Path() / "out");
    WriteFile(root / "real/page.htm", "inside");
    WriteFile(dir.Path() / "out/page.htm", "outside");
    fs::create_symlink("real", root / "rel");
    fs::create_symlink(root / "real", root / "abs");
    fs::create_symlink("../out", root / "up");
    fs::create_symlink(dir.Path() / "out", root / "absup");
    fs::create_symlink("real/page.htm", root / "last.htm");
    fs::create_symlink("../out/page.htm", root / "lastup.htm");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0600), 0);
    const std::string real = fs::canonical(root).string();
    const int rootFd = ::open(real.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(rootFd, 0);
    using S = Beneath::Status;
    const struct {
        std::string path;
        S status;
        int error;
    } cases[] = {
        {"real/page.htm", S::Opened, 0},
        {"rel/page.htm", S::Opened, 0},
        {"abs/page.htm", S::Opened, 0},
        {"last.htm", S::Opened, 0},
        {"up/page.htm", S::Outside, 0},
        {"absup/page.htm", S::Outside, 0},
        {"lastup.htm", S::Outside, 0},
        {"fifo", S::NotAFile, 0},
        {"real", S::NotAFile, 0},
        {"nothing.htm", S::Failed, ENOENT},
        {"real/page.htm/x", S::Failed, ENOTDIR},
    };
    for (const Lookup lookup : {Lookup::Best, Lookup::NameByName}) {
        for (const auto& c : cases) {
            const Beneath opened = OpenBeneath(rootFd, real, c.path, lookup);
            EXPECT_EQ(opened.status, c.status) << c.path;
            if (c.status == S::Failed) {
                EXPECT_EQ(opened.error, c.error) << c.path;
            }
            if (opened.status == S::Opened) {
                char bytes[16] = {};
                EXPECT_EQ(::read(opened.fd, bytes, sizeof bytes), 6) << c.path;
                EXPECT_STREQ(bytes, "inside") << c.path;
                ::close(opened.fd);
            } else {
                EXPECT_EQ(opened.fd, -1) << c.path;
            }
        }
    }
    ::close(rootFd);
}

// The walk reads ahead on other threads and takes what was read in its own
// order: jobs that end out of order, one that throws, and some left untaken.
TEST(ReadAhead, ResultsComeInTheOrderPushedWhateverTheThreads) {
    for (const std::size_t threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        std::vector<int> taken;
        {
            ReadAhead<int> ahead(threads);
            int pushed = 0;
            const auto push = [&] {
                const int n = pushed++;
                ahead.Push([n] {
                    // Later jobs often end first.
                    std::this_thread::sleep_for(std::chrono::microseconds((n * 37) % 300));
                    if (n == 13)
                        throw std::runtime_error("thirteen");
                    return n;
                });
            };
            for (int round = 0; round < 60; ++round) {
                push();
                if (round % 3 != 2)
                    push();
                try {
                    taken.push_back(ahead.Take());
                } catch (const std::runtime_error& e) {
                    EXPECT_STREQ(e.what(), "thirteen");
                    taken.push_back(-1);
                }
            }
            // Jobs left untaken are dropped, not waited for.
            ASSERT_GT(pushed, 60);
        }
        std::vector<int> expected;
        for (int n = 0; n < 60; ++n)
            expected.push_back(n == 13 ? -1 : n);
        EXPECT_EQ(taken, expected);
    }
}

} // namespace
} // namespace tbx::site
