#include "controls/path_helpers.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

class PathHelpersTest : public ::testing::Test {
protected:
    // The temporary folder's path with a trailing "/".
    std::string Root() const { return dir_.Path().string() + "/"; }

    TempDir dir_;
};

TEST_F(PathHelpersTest, CreatesEveryMissingFolderUpToTheLastSlash) {
    EXPECT_TRUE(CreateDirPath(Root() + "a/b/c/"));
    EXPECT_TRUE(fs::is_directory(Root() + "a/b/c"));

    // The final name has no "/" after it, so it is not a folder to create.
    EXPECT_TRUE(CreateDirPath(Root() + "x/y/file.txt"));
    EXPECT_TRUE(fs::is_directory(Root() + "x/y"));
    EXPECT_FALSE(fs::exists(Root() + "x/y/file.txt"));

    // Everything already there: nothing to do, still a success.
    EXPECT_TRUE(CreateDirPath(Root() + "a/b/c/"));
    EXPECT_TRUE(CreateDirPath(Root()));
}

TEST_F(PathHelpersTest, DoubledSlashesCountAsOne) {
    const std::string root = dir_.Path().string();
    EXPECT_TRUE(CreateDirPath("/" + root + "//d1///d2//"));
    EXPECT_TRUE(fs::is_directory(root + "/d1/d2"));
}

TEST_F(PathHelpersTest, RelativeAndTooShortPathsCreateNothing) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_.Path());
    EXPECT_FALSE(CreateDirPath("rel/sub/"));
    EXPECT_FALSE(CreateDirPath("./rel/"));
    EXPECT_FALSE(CreateDirPath("abc"));
    fs::current_path(before);
    EXPECT_TRUE(fs::is_empty(dir_.Path()));

    EXPECT_FALSE(CreateDirPath(""));
    EXPECT_FALSE(CreateDirPath("/"));
    EXPECT_FALSE(CreateDirPath("//"));
    EXPECT_FALSE(CreateDirPath("/tomebox-never-made"));
}

TEST_F(PathHelpersTest, StopsAtAPrefixThatCannotBeAFolder) {
    WriteFile(Root() + "file", "x");
    EXPECT_FALSE(CreateDirPath(Root() + "file/sub/"));
    EXPECT_FALSE(CreateDirPath(Root() + "file/"));
    EXPECT_TRUE(fs::is_regular_file(Root() + "file"));

    // Folders made before the failing one stay.
    const std::string tooLong(300, 'n');
    EXPECT_FALSE(CreateDirPath(Root() + "kept/" + tooLong + "/inner/"));
    EXPECT_TRUE(fs::is_directory(Root() + "kept"));

    fs::create_symlink(Root() + "nowhere", Root() + "dangling");
    EXPECT_FALSE(CreateDirPath(Root() + "dangling/sub/"));
}

TEST_F(PathHelpersTest, LinkToAFolderCountsAsAFolder) {
    fs::create_directory(Root() + "real");
    fs::create_directory_symlink(Root() + "real", Root() + "link");
    EXPECT_TRUE(CreateDirPath(Root() + "link/inside/"));
    EXPECT_TRUE(fs::is_directory(Root() + "real/inside"));
}

TEST_F(PathHelpersTest, AssignFolderPathKeepsFoldersAndCutsTheRest) {
    fs::create_directory(Root() + "sub");
    WriteFile(Root() + "sub/page.htm", "x");
    std::string target = "previous content";

    AssignFolderPath(target, Root() + "sub");
    EXPECT_EQ(target, Root() + "sub");
    AssignFolderPath(target, Root() + "sub/");
    EXPECT_EQ(target, Root() + "sub/");

    AssignFolderPath(target, Root() + "sub/missing.txt");
    EXPECT_EQ(target, Root() + "sub/");
    AssignFolderPath(target, Root() + "sub/page.htm");
    EXPECT_EQ(target, Root() + "sub/");
    AssignFolderPath(target, Root() + "gone/deeper/");
    EXPECT_EQ(target, Root() + "gone/deeper/");

    AssignFolderPath(target, "no-slash-name");
    EXPECT_EQ(target, "no-slash-name");
    AssignFolderPath(target, "");
    EXPECT_EQ(target, "");
}

} // namespace
} // namespace tbx

namespace tbx {
namespace {

TEST_F(PathHelpersTest, PickerStartsInTheNearestExistingFolderOfItsField) {
    fs::create_directories(Root() + "a/b");
    WriteFile(Root() + "a/b/page.htm", "x");
    const struct {
        std::string field;
        std::string start;
    } cases[] = {
        {Root() + "a/b/page.htm", Root() + "a/b/"},
        {Root() + "a/b", Root() + "a/b/"},
        {Root() + "a//b/", Root() + "a/b/"},
        {Root() + "a/missing/deeper/out.chm", Root() + "a/"},
        {Root() + "a/b/page.htm/x", Root() + "a/b/"}, // a file is no folder
        {"/no-such-folder-here/out.chm", ""},         // only the root is left
        {"/out.chm", "/"},
        {"/", "/"},
        {"relative/page.htm", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PickerStartFolder(c.field), c.start) << c.field;
}

} // namespace
} // namespace tbx
