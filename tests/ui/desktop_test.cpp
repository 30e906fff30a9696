// The program as a desktop program: files in by command line and drop,
// pickers that start where their field points, progress and stop in the
// job windows, a resizable index window, and Qt's own texts in Russian.

#include "app/build_dlg.h"
#include "app/converter_app.h"
#include "app/russian_ui.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "decompile/decompile_dlg.h"
#include "fake_dialogs.h"
#include "index/index_dlg.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::FakeShell;
using test::ScriptedDialogs;
using test::TempDir;
using test::WriteFile;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString FieldText(const QWidget& window, int id) {
    return FindControl<QLineEdit>(window, id)->text();
}

void SetOption(const RegHive& hive, const char* key, const char* name, const char* value) {
    COptKey opened;
    ASSERT_EQ(opened.OpenOrCreate(hive, key), kErrorSuccess);
    ASSERT_EQ(opened.SetText(name, value), kErrorSuccess);
}

// Runs act on each tick until it returns true.
void EveryTick(std::function<bool()> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (act()) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest() {
        WriteFile(site / "start.htm", "<html><title>Начало</title></html>");
        WriteFile(site / "справка.CHM", "not read here");
        fs::create_directory(site.Path() / "pages");
        WriteFile(site.Path() / "pages/a.htm", "<title>A</title>");
        WriteFile(site.Path() / "pages/b.htm", "<title>B</title>");
        SetOption(hive, kDecOptsKey, "ChgDecDir", "0");
    }

    TempDir store, site, program, lockDir;
    RegHive hive{store.Path()};
    ScriptedDialogs dialogs;
    FakeShell shell;
};

// What the program showed after starting with a file: the window on top
// and two of its texts.
struct Shown {
    QString window;
    QString first;
    QString second;
};

TEST_F(DesktopTest, StartFileOpensTheRightWindowFilled) {
    const std::string folder = site.Path().string() + "/";
    const struct {
        std::string file;
        bool decompile;
        Shown expected;
    } cases[] = {
        {site / "start.htm", false, {"build", Q(site / "start.htm"), Q(site / "start.chm")}},
        {site / "справка.CHM", true, {"decompile", Q(site / "справка.CHM"), Q(folder)}},
        {site / "pages", false, {"index", Q(folder + "pages/"), "A|B"}},
        {site / "gone.htm",
         false,
         {"build", "", Q(LoadString(kMsgStartFileMissing)) + "\n" + Q(site / "gone.htm")}},
        {"", true, {"decompile", "", ""}},
    };
    for (const auto& c : cases) {
        CConverterApp app({lockDir.Path().string()}, hive, dialogs, shell,
                          program.Path().string() + "/");
        app.OpenAtStart(c.file, c.decompile);
        Shown shown;
        EveryTick([&] {
            // The build window is not modal: it stands beside the viewers.
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                modal = app.BuildWindow();
            if (auto* index = qobject_cast<CIndexDlg*>(modal)) {
                QStringList titles;
                for (const IndexRow& row : index->Rows())
                    titles << Q(row.title);
                shown = {"index", Q(index->Folder()), titles.join('|')};
                index->OnBack();
            } else if (auto* decompile = qobject_cast<CDecompileDlg*>(modal)) {
                shown = {"decompile", FieldText(*decompile, kIdDecFileEdit),
                         FieldText(*decompile, kIdDecFolderEdit)};
                decompile->OnBack();
            } else if (auto* build = qobject_cast<CBuildDlg*>(modal)) {
                const QString log =
                    FindControl<CMyRichEditCtrl>(*build, kIdBuildLog)->toPlainText();
                if (shown.window.isEmpty() && log.isEmpty())
                    return false; // not filled yet
                if (shown.window.isEmpty())
                    shown = {"build", FieldText(*build, kIdBuildPageEdit),
                             c.file.ends_with("gone.htm") ? log
                                                          : FieldText(*build, kIdBuildOutputEdit)};
                build->close();
                return true;
            }
            return false;
        });
        ASSERT_TRUE(app.InitInstance()) << c.file;
        EXPECT_EQ(shown.window, c.expected.window) << c.file;
        EXPECT_EQ(shown.first, c.expected.first) << c.file;
        EXPECT_EQ(shown.second, c.expected.second) << c.file;
    }
}

class BuildWindowTest : public DesktopTest {
protected:
    void SetUp() override {
        build = std::make_unique<CBuildDlg>(hive, dialogs, shell, program.Path().string() + "/");
    }
    void TearDown() override {
        build.reset();
        EXPECT_TRUE(dialogs.ScriptDone());
    }

