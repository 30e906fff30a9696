#include "app/build_dlg.h"
#include "controls/dialog_builder.h"
#include "fake_dialogs.h"
#include "index/index_dlg.h"
#include "index/index_page.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "support/options.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using test::FakeShell;
using test::ReadFile;
using test::ScriptedDialogs;
using test::SetOptions;
using test::TempDir;
using test::WriteFile;
using Kind = ScriptedDialogs::Kind;

const QString kDeleteNoRow =
    QStringLiteral("Для удаления файла из списка его необходимо выделить.");

QString Text(int id) {
    return QString::fromStdString(LoadString(id));
}

// Three pages and files that are not pages, in a folder of their own.
void WriteSite(const TempDir& dir) {
    WriteFile(dir / "b.htm", "<html><head><title>Вторая</title></head></html>");
    WriteFile(dir / "a.htm", "<title>" + *EncodeCp1251Exact("Первая") + "</title>");
    WriteFile(dir / "C.html", "<html><body>без заголовка</body></html>");
    WriteFile(dir / "readme.txt", "<title>not a page</title>");
}

class IndexDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSite(pages);
        dialog = std::make_unique<CIndexDlg>(hive, dialogs, program.Path().string() + "/");
        dialog->show();
    }
    void TearDown() override {
        dialog.reset();
        EXPECT_TRUE(dialogs.ScriptDone());
        ClearIndexHandOff();
    }

    std::string Folder() const { return pages.Path().string() + "/"; }
    QTreeWidget* List() const { return FindControl<QTreeWidget>(*dialog, kIdIndexPages); }
    QString Title(int row) const { return List()->topLevelItem(row)->text(0); }
    QString File(int row) const { return List()->topLevelItem(row)->text(1); }
    QStringList Files() const {
        QStringList files;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            files << File(i);
        return files;
    }
    void Browse(const QString& folder) {
        dialogs.ExpectDirectory(folder);
        dialog->OnBrowse();
    }
    void Select(int row) { List()->setCurrentItem(List()->topLevelItem(row)); }
    void Click(int id) { QTest::mouseClick(FindControl<QPushButton>(*dialog, id), Qt::LeftButton); }
    // Clicks the button and expects one information box with this text.
    void ExpectMessageOn(int button, const QString& text) {
        const std::size_t before = dialogs.Calls().size();
        dialogs.ExpectMessage();
        Click(button);
        ASSERT_EQ(dialogs.Calls().size(), before + 1);
        EXPECT_EQ(dialogs.Calls().back().kind, Kind::Message);
        EXPECT_EQ(dialogs.Calls().back().text, text);
        EXPECT_EQ(dialogs.Calls().back().icon, MessageIcon::Information);
        EXPECT_EQ(dialogs.Calls().back().owner, dialog.get());
    }
    // The in-place editor the edit button opened, or nullptr.
    QLineEdit* StartEdit(int row) {
        // Editors of earlier edits are deleted late; let them go first.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Select(row);
        Click(kIdIndexEdit);
        const auto editors = List()->viewport()->findChildren<QLineEdit*>();
        for (QLineEdit* editor : editors) {
            if (editor->isVisible())
                return editor;
        }
        return nullptr;
    }

    TempDir pages, program, store;
    RegHive hive{store.Path()};
    ScriptedDialogs dialogs;
    std::unique_ptr<CIndexDlg> dialog;
};

TEST_F(IndexDlgTest, BrowseListsThePagesWithTitlesAndIcons) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Tomebox! 1.2.1 - Индекс"));
    const QHeaderView* header = List()->header();
    EXPECT_EQ(List()->headerItem()->text(0), QStringLiteral("Содержимое TITLE тега"));
    EXPECT_EQ(List()->headerItem()->text(1), QStringLiteral("Веб-страничкa"));
    EXPECT_EQ(header->sectionSize(0), 265);
    EXPECT_FALSE(header->sectionsClickable());
    fs::create_directory(pages.Path() / "folder.htm");

    Browse(QString::fromStdString(pages.Path().string()));

    EXPECT_EQ(dialogs.Calls().back().text,
              QStringLiteral("Выбираем каталог с HTM файлами для индексирования"));
    EXPECT_EQ(dialog->Folder(), Folder());
    EXPECT_EQ(Files(), (QStringList{"a.htm", "b.htm", "C.html", "folder.htm"}));
    EXPECT_EQ(Title(0), QStringLiteral("Первая"));
    EXPECT_EQ(Title(1), QStringLiteral("Вторая"));
    EXPECT_EQ(Title(2), QStringLiteral("C.html"));
    EXPECT_EQ(Title(3), QStringLiteral("---NoTitle---"));
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(List()->topLevelItem(i)->icon(0).isNull()) << i;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr); // the wait cursor is gone again
}

