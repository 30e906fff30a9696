// "Остановить" during a real build: the real hhc is stopped while it
// compresses, and nothing of the build is left beside the site.

#include "app/build_dlg.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "fake_dialogs.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/generated_site.h"
#include "support/temp_dir.h"

#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <string>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;

// Every file below folder, relative to it.
std::set<std::string> FilesBelow(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files.insert(fs::relative(entry.path(), folder).string());
    return files;
}

// The command lines of this test's running child processes that mention
// text. Only our own children count: other tests may run hhc meanwhile.
std::vector<std::string> ChildrenMentioning(const std::string& text) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        // A process may end while it is looked at: then it reads as empty.
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // The parent's id follows the state, after the name in parentheses.
        const std::size_t close = line.rfind(')');
        long parent = 0;
        if (close == std::string::npos ||
            std::sscanf(line.c_str() + close + 1, " %*c %ld", &parent) != 1 ||
            parent != static_cast<long>(::getpid()))
            continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string command{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (command.find(text) != std::string::npos)
            found.push_back(command);
    }
    return found;
}

TEST(StopEndToEndTest, StoppingARealBuildLeavesNoProjectNoOutputAndNoProcess) {
    test::TempDir site, store;
    const RegHive hive(store.Path());
    const fs::path start = tbx::bench::MakeSite(site.Path(), 2000);
    const std::set<std::string> before = FilesBelow(site.Path());
    test::ScriptedDialogs dialogs;
    test::FakeShell shell;
    CBuildDlg build(hive, dialogs, shell, fs::path(TBX_HHC_PATH).parent_path().string() + "/");
    FindControl<QLineEdit>(build, kIdBuildPageEdit)->setText(QString::fromStdString(start));
    FindControl<QLineEdit>(build, kIdBuildOutputEdit)
        ->setText(QString::fromStdString(site / "site.chm"));
    build.show();

    build.OnBuild();
    // Stop once hhc says it compresses.
    auto* log = FindControl<CMyRichEditCtrl>(build, kIdBuildLog);
    const QString compressing = QString::fromStdString(
        LoadString(112) + "\n" +
        LoadString(kMsgProgressCompressed).substr(0, LoadString(kMsgProgressCompressed).find('%')));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->toPlainText().startsWith(compressing); }, 20000))
        << log->toPlainText().toStdString();
    build.OnStop(); // what the context menu entry calls
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return log->toPlainText() == QString::fromStdString(LoadString(kMsgCompileStopped));
        },
        20000))
        << log->toPlainText().toStdString();

    EXPECT_EQ(ChildrenMentioning(TBX_HHC_PATH), std::vector<std::string>{});
    EXPECT_EQ(FilesBelow(site.Path()), before);
}

} // namespace
} // namespace tbx
