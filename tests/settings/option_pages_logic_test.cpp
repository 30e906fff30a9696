#include "settings/opt_store.h"
#include "settings/option_pages_logic.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Items = std::vector<std::string>;

class OptionPagesLogicTest : public ::testing::Test {
protected:
    fs::path Value(const char* keyPath, const char* name) const {
        return hive.KeyDir(keyPath) / name;
    }
    std::string Stored(const char* keyPath, const char* name) const {
        return ReadFile(Value(keyPath, name));
    }
    void Store(const char* keyPath, const char* name, const char* text) {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(hive, keyPath), kErrorSuccess);
        ASSERT_EQ(key.SetText(name, text), kErrorSuccess);
    }

    TempDir root;
    RegHive hive{root.Path()};
};

TEST_F(OptionPagesLogicTest, PagesThatOnlyOpenFindNothingAndCreateNothing) {
    EXPECT_FALSE(LoadCmnOptions(hive));
    EXPECT_FALSE(LoadBtnOptions(hive));
    EXPECT_FALSE(LoadDecOptions(hive));
    EXPECT_FALSE(fs::exists(hive.KeyDir(kCmnOptsKey)));
    EXPECT_FALSE(fs::exists(hive.KeyDir(kBtnOptsKey)));
    EXPECT_FALSE(fs::exists(hive.KeyDir(kDecOptsKey)));

    // The navigation and index pages create their key and read it empty.
    EXPECT_EQ(LoadNavOptions(hive), (NavOptValues{false, "0", false, false}));
    EXPECT_TRUE(fs::is_directory(hive.KeyDir(kNavOptsKey)));
    EXPECT_EQ(LoadIndOptions(hive), IndOptValues{});
    EXPECT_TRUE(fs::is_directory(hive.KeyDir(kIndOptsKey)));
}

TEST_F(OptionPagesLogicTest, FirstRunDefaultsLoadAsStored) {
    WriteFirstRunDefaults(hive);
    const CmnOptValues cmn = *LoadCmnOptions(hive);
    EXPECT_TRUE(cmn.autoSize);
    EXPECT_TRUE(cmn.openAfterCompile);
    EXPECT_FALSE(cmn.saveChmWndPos);
    EXPECT_EQ(cmn.width, "300");
    EXPECT_EQ(cmn.lSide, "0");
    const BtnOptValues btn = *LoadBtnOptions(hive);
    EXPECT_TRUE(btn.showHide && btn.back && btn.forward && btn.stop && btn.refresh && btn.print);
    EXPECT_FALSE(btn.options || btn.home || btn.userLink);
    EXPECT_EQ(*LoadDecOptions(hive), (DecOptValues{true, true, false}));
    EXPECT_EQ(LoadIndOptions(hive), (IndOptValues{true, false, false, "Default", ""}));
}

TEST_F(OptionPagesLogicTest, EveryValueRoundTripsAndIsStoredAsText) {
    const CmnOptValues cmn{true, false, "12", "34", "640", "480", true, false, true, false};
    const BtnOptValues btn{false,         true,  false, true, false,
                           true,          false, true,  true, "http://пример.рф/?a=1&b=2",
                           "Домой «сюда»"};
    const NavOptValues nav{true, "250", false, true};
    const DecOptValues dec{false, true, true};
    const IndOptValues ind{false, true, true, "/usr/share/стили/", "тёмный.css"};
    ASSERT_TRUE(SaveCmnOptions(hive, cmn).Ok());
    ASSERT_TRUE(SaveBtnOptions(hive, btn).Ok());
    ASSERT_TRUE(SaveNavOptions(hive, nav).Ok());
    ASSERT_TRUE(SaveDecOptions(hive, dec).Ok());
    ASSERT_TRUE(SaveIndOptions(hive, ind).Ok());

    EXPECT_EQ(*LoadCmnOptions(hive), cmn);
    EXPECT_EQ(*LoadBtnOptions(hive), btn);
    EXPECT_EQ(LoadNavOptions(hive), nav);
    EXPECT_EQ(*LoadDecOptions(hive), dec);
    EXPECT_EQ(LoadIndOptions(hive), ind);

    // Flags are "1" and "0"; numbers and texts exactly as typed.
    EXPECT_EQ(Stored(kCmnOptsKey, "SaveCHMWndPos"), "1");
    EXPECT_EQ(Stored(kCmnOptsKey, "AutoSize"), "0");
    EXPECT_EQ(Stored(kCmnOptsKey, "Width"), "640");
    EXPECT_EQ(Stored(kBtnOptsKey, "ShowHide"), "0");
    EXPECT_EQ(Stored(kBtnOptsKey, "UserLinkTitle"), "Домой «сюда»");
    EXPECT_EQ(Stored(kNavOptsKey, "NavWidth"), "250");
    EXPECT_EQ(Stored(kIndOptsKey, "CSSStyle"), "тёмный.css");
}

