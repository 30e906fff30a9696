#include "app/build_dlg.h"
#include "chm/internal_files.h"
#include "chm/writer.h"
#include "controls/busy_animation.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "fake_dialogs.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::FakeShell;
using test::ScriptedDialogs;
using test::TempDir;
using test::WriteFile;
using Kind = ScriptedDialogs::Kind;

const QString kQuestion = QStringLiteral("Хотите указать каталог для выходного CHM файла?");
const QString kFolderTitle = QStringLiteral("Выбираем каталог для выходного CHM файла");
const QString kReportTail =
    QStringLiteral("  успешно открыт.\nПрограмма готова к сборке справочной системы.");

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Pumps events until done, at most ten seconds.
bool WaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 10000);
}

class BuildDlgTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override { dialog.reset(); }

    void Open() {
        dialog = std::make_unique<CBuildDlg>(RegHive(store.Path()), dialogs, shell,
                                             programDir.Path().string() + "/");
    }

    void SetOption(const char* name, const char* value) {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(RegHive(store.Path()), kCmnOptsKey), kErrorSuccess);
        ASSERT_EQ(key.SetText(name, value), kErrorSuccess);
    }

    QLineEdit* Field(int id) const { return FindControl<QLineEdit>(*dialog, id); }
    QString Input() const { return Field(kIdBuildPageEdit)->text(); }
    QString Output() const { return Field(kIdBuildOutputEdit)->text(); }
    QString Title() const { return Field(kIdBuildTitleEdit)->text(); }
    CMyRichEditCtrl* Log() const { return FindControl<CMyRichEditCtrl>(*dialog, kIdBuildLog); }
    QString LogText() const { return Log()->toPlainText(); }
    BusyAnimation* Animation() const {
        return FindControl<BusyAnimation>(*dialog, kIdBuildAnimation);
    }
    void Click(int id) { QTest::mouseClick(FindControl<QPushButton>(*dialog, id), Qt::LeftButton); }

    // Writes a page into the files folder and returns its path.
    QString Page(const std::string& name, std::string_view content) {
        WriteFile(files.Path() / name, content);
        return Q(files / name);
    }

    // Starts a build of slow.htm whose compiler takes its time, so that the
    // job is still running when the test acts.
    void StartSlowBuild() {
        const fs::path hhc = programDir.Path() / "hhc";
        WriteFile(hhc, "#!/bin/sh\nexec sleep 30\n");
        fs::permissions(hhc, fs::perms::owner_all);
        Browse(Page("slow.htm", "<title>S</title>"));
        dialog->show();
        Click(kIdBuildButton);
        ASSERT_TRUE(WaitFor([&] { return Animation()->IsPlaying(); }));
    }

    // Browses to page, answering the output-folder question when asked.
    void Browse(const QString& page) {
        dialogs.ExpectOpenFile(page);
        dialog->OnBrowsePage();
    }

    TempDir store;
    TempDir files;
    TempDir programDir;
    ScriptedDialogs dialogs;
    FakeShell shell;
    std::unique_ptr<CBuildDlg> dialog;
};

TEST_F(BuildDlgTest, InitDialogWritesFirstRunDefaultsAndPreparesTheWindow) {
    EXPECT_EQ(test::ReadFile(store.Path() / "Software/Tomebox/CmnOpts/OpenAfterCompile"), "1");
    EXPECT_EQ(test::ReadFile(store.Path() / "Software/Tomebox/IndOpts/CSSPath"), "Default");
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_EQ(Log()->palette().color(QPalette::Base), QColor(255, 255, 225));
    EXPECT_TRUE(Log()->isReadOnly());
}