TEST_F(IndexDlgTest, CancelKeepsTheListAndASecondFolderReplacesIt) {
    Browse(QString::fromStdString(Folder()));
    Select(1);
    Click(kIdIndexUp);
    dialog->OnEndLabelEdit(0, QStringLiteral("edited"));

    Browse({}); // cancelled
    EXPECT_EQ(Files(), (QStringList{"b.htm", "a.htm", "C.html"}));
    EXPECT_EQ(Title(0), QStringLiteral("edited"));
    EXPECT_EQ(dialog->Folder(), Folder()); // the rows keep the folder they came from

    TempDir other;
    WriteFile(other / "z.htm", "<title>Z</title>");
    Browse(QString::fromStdString(other.Path().string()));
    EXPECT_EQ(Files(), QStringList{"z.htm"});
    EXPECT_EQ(Title(0), QStringLiteral("Z"));
}

TEST_F(IndexDlgTest, MovingRowsKeepsThemSelectedAndStopsAtTheEnds) {
    Browse(QString::fromStdString(Folder()));
    ExpectMessageOn(kIdIndexUp, Text(125));
    ExpectMessageOn(kIdIndexDown, Text(127));
    ExpectMessageOn(kIdIndexDelete, kDeleteNoRow);
    ExpectMessageOn(kIdIndexEdit, Text(129));

    Select(1);
    Click(kIdIndexUp);
    EXPECT_EQ(Files(), (QStringList{"b.htm", "a.htm", "C.html"}));
    EXPECT_EQ(Title(0), QStringLiteral("Вторая"));
    EXPECT_FALSE(List()->topLevelItem(0)->icon(0).isNull());
    EXPECT_EQ(dialog->CurrentRow(), 0);
    ExpectMessageOn(kIdIndexUp, Text(126));

    Click(kIdIndexDown);
    Click(kIdIndexDown);
    EXPECT_EQ(Files(), (QStringList{"a.htm", "C.html", "b.htm"}));
    EXPECT_EQ(dialog->CurrentRow(), 2);
    ExpectMessageOn(kIdIndexDown, Text(128));
    EXPECT_EQ(Files(), (QStringList{"a.htm", "C.html", "b.htm"}));
}

TEST_F(IndexDlgTest, DeleteDropsTheRowButNotTheFile) {
    Browse(QString::fromStdString(Folder()));
    Select(0);
    Click(kIdIndexDelete);
    EXPECT_EQ(Files(), (QStringList{"b.htm", "C.html"}));
    EXPECT_TRUE(fs::exists(pages.Path() / "a.htm"));
    EXPECT_EQ(dialog->CurrentRow(), 0); // the next row is ready to go too
    Click(kIdIndexDelete);
    Click(kIdIndexDelete);
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    ExpectMessageOn(kIdIndexDelete, kDeleteNoRow);
}

TEST_F(IndexDlgTest, TitlesAreEditedInPlace) {
    Browse(QString::fromStdString(Folder()));

    QLineEdit* editor = StartEdit(1);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QStringLiteral("Вторая"));
    editor->setText(QStringLiteral("Глава 2"));
    QTest::keyClick(editor, Qt::Key_Return); // confirms; does not press "Обзор ..."
    QCoreApplication::processEvents();
    EXPECT_EQ(Title(1), QStringLiteral("Глава 2"));
    EXPECT_EQ(File(1), QStringLiteral("b.htm"));

    editor = StartEdit(1);
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("discarded"));
    QTest::keyClick(editor, Qt::Key_Escape); // cancels the edit, not the window
    QCoreApplication::processEvents();
    EXPECT_EQ(Title(1), QStringLiteral("Глава 2"));
    EXPECT_TRUE(dialog->isVisible());

    editor = StartEdit(0);
    ASSERT_NE(editor, nullptr);
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Enter);
    QCoreApplication::processEvents();
    EXPECT_EQ(Title(0), QString());
    EXPECT_TRUE(dialogs.Calls().size() == 1); // only the folder picker
}

