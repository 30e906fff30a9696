// What an extraction would replace: a help file written with our own
// writer, and a folder that holds the same, other or no files.

#include "chm/writer.h"
#include "decompile/extract_conflicts.h"
#include "res/strings.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

// Larger than one compared piece and compressed, so the comparison reads
// across pieces and through the decoder.
const std::string kBig = [] {
    std::string text;
    for (int i = 0; text.size() < 200000; ++i)
        text += "строка " + std::to_string(i * 7919 % 100003) + "\n";
    return text;
}();

std::string WriteHelp(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& files) {
    chm::Writer writer;
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(writer.Add(name, bytes), "") << name;
    EXPECT_EQ(writer.Add("/#SYSTEM", "internal", chm::Storage::Uncompressed), "");
    EXPECT_EQ(writer.Finish(path), "");
    return path;
}

TEST(ExtractConflicts, OnlyFilesWhoseBytesWouldChangeCount) {
    TempDir dir;
    const std::string help = WriteHelp(dir / "help.chm", {{"/a.htm", "alpha"},
                                                          {"/big.txt", kBig},
                                                          {"/sub/b.htm", "beta"},
                                                          {"/sub/deep/c.htm", "gamma"}});
    const std::string out = dir / "out/";
    // Each case: what the folder holds before the check, and the conflicts.
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::vector<std::string> conflicts;
    };
    std::string changedBig = kBig;
    changedBig[150000] = 'X'; // same size, differs in the third piece
    const std::vector<Case> cases = {
        {"empty folder", [] {}, {}},
        {"same bytes",
         [&] {
             WriteFile(out + "a.htm", "alpha");
             WriteFile(out + "big.txt", kBig);
             WriteFile(out + "sub/b.htm", "beta");
         },
         {}},
        {"internal stream named like a file", [&] { WriteFile(out + "#SYSTEM", "mine"); }, {}},
        {"same size, other bytes", [&] { WriteFile(out + "big.txt", changedBig); }, {"big.txt"}},
        {"other size", [&] { WriteFile(out + "sub/b.htm", "beta, edited"); }, {"sub/b.htm"}},
        {"folder at a file's name", [&] { fs::create_directories(out + "a.htm"); }, {"a.htm"}},
        {"link to equal bytes at a file's name",
         [&] {
             WriteFile(dir / "alpha", "alpha");
             fs::create_symlink(dir / "alpha", out + "a.htm");
         },
         {"a.htm"}},
        {"file on the way", [&] { WriteFile(out + "sub/deep", "x"); }, {"sub/deep/c.htm"}},
        {"link on the way",
         [&] {
             fs::remove(out + "sub");
             fs::create_directory_symlink(dir.Path(), out + "sub");
         },
         {"sub/b.htm", "sub/deep/c.htm"}},
        {"unreadable file of equal bytes",
         [&] {
             WriteFile(out + "a.htm", "alpha");
             fs::permissions(out + "a.htm", fs::perms::none);
         },
         {"a.htm"}},
    };
    for (const Case& c : cases) {
        // Root reads the file anyway: that case then proves nothing.
        if (std::string(c.what).starts_with("unreadable") && ::geteuid() == 0)
            continue;
        fs::remove_all(out);
        fs::create_directories(out + "sub");
        c.prepare();
        const ExtractConflicts found = FindExtractConflicts(help, out);
        EXPECT_EQ(found.count, c.conflicts.size()) << c.what;
        EXPECT_EQ(found.names, c.conflicts) << c.what;
    }
}

TEST(ExtractConflicts, EveryConflictCountsButOnlyTheFirstAreNamed) {
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 12; ++i)
        files.emplace_back("/p" + std::to_string(10 + i) + ".htm", "page " + std::to_string(i));
    const std::string help = WriteHelp(dir / "help.chm", files);
    fs::create_directories(dir / "out");
    for (const auto& [name, bytes] : files)
        WriteFile(dir / ("out" + name), bytes + " edited");
    WriteFile(dir / "out/p15.htm", "page 5"); // one of them unchanged

    const ExtractConflicts found = FindExtractConflicts(help, dir / "out");

    EXPECT_EQ(found.count, 11u);
    ASSERT_EQ(found.names.size(), kConflictNamesShown);
    EXPECT_EQ(found.names.front(), "p10.htm");
    EXPECT_EQ(found.names[5], "p16.htm"); // directory order, the unchanged one left out
    EXPECT_EQ(
        ConflictReport(found).rfind(FillString(kMsgExtractWouldReplace, {"11"}) + "\np10.htm\n", 0),
        0u);
    // No help file to read: nothing known, the extraction itself will say why.
    EXPECT_EQ(FindExtractConflicts(dir / "out/p10.htm", dir / "out").count, 0u);
    // A stored name cannot retitle the terminal or forge a line of the report.
    const std::string forged = ConflictReport({1, {"a\x1b]0;x\x07\rb.htm"}});
    EXPECT_EQ(forged.find_first_of("\x1b\x07\r"), std::string::npos) << forged;
    EXPECT_NE(forged.find("b.htm"), std::string::npos) << forged;
}

} // namespace
} // namespace tbx
