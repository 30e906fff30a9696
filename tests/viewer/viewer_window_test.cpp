// The viewer window on real help files: one built by hhc from a Russian
// project, Microsoft's reference, damaged files, and the hand-off of a
// second start.

#include "app/converter_app.h"
#include "fake_dialogs.h"
#include "platform/process.h"
#include "support/russian_help.h"
#include "support/scripted_host.h"
#include "support/temp_dir.h"
#include "viewer/help_document.h"
#include "viewer/viewer_window.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

QT_BEGIN_NAMESPACE
// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::RecordingShell;
using test::TempDir;

bool WaitUntil(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Opens the file and waits until it is read and its first page has loaded
// (or it could not be read).
bool OpenAndWait(ViewerWindow& window, const QString& path) {
    bool opened = false, shown = false;
    QObject listening;
    QObject::connect(&window, &ViewerWindow::Opened, &listening, [&] { opened = true; });
    QObject::connect(&window, &ViewerWindow::TopicShown, &listening, [&] { shown = true; });
    window.OpenHelpFile(path);
    window.show();
    return WaitUntil([&] {
        return opened && (shown || !window.Document() || window.Document()->StartTopic().empty());
    });
}

// Shows a topic the way the handler under test does, and waits for its load.
bool ShownAfter(ViewerWindow& window, const std::function<void()>& act) {
    bool shown = false;
    QObject listening; // disconnects when it goes
    QObject::connect(&window, &ViewerWindow::TopicShown, &listening, [&](bool ok) { shown = ok; });
    act();
    return WaitUntil([&] { return shown; });
}

QString PageText(ViewerWindow& window, const QString& script = "document.body.innerText") {
    QString text;
    bool done = false;
    window.PageView()->page()->runJavaScript(script, [&](const QVariant& value) {
        text = value.toString();
        done = true;
    });
    WaitUntil([&] { return done; });
    return text;
}

// "name{child;child};name" as the tree shows its entries.
QString Tree(const QTreeWidgetItem* parent) {
    QStringList parts;
    for (int i = 0; i < parent->childCount(); ++i) {
        const QTreeWidgetItem* item = parent->child(i);
        parts << item->text(0) + (item->childCount() ? "{" + Tree(item) + "}" : QString());
    }
    return parts.join(';');
}

QStringList Keywords(const ViewerWindow& window) {
    QStringList words;
    for (int row = 0; row < window.KeywordList()->count(); ++row)
        words << window.KeywordList()->item(row)->text().trimmed();
    return words;
}

// The stored names of the topics the last search listed.
std::set<std::string> HitNames(const ViewerWindow& window) {
    std::set<std::string> names;
    for (int i = 0; i < window.SearchHits()->topLevelItemCount(); ++i)
        names.insert(
            window.SearchHits()->topLevelItem(i)->data(0, Qt::UserRole).toString().toStdString());
    return names;
}

// What pychm, an independent reader, finds for a word; nothing when it is
// not installed. Its whole-word mode misses pages holding the word (it
// stops at the first), so words here begin no longer word of the site.
std::optional<std::set<std::string>> PychmFinds(const std::string& help, const std::string& word) {
    static const char* const kScript = R"(
import sys, chm.chm
help = chm.chm.CHMFile()
if not help.LoadCHM(sys.argv[1].encode()):
    sys.exit(2)
result = help.Search(sys.argv[2].encode('cp1251'))
print('found ' + ' '.join(url.decode('cp1251') for url in (result[1] if result else {}).values()))
)";
    const std::string out = RunForOutput("/usr/bin/python3", {"-c", kScript, help, word});
    if (!out.starts_with("found"))
        return std::nullopt;
    std::set<std::string> urls;
    std::istringstream words(out.substr(5));
    for (std::string url; words >> url;)
        urls.insert(url.starts_with('/') ? url : "/" + url);
    return urls;
}

