#include "app/build_dlg.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "fake_dialogs.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "settings/option_pages.h"
#include "settings/options_sheet.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScriptedDialogs;
using test::TempDir;
using test::WriteFile;

enum Tab { kCmnTab, kBtnTab, kNavTab, kDecTab, kIndTab };

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Every value file under the hive, by path, with its text.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
    }
    return files;
}

class OptionsSheetTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFirstRunDefaults(hive); }

    // A new sheet, shown on its first page, as the build window opens it.
    COptsPrSheet& Open() {
        sheet = std::make_unique<COptsPrSheet>(QStringLiteral("Опции ..."), hive, dialogs,
                                               programDir.Path().string() + "/");
        sheet->show();
        return *sheet;
    }
    void ShowTab(Tab tab) { sheet->Tabs()->setCurrentIndex(tab); }

    template <typename T> T* Control(Tab tab, int id) const {
        T* control = FindControl<T>(*sheet->Page(tab), id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    QCheckBox* Box(Tab tab, int id) const { return Control<QCheckBox>(tab, id); }
    QLineEdit* Edit(Tab tab, int id) const { return Control<QLineEdit>(tab, id); }
    QComboBox* Styles() const { return Control<QComboBox>(kIndTab, kIdOptCssStyle); }
    QStringList StyleItems() const {
        QStringList items;
        for (int i = 0; i < Styles()->count(); ++i)
            items << Styles()->itemText(i);
        return items;
    }
    void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    std::string Stored(const char* key, const char* name) const {
        return ReadFile(hive.KeyDir(key) / name);
    }
    bool Exists(const char* key, const char* name = "") const {
        return fs::exists(hive.KeyDir(key) / name);
    }
    void Store(const char* key, const char* name, const char* text) {
        COptKey opt;
        ASSERT_EQ(opt.OpenOrCreate(hive, key), kErrorSuccess);
        ASSERT_EQ(opt.SetText(name, text), kErrorSuccess);
    }
    // The style sheets in the css_dir folder beside the program.
    void MakeCssDir(std::initializer_list<const char*> names) {
        fs::create_directory(programDir.Path() / "css_dir");
        for (const char* name : names)
            WriteFile(programDir.Path() / "css_dir" / name, "body{}");
    }

    TempDir store;
    TempDir programDir;
    RegHive hive{store.Path()};
    ScriptedDialogs dialogs;
    std::unique_ptr<COptsPrSheet> sheet;
};

TEST_F(OptionsSheetTest, FivePagesInOrderWithOkCancelApplyAndNoHelp) {
    COptsPrSheet& s = Open();
    EXPECT_EQ(s.windowTitle(), QStringLiteral("Опции ..."));
    EXPECT_FALSE(s.windowIcon().isNull());
    const char* captions[] = {"Общие", "Кнопки", "Навигационная панель", "Разборка", "Индекс"};
    ASSERT_EQ(s.Tabs()->count(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(s.Tabs()->tabText(i), QString::fromUtf8(captions[i]));
    EXPECT_NE(dynamic_cast<CPropCmnOpt*>(s.Page(kCmnTab)), nullptr);
    EXPECT_NE(dynamic_cast<CBtnOptDlg*>(s.Page(kBtnTab)), nullptr);
    EXPECT_NE(dynamic_cast<CNavOpt*>(s.Page(kNavTab)), nullptr);
    EXPECT_NE(dynamic_cast<CDestructOpt*>(s.Page(kDecTab)), nullptr);
    EXPECT_NE(dynamic_cast<CIndOpt*>(s.Page(kIndTab)), nullptr);
    EXPECT_EQ(s.Tabs()->currentIndex(), kCmnTab);
    QStringList texts;
    for (QPushButton* button : s.findChildren<QPushButton*>()) {
        if (!sheet->Tabs()->isAncestorOf(button))
            texts << button->text();
    }
    EXPECT_EQ(texts.size(), 3) << texts.join(u',').toStdString();
    EXPECT_EQ(s.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(s.CancelButton()->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(s.ApplyButton()->text(), QStringLiteral("Применить"));
    EXPECT_FALSE(s.windowFlags() & Qt::WindowContextHelpButtonHint);

    // Only the page on show has loaded; loading its numbers counts as a change.
    EXPECT_TRUE(s.Page(kCmnTab)->IsCreated());
    for (Tab tab : {kBtnTab, kNavTab, kDecTab, kIndTab})
        EXPECT_FALSE(s.Page(tab)->IsCreated()) << tab;
    EXPECT_TRUE(s.ApplyButton()->isEnabled());
}

TEST_F(OptionsSheetTest, OkAtOnceOnFirstStartWritesOnlyTheCommonOptions) {
    Store(kCmnOptsKey, "LSide", "007"); // would read back as "7" if rewritten
    auto before = Snapshot(store.Path());
    Open().OkButton()->click();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);

    EXPECT_EQ(Stored(kCmnOptsKey, "LSide"), "007");
    EXPECT_EQ(Stored(kCmnOptsKey, "Width"), "300");
    EXPECT_EQ(Stored(kCmnOptsKey, "AutoSize"), "1");
    EXPECT_EQ(Stored(kCmnOptsKey, "OpenAfterCompile"), "1");
    for (const char* name :
         {"SaveCHMWndPos", "ChangeChmOutDir", "ConsentOnRewrite", "QuitAfterCompile"}) {
        EXPECT_EQ(Stored(kCmnOptsKey, name), "0") << name;
        before.erase((fs::path("Software/Tomebox/CmnOpts") / name).string());
    }
    // Nothing else changed, nothing else appeared.
    auto after = Snapshot(store.Path());
    for (const char* name :
         {"SaveCHMWndPos", "ChangeChmOutDir", "ConsentOnRewrite", "QuitAfterCompile"})
        after.erase((fs::path("Software/Tomebox/CmnOpts") / name).string());
    EXPECT_EQ(after, before);
    EXPECT_FALSE(Exists(kNavOptsKey));
}

TEST_F(OptionsSheetTest, ATypedSizeIsDroppedWhenAutomaticSizeIsChosenAgain) {
    Open();
    auto* custom = Control<QRadioButton>(kCmnTab, kIdOptCustomSize);
    auto* automatic = Control<QRadioButton>(kCmnTab, kIdOptAutoSize);
    QLineEdit* width = Edit(kCmnTab, kIdOptWidth);
    EXPECT_TRUE(automatic->isChecked());
    EXPECT_EQ(width->text(), QStringLiteral("300"));
    EXPECT_FALSE(width->isEnabled());

    custom->click();
    EXPECT_TRUE(width->isEnabled());
    Type(width, QStringLiteral("64x0-"));
    EXPECT_EQ(width->text(), QStringLiteral("640")); // digits only
    automatic->click();
    EXPECT_FALSE(width->isEnabled());
    sheet->OkButton()->click();
    EXPECT_EQ(Stored(kCmnOptsKey, "AutoSize"), "1");
    EXPECT_EQ(Stored(kCmnOptsKey, "Width"), "300");

    // Kept with the user's own size, and shown so at the next opening.
    Open();
    Control<QRadioButton>(kCmnTab, kIdOptCustomSize)->click();
    Type(Edit(kCmnTab, kIdOptHeight), QStringLiteral("12345678901"));
    sheet->OkButton()->click();
    EXPECT_EQ(Stored(kCmnOptsKey, "AutoSize"), "0");
    EXPECT_EQ(Stored(kCmnOptsKey, "Height"), "123456789"); // no more than a reader takes
    Open();
    EXPECT_TRUE(Control<QRadioButton>(kCmnTab, kIdOptCustomSize)->isChecked());
    EXPECT_TRUE(Edit(kCmnTab, kIdOptHeight)->isEnabled());
    EXPECT_EQ(Edit(kCmnTab, kIdOptHeight)->text(), QStringLiteral("123456789"));
}

TEST_F(OptionsSheetTest, UserLinkOffKeepsTheStoredAddressAndCaption) {
    Store(kBtnOptsKey, "UserLink", "1");
    Store(kBtnOptsKey, "UserLinkUrl", "https://example.org/помощь");
    Store(kBtnOptsKey, "UserLinkTitle", "Помощь");
    Open();
    ShowTab(kBtnTab);
    QCheckBox* link = Box(kBtnTab, kIdOptUserLink);
    QLineEdit* url = Edit(kBtnTab, kIdOptUserLinkUrl);
    EXPECT_TRUE(link->isChecked());
    EXPECT_TRUE(url->isEnabled());
    EXPECT_EQ(url->text(), QStringLiteral("https://example.org/помощь"));

    // Toolbar boxes are saved but do not count as a change.
    Box(kBtnTab, kIdOptHome)->click();
    EXPECT_FALSE(sheet->Page(kBtnTab)->IsModified());
    link->click();
    EXPECT_TRUE(sheet->Page(kBtnTab)->IsModified());
    EXPECT_FALSE(url->isEnabled());
    EXPECT_FALSE(Edit(kBtnTab, kIdOptUserLinkTitle)->isEnabled());
    url->setText(QStringLiteral("ignored while off"));
    sheet->OkButton()->click();
    EXPECT_EQ(Stored(kBtnOptsKey, "UserLink"), "0");
    EXPECT_EQ(Stored(kBtnOptsKey, "Home"), "1");
    EXPECT_EQ(Stored(kBtnOptsKey, "UserLinkUrl"), "https://example.org/помощь");
    EXPECT_EQ(Stored(kBtnOptsKey, "UserLinkTitle"), "Помощь");

    Open();
    ShowTab(kBtnTab);
    EXPECT_FALSE(Box(kBtnTab, kIdOptUserLink)->isChecked());
    EXPECT_EQ(Edit(kBtnTab, kIdOptUserLinkTitle)->text(), QStringLiteral("Помощь"));
    Box(kBtnTab, kIdOptUserLink)->click();
    EXPECT_TRUE(Edit(kBtnTab, kIdOptUserLinkUrl)->isEnabled());
}

TEST_F(OptionsSheetTest, ShowingTheNavigationPageCreatesItsKey) {
    Open();
    EXPECT_FALSE(Exists(kNavOptsKey));
    ShowTab(kNavTab);
    EXPECT_TRUE(Exists(kNavOptsKey));
    EXPECT_FALSE(Box(kNavTab, kIdOptNavPanel)->isChecked());
    EXPECT_EQ(Edit(kNavTab, kIdOptNavWidth)->text(), QStringLiteral("0"));
    for (int id : {kIdOptNavWidth, kIdOptNavSearch, kIdOptNavFavorites})
        EXPECT_FALSE(Control<QWidget>(kNavTab, id)->isEnabled()) << id;
    EXPECT_TRUE(sheet->Page(kNavTab)->IsModified());

    Box(kNavTab, kIdOptNavPanel)->click();
    for (int id : {kIdOptNavWidth, kIdOptNavSearch, kIdOptNavFavorites})
        EXPECT_TRUE(Control<QWidget>(kNavTab, id)->isEnabled()) << id;
    Box(kNavTab, kIdOptNavPanel)->click();
    EXPECT_FALSE(Edit(kNavTab, kIdOptNavWidth)->isEnabled());

    sheet->OkButton()->click();
    for (const char* name : {"NavFavorites", "NavSearch", "NavPanel", "NavWidth"})
        EXPECT_EQ(Stored(kNavOptsKey, name), "0") << name;
}

TEST_F(OptionsSheetTest, StyleListFromDefaultSelectsTheStoredStyle) {
    MakeCssDir({"Zeta.css", "alpha.css", "readme.txt"});
    Store(kIndOptsKey, "CSSPath", "DEFAULT");
    Store(kIndOptsKey, "CSSStyle", "zeta.css");
    Open();
    ShowTab(kIndTab);
    EXPECT_EQ(Edit(kIndTab, kIdOptCssPath)->text(), QStringLiteral("DEFAULT"));
    EXPECT_EQ(StyleItems(), (QStringList{"alpha.css", "Zeta.css"}));
    EXPECT_EQ(Styles()->currentText(), QStringLiteral("Zeta.css"));
    EXPECT_TRUE(sheet->Page(kIndTab)->IsModified());
    sheet->OkButton()->click();
    EXPECT_EQ(Stored(kIndOptsKey, "CSSStyle"), "Zeta.css");
    EXPECT_EQ(Stored(kIndOptsKey, "CSSPath"), "DEFAULT");
}

TEST_F(OptionsSheetTest, AStyleThatNoLongerMatchesGivesWayToTheFirstItem) {
    TempDir styles;
    WriteFile(styles.Path() / "b.css", "");
    WriteFile(styles.Path() / "a.css", "");
    Store(kIndOptsKey, "CSSPath", (styles.Path().string() + "/").c_str());
    Store(kIndOptsKey, "CSSStyle", "removed.css");
    Open();
    ShowTab(kIndTab);
    EXPECT_EQ(StyleItems(), (QStringList{"a.css", "b.css"}));
    sheet->OkButton()->click();
    EXPECT_EQ(Stored(kIndOptsKey, "CSSStyle"), "a.css");

    // A folder that is gone offers only "NoCSS", which is then stored.
    Store(kIndOptsKey, "CSSPath", (styles.Path() / "gone").c_str());
    Open();
    ShowTab(kIndTab);
    EXPECT_EQ(StyleItems(), QStringList{"NoCSS"});
    sheet->OkButton()->click();
    EXPECT_EQ(Stored(kIndOptsKey, "CSSStyle"), "NoCSS");
}

TEST_F(OptionsSheetTest, BrowsingForTheStyleFolderRefillsTheListAndCancelChangesNothing) {
    TempDir styles;
    WriteFile(styles.Path() / "print.css", "");
    Open();
    ShowTab(kIndTab);
    EXPECT_EQ(StyleItems(), QStringList{"NoCSS"}); // no css_dir beside the program
    ASSERT_TRUE(sheet->OnApply());
    EXPECT_FALSE(sheet->ApplyButton()->isEnabled());

    dialogs.ExpectDirectory(QString());
    Control<QPushButton>(kIndTab, kIdOptBrowseCss)->click();
    EXPECT_EQ(Edit(kIndTab, kIdOptCssPath)->text(), QStringLiteral("Default"));
    EXPECT_FALSE(sheet->ApplyButton()->isEnabled());

    dialogs.ExpectDirectory(Q(styles.Path().string()));
    Control<QPushButton>(kIndTab, kIdOptBrowseCss)->click();
    ASSERT_EQ(dialogs.Calls().size(), 2u);
    EXPECT_EQ(dialogs.Calls()[1].text, QStringLiteral("Выбираем каталог с CSS файлами"));
    EXPECT_EQ(dialogs.Calls()[1].owner, sheet->Page(kIndTab));
    EXPECT_EQ(Edit(kIndTab, kIdOptCssPath)->text(), Q(styles.Path().string() + "/"));
    EXPECT_EQ(StyleItems(), QStringList{"print.css"});
    EXPECT_TRUE(sheet->ApplyButton()->isEnabled());

    // The next pick starts in the folder the field now names.
    dialogs.ExpectDirectory(QString());
    Control<QPushButton>(kIndTab, kIdOptBrowseCss)->click();
    EXPECT_EQ(dialogs.Calls().back().startFolder, Q(styles.Path().string() + "/"));
}

TEST_F(OptionsSheetTest, ApplyWritesAndStaysOpenCancelKeepsWhatApplyWrote) {
    Open();
    ShowTab(kDecTab);
    ASSERT_TRUE(sheet->OnApply());
    EXPECT_FALSE(sheet->ApplyButton()->isEnabled());
    Box(kDecTab, kIdOptQuitAfterDec)->click();
    EXPECT_TRUE(sheet->ApplyButton()->isEnabled());
    sheet->ApplyButton()->click();
    EXPECT_EQ(Stored(kDecOptsKey, "QuitAfterDec"), "1");
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(sheet->ApplyButton()->isEnabled());

    Box(kDecTab, kIdOptQuitAfterDec)->click();
    Box(kDecTab, kIdOptOpnDecDir)->click();
    // Coming back to a page does not load it again.
    ShowTab(kCmnTab);
    ShowTab(kDecTab);
    EXPECT_FALSE(Box(kDecTab, kIdOptOpnDecDir)->isChecked());
    sheet->CancelButton()->click();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(Stored(kDecOptsKey, "QuitAfterDec"), "1");
    EXPECT_EQ(Stored(kDecOptsKey, "OpnDecDir"), "1");
}

TEST_F(OptionsSheetTest, EveryCheckBoxRoundTripsThroughItsOwnValue) {
    struct Flag {
        Tab tab;
        int id;
        const char* key;
        const char* name;
        bool on; // neighbours differ, so two values swapped show
    };
    const Flag flags[] = {
        {kCmnTab, kIdOptSaveWndPos, kCmnOptsKey, "SaveCHMWndPos", true},
        {kCmnTab, kIdOptOpenAfterCompile, kCmnOptsKey, "OpenAfterCompile", false},
        {kCmnTab, kIdOptChangeChmOutDir, kCmnOptsKey, "ChangeChmOutDir", true},
        {kCmnTab, kIdOptConsentOnRewrite, kCmnOptsKey, "ConsentOnRewrite", false},
        {kCmnTab, kIdOptQuitAfterCompile, kCmnOptsKey, "QuitAfterCompile", true},
        {kBtnTab, kIdOptShowHide, kBtnOptsKey, "ShowHide", false},
        {kBtnTab, kIdOptOptions, kBtnOptsKey, "Options", true},
        {kBtnTab, kIdOptBack, kBtnOptsKey, "Back", false},
        {kBtnTab, kIdOptForward, kBtnOptsKey, "Forward", true},
        {kBtnTab, kIdOptStop, kBtnOptsKey, "Stop", false},
        {kBtnTab, kIdOptRefresh, kBtnOptsKey, "Refresh", true},
        {kBtnTab, kIdOptHome, kBtnOptsKey, "Home", true},
        {kBtnTab, kIdOptPrint, kBtnOptsKey, "Print", false},
        {kBtnTab, kIdOptUserLink, kBtnOptsKey, "UserLink", true},
        {kNavTab, kIdOptNavPanel, kNavOptsKey, "NavPanel", true},
        {kNavTab, kIdOptNavSearch, kNavOptsKey, "NavSearch", true},
        {kNavTab, kIdOptNavFavorites, kNavOptsKey, "NavFavorites", false},
        {kDecTab, kIdOptOpnDecDir, kDecOptsKey, "OpnDecDir", false},
        {kDecTab, kIdOptChgDecDir, kDecOptsKey, "ChgDecDir", true},
        {kDecTab, kIdOptQuitAfterDec, kDecOptsKey, "QuitAfterDec", true},
        {kIndTab, kIdOptIndexingFinish, kIndOptsKey, "IndexingFinish", false},
        {kIndTab, kIdOptSendToCompiler, kIndOptsKey, "SendToCompiler", true},
        {kIndTab, kIdOptCopyCss, kIndOptsKey, "CopyCSS", true},
    };
    Open();
    for (Tab tab : {kBtnTab, kNavTab, kDecTab, kIndTab})
        ShowTab(tab);
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        QCheckBox* box = Box(flags[i].tab, flags[i].id);
        if (box->isChecked() != flags[i].on)
            box->click();
        ASSERT_EQ(box->isChecked(), flags[i].on) << flags[i].name;
    }
    Control<QRadioButton>(kCmnTab, kIdOptCustomSize)->click();
    const std::pair<int, const char*> numbers[] = {{kIdOptLSide, "LSide"},
                                                   {kIdOptTSide, "TSide"},
                                                   {kIdOptWidth, "Width"},
                                                   {kIdOptHeight, "Height"}};
    for (int i = 0; i < 4; ++i)
        Type(Edit(kCmnTab, numbers[i].first), QString::number(11 * (i + 1)));
    Type(Edit(kNavTab, kIdOptNavWidth), QStringLiteral("180"));
    Type(Edit(kBtnTab, kIdOptUserLinkUrl), QStringLiteral("file:///usr/share/doc/"));
    Edit(kBtnTab, kIdOptUserLinkTitle)->setText(QStringLiteral("Документы"));
    sheet->OkButton()->click();

    for (std::size_t i = 0; i < std::size(flags); ++i)
        EXPECT_EQ(Stored(flags[i].key, flags[i].name), flags[i].on ? "1" : "0") << flags[i].name;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Stored(kCmnOptsKey, numbers[i].second), std::to_string(11 * (i + 1)));
    EXPECT_EQ(Stored(kNavOptsKey, "NavWidth"), "180");
    EXPECT_EQ(Stored(kBtnOptsKey, "UserLinkTitle"), "Документы");

    Open();
    for (Tab tab : {kBtnTab, kNavTab, kDecTab, kIndTab})
        ShowTab(tab);
    for (std::size_t i = 0; i < std::size(flags); ++i)
        EXPECT_EQ(Box(flags[i].tab, flags[i].id)->isChecked(), flags[i].on) << flags[i].name;
    EXPECT_FALSE(Control<QRadioButton>(kCmnTab, kIdOptAutoSize)->isChecked());
    EXPECT_EQ(Edit(kCmnTab, kIdOptHeight)->text(), QStringLiteral("44"));
    EXPECT_EQ(Edit(kNavTab, kIdOptNavWidth)->text(), QStringLiteral("180"));
    EXPECT_EQ(Edit(kBtnTab, kIdOptUserLinkUrl)->text(), QStringLiteral("file:///usr/share/doc/"));
}

TEST_F(OptionsSheetTest, AFailedWriteIsReportedAndTheSheetStaysOpen) {
    Open();
    // Something that is not a folder now stands where the key was.
    fs::remove_all(hive.KeyDir(kCmnOptsKey));
    WriteFile(hive.KeyDir(kCmnOptsKey), "");
    dialogs.ExpectMessage();
    sheet->OkButton()->click();
    ASSERT_EQ(dialogs.Calls().size(), 1u);
    EXPECT_TRUE(dialogs.Calls()[0].text.startsWith(Q(LoadString(kMsgOptionsWriteFailed))));
    EXPECT_TRUE(dialogs.Calls()[0].text.contains(Q(hive.KeyDir(kCmnOptsKey).string())));
    EXPECT_EQ(dialogs.Calls()[0].icon, MessageIcon::Error);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->ApplyButton()->isEnabled());
}

TEST_F(OptionsSheetTest, EveryTextFitsNothingOverlapsAndEveryFieldIsNamed) {
    Open();
    for (int tab = kCmnTab; tab <= kIndTab; ++tab) {
        ShowTab(static_cast<Tab>(tab));
        COptPage& page = *sheet->Page(tab);
        const QRect client(QPoint(0, 0), page.size());
        std::vector<QWidget*> placed;
        std::vector<QGroupBox*> groups;
        for (QWidget* control : page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (ControlId(*control) == 0)
                continue;
            const std::string where =
                std::to_string(tab) + "/" + std::to_string(ControlId(*control));
            EXPECT_TRUE(client.contains(control->geometry())) << where;
            if (auto* group = qobject_cast<QGroupBox*>(control)) {
                groups.push_back(group);
                continue;
            }
            if (qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control)) {
                EXPECT_LE(control->sizeHint().width(), control->width()) << where;
            }
            EXPECT_LE(control->sizeHint().height(), control->height()) << where;
            // Screen readers name every field, by its label or by itself.
            if (qobject_cast<QLineEdit*>(control) || qobject_cast<QComboBox*>(control)) {
                EXPECT_FALSE(QAccessible::queryAccessibleInterface(control)
                                 ->text(QAccessible::Name)
                                 .isEmpty())
                    << where;
            }
            for (QWidget* other : placed)
                EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                    << where << " overlaps " << ControlId(*other);
            placed.push_back(control);
        }
        // Each control lies inside one of the page's frames.
        for (QWidget* control : placed) {
            const bool framed = std::any_of(groups.begin(), groups.end(), [&](QGroupBox* g) {
                return g->geometry().contains(control->geometry());
            });
            EXPECT_TRUE(framed) << tab << "/" << ControlId(*control);
        }
    }
}

