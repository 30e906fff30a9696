// The help-level files hhc writes from a project: projects that Microsoft's
// compiler built, compiled again, must give what Microsoft's help files
// hold; and the context ids and titles of a project written here.

#include "chm/internal_files.h"
#include "platform/process.h"
#include "support/chm_bytes.h"
#include "support/help_file_check.h"
#include "support/temp_dir.h"
#include "text/charset.h"
#include "text/language.h"
#include "text/utf8.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;

// A DWORD of the bytes; one past their end fails the test.
std::uint32_t U32(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(test::ReadLe(bytes, at, 4));
}

// One help file's texts, decoded. Microsoft copies UTF-8 sources through as
// they are, so its texts are read as UTF-8 when they are valid UTF-8; ours
// are in the code page of the help file's language.
struct HelpFile {
    Files files;
    bool microsofts = false;

    std::string Get(const std::string& name) const {
        const auto found = files.find(name);
        return found == files.end() ? std::string() : found->second;
    }
    std::map<std::uint16_t, std::string> System() const {
        std::map<std::uint16_t, std::string> records;
        const std::string system = Get("/#SYSTEM");
        for (const chm::SystemRecord& record : chm::ReadSystemRecords(system))
            records.emplace(record.code, record.data);
        return records;
    }
    std::vector<std::uint16_t> SystemCodes() const {
        std::vector<std::uint16_t> codes;
        const std::string system = Get("/#SYSTEM");
        for (const chm::SystemRecord& record : chm::ReadSystemRecords(system))
            codes.push_back(record.code);
        return codes;
    }
    std::string Text(const std::string& file, std::uint32_t offset) const {
        const std::string bytes = Get(file);
        if (offset == 0xFFFFFFFFu)
            return "(none)";
        if (offset >= bytes.size())
            return "(outside)";
        const std::string raw = bytes.substr(offset, bytes.find('\0', offset) - offset);
        const auto charset =
            text::Charset::ForCodePage(text::AnsiCodePage(U32(System()[chm::kSystemSettings], 0)));
        return microsofts ? text::DecodeLegacyText(raw, charset) : text::Decode(raw, charset);
    }
    std::string String(std::uint32_t offset) const { return Text("/#STRINGS", offset); }

    // #IVB as "id=file" pairs, in order.
    std::vector<std::string> ContextIds() const {
        const std::string ivb = Get("/#IVB");
        std::vector<std::string> ids;
        if (ivb.empty())
            return ids;
        for (std::size_t at = 4; at + 8 <= 4 + std::size_t{U32(ivb, 0)}; at += 8)
            ids.push_back(std::to_string(U32(ivb, at)) + "=" + String(U32(ivb, at + 4)));
        return ids;
    }
    // Stored name -> title of every topic with a title.
    std::map<std::string, std::string> Titles() const {
        const std::string topics = Get("/#TOPICS"), urltbl = Get("/#URLTBL");
        std::map<std::string, std::string> titles;
        for (std::size_t at = 0; at + 16 <= topics.size(); at += 16) {
            if (U32(topics, at + 4) != 0xFFFFFFFFu)
                titles[Text("/#URLSTR", U32(urltbl, U32(topics, at + 8) + 8) + 8)] =
                    String(U32(topics, at + 4));
        }
        return titles;
    }
    // #IDXHDR field by field, its texts as texts; the time stamp left out,
    // and the topic count compared with the file's own #TOPICS.
    std::vector<std::string> IdxHdr() const {
        const std::string h = Get("/#IDXHDR");
        std::vector<std::string> fields{h.substr(0, 4), std::to_string(h.size())};
        fields.push_back(U32(h, 0x0C) * 16 == Get("/#TOPICS").size() ? "topics counted"
                                                                     : "topics miscounted");
        for (std::size_t at = 0x08; at < 0x50; at += 4) {
            const bool isText = at == 0x14 || at == 0x28 || at == 0x38 || at == 0x3C;
            if (at != 0x0C)
                fields.push_back(isText ? String(U32(h, at)) : std::to_string(U32(h, at)));
        }
        for (std::size_t i = 0; i < U32(h, 0x48); ++i)
            fields.push_back(String(U32(h, 0x50 + 4 * i)));
        return fields;
    }
    // The stored contents and index files, without carriage returns: the
    // sources kept here lost theirs on the way from Windows.
    Files Sitemaps() const {
        Files sitemaps;
        for (const auto& [name, bytes] : files) {
            if (name.ends_with(".hhc") || name.ends_with(".hhk")) {
                std::string lines = bytes;
                std::erase(lines, '\r');
                sitemaps[name] = lines;
            }
        }
        return sitemaps;
    }
};

