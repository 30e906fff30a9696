// A folder of pages becomes one help file: indexed in the index window,
// handed to the build window, compiled by the real hhc and read back by
// every reader.

#include "app/build_dlg.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "fake_dialogs.h"
#include "index/index_dlg.h"
#include "index/index_page.h"
#include "platform/files.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/help_file_check.h"
#include "support/options.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::FakeShell;
using test::ReadFile;
using test::ScriptedDialogs;
using test::SetOptions;
using test::TempDir;
using test::WriteFile;

TEST(IndexEndToEndTest, AnIndexedFolderBuildsIntoOneHelpFileHoldingEveryPage) {
    TempDir site, store;
    const RegHive hive(store.Path());
    const std::map<std::string, std::string> sitePages = {
        {"Введение.htm", "<html><head><title>Введение</title></head><body>Один</body></html>"},
        {"вторая глава #2.html", "<html><head><title>" + *EncodeCp1251Exact("Вторая глава") +
                                     "</title></head><body>" + *EncodeCp1251Exact("Два") +
                                     "</body></html>"},
        {"Zeta.HTM", "<html><body>no title here</body></html>"},
    };
    for (const auto& [name, bytes] : sitePages)
        WriteFile(site / name, bytes);
    WriteFile(site / "notes.txt", "not a page");

    ScriptedDialogs dialogs;
    FakeShell shell;
    CBuildDlg build(hive, dialogs, shell, fs::path(TBX_HHC_PATH).parent_path().string() + "/");
    SetOptions(hive, kCmnOptsKey, {{"ChangeChmOutDir", "0"}, {"OpenAfterCompile", "0"}});
    SetOptions(hive, kIndOptsKey,
               {{"IndexingFinish", "1"},
                {"SendToCompiler", "1"},
                {"CSSPath", "Default"},
                {"CSSStyle", "blue.css"},
                {"CopyCSS", "1"}});

    const std::string folder = site.Path().string() + "/";
    std::vector<IndexRow> listed;
    QTimer::singleShot(0, [&] {
        auto* index = qobject_cast<CIndexDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(index, nullptr);
        dialogs.ExpectDirectory(QString::fromStdString(site.Path().string()));
        index->OnBrowse();
        listed = index->Rows();
        dialogs.ExpectMessage(); // indexing finished
        dialogs.ExpectYesNo(true);
        index->OnIndex();
    });
    build.OnOpenIndex();

    ASSERT_EQ(listed.size(), 3u);
    const QString chm = QString::fromStdString(folder + "index_tbx.chm");
    ASSERT_EQ(FindControl<QLineEdit>(build, kIdBuildOutputEdit)->text(), chm);
    // The page was written with the style sheet copied from css_dir beside the program.
    ASSERT_EQ(ReadFile(site / "blue.css"), ReadFile(ProgramFolder() + "css_dir/blue.css"));

    build.OnBuild();
    auto* log = FindControl<CMyRichEditCtrl>(build, kIdBuildLog);
    const QString done = QString::fromStdString(LoadString(111) + "\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->toPlainText().startsWith(done); }, 60000))
        << log->toPlainText().toStdString();
    // Every link of the page was followed.
    EXPECT_FALSE(log->toPlainText().contains(QString::fromStdString(
        LoadString(kMsgUnfollowedCount).substr(0, LoadString(kMsgUnfollowedCount).find('%')))));

    std::map<std::string, std::string> inside = {
        {"/index_tbx.html", ReadFile(site / "index_tbx.html")},
        {"/blue.css", ReadFile(site / "blue.css")}};
    for (const IndexRow& row : listed)
        inside["/" + row.file] = sitePages.at(row.file);
    test::ExpectHelpFileHolds(chm.toStdString(), inside);
    EXPECT_TRUE(dialogs.ScriptDone());
}

} // namespace
} // namespace tbx
