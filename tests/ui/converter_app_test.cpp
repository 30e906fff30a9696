#include "app/build_dlg.h"
#include "app/converter_app.h"
#include "fake_dialogs.h"
#include "platform/instance_lock.h"
#include "support/temp_dir.h"

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::FakeShell;
using test::ScriptedDialogs;
using test::TempDir;

class ConverterAppTest : public ::testing::Test {
protected:
    CConverterApp App(std::vector<std::string> lockFolders) {
        return CConverterApp(std::move(lockFolders), RegHive(store.Path() / "registry"), dialogs,
                             shell, programDir.Path().string() + "/");
    }
    CConverterApp App() { return App({lockDir.Path().string()}); }

    TempDir lockDir;
    TempDir store;
    TempDir programDir;
    ScriptedDialogs dialogs;
    FakeShell shell;
};

TEST_F(ConverterAppTest, SecondStartShowsMessage121AndLeavesTheSettingsAlone) {
    InstanceLock first(lockDir.Path().string());
    ASSERT_TRUE(first.Acquire());
    dialogs.ExpectMessage();

    EXPECT_FALSE(App().InitInstance());

    ASSERT_EQ(dialogs.Calls().size(), 1u);
    EXPECT_EQ(dialogs.Calls()[0].text, QStringLiteral("Приложение уже запущено ..."));
    EXPECT_EQ(dialogs.Calls()[0].icon, MessageIcon::None);
    EXPECT_EQ(dialogs.Calls()[0].owner, nullptr);
    EXPECT_TRUE(fs::is_empty(store.Path()));
}

// The lock is held while the build window runs. A lock folder that cannot be
// used (missing, say, after su) is no other copy: the window runs unguarded.
TEST_F(ConverterAppTest, FirstStartRunsTheBuildWindowHoldingTheLockWhereItCan) {
    const std::string missing = lockDir.Path().string() + "/missing";
    for (const auto& folders : {std::vector<std::string>{missing, lockDir.Path().string()},
                                std::vector<std::string>{missing}}) {
        SCOPED_TRACE(folders.size());
        const bool usable = folders.size() == 2;
        bool lockedWhileRunning = false;
        bool sawWindow = false;
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* build = qobject_cast<CBuildDlg*>(window);
                if (!build || !build->isVisible())
                    continue;
                poll->stop();
                poll->deleteLater();
                sawWindow = true;
                lockedWhileRunning = !InstanceLock(lockDir.Path().string()).Acquire();
                build->close();
                return;
            }
        });
        poll->start(10);

        EXPECT_TRUE(App(folders).InitInstance());

        EXPECT_TRUE(sawWindow);
        EXPECT_EQ(lockedWhileRunning, usable);
        EXPECT_TRUE(fs::exists(store.Path() / "registry/Software/Tomebox/CmnOpts"));
        EXPECT_TRUE(InstanceLock(lockDir.Path().string()).Acquire());
        EXPECT_TRUE(dialogs.Calls().empty());
    }
}

} // namespace
} // namespace tbx