TEST_F(IndexDlgTest, IndexWritesThePageAndAsksBeforeHandingItOff) {
    ExpectMessageOn(kIdIndexRun, Text(130));
    EXPECT_FALSE(fs::exists(pages.Path() / kIndexPageName));

    SetOptions(hive, kIndOptsKey, {{"IndexingFinish", "1"}, {"SendToCompiler", "1"}});
    Browse(QString::fromStdString(Folder()));
    Select(2);
    Click(kIdIndexUp);
    dialog->OnEndLabelEdit(1, QStringLiteral("Третья"));
    dialogs.ExpectMessage();
    dialogs.ExpectYesNo(false);
    Click(kIdIndexRun);

    const auto& calls = dialogs.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].text, Text(131));
    EXPECT_EQ(calls.back().text, Text(132));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(List()->topLevelItemCount(), 3);
    EXPECT_TRUE(g_strIndexPage.empty());
    const std::string page = ReadFile(pages / kIndexPageName);
    const std::size_t first = page.find("1. " + *EncodeCp1251Exact("Первая"));
    const std::size_t second = page.find("2. " + *EncodeCp1251Exact("Третья"));
    const std::size_t third = page.find("3. " + *EncodeCp1251Exact("Вторая"));
    EXPECT_TRUE(first < second && second < third && third != std::string::npos);
    EXPECT_LT(page.find("href=\"C.html\""), page.find("href=\"b.htm\""));

    dialogs.ExpectMessage();
    dialogs.ExpectYesNo(true);
    Click(kIdIndexRun);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_EQ(g_strIndexPage, Folder() + "index_tbx.html");
    EXPECT_EQ(g_strIndexChm, Folder() + "index_tbx.chm");
    EXPECT_EQ(g_strIndexTitle, "Tomebox! ==СОДЕРЖАНИЕ==");
}

TEST_F(IndexDlgTest, AFailedWriteIsReportedAndNothingIsHandedOff) {
    SetOptions(hive, kIndOptsKey, {{"IndexingFinish", "1"}, {"SendToCompiler", "1"}});
    Browse(QString::fromStdString(Folder()));
    fs::remove_all(pages.Path());

    dialogs.ExpectMessage();
    Click(kIdIndexRun);

    EXPECT_TRUE(dialogs.Calls().back().text.startsWith(Text(kMsgIndexWriteFailed) + '\n'));
    EXPECT_EQ(dialogs.Calls().back().icon, MessageIcon::Error);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(g_strIndexPage.empty());
}

// Changes not yet written are not lost unasked, whichever way the window
// closes; a list as the folder gave it, or as written, closes at once.
TEST_F(IndexDlgTest, ClosingAsksBeforeLosingUnwrittenChangesAndDeleteKeyDrops) {
    Browse(QString::fromStdString(Folder()));
    Select(0);
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(Files(), (QStringList{"b.htm", "C.html"}));
    EXPECT_TRUE(dialog->ListChanged());

    const QString question = Text(kMsgIndexUnwritten);
    const std::function<void()> closers[] = {
        [&] { QTest::keyClick(List(), Qt::Key_Escape); },
        [&] { dialog->close(); },
        [&] { Click(kIdIndexBack); },
    };
    for (const auto& close : closers) {
        dialogs.ExpectYesNo(false);
        close();
        EXPECT_EQ(dialogs.Calls().back().text, question);
        EXPECT_TRUE(dialog->isVisible());
    }

    // A retitled row counts too; writing the page makes the list safe to close.
    dialog->OnEndLabelEdit(0, QStringLiteral("Новая"));
    Click(kIdIndexRun);
    EXPECT_FALSE(dialog->ListChanged());
    QTest::keyClick(List(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());

    // Yes lets the changes go.
    dialog->show();
    Select(1);
    Click(kIdIndexUp);
    dialogs.ExpectYesNo(true);
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());

    // No row: Delete says so, as the button does.
    dialog->show();
    List()->clearSelection();
    List()->setCurrentItem(nullptr);
    dialogs.ExpectMessage();
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(dialogs.Calls().back().text, kDeleteNoRow);
}

TEST_F(IndexDlgTest, BackClosesWithResultOne) {
    Click(kIdIndexBack);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_TRUE(g_strIndexPage.empty());
}