TEST_F(OptionPagesLogicTest, NumbersLoadAsSignedDecimalAndEmptyStoresEmpty) {
    Store(kCmnOptsKey, "LSide", "-15");
    Store(kCmnOptsKey, "TSide", "42px");
    Store(kCmnOptsKey, "Width", "");
    const CmnOptValues cmn = *LoadCmnOptions(hive);
    EXPECT_EQ(cmn.lSide, "-15");
    EXPECT_EQ(cmn.tSide, "42");
    EXPECT_EQ(cmn.width, "0");
    EXPECT_EQ(cmn.height, "0");

    ASSERT_TRUE(SaveNavOptions(hive, {true, "", false, false}).Ok());
    EXPECT_EQ(Stored(kNavOptsKey, "NavWidth"), "");
    EXPECT_EQ(LoadNavOptions(hive).navWidth, "0");
}

TEST_F(OptionPagesLogicTest, AutomaticSizeLeavesTheStoredNumbersAlone) {
    WriteFirstRunDefaults(hive);
    Store(kCmnOptsKey, "LSide", "007");
    ASSERT_TRUE(
        SaveCmnOptions(hive, {false, true, "1", "2", "999", "4", false, false, false, false}).Ok());
    EXPECT_EQ(Stored(kCmnOptsKey, "AutoSize"), "1");
    EXPECT_EQ(Stored(kCmnOptsKey, "LSide"), "007");
    EXPECT_EQ(Stored(kCmnOptsKey, "Width"), "300");
    // The flags without a first-run default are stored from now on.
    for (const char* name : {"SaveCHMWndPos", "ChangeChmOutDir", "ConsentOnRewrite",
                             "QuitAfterCompile", "OpenAfterCompile"})
        EXPECT_EQ(Stored(kCmnOptsKey, name), "0") << name;

    ASSERT_TRUE(
        SaveCmnOptions(hive, {false, false, "1", "2", "999", "4", false, false, false, false})
            .Ok());
    EXPECT_EQ(Stored(kCmnOptsKey, "LSide"), "1");
    EXPECT_EQ(Stored(kCmnOptsKey, "Width"), "999");
}

TEST_F(OptionPagesLogicTest, UserLinkOffKeepsTheAddressAndCaption) {
    BtnOptValues btn;
    btn.userLink = true;
    btn.userLinkUrl = "https://example.org/";
    btn.userLinkTitle = "Сайт";
    ASSERT_TRUE(SaveBtnOptions(hive, btn).Ok());

    btn.userLink = false;
    btn.userLinkUrl = "changed while off";
    btn.userLinkTitle.clear();
    ASSERT_TRUE(SaveBtnOptions(hive, btn).Ok());
    const BtnOptValues loaded = *LoadBtnOptions(hive);
    EXPECT_FALSE(loaded.userLink);
    EXPECT_EQ(loaded.userLinkUrl, "https://example.org/");
    EXPECT_EQ(loaded.userLinkTitle, "Сайт");
}

TEST_F(OptionPagesLogicTest, AValueTheReadersCannotTakeBackIsRefusedBeforeAnyWrite) {
    WriteFirstRunDefaults(hive);
    IndOptValues ind = LoadIndOptions(hive);
    ind.copyCss = true;
    ind.cssPath = "/" + std::string(2998, 'a'); // 2999 bytes: the most a reader takes
    EXPECT_TRUE(SaveIndOptions(hive, ind).Ok());
    EXPECT_EQ(LoadIndOptions(hive).cssPath, ind.cssPath);

    ind.copyCss = false;
    ind.cssPath += "я";
    const OptSaveResult result = SaveIndOptions(hive, ind);
    EXPECT_EQ(result.code, kErrorMoreData);
    EXPECT_EQ(result.value, "CSSPath");
    EXPECT_EQ(Stored(kIndOptsKey, "CopyCSS"), "1"); // nothing of the page written

    const OptSaveResult number = SaveNavOptions(hive, {true, "1234567890", false, false});
    EXPECT_EQ(number.code, kErrorMoreData);
    EXPECT_EQ(number.value, "NavWidth");
    EXPECT_TRUE(SaveNavOptions(hive, {true, "123456789", false, false}).Ok());
    EXPECT_EQ(LoadNavOptions(hive).navWidth, "123456789");
}