TEST(BuildDlgOptionsTest, OkShowsTheSuccessMessageAndCancelLeavesThePane) {
    TempDir store;
    TempDir programDir;
    ScriptedDialogs dialogs;
    test::FakeShell shell;
    CBuildDlg dialog(RegHive(store.Path()), dialogs, shell, programDir.Path().string() + "/");
    auto* log = FindControl<CMyRichEditCtrl>(dialog, kIdBuildLog);
    log->SetMessage(QStringLiteral("прежнее"));

    const auto pressOnSheet = [](bool ok) {
        QTimer::singleShot(0, [ok] {
            auto* sheet = qobject_cast<COptsPrSheet*>(QApplication::activeModalWidget());
            ASSERT_NE(sheet, nullptr);
            EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Опции ..."));
            EXPECT_EQ(sheet->Tabs()->currentIndex(), 0);
            (ok ? sheet->OkButton() : sheet->CancelButton())->click();
        });
    };
    pressOnSheet(false);
    FindControl<QPushButton>(dialog, kIdOptionsButton)->click();
    EXPECT_EQ(log->toPlainText(), QStringLiteral("прежнее"));

    pressOnSheet(true);
    dialog.OnOptions();
    EXPECT_EQ(log->toPlainText(), QStringLiteral("Настройка программы завершилась успешно."));
}

} // namespace
} // namespace tbx