std::set<QString> Search(ViewerWindow& window, const QString& word) {
    bool finished = false;
    QObject listening;
    QObject::connect(&window, &ViewerWindow::SearchFinished, &listening, [&] { finished = true; });
    window.SearchField()->setText(word);
    window.OnListTopics();
    WaitUntil([&] { return finished; });
    std::set<QString> titles;
    for (int i = 0; i < window.SearchHits()->topLevelItemCount(); ++i)
        titles.insert(window.SearchHits()->topLevelItem(i)->text(0));
    return titles;
}

QStringList TabTitles(const ViewerWindow& window) {
    QStringList titles;
    for (int i = 0; window.NavTabs() && i < window.NavTabs()->count(); ++i)
        titles << window.NavTabs()->tabText(i);
    return titles;
}

class ViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempDir;
        help_ = new test::RussianHelp(test::BuildRussianHelp(folder_->Path(), TBX_HHC_PATH));
    }
    static void TearDownTestSuite() {
        delete help_;
        delete folder_;
    }
    void SetUp() override { ASSERT_TRUE(help_->build.empty()) << help_->build; }

    static TempDir* folder_;
    static test::RussianHelp* help_;
    RecordingShell shell;
};
TempDir* ViewerTest::folder_ = nullptr;
test::RussianHelp* ViewerTest::help_ = nullptr;

// Contents, index, search and the caption of the Russian help file, as its
// sitemaps and its window definition give them.
TEST_F(ViewerTest, RussianHelpFileShowsItsContentsIndexSearchAndCaption) {
    ViewerWindow window(shell);
    ASSERT_TRUE(OpenAndWait(window, QString::fromStdString(help_->path)));
    EXPECT_EQ(window.MessageText(), QString());
    EXPECT_EQ(TabTitles(window), QStringList({"Содержание", "Указатель", "Поиск"}));
    EXPECT_EQ(Tree(window.ContentsTree()->invisibleRootItem()),
              "Начало;Глава «Один»{Царга;Второй};Страница;Ссылки");
    EXPECT_EQ(Keywords(window), QStringList({"колонна", "щавель", "ёлка"}));
    QStringList buttons;
    for (QAction* action : window.Toolbar()->actions())
        buttons << action->text();
    EXPECT_EQ(buttons, QStringList({"Скрыть", "Назад", "Вперёд", "Домой", "Печать"}));
    EXPECT_EQ(window.geometry().size(), QSize(800, 600));

    // The start page, its caption its title: the definition asks to follow.
    EXPECT_EQ(window.ShownTopic(), "/index.htm");
    EXPECT_EQ(window.windowTitle(), "Начало");

    // A Russian word finds exactly the pages holding it, in any case.
    const std::vector<std::pair<QString, std::set<QString>>> searches = {
        {"колонна", {"Царговая колонна", "Второй раздел"}},
        {"ЦАРГА", {"Царговая колонна"}},
        {"щавель", {"Страница в UTF-8"}},
        {"колон*", {"Царговая колонна", "Второй раздел"}},
        {"несуществующее", {}},
    };
    for (const auto& [word, titles] : searches) {
        EXPECT_EQ(Search(window, word), titles) << word.toStdString();
        // pychm finds the same pages for whole words.
        if (word.endsWith('*'))
            continue;
        if (const auto pychm = PychmFinds(help_->path, word.toLower().toStdString())) {
            EXPECT_EQ(HitNames(window), *pychm) << word.toStdString();
        }
    }
    EXPECT_EQ(window.SearchStatus()->text(), "Ничего не найдено.");

    // A chosen contents entry shows, the caption follows it, the contents
    // stay on it; "Скрыть" hides the pane and becomes "Показать".
    QTreeWidgetItem* chapter = window.ContentsTree()->topLevelItem(1);
    ASSERT_TRUE(ShownAfter(window, [&] { window.OnContentsActivated(chapter->child(0)); }));
    EXPECT_EQ(window.ShownTopic(), "/glava/razdel.htm");
    EXPECT_EQ(window.windowTitle(), "Царговая колонна");
    EXPECT_EQ(window.ContentsTree()->currentItem(), chapter->child(0));
    EXPECT_TRUE(PageText(window).contains("Ректификационная колонна"));
    // Its picture came from the file too.
    EXPECT_EQ(PageText(window, "document.images[0].naturalWidth").toInt(), 1);
    // The HTML Help control's objects take no room; other objects keep theirs.
    const QString objectHeight = "var o = document.createElement('object');"
                                 "o.setAttribute('classid', 'clsid:%1');"
                                 "document.body.appendChild(o); o.offsetHeight";
    EXPECT_EQ(PageText(window, objectHeight.arg("1E2A7BD0-DAB9-11D0-B93A-00C04FC99F9E")).toInt(),
              0);
    EXPECT_GT(PageText(window, objectHeight.arg("00000000-0000-0000-0000-000000000000")).toInt(),
              0);
    window.OnHideShow();
    EXPECT_FALSE(window.NavPane()->isVisible());
    EXPECT_EQ(window.Toolbar()->actions().front()->text(), "Показать");
    window.OnHideShow();
}