    // Drags urls over the window and drops them there; true when the window
    // took the drag.
    bool Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(10, 10);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(build.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(build.get(), &drop);
        return drop.isAccepted();
    }

    CMyRichEditCtrl* Log() const { return FindControl<CMyRichEditCtrl>(*build, kIdBuildLog); }

    std::unique_ptr<CBuildDlg> build;
};

TEST_F(BuildWindowTest, ADroppedPageFillsTheWindowAndOtherDragsAreRefused) {
    EXPECT_FALSE(Drop({QUrl(QStringLiteral("https://example.org/page.htm"))}));
    EXPECT_FALSE(Drop({}));
    // Dropped on the page field it still counts for the window, not as text.
    ASSERT_FALSE(FindControl<QLineEdit>(*build, kIdBuildPageEdit)->acceptDrops());

    ASSERT_TRUE(Drop({QUrl::fromLocalFile(Q(site / "start.htm"))}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FieldText(*build, kIdBuildPageEdit).isEmpty(); }));
    EXPECT_EQ(FieldText(*build, kIdBuildPageEdit), Q(site / "start.htm"));
    EXPECT_EQ(FieldText(*build, kIdBuildTitleEdit), QStringLiteral("Начало"));
}

// Each picker opens in the folder of the path its field holds; with nothing
// usable there it leaves the choice to the last folder used (empty here).
TEST_F(BuildWindowTest, PickersStartInTheFolderOfTheirField) {
    SetOption(hive, kCmnOptsKey, "ChangeChmOutDir", "1");
    SetOption(hive, kDecOptsKey, "ChgDecDir", "1");
    const QString folder = Q(site.Path().string() + "/");
    auto* page = FindControl<QLineEdit>(*build, kIdBuildPageEdit);
    auto* output = FindControl<QLineEdit>(*build, kIdBuildOutputEdit);

    page->setText(Q(site / "start.htm"));
    output->setText(Q(site / "pages/missing/out.chm"));
    dialogs.ExpectOpenFile(Q(site / "start.htm"));
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory({});
    build->OnBrowsePage();

    page->setText(QStringLiteral("relative.htm"));
    dialogs.ExpectOpenFile({});
    build->OnBrowsePage();

    CDecompileDlg decompile(hive, dialogs, shell, program.Path().string() + "/", build.get());
    FindControl<QLineEdit>(decompile, kIdDecFileEdit)->setText(Q(site / "справка.CHM"));
    FindControl<QLineEdit>(decompile, kIdDecFolderEdit)->setText(Q(site / "pages"));
    dialogs.ExpectOpenFile(Q(site / "справка.CHM"));
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory({});
    decompile.OnBrowse();

    CIndexDlg index(hive, dialogs, program.Path().string() + "/", build.get());
    index.ListFolder(Q(site / "pages/"));
    dialogs.ExpectDirectory({});
    index.OnBrowse();

    std::vector<QString> starts;
    for (const auto& call : dialogs.Calls()) {
        if (call.kind == ScriptedDialogs::Kind::OpenFile ||
            call.kind == ScriptedDialogs::Kind::Directory)
            starts.push_back(call.startFolder);
    }
    EXPECT_EQ(starts, (std::vector<QString>{folder, folder + "pages/", "", folder,
                                            folder + "pages/", folder + "pages/"}));
}

// Opens the window's context menu and returns the state of its stop entry.
bool StopOffered(QWidget& window) {
    bool enabled = false;
    bool found = false;
    EveryTick([&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return false;
        for (QAction* action : menu->actions()) {
            if (action->text() == QStringLiteral("Остановить")) {
                found = true;
                enabled = action->isEnabled();
            }
        }
        menu->close();
        return true;
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            window.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&window, &event);
    EXPECT_TRUE(found);
    return enabled;
}

TEST_F(BuildWindowTest, ProgressShowsWhileHhcRunsAndStopEndsIt) {
    const fs::path hhc = program.Path() / "hhc";
    WriteFile(hhc, "#!/bin/sh\n"
                   "echo $$ > \"${0%/*}/pid\"\n"
                   "echo 'files read: 40'\n"
                   "echo 'files compressed: 12 of 40'\n"
                   "exec sleep 30\n");
    fs::permissions(hhc, fs::perms::owner_all);
    FindControl<QLineEdit>(*build, kIdBuildPageEdit)->setText(Q(site / "start.htm"));
    FindControl<QLineEdit>(*build, kIdBuildOutputEdit)->setText(Q(site / "start.chm"));
    build->show();
    EXPECT_FALSE(StopOffered(*build));

    build->OnBuild();
    const QString progress = Q(LoadString(112)) + QStringLiteral("\nСжато файлов: 12 из 40");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log()->toPlainText() == progress; }, 10000))
        << Log()->toPlainText().toStdString();
    const pid_t compiler = std::stoi(test::ReadFile(program.Path() / "pid"));
    EXPECT_TRUE(StopOffered(*build));

    build->StopAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Log()->toPlainText() == Q(LoadString(kMsgCompileStopped)); }, 10000));
    EXPECT_TRUE(build->isVisible());
    EXPECT_EQ(::kill(compiler, 0), -1);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(site.Path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"pages", "start.htm", "справка.CHM"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !StopOffered(*build); }, 10000));
}