TEST_F(BuildDlgTest, ControlsAreFoundByIdWithTheTemplatesTextsBuddiesAndTabOrder) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Tomebox! 1.2.1 - Сборка"));
    const std::pair<int, const char*> buttons[] = {
        {kIdBrowseButton, "Обзор ..."}, {kIdOptionsButton, "Опции ..."},
        {kIdBuildButton, "Собрать!"},   {kIdDecompileButton, "Разобрать ..."},
        {kIdIndexButton, "Индекс ..."}, {kIdExitButton, "Выход"},
    };
    for (const auto& [id, text] : buttons) {
        auto* button = FindControl<QPushButton>(*dialog, id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), QString::fromUtf8(text));
        EXPECT_EQ(button->isDefault(), id == kIdBrowseButton) << id;
    }

    // Each edit field is named for screen readers by the label beside it.
    const std::pair<int, const char*> fields[] = {
        {kIdBuildPageEdit, "Web-страничка (in):"},
        {kIdBuildOutputEdit, "Файл справки (out):"},
        {kIdBuildTitleEdit, "Заголовок справки:"},
    };
    for (const auto& [id, label] : fields) {
        QLineEdit* edit = Field(id);
        ASSERT_NE(edit, nullptr) << id;
        EXPECT_FALSE(edit->isReadOnly());
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(edit);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(label));
    }
    // The controls without a label name themselves.
    for (QWidget* unlabelled : {static_cast<QWidget*>(Log()), static_cast<QWidget*>(Animation())}) {
        ASSERT_NE(unlabelled, nullptr);
        EXPECT_FALSE(
            QAccessible::queryAccessibleInterface(unlabelled)->text(QAccessible::Name).isEmpty());
    }

    // Tab goes through the controls in the template's order.
    const int order[] = {kIdBuildPageEdit,  kIdBrowseButton, kIdBuildOutputEdit, kIdOptionsButton,
                         kIdBuildTitleEdit, kIdBuildButton,  kIdBuildLog,        kIdDecompileButton,
                         kIdIndexButton,    kIdExitButton,   kIdBuildPageEdit};
    QWidget* at = Field(kIdBuildPageEdit);
    for (std::size_t i = 1; i < std::size(order); ++i) {
        do {
            at = at->nextInFocusChain();
        } while (!(at->focusPolicy() & Qt::TabFocus));
        EXPECT_EQ(ControlId(*at), order[i]) << "after " << order[i - 1];
    }
}

TEST_F(BuildDlgTest, EveryTextFitsItsControlAndNothingOverlaps) {
    const DialogTemplate& layout = *FindDialogTemplate(kBuildTemplate);
    const QRect client(QPoint(0, 0), dialog->size());
    std::vector<QWidget*> placed;
    for (const LayoutControl& item : layout.controls) {
        QWidget* control = FindControl(*dialog, item.id);
        ASSERT_NE(control, nullptr) << item.id;
        EXPECT_TRUE(client.contains(control->geometry())) << item.id;
        const QFontMetrics metrics(control->font());
        if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty()) {
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << item.id;
            EXPECT_LE(metrics.height(), label->height()) << item.id;
        }
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            EXPECT_LE(metrics.horizontalAdvance(button->text()), button->width() - 8) << item.id;
            EXPECT_LE(metrics.height(), button->height() - 4) << item.id;
        }
        for (QWidget* other : placed)
            EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                << item.id << " overlaps " << ControlId(*other);
        placed.push_back(control);
    }
}