TEST_F(ViewerTest, KeywordsOnSeveralTopicsAskWhichAndLinksResolve) {
    ViewerWindow window(shell);
    ASSERT_TRUE(OpenAndWait(window, QString::fromStdString(help_->path)));

    // Typing finds the keyword; one on two topics asks which.
    window.KeywordField()->setText("ко");
    window.OnKeywordEdited("ко");
    EXPECT_EQ(window.KeywordList()->currentItem()->text(), "колонна");
    window.OnDisplayKeyword();
    auto* chooser = window.findChild<QDialog*>("topicsFound");
    ASSERT_NE(chooser, nullptr);
    auto* topics = chooser->findChild<QListWidget*>("topics");
    ASSERT_EQ(topics->count(), 2);
    EXPECT_EQ(topics->item(1)->text(), "Второй раздел");
    topics->setCurrentRow(1);
    ASSERT_TRUE(ShownAfter(window, [&] { chooser->accept(); }));
    EXPECT_EQ(window.ShownTopic(), "/glava/vtoroj.htm");

    // A UTF-8 page under a Cyrillic file name reads right.
    window.OnKeywordEdited("щав");
    ASSERT_TRUE(ShownAfter(window, [&] { window.OnDisplayKeyword(); }));
    EXPECT_EQ(window.ShownTopic(), "/страница.htm");
    EXPECT_EQ(PageText(window), "Уникальное слово: щавель.");

    // "ms-its:" stays in the file; a web link goes to the desktop's browser.
    ASSERT_TRUE(ShownAfter(window, [&] { window.FollowLink("ssylki.htm"); }));
    ASSERT_TRUE(ShownAfter(window, [&] {
        window.PageView()->page()->runJavaScript("document.getElementById('its').click()");
    }));
    EXPECT_EQ(window.ShownTopic(), "/glava/vtoroj.htm");
    EXPECT_TRUE(PageText(window).contains("Колонна без царги"));
    ASSERT_TRUE(ShownAfter(window, [&] { window.FollowLink("ssylki.htm"); }));
    window.PageView()->page()->runJavaScript("document.getElementById('web').click()");
    EXPECT_TRUE(WaitUntil([&] { return !shell.Opened().empty(); }));
    EXPECT_EQ(shell.Opened(), std::vector<std::string>({"https://example.org/"}));
    EXPECT_EQ(window.ShownTopic(), "/ssylki.htm");

    // Nothing outside the file is served.
    window.FollowLink("glava/../../../etc/passwd");
    EXPECT_TRUE(window.MessageText().contains("Ссылку открыть не удалось"));
    EXPECT_FALSE(window.Document()->Serve("/#SYSTEM").found);
}

