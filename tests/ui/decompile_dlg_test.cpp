#include "app/build_dlg.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "decompile/decompile_dlg.h"
#include "fake_dialogs.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::FakeShell;
using test::ScriptedDialogs;
using test::TempDir;
using test::WriteFile;

const QString kQuestion = QStringLiteral("Хотите указать выходной HTM-каталог?");
const QString kFolderTitle = QStringLiteral("Выбраем выходной HTM-каталог");

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

bool WaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 10000);
}

class DecompileDlgTest : public ::testing::Test {
protected:
    DecompileDlgTest() : hive(store.Path()) {
        WriteFirstRunDefaults(hive);
        WriteFile(help, "help file");
        DecompileQuitFlag = 0;
        Open();
    }
    ~DecompileDlgTest() override {
        dialog.reset();
        DecompileQuitFlag = 0;
    }

    void Open() {
        dialog =
            std::make_unique<CDecompileDlg>(hive, dialogs, shell, program.Path().string() + "/");
    }
    void Viewer(const std::string& body) {
        const fs::path hh = program.Path() / "hh";
        WriteFile(hh, "#!/bin/sh\nPATH=/usr/bin:/bin\n" + body);
        fs::permissions(hh, fs::perms::owner_all);
    }
    void SetOption(const char* name, const char* value) {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(hive, kDecOptsKey), kErrorSuccess);
        ASSERT_EQ(key.SetText(name, value), kErrorSuccess);
    }

    QLineEdit* Field(int id) const { return FindControl<QLineEdit>(*dialog, id); }
    QString Input() const { return Field(kIdDecFileEdit)->text(); }
    QString Output() const { return Field(kIdDecFolderEdit)->text(); }
    CMyRichEditCtrl* Log() const { return FindControl<CMyRichEditCtrl>(*dialog, kIdDecLog); }
    QString LogText() const { return Log()->toPlainText(); }
    void Click(int id) { QTest::mouseClick(FindControl<QPushButton>(*dialog, id), Qt::LeftButton); }

    TempDir store, files, program;
    RegHive hive;
    const std::string help = files / "моя справка.chm";
    ScriptedDialogs dialogs;
    FakeShell shell;
    std::unique_ptr<CDecompileDlg> dialog;
};

TEST_F(DecompileDlgTest, WindowFollowsItsTemplate) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Tomebox! 1.2.1 - Разборка"));
    EXPECT_FALSE(dialog->windowIcon().isNull());
    const std::pair<int, const char*> buttons[] = {
        {kIdDecBrowseButton, "Обзор ..."},
        {kIdDecStartButton, "Разобрать!"},
        {kIdDecBackButton, "<< Назад"},
    };
    for (const auto& [id, text] : buttons) {
        auto* button = FindControl<QPushButton>(*dialog, id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), QString::fromUtf8(text));
        EXPECT_EQ(button->isDefault(), id == kIdDecBrowseButton) << id;
    }
    const std::pair<int, const char*> fields[] = {
        {kIdDecFileEdit, "Файл справки (in):"},
        {kIdDecFolderEdit, "Каталог (out):"},
    };
    for (const auto& [id, label] : fields) {
        ASSERT_NE(Field(id), nullptr) << id;
        EXPECT_EQ(QAccessible::queryAccessibleInterface(Field(id))->text(QAccessible::Name),
                  QString::fromUtf8(label));
    }
    // The log pane may be typed into, and names itself for screen readers.
    ASSERT_NE(Log(), nullptr);
    EXPECT_FALSE(Log()->isReadOnly());
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(Log())->text(QAccessible::Name).isEmpty());

    // Every text fits its control and nothing overlaps.
    const DialogTemplate& layout = *FindDialogTemplate(kDecompileTemplate);
    const QRect client(QPoint(0, 0), dialog->size());
    std::vector<QWidget*> placed;
    for (const LayoutControl& item : layout.controls) {
        QWidget* control = FindControl(*dialog, item.id);
        ASSERT_NE(control, nullptr) << item.id;
        EXPECT_TRUE(client.contains(control->geometry())) << item.id;
        const QFontMetrics metrics(control->font());
        if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty()) {
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << item.id;
        }
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            EXPECT_LE(metrics.horizontalAdvance(button->text()), button->width() - 8) << item.id;
        }
        for (QWidget* other : placed) {
            EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                << item.id << " overlaps " << ControlId(*other);
        }
        placed.push_back(control);
    }
}

