#include "protocol/tool_output.h"
#include "site/site_walk.h"

#include <gtest/gtest.h>
#include <string>

namespace tbx {
namespace {

// Each line as a tool might print it, and the pane's text for it (empty when
// the line is no progress).
TEST(ProgressLine, ParsesExactlyTheToolsFormsIntoRussianText) {
    const struct {
        const char* line;
        const char* text;
    } cases[] = {
        {"files read: 12", "Прочитано файлов: 12"},
        {"files read: 0\r", "Прочитано файлов: 0"},
        {"files compressed: 7 of 3000", "Сжато файлов: 7 из 3000"},
        {"files compressed: 3000 of 3000", "Сжато файлов: 3000 из 3000"},
        {"files extracted: 0 of 0", "Извлечено файлов: 0 из 0"},
        {"files extracted: 18446744073709551615 of 18446744073709551615",
         "Извлечено файлов: 18446744073709551615 из 18446744073709551615"},
        // Not progress: other output, other spellings, damaged counts.
        {"", ""},
        {"warning: link to missing.htm on start.htm", ""},
        {"files read: ", ""},
        {"files read: 12 of 20", ""},
        {"files read: -1", ""},
        {"files read: +1", ""},
        {"Files read: 1", ""},
        {" files read: 1", ""},
        {"files read:  1", ""},
        {"files compressed: 4 of 3", ""},
        {"files compressed: 4 of", ""},
        {"files compressed: 4of 5", ""},
        {"files extracted: 1 of 2 ", ""},
        {"files extracted: 18446744073709551616 of 18446744073709551617", ""},
        {"files read: 1\r\r", ""},
    };
    for (const auto& c : cases) {
        const auto progress = ParseProgressLine(c.line);
        EXPECT_EQ(progress ? ProgressText(*progress) : std::string(), c.text) << c.line;
    }
}

TEST(ProgressLine, PrintedFormsParseBack) {
    for (const ProgressLine& progress : {ProgressLine{ProgressKind::FilesRead, 7, 0},
                                         ProgressLine{ProgressKind::FilesCompressed, 0, 9},
                                         ProgressLine{ProgressKind::FilesExtracted, 9, 9}}) {
        const auto parsed = ParseProgressLine(FormatProgressLine(progress));
        ASSERT_TRUE(parsed) << FormatProgressLine(progress);
        EXPECT_EQ(parsed->kind, progress.kind);
        EXPECT_EQ(parsed->done, progress.done);
        EXPECT_EQ(parsed->total, progress.total);
    }
}

// Links hold anything a page can: each comes back whole from its line, and
// the line stays one line.
TEST(UnfollowedLine, EveryFieldComesBackFromItsOneLine) {
    const UnfollowedLink cases[] = {
        {
            "../x.htm",
            "/index.htm",
            "leaves the site folder",
        },
        {"Глава 1.htm", "/разделы/оглавление.htm", "does not exist"},
        {"a \"quoted\" \\name\".htm", "/p\" in \"q.htm", "cannot be read (Permission denied)"},
        {"line\nbreak\r\t\x7f.htm", "/p.htm", "why\nwith a \\ break"},
        {"", "/p.htm", "is not a regular file"},
        {"/home/u/site/start.htm", "", "does not exist"},
        {"%2 \xE0\xFF", "", "\"quoted\" why"},
    };
    for (const UnfollowedLink& link : cases) {
        const std::string line = FormatUnfollowedLine(link);
        EXPECT_EQ(line.find_first_of("\n\r"), std::string::npos) << line;
        EXPECT_EQ(ParseUnfollowedLine(line), link) << line;
        EXPECT_EQ(ParseUnfollowedLine(line + "\r"), link) << line;
    }
    EXPECT_EQ(FormatUnfollowedLine({"a b.htm", "/p.htm", "does not exist"}),
              "not followed: \"a b.htm\" in \"/p.htm\": does not exist");
    // A field is cut on a character boundary, so one line never grows
    // beyond what the job reads as a line.
    const std::string longLink(3000, 'x');
    const auto cut = ParseUnfollowedLine(FormatUnfollowedLine({"я" + longLink, "/p", "why"}));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->link, "я" + std::string(998, 'x'));