// Made larger, the window gives the room to the fields and the log pane,
// which wraps long lines; it is never smaller than its layout.
TEST_F(BuildDlgTest, TheWindowResizesAndTheLogPaneGrowsAndWraps) {
    dialog->show();
    const QSize start = dialog->size();
    EXPECT_EQ(dialog->minimumSize(), start);
    EXPECT_GT(dialog->maximumWidth(), start.width());
    const QRect log = Log()->geometry();
    const QRect exit = FindControl(*dialog, kIdExitButton)->geometry();
    const QRect build = FindControl(*dialog, kIdBuildButton)->geometry();
    const int pageWidth = Field(kIdBuildPageEdit)->width();

    dialog->resize(start + QSize(300, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(Log()->geometry(), log.adjusted(0, 0, 300, 200));
    EXPECT_EQ(FindControl(*dialog, kIdExitButton)->geometry(), exit.translated(300, 200));
    EXPECT_EQ(FindControl(*dialog, kIdBuildButton)->geometry(), build.translated(300, 0));
    EXPECT_EQ(Field(kIdBuildPageEdit)->width(), pageWidth + 300);
    EXPECT_TRUE(QRect(QPoint(0, 0), dialog->size())
                    .contains(FindControl(*dialog, kIdExitButton)->geometry()));

    dialog->resize(start - QSize(100, 100));
    EXPECT_EQ(dialog->size(), start);

    // A long line wraps instead of running out of sight sideways.
    Log()->SetMessage(QStringLiteral("Компиляция остановлена: ") + QString(400, QLatin1Char('x')));
    QCoreApplication::processEvents();
    EXPECT_EQ(Log()->lineWrapMode(), QTextEdit::WidgetWidth);
    EXPECT_EQ(Log()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(BuildDlgTest, BrowseFillsThePathsTheTitleAndTheReport) {
    const QString page = Page("start.html", "<html><head><TITLE>Руководство  Пользователя</Title>");
    Browse(page);

    ASSERT_EQ(dialogs.Calls().size(), 1u);
    const auto& pick = dialogs.Calls()[0];
    EXPECT_EQ(pick.text, QStringLiteral("Открываем web-файл ..."));
    EXPECT_EQ(pick.owner, dialog.get());
    ASSERT_EQ(pick.filters.size(), 2);
    EXPECT_EQ(pick.filters[0].description, QStringLiteral("*.htm и *.html файлы"));
    EXPECT_EQ(pick.filters[0].patterns, QStringLiteral("*.htm *.html"));
    EXPECT_EQ(pick.filters[1].description, QStringLiteral("Все файлы (*.*)"));
    EXPECT_EQ(pick.filters[1].patterns, QStringLiteral("*"));

    EXPECT_EQ(Input(), page);
    EXPECT_EQ(Output(), Q(files / "start.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Руководство  Пользователя"));
    EXPECT_EQ(LogText(), QStringLiteral("Файл 'start.html'") + kReportTail);
}

// A page typed into its field counts once the focus leaves the field: the
// output and title follow it as after "Обзор ...", but what the user typed
// into those fields stays.
TEST_F(BuildDlgTest, ATypedPageFillsOutputAndTitleButNotOverTypedOnes) {
    const QString first = Page("first.htm", "<title>Первый</title>");
    const QString second = Page("second.htm", "<title>Второй</title>");
    const QString third = Page("third.htm", "<title>Третий</title>");
    Browse(first);
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    const auto type = [&](int id, const QString& text) {
        QLineEdit* field = Field(id);
        field->setFocus();
        field->selectAll();
        field->insert(text); // as typed; key clicks know only ASCII
        QTest::keyClick(field, Qt::Key_Tab);
    };

    type(kIdBuildPageEdit, second);
    EXPECT_EQ(Output(), Q(files / "second.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Второй"));
    EXPECT_EQ(LogText(), QStringLiteral("Файл 'second.htm'") + kReportTail);

    // A typed output stays; the title still follows the page.
    type(kIdBuildOutputEdit, QStringLiteral("/tmp/мой.chm"));
    type(kIdBuildPageEdit, third);
    EXPECT_EQ(Output(), QStringLiteral("/tmp/мой.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Третий"));

    // A typed title stays, and so does everything for a page that is not there.
    type(kIdBuildTitleEdit, QStringLiteral("Мой заголовок"));
    type(kIdBuildPageEdit, Q(files / "missing.htm"));
    EXPECT_EQ(Title(), QStringLiteral("Мой заголовок"));
    EXPECT_EQ(LogText(), Q(LoadString(110)) + "\n" + Q(files / "missing.htm"));
    type(kIdBuildPageEdit, first);
    EXPECT_EQ(Output(), QStringLiteral("/tmp/мой.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Мой заголовок"));

    // "Обзор ..." fills both whatever they hold, and typing follows it again.
    Browse(second);
    type(kIdBuildPageEdit, third);
    EXPECT_EQ(Output(), Q(files / "third.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Третий"));
    EXPECT_EQ(dialogs.Calls().size(), 2u); // the two picks
}

TEST_F(BuildDlgTest, OutputFolderQuestionYesNoAndCancelledPick) {
    SetOption("ChangeChmOutDir", "1");
    const QString page = Page("guide.htm", "<title>G</title>");
    TempDir outDir;

    // Yes and a folder: the help file goes there, under the page's name.
    dialogs.ExpectOpenFile(page);
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory(Q(outDir.Path().string()));
    dialog->OnBrowsePage();
    EXPECT_EQ(Output(), Q(outDir / "guide.chm"));
    ASSERT_EQ(dialogs.Calls().size(), 3u);
    EXPECT_EQ(dialogs.Calls()[1].text, kQuestion);
    EXPECT_EQ(dialogs.Calls()[2].text, kFolderTitle);

    // Yes, then the folder pick cancelled: the page's own folder.
    dialogs.ExpectOpenFile(page);
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory(QString());
    dialog->OnBrowsePage();
    EXPECT_EQ(Output(), Q(files / "guide.chm"));

    // The root comes back as it is, without a doubled separator.
    dialogs.ExpectOpenFile(page);
    dialogs.ExpectYesNo(true);
    dialogs.ExpectDirectory(QStringLiteral("/"));
    dialog->OnBrowsePage();
    EXPECT_EQ(Output(), QStringLiteral("/guide.chm"));

    // No: the page's own folder, and no folder picker.
    dialogs.ExpectOpenFile(page);
    dialogs.ExpectYesNo(false);
    dialog->OnBrowsePage();
    EXPECT_EQ(Output(), Q(files / "guide.chm"));
    EXPECT_EQ(Title(), QStringLiteral("G"));
}

TEST_F(BuildDlgTest, NoOutputFolderQuestionWhenTheOptionKeyIsMissing) {
    fs::remove_all(store.Path() / "Software/Tomebox/CmnOpts");
    Browse(Page("a.htm", "<title>A</title>"));
    EXPECT_EQ(Output(), Q(files / "a.chm"));
}

TEST_F(BuildDlgTest, CancelledFilePickShowsMessage106AndKeepsTheFields) {
    Field(kIdBuildPageEdit)->setText(QStringLiteral("/old/page.htm"));
    Field(kIdBuildOutputEdit)->setText(QStringLiteral("/old/page.chm"));
    Field(kIdBuildTitleEdit)->setText(QStringLiteral("Old"));

    Browse(QString());

    EXPECT_EQ(LogText(), QStringLiteral("При попытке открыть файл произошла ошибка или "
                                        "пользователь \nотменил операцию."));
    EXPECT_EQ(Input(), QStringLiteral("/old/page.htm"));
    EXPECT_EQ(Output(), QStringLiteral("/old/page.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Old"));
}

TEST_F(BuildDlgTest, PagesWithoutTitleOrUnreadableStillFillTheFields) {
    Browse(Page("plain.htm", "<html><body>no title here</body></html>"));
    EXPECT_EQ(Title(), QStringLiteral("plain.htm"));
    EXPECT_EQ(LogText(), QStringLiteral("Файл 'plain.htm'") + kReportTail);

    // Gone between the pick and the read.
    const QString gone = Q(files / "gone.html");
    Browse(gone);
    EXPECT_EQ(Input(), gone);
    EXPECT_EQ(Output(), Q(files / "gone.chm"));
    EXPECT_EQ(Title(), QStringLiteral("gone.html"));
    EXPECT_EQ(LogText(), QStringLiteral("Файл 'gone.html'") + kReportTail);

    // A name without an extension gets ".chm" appended; a dot in a folder
    // name is no extension.
    fs::create_directory(files.Path() / "v1.2");
    WriteFile(files.Path() / "v1.2" / "README", "<title>Readme</title>");
    Browse(Q(files / "v1.2/README"));
    EXPECT_EQ(Output(), Q(files / "v1.2/README.chm"));
    EXPECT_EQ(Title(), QStringLiteral("Readme"));
}

TEST_F(BuildDlgTest, TitleKeepsLineBreaksAndReadsWindows1251) {
    Browse(Page("crlf.htm", "<title>Two\r\nLines</title>"));
    EXPECT_EQ(Title(), QStringLiteral("Two\r\nLines"));

    // "Справка" in Windows-1251.
    Browse(Page("cp.htm", "<title>\xD1\xEF\xF0\xE0\xE2\xEA\xE0</title>"));
    EXPECT_EQ(Title(), QStringLiteral("Справка"));
}

TEST_F(BuildDlgTest, EscapeNeverClosesButTheCloseBoxAndExitDo) {
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    Field(kIdBuildPageEdit)->setFocus();
    QTest::keyClick(Field(kIdBuildPageEdit), Qt::Key_Escape);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->isVisible());

    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());

    Open();
    dialog->show();
    Click(kIdExitButton);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(BuildDlgTest, UnbuiltWindowsAndTheAboutEntryOpenNothingYet) {
    QAction* about = dialog->AboutAction();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&О программе Tomebox!..."));
    EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(dialog->actions().contains(about));
    EXPECT_EQ(dialog->contextMenuPolicy(), Qt::ActionsContextMenu);
    // The decompile button's window is tested in decompile_dlg_test.cpp.
}

TEST_F(BuildDlgTest, JobHostAnswersAWorkerThreadOnTheUserInterfaceThread) {
    Field(kIdBuildTitleEdit)->setText(QStringLiteral("Заголовок"));
    dialogs.ExpectYesNo(true);

    std::string title;
    bool yes = false;
    ScreenSize screen;
    std::atomic<bool> done = false;
    IJobHost& host = *dialog;
    std::thread worker([&] {
        title = host.ReadField(kIdTitleEdit);
        host.ShowMessage("Сообщение\r\nвторая строка");
        host.StartBusy();
        yes = host.AskYesNo("Вопрос?");
        screen = host.Screen();
        done = true;
    });
    const bool finished = WaitFor([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);

    EXPECT_EQ(title, "Заголовок");
    EXPECT_EQ(LogText(), QStringLiteral("Сообщение\nвторая строка"));
    EXPECT_TRUE(Animation()->IsPlaying());
    EXPECT_TRUE(yes);
    ASSERT_EQ(dialogs.Calls().size(), 1u);
    EXPECT_EQ(dialogs.Calls()[0].text, QStringLiteral("Вопрос?"));
    EXPECT_EQ(dialogs.Calls()[0].thread, dialog->thread());
    EXPECT_GT(screen.width, 0);
    EXPECT_GT(screen.height, 0);

    std::thread stopper([&] { host.StopBusy(); });
    EXPECT_TRUE(WaitFor([&] { return !Animation()->IsPlaying(); }));
    stopper.join();
}

TEST_F(BuildDlgTest, ClosingWhileAQuestionIsOpenEndsOnceItIsAnswered) {
    dialog->show();
    IJobHost& host = *dialog;
    // The window is told to close while the question is on screen.
    dialogs.ExpectYesNo(true, [&] { EXPECT_FALSE(dialog->close()); });

    std::atomic<int> answers = 0;
    bool first = false, second = true;
    std::thread worker([&] {
        first = host.AskYesNo("Перезаписать?");
        ++answers;
        // Once closing, questions are answered No without a box, and
        // messages go nowhere.
        second = host.AskYesNo("Ещё вопрос?");
        host.ShowMessage("не показывать");
        ++answers;
    });
    const bool finished = WaitFor([&] { return answers == 2 && !dialog->isVisible(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_TRUE(dialog->Closing());
    EXPECT_NE(LogText(), QStringLiteral("не показывать"));
    EXPECT_EQ(dialogs.Calls().size(), 1u);
}

TEST_F(BuildDlgTest, EndDialogFromAWorkerEndsTheWindowWithItsResult) {
    dialog->show();
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    IJobHost& host = *dialog;
    std::thread worker([&] { host.EndDialog(1); });
    EXPECT_TRUE(WaitFor([&] { return !dialog->isVisible(); }));
    worker.join();
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toInt(), 1);
}

// A stand-in compiler that writes the help file the project names.
void InstallFakeCompiler(const fs::path& programDir) {
    const fs::path hhc = programDir / "hhc";
    WriteFile(hhc, "#!/bin/sh\n"
                   "out=$(sed -n 's/^Compiled file=//p' \"$1\" | tr -d '\\r')\n"
                   "printf 'ITSF' > \"$out\"\n");
    fs::permissions(hhc, fs::perms::owner_all);
}

TEST_F(BuildDlgTest, BuildRunsTheJobAndItsQuitOptionEndsTheWindow) {
    InstallFakeCompiler(programDir.Path());
    SetOption("QuitAfterCompile", "1");
    Browse(Page("index.htm", "<title>Сайт</title>"));
    dialog->show();
    QSignalSpy finished(dialog.get(), &QDialog::finished);

    Click(kIdBuildButton);
    ASSERT_TRUE(WaitFor([&] { return !dialog->isVisible(); }));

    EXPECT_TRUE(fs::exists(files.Path() / "index.chm"));
    // A compiler that prints no summary leaves only where the file is.
    EXPECT_EQ(LogText(), QStringLiteral("Компиляция файла завершена.\nФайл справки: ") +
                             QString::fromStdString(files / "index.chm"));
    EXPECT_FALSE(Animation()->IsPlaying());
    EXPECT_EQ(shell.Opened(), std::vector<std::string>{files / "index.chm"});
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toInt(), 1);
}

// With "ask before overwriting" off, as it is by default, the help file of
// another site still brings the question, and "Нет" keeps it.
TEST_F(BuildDlgTest, AnotherSitesHelpFileBringsTheQuestionAndNoKeepsIt) {
    InstallFakeCompiler(programDir.Path());
    SetOption("OpenAfterCompile", "0");
    Browse(Page("index.htm", "<title>Новый сайт</title>"));
    chm::HelpModel other;
    other.defaultTopic = "/index.htm";
    other.title = "Старый сайт";
    chm::Writer writer;
    ASSERT_EQ(writer.Add("/#SYSTEM", chm::BuildHelpFiles(other).system, chm::Storage::Uncompressed),
              "");
    ASSERT_EQ(writer.Finish(files / "index.chm"), "");
    const std::string old = test::ReadFile(files.Path() / "index.chm");
    dialog->show();

    dialogs.ExpectYesNo(false);
    Click(kIdBuildButton);
    ASSERT_TRUE(WaitFor([&] { return dialogs.ScriptDone(); }));
    EXPECT_EQ(dialogs.Calls().back().text,
              QStringLiteral("Компилируемый CHM файл уже существует. Перезаписать его?\n"
                             "В нём справка другого сайта: «Старый сайт», начальная страница "
                             "index.htm."));
    dialog.reset(); // waits for the job to end
    EXPECT_EQ(test::ReadFile(files.Path() / "index.chm"), old);
}

TEST_F(BuildDlgTest, ClosingWhileAJobWaitsOnItsQuestionDoesNotHang) {
    InstallFakeCompiler(programDir.Path());
    SetOption("ConsentOnRewrite", "1");
    Browse(Page("site.htm", "<title>S</title>"));
    WriteFile(files.Path() / "site.chm", "old help");
    dialog->show();

    // The close arrives while the job's overwrite question is open; the
    // answer Yes comes too late for the job to act on it.
    dialogs.ExpectYesNo(true, [&] { dialog->close(); });
    Click(kIdBuildButton);
    ASSERT_TRUE(WaitFor([&] { return !dialog->isVisible(); }));

    EXPECT_EQ(test::ReadFile(files.Path() / "site.chm"), "old help");
    EXPECT_TRUE(shell.Opened().empty());
    // No project or other file left behind beside the page.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(files.Path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"site.chm", "site.htm"}));
}

// While a build runs, Escape stops it as "Остановить" does; the window stays.
TEST_F(BuildDlgTest, EscapeStopsARunningBuild) {
    ASSERT_TRUE(dialog->actions().contains(dialog->StopAction()));
    StartSlowBuild();
    QTest::keyClick(Field(kIdBuildPageEdit), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !Animation()->IsPlaying(); }));
    EXPECT_EQ(LogText(), Q(LoadString(kMsgCompileStopped)));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(fs::exists(files.Path() / "slow.chm"));
}

TEST_F(BuildDlgTest, ExitWhileAJobRunsShowsNothingAndWaitsForIt) {
    StartSlowBuild();
    const QString running = LogText();
    const auto started = std::chrono::steady_clock::now();
    Click(kIdExitButton);

    // The compiler is stopped rather than waited for.
    ASSERT_TRUE(WaitFor([&] { return !dialog->isVisible(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(dialog->Closing());
    EXPECT_EQ(LogText(), running);
    EXPECT_TRUE(shell.Opened().empty());
    EXPECT_EQ(dialogs.Calls().size(), 1u); // only the browse pick
}

} // namespace
} // namespace tbx