TEST_F(DesktopTest, IndexWindowGrowsItsListAndKeepsItsButtonsAtTheEdges) {
    CIndexDlg index(hive, dialogs, program.Path().string() + "/");
    index.show();
    const QSize start = index.size();
    auto place = [&](int id) { return FindControl(index, id)->geometry(); };
    const QRect list = place(kIdIndexPages), browse = place(kIdIndexBrowse),
                back = place(kIdIndexBack), run = place(kIdIndexRun);
    EXPECT_EQ(index.minimumSize(), start);
    EXPECT_TRUE(index.windowFlags() & Qt::WindowMaximizeButtonHint);

    index.resize(start + QSize(300, 200));
    EXPECT_EQ(place(kIdIndexPages), list.adjusted(0, 0, 300, 200));
    EXPECT_EQ(place(kIdIndexBrowse), browse.translated(300, 0));
    EXPECT_EQ(place(kIdIndexBack), back.translated(300, 200));
    EXPECT_EQ(place(kIdIndexRun), run.translated(300, 200));
    EXPECT_EQ(FindControl<QTreeWidget>(index, kIdIndexPages)->columnWidth(0), 265 + 300);

    index.resize(start);
    EXPECT_EQ(place(kIdIndexPages), list);
}

TEST_F(DesktopTest, DecompilePaneWrapsLongMessages) {
    CDecompileDlg decompile(hive, dialogs, shell, program.Path().string() + "/");
    decompile.show();
    auto* log = FindControl<CMyRichEditCtrl>(decompile, kIdDecLog);
    log->SetMessage(Q(LoadString(kMsgDecompileStopped)) + "\n/" +
                    QString(QStringLiteral("очень-длинный-каталог/")).repeated(8));
    QApplication::processEvents();
    EXPECT_EQ(log->horizontalScrollBar()->maximum(), 0);
    EXPECT_LE(log->document()->idealWidth(), log->viewport()->width());
}

// Qt's own texts read in Russian once the translation is in, whatever the
// locale the tests run under; removed again afterwards.
TEST(RussianQtTexts, YesNoQuestionAndPickerSpeakRussian) {
    const QLocale before;
    QTranslator* translator = InstallRussianQtTranslation(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "qtbase_ru is missing: install qt6-translations-l10n";
    QtDialogs dialogs;

    QStringList buttons;
    EveryTick([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return false;
        for (QAbstractButton* button : box->buttons())
            buttons << button->text().remove('&');
        box->button(QMessageBox::No)->click();
        return true;
    });
    EXPECT_FALSE(dialogs.AskYesNo(nullptr, QStringLiteral("Перезаписать?")));
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет")}));

    // The picker opens in the folder given, and next time in the one chosen.
    TempDir first, second;
    QString openedIn;
    QString cancel;
    EveryTick([&] {
        auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!picker)
            return false;
        openedIn = picker->directory().absolutePath();
        picker->setDirectory(Q(second.Path().string()));
        static_cast<QDialog*>(picker)->accept(); // QFileDialog hides it
        return true;
    });
    const QString chosen =
        dialogs.PickDirectory(nullptr, QStringLiteral("Каталог"), Q(first.Path().string()));
    EXPECT_EQ(openedIn, Q(first.Path().string()));
    EXPECT_EQ(chosen, Q(second.Path().string()));
    EveryTick([&] {
        auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!picker)
            return false;
        openedIn = picker->directory().absolutePath();
        for (QPushButton* button : picker->findChildren<QPushButton*>())
            cancel += button->text().remove('&') + '|';
        picker->reject();
        return true;
    });
    dialogs.PickOpenFile(nullptr, QStringLiteral("Файл"), {}, {});
    EXPECT_EQ(openedIn, Q(second.Path().string()));
    EXPECT_TRUE(cancel.contains(QStringLiteral("Отмена"))) << cancel.toStdString();

    QCoreApplication::removeTranslator(translator);
    delete translator;
    QLocale::setDefault(before);
}

} // namespace
} // namespace tbx
