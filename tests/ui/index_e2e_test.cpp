// A folder of pages becomes one help file: indexed in the index window,
// handed to the build window, compiled by the real hhc (chmcmd on PATH) and
// read back with chmlib.

#include "app/build_dlg.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "fake_dialogs.h"
#include "index/index_dlg.h"
#include "index/index_page.h"
#include "platform/files.h"
#include "res/cp1251.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/chm_reader.h"
#include "support/temp_dir.h"

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
using test::ReadChmObject;
using test::ReadFile;
using test::ScriptedDialogs;
using test::TempDir;
using test::WriteFile;

void SetOptions(const RegHive& hive, const char* keyPath,
                std::initializer_list<std::pair<const char*, const char*>> values) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive, keyPath), kErrorSuccess);
    for (const auto& [name, text] : values)
        ASSERT_EQ(key.SetText(name, text), kErrorSuccess);
}

TEST(IndexEndToEndTest, AnIndexedFolderBuildsIntoOneHelpFileHoldingEveryPage) {
    TempDir site, store;
    const RegHive hive(store.Path());
    const std::map<std::string, std::string> sitePages = {
        {"intro.htm", "<html><head><title>Введение</title></head><body>Один</body></html>"},
        {"second page.html", "<html><head><title>" + *EncodeCp1251Exact("Вторая глава") +
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
    const QString done = QString::fromStdString(LoadString(111));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->toPlainText() == done; }, 60000))
        << log->toPlainText().toStdString();

    const std::string help = chm.toStdString();
    for (const IndexRow& row : listed) {
        const auto stored = ReadChmObject(help, "/" + row.file);
        ASSERT_TRUE(stored.has_value()) << row.file;
        EXPECT_EQ(*stored, sitePages.at(row.file)) << row.file;
    }
    EXPECT_EQ(ReadChmObject(help, "/index_tbx.html"), ReadFile(site / "index_tbx.html"));
    EXPECT_EQ(ReadChmObject(help, "/blue.css"), ReadFile(site / "blue.css"));
    EXPECT_FALSE(ReadChmObject(help, "/notes.txt").has_value());
    EXPECT_TRUE(dialogs.ScriptDone());
}

} // namespace
} // namespace tbx