// Damaged files open as far as they can, with a message; one that is no
// help file says so. The window never hangs on them.
TEST_F(ViewerTest, DamagedFilesShowAMessage) {
    const std::string whole = test::ReadFile(help_->path);
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        QString message;
    };
    std::string garbled = whole;
    // The directory chunks and the compressed pages after the headers.
    for (std::size_t at = 0x200; at < garbled.size(); at += 97)
        garbled[at] = static_cast<char>(garbled[at] ^ 0x5A);
    const std::vector<Case> cases = {
        {"empty", "", "Файл справки не открывается"},
        {"not a help file", "<html>просто страница</html>", "Файл справки не открывается"},
        {"cut in half", whole.substr(0, whole.size() / 2), "Файл справки прочитан не полностью"},
        {"garbled", garbled, "Файл справки"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".chm");
        test::WriteFile(path, c.bytes);
        ViewerWindow window(shell);
        ASSERT_TRUE(OpenAndWait(window, QString::fromStdString(path)));
        EXPECT_TRUE(window.MessageText().contains(c.message)) << window.MessageText().toStdString();
    }
}

// One of Microsoft's own help files opens with contents, index and search.
TEST_F(ViewerTest, MicrosoftReferenceOpensWithContentsIndexAndSearch) {
    // ../shared beside the sources, or beside the folder of work trees.
    fs::path reference;
    for (const char* up : {"..", "../.."})
        if (const fs::path at =
                fs::path(TBX_SOURCE_DIR) / up /
                "shared/references/microsoft/helptest/HTML Help Project/Test Help.chm";
            fs::exists(at))
            reference = at;
    if (reference.empty())
        GTEST_SKIP() << "the references are not beside the sources";
    ViewerWindow window(shell);
    ASSERT_TRUE(OpenAndWait(window, QString::fromStdString(reference.string())));
    EXPECT_EQ(window.MessageText(), QString());
    EXPECT_GT(window.ContentsTree()->topLevelItemCount(), 3);
    EXPECT_GT(window.KeywordList()->count(), 3);
    EXPECT_FALSE(window.ShownTopic().isEmpty());
    EXPECT_FALSE(PageText(window).isEmpty());
    EXPECT_FALSE(Search(window, "license").empty());
}

// A second start hands its help file to the running copy, which opens it
// in a viewer window beside the others.
TEST_F(ViewerTest, SecondStartHandsItsFileToTheRunningCopy) {
    TempDir lockDir, store, program;
    test::ScriptedDialogs dialogs;
    CConverterApp app({lockDir.Path().string()}, RegHive(store.Path() / "registry"), dialogs, shell,
                      program.Path().string() + "/");
    app.OpenAtStart(help_->path, false);
    ProcessOutcome second;
    // A timer, not a posted call: waits nested in a posted call's handling
    // would hold back the program's own posted calls.
    QTimer::singleShot(50, &app, [&] {
        WaitUntil([&] { return app.ViewerCount() == 1; });
        // The real program, as the desktop would start it.
        ChildProcess child;
        child.Start(TBX_TOMEBOX_PATH, {help_->path},
                    {"XDG_RUNTIME_DIR=" + lockDir.Path().string(), "QT_QPA_PLATFORM=offscreen"});
        std::atomic<bool> ended{false};
        std::thread wait([&] {
            second = child.Wait();
            ended = true;
        });
        if (!WaitUntil([&] { return ended.load(); }, 20000))
            child.Terminate(); // a hang is a failure, not a stuck run
        wait.join();
        WaitUntil([&] { return app.ViewerCount() == 2; }, 10000);
        EXPECT_EQ(app.ViewerCount(), 2u);
        EXPECT_EQ(app.BuildWindow(), nullptr); // a help file needs no build window
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<ViewerWindow*>(window))
                window->close();
    });
    EXPECT_TRUE(app.InitInstance());
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0) << second.errorOutput;
    EXPECT_TRUE(dialogs.Calls().empty());
}

} // namespace
} // namespace tbx
