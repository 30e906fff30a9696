#include "app/command_line.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tbx {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, ParsesOneFileTheDecompileSwitchAndHelpOrVersion) {
    const struct {
        std::vector<std::string> args;
        Action action;
        bool decompile;
        std::string file;
    } cases[] = {
        {{}, Action::Run, false, ""},
        {{"/site/start.htm"}, Action::Run, false, "/site/start.htm"},
        {{"сайт/../справка.chm"}, Action::Run, false, "/home/u/справка.chm"},
        {{"./папка с пробелом/"}, Action::Run, false, "/home/u/папка с пробелом/"},
        {{"--decompile"}, Action::Run, true, ""},
        {{"--decompile", "a.chm"}, Action::Run, true, "/home/u/a.chm"},
        {{"--", "-file-with-dash"}, Action::Run, false, "/home/u/-file-with-dash"},
        {{"-"}, Action::Run, false, "/home/u/-"},
        {{"--help"}, Action::Help, false, ""},
        {{"a.htm", "-h"}, Action::Help, false, ""},
        {{"--bogus", "--version"}, Action::Version, false, ""},
        {{"--", "--help"}, Action::Run, false, "/home/u/--help"},
        {{"--bogus"}, Action::Error, false, ""},
        {{"a.htm", "b.htm"}, Action::Error, false, ""},
        {{""}, Action::Error, false, ""},
    };
    for (const auto& c : cases) {
        const CommandLine line = ParseCommandLine(c.args, "/home/u");
        const std::string shown = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(line.action, c.action) << shown;
        EXPECT_EQ(line.action == Action::Error, !line.error.empty()) << shown;
        if (line.action == Action::Run) {
            EXPECT_EQ(line.decompile, c.decompile) << shown;
            EXPECT_EQ(line.file, c.file) << shown;
        }
    }
}

TEST(CommandLine, StartFileKindFollowsWhatIsOnDisk) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.Path() / "site.chm"); // a folder, whatever its name
    test::WriteFile(dir / "Help.CHM", "x");
    test::WriteFile(dir / "page.html", "x");
    test::WriteFile(dir / "notes", "x");
    EXPECT_EQ(KindOfStartFile(dir / "site.chm"), StartFileKind::Folder);
    EXPECT_EQ(KindOfStartFile(dir.Path().string()), StartFileKind::Folder);
    EXPECT_EQ(KindOfStartFile(dir / "Help.CHM"), StartFileKind::HelpFile);
    EXPECT_EQ(KindOfStartFile(dir / "page.html"), StartFileKind::Page);
    EXPECT_EQ(KindOfStartFile(dir / "notes"), StartFileKind::Page);
    EXPECT_EQ(KindOfStartFile(dir / "gone.chm"), StartFileKind::Missing);
}

} // namespace
} // namespace tbx