// Microsoft widens each byte of a UTF-8 keyword to a UTF-16 unit of its
// own: "Prečice" is stored as "PreÄ\u008Dice". Those units, taken back as
// bytes, are the text the author wrote.
std::string AsWritten(const std::string& keyword) {
    std::string bytes;
    std::size_t pos = 0;
    char32_t cp = 0;
    while (pos < keyword.size()) {
        if (!NextUtf8(keyword, pos, cp) || cp > 0xFF)
            return keyword;
        bytes += static_cast<char>(cp);
    }
    return IsValidUtf8(bytes) ? bytes : keyword;
}

bool Ascii(const std::string& line) {
    return std::all_of(line.begin(), line.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The codes of one list in the order of the other, both limited to the codes they share.
std::vector<std::uint16_t> Shared(const std::vector<std::uint16_t>& codes,
                                  const std::vector<std::uint16_t>& other) {
    std::vector<std::uint16_t> shared;
    std::copy_if(codes.begin(), codes.end(), std::back_inserter(shared), [&](std::uint16_t c) {
        return std::find(other.begin(), other.end(), c) != other.end();
    });
    return shared;
}

TEST(References, CompileAsMicrosoftsCompilerDid) {
    const fs::path references = TBX_REFERENCES;
    ASSERT_TRUE(fs::is_directory(references))
        << references << " is missing: set TOMEBOX_REFERENCES to the references folder";
    struct Reference {
        const char* folder; // copied whole, with the project in it
        const char* project;
        const char* output; // as the project names it
        const char* microsofts;
        std::size_t contextIds;
        std::size_t keywords;
    };
    const Reference cases[] = {
        {"helptest/HTML Help Project", "Test Help.hhp", "Test Help.chm",
         "helptest/HTML Help Project/Test Help.chm", 0, 8},
        {"monuments/Help", "Help.hhp", "Help.chm", "monuments/Help/Help.chm", 7, 33},
    };
    for (const Reference& ref : cases) {
        SCOPED_TRACE(ref.folder);
        const test::TempDir temp;
        const fs::path copy = temp.Path() / "project";
        fs::copy(references / ref.folder, copy, fs::copy_options::recursive);
        fs::remove(copy / ref.output); // Microsoft's, which ours replaces

        ChildProcess hhc;
        ASSERT_TRUE(hhc.Start(TBX_HHC_PATH, {(copy / ref.project).string()}));
        const ProcessOutcome outcome = hhc.Wait([](std::string_view) {});
        ASSERT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.errorOutput;

        const HelpFile ours{test::ReadHelpFile((copy / ref.output).string()), false};
        const HelpFile theirs{test::ReadHelpFile((references / ref.microsofts).string()), true};
        ASSERT_FALSE(ours.files.empty());
        ASSERT_FALSE(theirs.files.empty());

        EXPECT_EQ(ours.ContextIds().size(), ref.contextIds);
        EXPECT_EQ(ours.ContextIds(), theirs.ContextIds());
        EXPECT_EQ(ours.Titles(), theirs.Titles());
        EXPECT_EQ(ours.System()[16], theirs.System()[16]);
        EXPECT_FALSE(ours.System()[16].empty()); // both projects give a font
        EXPECT_EQ(Shared(ours.SystemCodes(), theirs.SystemCodes()),
                  Shared(theirs.SystemCodes(), ours.SystemCodes()));
        EXPECT_EQ(ours.IdxHdr(), theirs.IdxHdr());
        EXPECT_EQ(ours.System()[13], ours.Get("/#IDXHDR"));
        EXPECT_EQ(ours.Sitemaps(), theirs.Sitemaps());

        // The binary index: the same keywords on the same pages, in the
        // same order. Where Microsoft garbled a keyword (UTF-8 read as
        // single bytes) ours holds the text itself, and orders it as the
        // language orders that text; so the order is compared over the
        // keywords in ASCII, which no code page changes.
        std::vector<std::string> ourKeywords = test::HelpKeywords(ours.files);
        std::vector<std::string> theirKeywords = test::HelpKeywords(theirs.files);
        for (std::string& line : theirKeywords)
            line = AsWritten(line);
        EXPECT_EQ(ourKeywords.size(), ref.keywords);
        std::vector<std::string> ourAscii, theirAscii;
        std::copy_if(ourKeywords.begin(), ourKeywords.end(), std::back_inserter(ourAscii), Ascii);
        std::copy_if(theirKeywords.begin(), theirKeywords.end(), std::back_inserter(theirAscii),
                     Ascii);
        EXPECT_EQ(ourAscii, theirAscii);
        std::sort(ourKeywords.begin(), ourKeywords.end());
        std::sort(theirKeywords.begin(), theirKeywords.end());
        EXPECT_EQ(ourKeywords, theirKeywords);
        for (const char* file : {"/$WWKeywordLinks/Data", "/$WWKeywordLinks/Map",
                                 "/$WWKeywordLinks/Property", "/$WWAssociativeLinks/Property"})
            EXPECT_EQ(ours.Get(file), theirs.Get(file)) << file;
        // #SYSTEM: the KLinks and ALinks flags, and the index file's hash.
        EXPECT_EQ(ours.System()[chm::kSystemSettings].substr(0x0C, 8),
                  theirs.System()[chm::kSystemSettings].substr(0x0C, 8));
        EXPECT_EQ(ours.System()[7], theirs.System()[7]);
        EXPECT_EQ(ours.System()[7].size(), 4u);
    }
}

TEST(References, ContextIdsAndTitlesOfAHandWrittenProject) {
    const test::TempDir temp;
    test::WriteFile(temp.Path() / "help.hhp",
                    "[OPTIONS]\nCompiled file=help.chm\nContents file=toc.hhc\n"
                    "Default topic=index.htm\nLanguage=0x419\n\n[FILES]\nother.htm\n\n"
                    "[ALIAS]\nIDH_A=Sub\\Page.htm\nIDH_B=missing.htm\n\n"
                    "[MAP]\n#define IDH_A 10\nIDH_B=0x0B\n");
    test::WriteFile(temp.Path() / "index.htm", "<p><a href=\"sub/page.htm\">page</a>");
    test::WriteFile(temp.Path() / "other.htm", "<p>no title, not in the contents");
    fs::create_directory(temp.Path() / "sub");
    test::WriteFile(temp.Path() / "sub/page.htm", "<title>Its own</title>");
    test::WriteFile(temp.Path() / "toc.hhc",
                    "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Начало\">"
                    "<param name=\"Local\" value=\"index.htm\"></object>"
                    "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Not this\">"
                    "<param name=\"Local\" value=\"sub\\page.htm\"></object></ul>");

    ChildProcess hhc;
    ASSERT_TRUE(hhc.Start(TBX_HHC_PATH, {temp / "help.hhp"}));
    const ProcessOutcome outcome = hhc.Wait([](std::string_view) {});
    ASSERT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.errorOutput;
    // Letter case does not matter to the viewer; a file not stored does.
    EXPECT_EQ(outcome.errorOutput.find("IDH_A"), std::string::npos) << outcome.errorOutput;
    EXPECT_NE(outcome.errorOutput.find("IDH_B names missing.htm, which is not in the help file"),
              std::string::npos)
        << outcome.errorOutput;

    const HelpFile ours{test::ReadHelpFile(temp / "help.chm"), false};
    EXPECT_EQ(ours.ContextIds(), (std::vector<std::string>{"10=Sub/Page.htm", "11=missing.htm"}));
    EXPECT_EQ(ours.Titles(), (std::map<std::string, std::string>{{"index.htm", "Начало"},
                                                                 {"other.htm", "other.htm"},
                                                                 {"sub/page.htm", "Its own"}}));
}

} // namespace
} // namespace tbx
