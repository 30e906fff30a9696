#include "app/build_dlg.h"
#include "controls/about_dlg.h"
#include "controls/dialog_builder.h"
#include "controls/link_label.h"
#include "fake_dialogs.h"
#include "res/layouts.h"
#include "support/scripted_host.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>

namespace tbx {
namespace {

using test::ScriptedDialogs;
using Kind = ScriptedDialogs::Kind;

class AboutDlgTest : public ::testing::Test {
protected:
    AboutDlgTest() : about(shell, dialogs) { about.show(); }

    void Click(CLinkLabel* link) { QTest::mouseClick(link, Qt::LeftButton); }

    ScriptedDialogs dialogs;
    test::RecordingShell shell;
    CAboutDlg about;
};

TEST_F(AboutDlgTest, LinksShowTheAddressesAndTellWhereTheyLead) {
    EXPECT_EQ(about.windowTitle(), QStringLiteral("О программе Tomebox!"));
    CLinkLabel* web = about.WebLink();
    CLinkLabel* mail = about.MailLink();
    EXPECT_EQ(web->text(), QStringLiteral("http://tomebox.example.org/"));
    EXPECT_EQ(web->Target(), QStringLiteral("http://tomebox.example.org/"));
    EXPECT_EQ(web->toolTip(), QStringLiteral("Go to tomebox.example.org/"));
    // The mail link shows the bare address but opens a mailto: target.
    EXPECT_EQ(mail->text(), QStringLiteral("tomebox@example.org"));
    EXPECT_EQ(mail->Target(), QStringLiteral("mailto:tomebox@example.org"));
    EXPECT_EQ(mail->toolTip(), QStringLiteral("E-mail tomebox@example.org"));
    EXPECT_EQ(web->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(web->TextColour(), CLinkLabel::kLinkColour);
    // Sized to its text, which therefore fits.
    const QFontMetrics underlined([&] {
        QFont f = web->font();
        f.setUnderline(true);
        return f;
    }());
    EXPECT_GE(web->width(), underlined.horizontalAdvance(web->text()));
    EXPECT_LE(web->geometry().right(), about.width());
}

TEST_F(AboutDlgTest, HoverUnderlinesAndReddensUntilThePointerLeaves) {
    CLinkLabel* web = about.WebLink();
    QTest::mouseMove(web, web->rect().center());
    EXPECT_TRUE(web->Hovering());
    EXPECT_EQ(web->TextColour(), CLinkLabel::kHoverColour);
    EXPECT_TRUE(web->font().underline());

    // Leaving sends no event to the label; its timer notices.
    QCursor::setPos(about.mapToGlobal(QPoint(1, about.height() - 2)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !web->Hovering(); }, 2000));
    EXPECT_EQ(web->TextColour(), CLinkLabel::kLinkColour);
    EXPECT_FALSE(web->font().underline());
}

TEST_F(AboutDlgTest, ASuccessfulClickMarksTheLinkVisited) {
    Click(about.MailLink());
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.MailLink()->Visited(); }, 5000));
    EXPECT_EQ(shell.Opened(), std::vector<std::string>{"mailto:tomebox@example.org"});
    EXPECT_EQ(about.MailLink()->TextColour(), CLinkLabel::kVisitedColour);
    EXPECT_FALSE(about.WebLink()->Visited());

    // Keyboard users open it with Enter.
    about.WebLink()->setFocus();
    QTest::keyClick(about.WebLink(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.WebLink()->Visited(); }, 5000));
    EXPECT_EQ(shell.Opened().back(), "http://tomebox.example.org/");
    EXPECT_TRUE(dialogs.Calls().empty());
}

TEST_F(AboutDlgTest, FailedOpenTriesTheBrowserThenExplainsTheError) {
    shell.openResult = kLaunchNoAssociation;
    shell.browser = "browser --new \"%u\"";
    Click(about.WebLink());
    ASSERT_TRUE(QTest::qWaitFor([&] { return about.WebLink()->Visited(); }, 5000));
    EXPECT_EQ(shell.ran, std::vector<std::string>{"browser --new |http://tomebox.example.org/"});

    shell.runResult = kLaunchFileNotFound;
    dialogs.ExpectMessage();
    Click(about.WebLink());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.Calls().empty(); }, 5000));
    ASSERT_EQ(dialogs.Calls().size(), 1u);
    EXPECT_EQ(dialogs.Calls()[0].text,
              QStringLiteral("Unable to open hyperlink:\n\nThe specified file was not found."));
    EXPECT_EQ(dialogs.Calls()[0].icon, MessageIcon::Warning);
    EXPECT_FALSE(about.WebLink()->Visited());
    EXPECT_TRUE(about.isVisible());
}

