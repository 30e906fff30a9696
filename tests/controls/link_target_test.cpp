#include "controls/link_target.h"
#include "platform/shell.h"
#include "support/scripted_host.h"

#include <gtest/gtest.h>

namespace tbx {
namespace {

TEST(LinkTarget, TargetFromTextAddsTheSchemeToWwwOnly) {
    EXPECT_EQ(LinkTargetFromText("www.example.org"), "http://www.example.org");
    EXPECT_EQ(LinkTargetFromText("WWW.Example.org"), "http://WWW.Example.org");
    EXPECT_EQ(LinkTargetFromText("example.org"), "example.org");
    EXPECT_EQ(LinkTargetFromText("ww"), "ww");
}

TEST(LinkTarget, TipTextNamesWhereTheLinkLeads) {
    EXPECT_EQ(BuildTipText("http://tomebox.example.org/"), "Go to tomebox.example.org/");
    EXPECT_EQ(BuildTipText("HTTP://X.example/"), "Go to X.example/");
    EXPECT_EQ(BuildTipText("mailto:tomebox@example.org"), "E-mail tomebox@example.org");
    EXPECT_EQ(BuildTipText("MailTo:a@b"), "E-mail a@b");
    EXPECT_EQ(BuildTipText("ftp://files.example/"), "ftp://files.example/");
    EXPECT_EQ(BuildTipText("https://x.example/"), "https://x.example/");
    EXPECT_EQ(BuildTipText("http://x.example/", false), "http://x.example/");
    EXPECT_EQ(BuildTipText(""), "");
}

TEST(LinkTarget, HandlerCommandIsCutAtItsFirstFieldCode) {
    EXPECT_EQ(HandlerCommandPrefix("firefox-esr %u"), "firefox-esr ");
    EXPECT_EQ(HandlerCommandPrefix("/opt/browser/run \"%U\" --new-window"), "/opt/browser/run ");
    EXPECT_EQ(HandlerCommandPrefix("viewer %f --flag"), "viewer ");
    // "%%" is a literal percent sign, not a field code.
    EXPECT_EQ(HandlerCommandPrefix("tool --rate=50%% %u"), "tool --rate=50%% ");
    EXPECT_EQ(HandlerCommandPrefix("browser"), "browser");
    EXPECT_EQ(HandlerCommandPrefix("odd 5%"), "odd 5%");
}

TEST(LinkTarget, LaunchErrorTextForEveryCodeAndAnUnlistedOne) {
    const std::string head = "Unable to open hyperlink:\n\n";
    EXPECT_EQ(LaunchErrorText(2), head + "The specified file was not found.");
    EXPECT_EQ(LaunchErrorText(31),
              head + "There is no application associated\nwith the given filename extension.");
    EXPECT_EQ(LaunchErrorText(26), head + "A sharing violation occurred. ");
    EXPECT_EQ(LaunchErrorText(99), head + "Unknown Error (99) occurred.");
    EXPECT_EQ(LaunchErrorText(-1), head + "Unknown Error (-1) occurred.");
    // Every listed code has a text of its own.
    for (int code : {0, 2, 3, 5, 8, 11, 26, 27, 28, 29, 30, 31, 32})
        EXPECT_EQ(LaunchErrorText(code).find("Unknown"), std::string::npos) << code;
}

TEST(LinkTarget, OpenTargetFallsBackToTheBrowserOnlyWhenTheOpenerFails) {
    test::RecordingShell shell;
    shell.browser = "browser --private \"%u\"";
    EXPECT_EQ(OpenTarget(shell, "http://a b.example/"), kLaunchOk);
    EXPECT_TRUE(shell.ran.empty());

    shell.openResult = kLaunchNoAssociation;
    EXPECT_EQ(OpenTarget(shell, "http://a b.example/"), kLaunchOk);
    EXPECT_EQ(shell.ran, std::vector<std::string>{"browser --private |http://a b.example/"});

    shell.runResult = kLaunchFileNotFound;
    EXPECT_EQ(OpenTarget(shell, "x"), kLaunchFileNotFound);

    // No browser known: the opener's own result is what failed.
    shell.browser.clear();
    shell.ran.clear();
    EXPECT_EQ(OpenTarget(shell, "x"), kLaunchNoAssociation);
    EXPECT_TRUE(shell.ran.empty());
}

} // namespace
} // namespace tbx
