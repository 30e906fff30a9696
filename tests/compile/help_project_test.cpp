#include "compile/help_project.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <gtest/gtest.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class HelpProjectTest : public ::testing::Test {
protected:
    HelpProjectTest() : hive(store.Path()) {}

    void Set(const char* key, const char* name, const char* text) {
        COptKey k;
        ASSERT_EQ(k.OpenOrCreate(hive, key), kErrorSuccess);
        ASSERT_EQ(k.SetText(name, text), kErrorSuccess);
    }

    HelpProjectInput Input(const std::string& page, const std::string& title = "Help") {
        return {page, site / "out.chm", title, {1024, 768}, "/opt/tomebox/", site.Path().string()};
    }

    std::string Definition(std::string_view title = "T", ScreenSize screen = {1024, 768}) {
        return BuildWindowDefinition(hive, title, "/opt/tomebox/about.htm", screen);
    }

    TempDir store;
    TempDir site;
    RegHive hive;
};

TEST_F(HelpProjectTest, FirstRunDefaultsGiveTheWholeProjectByteForByte) {
    WriteFirstRunDefaults(hive);
    const std::string page = site / "start.htm";
    WriteFile(page, "<html></html>");

    const HelpProjectResult result = WriteHelpProject(hive, Input(page, "My help"));

    ASSERT_TRUE(result.Ok()) << result.error;
    EXPECT_EQ(result.projectPath, site / "Tomebox!.hhp");
    EXPECT_EQ(
        ReadFile(result.projectPath),
        "[OPTIONS]\r\n"
        "Compatibility=1.1 or later\r\n"
        "Compiled file=" +
            (site / "out.chm") +
            "\r\n"
            "Default Window=Tomebox\r\n"
            "Default topic=" +
            page +
            "\r\n"
            "Display compile progress=Yes\r\n"
            "Full-text search=No\r\n"
            "Language=0x419 Russian\r\n"
            "\r\n[FILES]\r\n" +
            page +
            "\r\n"
            "\r\n[WINDOWS]\r\n"
            "Tomebox=\"My help\",,,,http://tomebox.example.org/,/opt/tomebox/about.htm,About,,,"
            "8480,0,270398,[86,64,938,704],,,,,,,0\r\n");
    // The working name is gone once the project has its final name.
    EXPECT_FALSE(fs::exists(site / "Tomebox!.ini"));
}

TEST_F(HelpProjectTest, AutomaticRectangleCoversFiveSixthsOfTheScreen) {
    Set(kCmnOptsKey, "AutoSize", "1");
    // Stored positions must not leak into an automatic rectangle.
    Set(kCmnOptsKey, "LSide", "7");
    Set(kCmnOptsKey, "Width", "9");
    EXPECT_NE(Definition("T", {1024, 768}).find(",[86,64,938,704],"), std::string::npos);
    EXPECT_NE(Definition("T", {800, 600}).find(",[67,50,733,550],"), std::string::npos);
    EXPECT_NE(Definition("T", {0, 0}).find(",[0,0,0,0],"), std::string::npos);
}

TEST_F(HelpProjectTest, StoredRectangleIsWrittenUnchangedWithSigns) {
    Set(kCmnOptsKey, "AutoSize", "0");
    Set(kCmnOptsKey, "LSide", "-20");
    Set(kCmnOptsKey, "TSide", "15x");
    Set(kCmnOptsKey, "Width", "640");
    Set(kCmnOptsKey, "Height", "");
    EXPECT_NE(Definition().find(",[-20,15,640,0],"), std::string::npos);
}

TEST_F(HelpProjectTest, NavigationStyleAndFullTextSearchFollowThePanel) {
    Set(kNavOptsKey, "NavSearch", "1");
    Set(kNavOptsKey, "NavFavorites", "1");
    Set(kNavOptsKey, "NavWidth", "250");
    // Without the panel the tabs and full-text search stay off.
    EXPECT_NE(Definition().find(",About,,,8480,250,"), std::string::npos);
    Set(kCmnOptsKey, "SaveCHMWndPos", "1");
    EXPECT_NE(Definition().find(",About,,,270624,250,"), std::string::npos);

    const std::string page = site / "p.htm";
    WriteFile(page, "x");
    auto project = WriteHelpProject(hive, Input(page));
    ASSERT_TRUE(project.Ok());
    EXPECT_NE(ReadFile(project.projectPath).find("Full-text search=No\r\n"), std::string::npos);
    fs::remove(project.projectPath);

    Set(kNavOptsKey, "NavPanel", "1");
    EXPECT_NE(Definition().find(",About,,," + std::to_string(0x42120 + 0x400 + 0x1000) + ",250,"),
              std::string::npos);
    project = WriteHelpProject(hive, Input(page));
    ASSERT_TRUE(project.Ok());
    EXPECT_NE(ReadFile(project.projectPath).find("Full-text search=Yes\r\n"), std::string::npos);
}

TEST_F(HelpProjectTest, ButtonNumberAddsEveryFlagAndTheUserLink) {
    // No BtnOpts key: only the about button.
    EXPECT_NE(Definition().find(",0,262144,["), std::string::npos);

    for (const char* name :
         {"ShowHide", "Options", "Back", "Forward", "Stop", "Refresh", "Home", "Print"})
        Set(kBtnOptsKey, name, "1");
    Set(kBtnOptsKey, "UserLinkUrl", "http://x.example/");
    const int allButtons = 0x40000 + 0x2 + 0x1000 + 0x4 + 0x8 + 0x10 + 0x20 + 0x40 + 0x2000;
    const std::string linkOff = Definition();
    EXPECT_NE(linkOff.find(",About,,,8480,0," + std::to_string(allButtons) + ",["),
              std::string::npos);

    // A link with empty texts: same fields, but the second jump button is on.
    Set(kBtnOptsKey, "UserLink", "1");
    Set(kBtnOptsKey, "UserLinkUrl", "");
    std::string expected = linkOff;
    expected.replace(expected.find(std::to_string(allButtons)), std::to_string(allButtons).size(),
                     std::to_string(allButtons + 0x80000));
    EXPECT_EQ(Definition(), expected);

    Set(kBtnOptsKey, "UserLinkUrl", "http://x.example/");
    Set(kBtnOptsKey, "UserLinkTitle", "Сайт");
    EXPECT_NE(Definition().find("/about.htm,About,http://x.example/,Сайт,8480,"),
              std::string::npos);
}

