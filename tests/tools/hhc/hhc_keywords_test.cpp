// The binary keyword index hhc writes, read back with our reader: the
// shapes an index sitemap takes, keywords placed in pages, and an index
// large enough for index blocks above its listing.

#include "chm/internal_files.h"
#include "chm/keyword_index.h"
#include "platform/process.h"
#include "support/help_file_check.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::string Entry(const std::string& name, const std::string& params) {
    return "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"" + name + "\">" +
           params + "</OBJECT>\n";
}
std::string Local(const std::string& file) {
    return "<param name=\"Local\" value=\"" + file + "\">";
}
std::string Sitemap(const std::string& body) {
    return "<HTML><BODY><OBJECT type=\"text/site properties\"></OBJECT><UL>\n" + body +
           "</UL></BODY></HTML>\n";
}
std::string KLink(const std::string& param, const std::string& value) {
    return "<OBJECT type=\"application/x-oleobject\" "
           "classid=\"clsid:1e2a7bd0-dab9-11d0-b93a-00c04fc99f9e\"><param name=\"" +
           param + "\" value=\"" + value + "\"></OBJECT>";
}

TEST(HhcKeywords, IndexShapesAndPageKeywordsReadBackInTheLanguagesOrder) {
    const std::string cp1251 = "<meta http-equiv=\"Content-Type\" content=\"text/html; "
                               "charset=windows-1251\">";
    const struct {
        const char* name;
        std::string options; // [OPTIONS] lines besides the start page and the files
        std::string hhk;     // the project's index; empty: none (Tomebox.hhk is made)
        std::string bodyOfB; // b.htm's body
        Lines klinks, alinks;
        std::uint32_t codePage;
    } cases[] = {
        {"nested keywords, letter case ignored in the order",
         "Language=0x409\n",
         Sitemap(Entry("cherry", Local("c.htm")) + Entry("Printing", Local("a.htm")) + "<UL>" +
                 Entry("paper", Local("c.htm")) + Entry("margins", "") + "<UL>" +
                 Entry("left", Local("b.htm")) + "</UL></UL>" + Entry("apple", Local("b.htm"))),
         "",
         {"apple -> b.htm", "cherry -> c.htm", "Printing -> a.htm", "  Printing, margins ->",
          "    Printing, margins, left -> b.htm", "  Printing, paper -> c.htm"},
         {},
         1252},
        {"see also, several topics, repeated entries merged",
         "Language=0x409\n",
         Sitemap(Entry("Save", "<param name=\"Name\" value=\"Saving\">" + Local("b.htm") +
                                   "<param name=\"Name\" value=\"Files\">" + Local("c.htm")) +
                 Entry("Colour", "<param name=\"See Also\" value=\"Color\">") +
                 Entry("Save", Local("a.htm") + Local("b.htm")) + Entry("save", Local("c.htm")) +
                 Entry("Color", Local("a.htm"))),
         "",
         {"Color -> a.htm", "Colour => Color", "Save -> b.htm, c.htm, a.htm", "save -> c.htm"},
         {},
         1252},
        {"Cyrillic keywords in Windows-1251, in the Russian order (Cyrillic before Latin)",
         "Language=0x419\n",
         text::Encode("<HTML><HEAD>" + cp1251 + "</HEAD>" +
                          Sitemap(Entry("Вишня", Local("a.htm")) + Entry("арбуз", Local("b.htm")) +
                                  Entry("Бумага", Local("c.htm")) + Entry("Zebra", Local("a.htm"))),
                      1251, text::Unmappable::Nearest),
         "",
         {"арбуз -> b.htm", "Бумага -> c.htm", "Вишня -> a.htm", "Zebra -> a.htm"},
         {},
         1251},
        {"Latin keywords in Windows-1250",
         "Language=0x415\n",
         text::Encode("<HTML><HEAD><meta http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=windows-1250\"></HEAD>" +
                          Sitemap(Entry("żółw", Local("a.htm")) + Entry("zebra", Local("b.htm")) +
                                  Entry("łódź", Local("c.htm")) + Entry("lato", Local("a.htm"))),
                      1250, text::Unmappable::Nearest),
         "",
         {"lato -> a.htm", "łódź -> c.htm", "zebra -> b.htm", "żółw -> a.htm"},
         {},
         1250},
        {"Auto Index: the pages' KLinks join the index, ALinks the associative one",
         "Language=0x409\nAuto Index=Yes\n",
         Sitemap(Entry("Zoo", Local("a.htm"))),
         KLink("Keyword", "printing, margins; Zoo") + KLink("ALink Name", "PrintDialog") +
             // A button of the HTML Help control looking keywords up.
             "<OBJECT type=\"application/x-oleobject\" "
             "classid=\"clsid:adb880a6-d8ff-11cf-9377-00aa003b7a11\"><param name=\"Command\" "
             "value=\"KLink\"><param name=\"Keyword\" value=\"lookup\"></OBJECT>",
         {"printing ->", "  printing, margins -> b.htm", "Zoo -> a.htm, b.htm"},
         {"PrintDialog -> b.htm"},
         1252},
        {"a keyword on a file that is no page: it becomes a topic",
         "Language=0x409\n",
         Sitemap(Entry("Licence", "<param name=\"Name\" value=\"Licence text\">" + Local("c.htm") +
                                      Local("licence.txt"))),
         "",
         {"Licence -> c.htm, licence.txt"},
         {},
         1252},
        {"without Auto Index the pages' keywords stay out",
         "Language=0x409\n",
         Sitemap(Entry("Zoo", Local("a.htm"))),
         KLink("Keyword", "printing"),
         {"Zoo -> a.htm"},
         {},
         1252},
        {"no index file: the pages by title",
         "Language=0x409\n",
         "",
         "",
         {"Alpha -> a.htm", "Beta -> b.htm", "Gamma -> c.htm"},
         {},
         1252},
        {"Binary Index=No: none",
         "Language=0x409\nBinary Index=No\n",
         Sitemap(Entry("Zoo", Local("a.htm"))),
         "",
         {"unreadable: the keyword tree is shorter than its header"},
         {},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const std::string meta = c.codePage == 1251 ? cp1251 : "";
        test::WriteFile(dir.Path() / "a.htm", "<html><head>" + meta + "<title>Alpha</title>");
        test::WriteFile(dir.Path() / "b.htm",
                        "<html><head><title>Beta</title></head><body>" + c.bodyOfB + "</body>");
        test::WriteFile(dir.Path() / "c.htm", "<html><head><title>Gamma</title>");
        test::WriteFile(dir.Path() / "licence.txt", "Free to use.");
        std::string project = "[OPTIONS]\nDefault topic=a.htm\n" + c.options;
        if (!c.hhk.empty()) {
            test::WriteFile(dir.Path() / "k.hhk", c.hhk);
            project += "Index file=k.hhk\n";
        }
        test::WriteFile(dir.Path() / "p.hhp", project + "[FILES]\na.htm\nb.htm\nc.htm\n");
        const ProcessOutcome run = RunProcess(TBX_HHC_PATH, {dir / "p.hhp"});
        ASSERT_TRUE(run.exited && run.exitCode == 0) << run.errorOutput;

        const std::map<std::string, std::string> files = test::ReadHelpFile(dir / "p.chm");
        EXPECT_EQ(test::HelpKeywords(files), c.klinks);
        const auto associative = files.find("/$WWAssociativeLinks/BTree");
        EXPECT_EQ(associative == files.end() ? Lines{}
                                             : test::HelpKeywords(files, "$WWAssociativeLinks"),
                  c.alinks);
        std::map<std::uint16_t, std::string> system;
        for (const chm::SystemRecord& r : chm::ReadSystemRecords(files.at("/#SYSTEM")))
            system.emplace(r.code, r.data);
        const std::string settings = system[chm::kSystemSettings];
        ASSERT_GE(settings.size(), 0x14u);
        EXPECT_EQ(settings[0x0C], c.codePage != 0 ? 1 : 0); // KLinks
        EXPECT_EQ(settings[0x10], c.alinks.empty() ? 0 : 1);
        EXPECT_EQ(system.count(7), c.codePage != 0 ? 1u : 0u);
        if (c.codePage != 0) {
            const auto read = chm::ReadKeywordIndex(files.at("/$WWKeywordLinks/BTree"));
            ASSERT_TRUE(read);
            EXPECT_EQ(read->codePage, c.codePage);
        }
    }
}

// Enough keywords for several listing blocks and two levels of index
// blocks above them: every keyword comes back in order, and the reader
// finds each index record naming its child's first keyword.
TEST(HhcKeywords, ALargeIndexReadsBackThroughItsIndexBlocks) {
    const test::TempDir dir;
    std::string entries;
    Lines expected;
    for (int i = 2999; i >= 0; --i) {
        char name[32];
        std::snprintf(name, sizeof name, "keyword %04d", i);
        entries += Entry(name, Local("a.htm"));
        expected.insert(expected.begin(), std::string(name) + " -> a.htm");
    }
    test::WriteFile(dir.Path() / "a.htm", "<title>A</title>");
    test::WriteFile(dir.Path() / "k.hhk", Sitemap(entries));
    test::WriteFile(dir.Path() / "p.hhp", "[OPTIONS]\nDefault topic=a.htm\nIndex file=k.hhk\n");
    const ProcessOutcome run = RunProcess(TBX_HHC_PATH, {dir / "p.hhp"});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.errorOutput;
    const std::map<std::string, std::string> files = test::ReadHelpFile(dir / "p.chm");
    EXPECT_EQ(test::HelpKeywords(files), expected);
    const std::string& btree = files.at("/$WWKeywordLinks/BTree");
    EXPECT_EQ(btree[0x2A], 3); // listing, two index levels
    // The map names each listing block with the keywords before it.
    const std::string& map = files.at("/$WWKeywordLinks/Map");
    const std::size_t listing =
        static_cast<unsigned char>(map[0]) | std::size_t{static_cast<unsigned char>(map[1])} << 8;
    EXPECT_GT(listing, 40u);
    EXPECT_EQ(map.size(), 2 + 8 * listing);
    EXPECT_EQ(files.at("/$WWKeywordLinks/Data").size(), 13u * 3000);
}

} // namespace
} // namespace tbx