TEST_F(DecompileDlgTest, BrowseAsksForTheFolderWithTheFirstRunOptions) {
    TempDir outDir;
    // Yes and a folder.
    dialogs.ExpectOpenFile(Q(help));
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory(Q(outDir.Path().string()));
    dialog->OnBrowse();
    ASSERT_EQ(dialogs.Calls().size(), 3u);
    const auto& pick = dialogs.Calls()[0];
    EXPECT_EQ(pick.text, QStringLiteral("Открываем chm-файл ..."));
    ASSERT_EQ(pick.filters.size(), 1);
    EXPECT_EQ(pick.filters[0].description, QStringLiteral("*.chm файлы"));
    EXPECT_EQ(pick.filters[0].patterns, QStringLiteral("*.chm"));
    EXPECT_EQ(dialogs.Calls()[1].text, kQuestion);
    EXPECT_EQ(dialogs.Calls()[2].text, kFolderTitle);
    EXPECT_EQ(Input(), Q(help));
    EXPECT_EQ(Output(), Q(outDir.Path().string() + "/"));

    // Yes, then a cancelled pick; and No: the file's own folder.
    dialogs.ExpectOpenFile(Q(help));
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory(QString());
    dialog->OnBrowse();
    EXPECT_EQ(Output(), Q(files.Path().string() + "/"));
    Field(kIdDecFolderEdit)->setText(QStringLiteral("/else/"));
    dialogs.ExpectOpenFile(Q(help));
    dialogs.ExpectYesNo(false);
    dialog->OnBrowse();
    EXPECT_EQ(Output(), Q(files.Path().string() + "/"));

    // Option off: no question. A cancelled file pick changes nothing.
    SetOption("ChgDecDir", "0");
    Field(kIdDecFolderEdit)->setText(QStringLiteral("/else/"));
    dialogs.ExpectOpenFile(QString());
    dialog->OnBrowse();
    EXPECT_EQ(Output(), QStringLiteral("/else/"));
    dialogs.ExpectOpenFile(Q(help));
    dialog->OnBrowse();
    EXPECT_EQ(Output(), Q(files.Path().string() + "/"));
}

TEST_F(DecompileDlgTest, StartRunsTheJobAndOpensTheFolder) {
    Viewer("exit 0\n");
    Field(kIdDecFileEdit)->setText(Q(help));
    Field(kIdDecFolderEdit)->setText(Q(files / "out"));
    dialog->show();

    Click(kIdDecStartButton);

    ASSERT_TRUE(WaitFor([&] { return LogText() == Q(LoadString(119)); }));
    ASSERT_TRUE(WaitFor([&] { return shell.Opened().size() == 1; }));
    EXPECT_EQ(shell.Opened()[0], files / "out/");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(DecompileQuitFlag, 0);
}

TEST_F(DecompileDlgTest, QuitAfterDecEndsTheWindowWithResultOne) {
    Viewer("exit 0\n");
    SetOption("QuitAfterDec", "1");
    SetOption("OpnDecDir", "0");
    Field(kIdDecFileEdit)->setText(Q(help));
    Field(kIdDecFolderEdit)->setText(Q(files / "out"));
    dialog->show();

    Click(kIdDecStartButton);

    ASSERT_TRUE(WaitFor([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_EQ(DecompileQuitFlag, 1);
    EXPECT_TRUE(shell.Opened().empty());
}

TEST_F(DecompileDlgTest, EscapeOrBackWhileAJobRunsStopsItAndThenCloses) {
    Viewer("touch '" + files / "started" + "'\nexec sleep 30\n");
    Field(kIdDecFileEdit)->setText(Q(help));
    Field(kIdDecFolderEdit)->setText(Q(files / "out"));
    for (bool escape : {true, false}) {
        fs::remove(files / "started");
        Open();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        Field(kIdDecFileEdit)->setText(Q(help));
        Field(kIdDecFolderEdit)->setText(Q(files / "out"));
        Click(kIdDecStartButton);
        ASSERT_TRUE(WaitFor([&] { return fs::exists(files / "started"); }));
        Click(kIdDecStartButton); // a second job waits for the first
        ASSERT_TRUE(WaitFor([&] { return LogText() == Q(LoadString(123)); }));
        const auto started = std::chrono::steady_clock::now();
        if (escape)
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            Click(kIdDecBackButton);
        ASSERT_TRUE(WaitFor([&] { return !dialog->isVisible(); }));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(dialog->result(), escape ? 0 : 1);
        EXPECT_EQ(LogText(), Q(LoadString(123)));
        dialog.reset(); // joins the job threads
    }
    EXPECT_TRUE(shell.Opened().empty());
}

// The build window's button: the decompile window runs modally on top of
// it, and the build window ends after it only when a job asked to quit.
TEST_F(DecompileDlgTest, BuildWindowEndsAfterTheDecompileWindowOnlyOnQuit) {
    FakeShell buildShell;
    ScriptedDialogs buildDialogs;
    CBuildDlg build(hive, buildDialogs, buildShell, program.Path().string() + "/");
    build.show();
    for (bool quit : {false, true}) {
        CDecompileDlg* seen = nullptr;
        QTimer::singleShot(0, [&] {
            seen = qobject_cast<CDecompileDlg*>(QApplication::activeModalWidget());
            if (!seen)
                return;
            EXPECT_EQ(seen->parentWidget(), &build);
            DecompileQuitFlag = quit ? 1 : 0; // as a job whose options ask to quit sets it
            seen->OnBack();
        });
        build.OnDecompile();
        ASSERT_NE(seen, nullptr);
        if (quit) {
            EXPECT_TRUE(WaitFor([&] { return !build.isVisible(); }));
        } else {
            QTest::qWait(100);
            EXPECT_TRUE(build.isVisible());
        }
    }
}

} // namespace
} // namespace tbx