    for (const char* wrong : {
             "not followed: \"a.htm\" in \"/p.htm\"",       // no reason
             "not followed: \"a.htm\" in \"/p.htm\": ",     // an empty one
             "not followed: \"a.htm in \"/p.htm\": x",      // quotes do not match
             "not followed: \"a\\q.htm\" in \"/p.htm\": x", // an escape never written
             "not followed: \"a\\x4.htm\": x",              // half an escape
             "not followed: \"a.htm\" in \"\": x",          // an empty page
             "not followed: \"a.htm\" on \"/p.htm\": x", "not followed: a.htm in /p.htm: x",
             "Not followed: \"a.htm\": x",
             "not followed: \"a\tb\": x", // a raw control byte
         })
        EXPECT_EQ(ParseUnfollowedLine(wrong), std::nullopt) << wrong;
}

// Every reason the walk gives reads in Russian in the log pane, with what
// follows it kept.
TEST(UnfollowedLine, EveryReasonOfTheWalkHasItsRussianText) {
    using site::RefusalReason;
    for (const RefusalReason reason :
         {RefusalReason::OutsideRoot, RefusalReason::LinkOutsideRoot, RefusalReason::NotAFile,
          RefusalReason::Missing, RefusalReason::Unreadable, RefusalReason::NameClash,
          RefusalReason::HelpFile, RefusalReason::DrivePath}) {
        const std::string english(site::DescribeRefusal(reason));
        const std::string russian = UnfollowedReasonText(english + " (detail)");
        EXPECT_FALSE(russian.starts_with(english)) << english;
        EXPECT_TRUE(russian.ends_with(" (detail)")) << russian;
        EXPECT_GT(russian.size(), std::string(" (detail)").size()) << english;
    }
    EXPECT_EQ(UnfollowedReasonText("a reason of a newer compiler"), "a reason of a newer compiler");
}

// The command line's renderings, here in English (the tests' locale is C):
// the fields unescaped, the known reasons put into words of the catalogue.
TEST(ToolLineMessages, ReadTheProtocolLinesForPeople) {
    EXPECT_EQ(ProgressMessage({ProgressKind::FilesRead, 7, 0}), "files read: 7");
    EXPECT_EQ(ProgressMessage({ProgressKind::FilesExtracted, 3, 9}), "files extracted: 3 of 9");
    EXPECT_EQ(UnfollowedMessage(*ParseUnfollowedLine(
                  "not followed: \"a \\\"b\\\".htm\" in \"d/p.htm\": does not exist (gone)")),
              "not followed: \"a \"b\".htm\" on d/p.htm: does not exist (gone)");
    EXPECT_EQ(UnfollowedMessage({"x.css", "", "a reason of a newer compiler"}),
              "not followed: \"x.css\": a reason of a newer compiler");
    EXPECT_EQ(SummaryMessage({1, 10, 20, 0.5}),
              "compiled: 1 file, 10 bytes in, 20 bytes out, 0.50 s");
    EXPECT_EQ(SummaryMessage({2, 10, 20, 1.255}),
              "compiled: 2 files, 10 bytes in, 20 bytes out, 1.25 s");
}

TEST(SummaryLine, ParsesOnlyTheExactForm) {
    const CompileSummary summary{2001, 41'234'567, 11'700'000, 0.836};
    const std::string line = FormatSummaryLine(summary);
    EXPECT_EQ(line, "compiled: 2001 files, 41234567 bytes in, 11700000 bytes out, 0.84 s");
    const auto parsed = ParseSummaryLine(line);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->files, 2001u);
    EXPECT_EQ(parsed->bytesIn, 41'234'567u);
    EXPECT_EQ(parsed->bytesOut, 11'700'000u);
    EXPECT_DOUBLE_EQ(parsed->seconds, 0.84);
    for (const char* wrong : {"compiled: 1 files, 2 bytes in, 3 bytes out, 0.5",
                              "compiled: 1 files, 2 bytes in, 3 bytes out, -0.5 s",
                              "compiled: 1 files, 2 bytes in, 3 bytes out, 1e3 s",
                              "compiled: 1 files, 2 bytes in, 3 bytes out, s",
                              "compiled: 1 file, 2 bytes in, 3 bytes out, 0.5 s",
                              "compiled: -1 files, 2 bytes in, 3 bytes out, 0.5 s"})
        EXPECT_EQ(ParseSummaryLine(wrong), std::nullopt) << wrong;
}

} // namespace
} // namespace tbx