// The caption is the one quoted field: a straight double quote inside the
// title would end it early and shift every field after it. Quotes that pair
// up become guillemets, a lone one the right double quotation mark.
TEST_F(HelpProjectTest, TitleStaysOneWholeCaption) {
    for (const auto& [title, caption] : {
             std::pair{"", "\"\""},
             {"a, b", "\"a, b\""},
             {"Руководство \"Программа\"", "\"Руководство «Программа»\""},
             {"\"Книга\" и (\"Диск\")", "\"«Книга» и («Диск»)\""},
             {"Монитор 17\" и 19\"", "\"Монитор 17” и 19”\""},
             {"Он сказал: \"Да", "\"Он сказал: ”Да\""},
             // A page title may span lines; a line break would start a new INI line.
             {"one\r\ntwo", "\"one  two\""},
         }) {
        const std::string definition = Definition(title);
        EXPECT_EQ(definition.substr(0, definition.find(",,,,")), caption) << title;
    }
}

TEST_F(HelpProjectTest, ProjectIsWindows1251WithQuestionMarksForForeignTitleCharacters) {
    const fs::path folder = site.Path() / "Мой сайт 'v2'";
    fs::create_directory(folder);
    const std::string page = (folder / "начало.htm").string();
    WriteFile(page, "x");

    const auto result = WriteHelpProject(hive, Input(page, "Справка ≈ \"2\""));

    ASSERT_TRUE(result.Ok()) << result.error;
    const std::string bytes = ReadFile(result.projectPath);
    EXPECT_NE(bytes.find("Default topic=" + *EncodeCp1251Exact(page) + "\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Tomebox=\"" + *EncodeCp1251Exact("Справка ? «2»") + "\","),
              std::string::npos);
    EXPECT_TRUE(IsValidUtf8("ascii only") && !IsValidUtf8(bytes));
}

TEST_F(HelpProjectTest, PathsThatCannotBeWrittenStopTheBuildWithNothingWritten) {
    const fs::path folder = site.Path() / "中文";
    fs::create_directory(folder);
    const std::string page = (folder / "a.htm").string();
    WriteFile(page, "x");

    auto result = WriteHelpProject(hive, Input(page));
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.error.find(LoadString(kMsgPathNotWritable1251)), 0u);
    EXPECT_NE(result.error.find(page), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    const std::string plain = site / "a.htm";
    WriteFile(plain, "x");
    HelpProjectInput input = Input(plain);
    input.outputPath = site / "line\nbreak.chm";
    EXPECT_FALSE(WriteHelpProject(hive, input).Ok());
    EXPECT_FALSE(fs::exists(site / "Tomebox!.hhp"));
}

TEST_F(HelpProjectTest, RelativePageAndMissingProjectFolderAreReported) {
    auto result = WriteHelpProject(hive, Input("start.htm"));
    EXPECT_EQ(result.error.find(LoadString(kMsgPagePathNotFull)), 0u);

    HelpProjectInput input = Input(site / "start.htm");
    input.projectFolder = site / "gone";
    result = WriteHelpProject(hive, input);
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.error.find(LoadString(kMsgProjectWriteFailed)), 0u);
    EXPECT_TRUE(result.projectPath.empty());
}

TEST_F(HelpProjectTest, FilesAlreadyThereAreNeitherMergedNorReplaced) {
    const std::string page = site / "start.htm";
    WriteFile(page, "x");
    WriteFile(site / "Tomebox!.ini", "[OPTIONS]\r\nStale=1\r\n");
    WriteFile(site / "Tomebox!-2.hhp", "the user's own project");

    const auto result = WriteHelpProject(hive, Input(page));

    ASSERT_TRUE(result.Ok()) << result.error;
    EXPECT_EQ(result.projectPath, site / "Tomebox!-3.hhp");
    EXPECT_EQ(ReadFile(site / "Tomebox!.ini"), "[OPTIONS]\r\nStale=1\r\n");
    EXPECT_EQ(ReadFile(site / "Tomebox!-2.hhp"), "the user's own project");
    EXPECT_EQ(ReadFile(result.projectPath).find("Stale"), std::string::npos);
    EXPECT_FALSE(fs::exists(site / "Tomebox!-3.ini"));
}

TEST_F(HelpProjectTest, ReadOptionTextStopsAtItsBufferAndAtZero) {
    Set(kBtnOptsKey, "UserLinkTitle", "");
    COptKey key;
    ASSERT_EQ(key.Open(hive, kBtnOptsKey), kErrorSuccess);
    EXPECT_EQ(ReadOptionText(key, "UserLinkTitle"), "");
    EXPECT_EQ(ReadOptionText(key, "Missing"), "");
    Set(kBtnOptsKey, "UserLinkTitle", std::string(2999, 'a').c_str());
    EXPECT_EQ(ReadOptionText(key, "UserLinkTitle").size(), 2999u);
    Set(kBtnOptsKey, "UserLinkTitle", std::string(3000, 'a').c_str());
    EXPECT_EQ(ReadOptionText(key, "UserLinkTitle"), "");
}

} // namespace
} // namespace tbx