// The build window opening the index window and taking over its page.
class IndexHandOffTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSite(pages);
        build = std::make_unique<CBuildDlg>(hive, dialogs, shell, program.Path().string() + "/");
        SetOptions(hive, kIndOptsKey, {{"IndexingFinish", "0"}, {"SendToCompiler", "1"}});
    }
    void TearDown() override {
        build.reset();
        EXPECT_TRUE(dialogs.ScriptDone());
    }

    std::string Folder() const { return pages.Path().string() + "/"; }
    QString Field(int id) const { return FindControl<QLineEdit>(*build, id)->text(); }

    // Opens the index window from the build window; act runs while it is shown.
    void OpenIndex(const std::function<void(CIndexDlg&)>& act) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* index = qobject_cast<CIndexDlg*>(QApplication::activeModalWidget());
            if (!index) {
                ADD_FAILURE() << "the index window is not open";
                return;
            }
            ran = true;
            act(*index);
            if (index->isVisible())
                index->OnBack();
        });
        QTest::mouseClick(FindControl<QPushButton>(*build, kIdIndexButton), Qt::LeftButton);
        EXPECT_TRUE(ran);
    }
    void IndexAndHandOff(CIndexDlg& index) {
        dialogs.ExpectDirectory(QString::fromStdString(Folder()));
        index.OnBrowse();
        dialogs.ExpectYesNo(true);
        index.OnIndex();
    }

    TempDir pages, program, store, out;
    RegHive hive{store.Path()};
    ScriptedDialogs dialogs;
    FakeShell shell;
    std::unique_ptr<CBuildDlg> build;
};

TEST_F(IndexHandOffTest, TheWrittenPageFillsTheBuildFields) {
    SetOptions(hive, kCmnOptsKey, {{"ChangeChmOutDir", "0"}});
    OpenIndex([&](CIndexDlg& index) { IndexAndHandOff(index); });

    EXPECT_EQ(Field(kIdBuildPageEdit), QString::fromStdString(Folder() + "index_tbx.html"));
    EXPECT_EQ(Field(kIdBuildOutputEdit), QString::fromStdString(Folder() + "index_tbx.chm"));
    EXPECT_EQ(Field(kIdBuildTitleEdit), QStringLiteral("Tomebox! ==СОДЕРЖАНИЕ=="));
    EXPECT_TRUE(g_strIndexPage.empty() && g_strIndexChm.empty() && g_strIndexTitle.empty());
}

TEST_F(IndexHandOffTest, AnOutputFolderCanBeChosenForTheHelpFile) {
    SetOptions(hive, kCmnOptsKey, {{"ChangeChmOutDir", "1"}});
    OpenIndex([&](CIndexDlg& index) {
        IndexAndHandOff(index);
        dialogs.ExpectYesNo(true);
        dialogs.ExpectDirectory(QString::fromStdString(out.Path().string()));
    });
    EXPECT_EQ(dialogs.Calls().back().text,
              QStringLiteral("Выбираем каталог для выходного CHM файла"));
    EXPECT_EQ(Field(kIdBuildOutputEdit),
              QString::fromStdString(out.Path().string() + "/index_tbx.chm"));

    // A cancelled folder choice keeps the help file beside the page.
    OpenIndex([&](CIndexDlg& index) {
        IndexAndHandOff(index);
        dialogs.ExpectYesNo(true);
        dialogs.ExpectDirectory({});
    });
    EXPECT_EQ(Field(kIdBuildOutputEdit), QString::fromStdString(Folder() + "index_tbx.chm"));
    EXPECT_TRUE(g_strIndexPage.empty());
}

TEST_F(IndexHandOffTest, ClosingWithoutAPageLeavesTheFieldsAlone) {
    FindControl<QLineEdit>(*build, kIdBuildPageEdit)->setText(QStringLiteral("/keep/me.htm"));
    OpenIndex([&](CIndexDlg& index) {
        dialogs.ExpectDirectory(QString::fromStdString(Folder()));
        index.OnBrowse();
        dialogs.ExpectYesNo(false); // indexed, but not handed off
        index.OnIndex();
    });
    EXPECT_EQ(Field(kIdBuildPageEdit), QStringLiteral("/keep/me.htm"));
    EXPECT_TRUE(Field(kIdBuildOutputEdit).isEmpty());
    EXPECT_TRUE(fs::exists(pages.Path() / kIndexPageName));
}

} // namespace
} // namespace tbx