// An opener that ends only when the test lets it, with the result set.
class GatedShell : public test::RecordingShell {
public:
    int Open(const std::string& target) override {
        RecordingShell::Open(target);
        waiting_ = true;
        // Bounded, so that a click which waits here fails the test instead of hanging it.
        gate_.wait_for(std::chrono::seconds(10));
        waiting_ = false;
        return openResult;
    }
    bool Waiting() const { return waiting_; }
    void Release() { release_.set_value(); }

private:
    std::atomic<bool> waiting_{false};
    std::promise<void> release_;
    std::shared_future<void> gate_ = release_.get_future().share();
};

// The opener runs off the interface thread: a click returns while it still
// runs, and its outcome shows when it comes, also a failure after a while.
TEST(LinkLabel, ASlowOpenerNeitherFreezesTheWindowNorPassesForSuccess) {
    for (const int result : {kLaunchOk, kLaunchNoAssociation, kLaunchFileNotFound}) {
        SCOPED_TRACE(result);
        GatedShell shell;
        shell.openResult = result;
        ScriptedDialogs dialogs;
        auto about = std::make_unique<CAboutDlg>(shell, dialogs);
        about->show();
        QTest::mouseClick(about->WebLink(), Qt::LeftButton);

        // The click came back while the opener runs.
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.Waiting(); }, 5000));
        EXPECT_FALSE(about->WebLink()->Visited());
        if (result == kLaunchFileNotFound) {
            // A window closed meanwhile gets nothing when the opener ends.
            about.reset();
            shell.Release();
            ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.Waiting(); }, 5000));
            QTest::qWait(50);
            EXPECT_TRUE(dialogs.Calls().empty());
            continue;
        }
        if (result != kLaunchOk)
            dialogs.ExpectMessage();
        shell.Release();
        if (result == kLaunchOk) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return about->WebLink()->Visited(); }, 5000));
            EXPECT_TRUE(dialogs.Calls().empty());
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.Calls().empty(); }, 5000));
            EXPECT_EQ(dialogs.Calls()[0].text,
                      QStringLiteral("Unable to open hyperlink:\n\nThere is no application "
                                     "associated\nwith the given filename extension."));
            EXPECT_FALSE(about->WebLink()->Visited());
        }
    }
}

TEST(LinkLabel, SetTargetBeforeAttachOnlyStoresItAndWwwTextBecomesHttp) {
    ScriptedDialogs dialogs;
    test::RecordingShell shell;
    CLinkLabel empty(QString{});
    empty.SetTarget(QStringLiteral("http://a.example/"));
    EXPECT_TRUE(empty.text().isEmpty());
    EXPECT_TRUE(empty.toolTip().isEmpty());
    empty.Attach(shell, dialogs);
    EXPECT_EQ(empty.text(), QStringLiteral("http://a.example/"));
    EXPECT_EQ(empty.toolTip(), QStringLiteral("Go to a.example/"));

    CLinkLabel www(QStringLiteral("www.tomebox.example.org"));
    www.Attach(shell, dialogs);
    EXPECT_EQ(www.Target(), QStringLiteral("http://www.tomebox.example.org"));
    EXPECT_EQ(www.toolTip(), QStringLiteral("Go to www.tomebox.example.org"));

    // Always underlined stays so after hovering.
    www.ChangeUnderlineMode(1);
    EXPECT_TRUE(www.font().underline());
    www.ChangeUnderlineMode(0);
    EXPECT_FALSE(www.font().underline());
}

TEST(LinkLabel, AboutBoxOpensFromTheBuildWindowsAboutEntry) {
    test::TempDir store;
    ScriptedDialogs dialogs;
    test::RecordingShell shell;
    CBuildDlg build(RegHive(store.Path()), dialogs, shell, "/nowhere/");
    build.show();
    QString title, webTip;
    bool hadIcon = false;
    // The box is modal: look at it while it is open, then close it with OK.
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        webTip = about->WebLink()->toolTip();
        hadIcon = !about->windowIcon().isNull();
        QTest::mouseClick(FindControl<QPushButton>(*about, kIdAboutOk), Qt::LeftButton);
    });
    build.AboutAction()->trigger();
    EXPECT_EQ(title, QStringLiteral("О программе Tomebox!"));
    EXPECT_EQ(webTip, QStringLiteral("Go to tomebox.example.org/"));
    EXPECT_TRUE(hadIcon);
}

} // namespace
} // namespace tbx