// A value that cannot be written (here a sub-key stands where it would go)
// fails the save of its page, and the values the page wrote before it must
// not stay: the page is stored whole or not at all.
TEST_F(OptionPagesLogicTest, APageIsStoredWholeOrNotAtAll) {
    WriteFirstRunDefaults(hive);
    fs::create_directory(Value(kCmnOptsKey, "QuitAfterCompile"));
    const auto contents = [&] {
        std::map<std::string, std::string> values;
        for (const auto& entry : fs::directory_iterator(hive.KeyDir(kCmnOptsKey)))
            values[entry.path().filename().string()] =
                entry.is_directory() ? "<dir>" : ReadFile(entry.path());
        return values;
    };
    const auto before = contents();

    const OptSaveResult result =
        SaveCmnOptions(hive, {true, false, "1", "2", "3", "4", false, true, true, true});

    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.value, "QuitAfterCompile");
    EXPECT_EQ(contents(), before);
    // Nothing of the attempt is left beside the key either.
    EXPECT_EQ(std::distance(fs::directory_iterator(hive.KeyDir("Software/Tomebox")),
                            fs::directory_iterator()),
              4);
}

TEST_F(OptionPagesLogicTest, AKeyThatCannotBeWrittenIsReported) {
    // A file where the options folder should be: no key can be created.
    WriteFile(root.Path() / "Software", "not a folder");
    const OptSaveResult result = SaveDecOptions(hive, {true, true, true});
    EXPECT_FALSE(result.Ok());
    EXPECT_TRUE(result.value.empty());
    EXPECT_FALSE(SaveCmnOptions(hive, CmnOptValues{}).Ok());
}

TEST(CssFolderTest, DefaultInAnyCaseIsTheFolderBesideTheProgram) {
    for (const char* text : {"Default", "default", "DEFAULT"})
        EXPECT_EQ(CssFolder(text, "/opt/tomebox/"), "/opt/tomebox/css_dir/") << text;
    EXPECT_EQ(CssFolder("Defaults", "/opt/tomebox/"), "Defaults/");
    EXPECT_EQ(CssFolder("/home/u/css", "/p/"), "/home/u/css/");
    EXPECT_EQ(CssFolder("/home/u/css/", "/p/"), "/home/u/css/");
    EXPECT_EQ(CssFolder("", "/p/"), ""); // no folder, not the root
}

TEST(CssListTest, ListsStyleSheetsSortedWithoutRegardToCase) {
    TempDir folder;
    for (const char* name : {"b.css", "A.CSS", "c.Css", "Яркий.css", "ясный.css", "notes.txt",
                             ".css", "style.css.bak"})
        WriteFile(folder.Path() / name, "body{}");
    fs::create_directory(folder.Path() / "folder.css");
    const Items expected = {"A.CSS", "b.css", "c.Css", "Яркий.css", "ясный.css"};
    EXPECT_EQ(ListCssFiles(folder.Path().string() + "/"), expected);
    EXPECT_EQ(ListCssFiles(folder.Path().string()), expected);
}

TEST(CssListTest, AFolderWithoutStyleSheetsOrMissingOffersNoCss) {
    TempDir folder;
    WriteFile(folder.Path() / "index.html", "<html>");
    EXPECT_EQ(ListCssFiles(folder.Path().string() + "/"), Items{kNoCss});
    EXPECT_EQ(ListCssFiles(folder / "missing/"), Items{kNoCss});
    EXPECT_EQ(ListCssFiles(""), Items{kNoCss});
}

TEST(CssListTest, StoredStyleIsFoundExactlyThenByItsBeginning) {
    const Items items = {"blue.css", "blue.css.old.css", "Green.css", "green2.css"};
    EXPECT_EQ(FindCssItem(items, "blue.css"), 0u); // not the longer name after it
    EXPECT_EQ(FindCssItem(items, "GREEN.CSS"), 2u);
    // By beginning: from the second item on, the first item last.
    EXPECT_EQ(FindCssItem(items, "green"), 2u);
    EXPECT_EQ(FindCssItem(items, "blu"), 1u);
    EXPECT_EQ(FindCssItem(items, "gone.css"), 0u);
    EXPECT_EQ(FindCssItem(items, ""), 0u);
    EXPECT_EQ(FindCssItem({"Тёмный.css", "ясный.css"}, "ЯСНЫЙ"), 1u);
    EXPECT_EQ(FindCssItem({kNoCss}, "old.css"), 0u);
}

} // namespace
} // namespace tbx
