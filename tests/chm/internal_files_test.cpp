#include "chm/internal_files.h"
#include "compile/help_project.h"
#include "settings/opt_store.h"
#include "site/project.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace tbx::chm {
namespace {

std::uint32_t U32(const std::string& bytes, std::size_t at) {
    EXPECT_LE(at + 4, bytes.size());
    if (at + 4 > bytes.size())
        return 0;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::uint16_t U16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// The zero-terminated text at offset; it must not cross a 4 KiB block.
std::string TextAt(const std::string& bytes, std::size_t offset) {
    const std::size_t end = bytes.find('\0', offset);
    EXPECT_NE(end, std::string::npos);
    EXPECT_EQ(offset / kStringBlockSize, end / kStringBlockSize) << "at " << offset;
    return bytes.substr(offset, end - offset);
}

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

TEST(InternalFiles, UrlHashMatchesValuesWorkedOutByHand) {
    const std::pair<std::string, std::uint32_t> cases[] = {
        {"a", 0x11},
        {"A", 0x11},
        {"z", 42},
        {"ab", 17 * 43 + 18},
        {"a/b", (17 * 43 + 44) * 43 + 18},
        {"1", 1},
        {"0", 1}, // 0 becomes 1
        {".", 0xFFFFFFFEu},
        {"\xE0", 0xFFFFFFFFu - 79}, // bytes above 0x7F count as negative
    };
    for (const auto& [url, hash] : cases)
        EXPECT_EQ(UrlHash(url), hash) << url;
}

HelpModel Model() {
    HelpModel model;
    model.title = "Справка по программе";
    model.defaultTopic = "/Начало.htm";
    model.defaultWindow = "Tomebox";
    model.compiledFile = "/home/u/Вывод/МОЯ Справка.v2.CHM";
    model.fullTextSearch = true;
    model.contentsFile = "/toc.hhc";
    model.indexFile = "/index.hhk";
    model.defaultFont = "Arial,8,204";
    model.timestamp = 1700000000;
    HelpWindow window;
    window.name = "Tomebox";
    window.caption = "Моя справка";
    window.homeFile = "http://tomebox.example.org/";
    window.jump1Url = "/opt/tomebox/about.htm";
    window.jump1Text = "About";
    window.jump2Url = "http://x.example/";
    window.jump2Text = "Сайт";
    window.properties = 0x42120;
    window.navWidth = 250;
    window.buttons = 0xC3006;
    window.rect = WindowRect{-20, 64, 938, 704};
    window.notifyId = 0;
    model.windows = {window};
    return model;
}

TEST(InternalFiles, SystemHoldsItsRecordsInOrderInTheLanguagesCodePage) {
    const std::string system = BuildHelpFiles(Model()).system;

    ASSERT_GE(system.size(), 4u);
    EXPECT_EQ(U32(system, 0), 3u);
    std::vector<std::uint16_t> codes;
    std::map<std::uint16_t, std::string> data;
    std::size_t stored = 4;
    for (const SystemRecord& record : ReadSystemRecords(system)) {
        codes.push_back(record.code);
        data[record.code] = record.data;
        stored += 4 + record.data.size();
    }
    EXPECT_EQ(codes, (std::vector<std::uint16_t>{10, 9, 4, 2, 3, 16, 6, 5, 0, 1, 12, 13, 15}));
    EXPECT_EQ(stored, system.size());
    // A record cut short, or claiming more than is left, ends the list.
    EXPECT_EQ(ReadSystemRecords(system.substr(0, system.size() - 1)).size(), codes.size() - 1);
    EXPECT_EQ(ReadSystemRecords(system.substr(0, 7)).size(), 0u);
    std::string claiming = system;
    claiming[6] = claiming[7] = '\xFF';
    EXPECT_EQ(ReadSystemRecords(claiming).size(), 0u);
    EXPECT_EQ(U32(data[10], 0), 1700000000u);
    EXPECT_EQ(data[9], std::string("HHA Version 4.74.8702\0", 22));
    ASSERT_EQ(data[4].size(), 36u);
    EXPECT_EQ(U32(data[4], 0), 0x419u);
    EXPECT_EQ(U32(data[4], 8), 1u); // full-text search
    const std::uint64_t fileTime = (1700000000ull + 11644473600ull) * 10000000ull;
    EXPECT_EQ(U32(data[4], 0x14), fileTime & 0xFFFFFFFF);
    EXPECT_EQ(U32(data[4], 0x18), fileTime >> 32);
    EXPECT_EQ(data[2], Cp1251("Начало.htm") + '\0');
    EXPECT_EQ(data[3], Cp1251("Справка по программе") + '\0');
    EXPECT_EQ(data[16], std::string("Arial,8,204\0", 12));
    EXPECT_EQ(data[6], Cp1251("моя справка.v2") + '\0');
    EXPECT_EQ(data[5], std::string("Tomebox\0", 8));
    EXPECT_EQ(data[0], std::string("toc.hhc\0", 8));
    EXPECT_EQ(data[1], std::string("index.hhk\0", 10));
    EXPECT_EQ(data[12], std::string(4, '\0'));
    EXPECT_EQ(data[13], BuildHelpFiles(Model()).idxhdr);
    EXPECT_EQ(data[15], std::string(4, '\0'));

    // Without a default topic, window, font, contents or index those records are left out.
    HelpModel plain = Model();
    plain.defaultWindow = plain.contentsFile = plain.indexFile = plain.defaultFont = "";
    plain.defaultTopic = "";
    plain.fullTextSearch = false;
    codes.clear();
    for (const SystemRecord& record : ReadSystemRecords(BuildHelpFiles(plain).system))
        codes.push_back(record.code);
    EXPECT_EQ(codes, (std::vector<std::uint16_t>{10, 9, 4, 3, 6, 12, 13, 15}));
}

TEST(InternalFiles, IdxHdrAndIvbPointIntoStrings) {
    HelpModel model = Model();
    model.topics = {{"/a.htm", "A", true}, {"/b.htm", std::nullopt, false}};
    model.contextIds = {{7, "Папка/b.htm"}, {0x10000, "a.htm"}, {3, "a.htm"}};
    model.mergeFiles = {"other.chm", "second.chm"};
    model.contentsProperties.frameName = "right";
    model.contentsProperties.windowStyles = 0x800425;
    model.contentsProperties.folderImages = true;
    const HelpFiles files = BuildHelpFiles(model);
    const auto text = [&](std::uint32_t offset) { return TextAt(files.strings, offset); };

    // #IVB: the byte length of the pairs, then id and file in the project's order.
    ASSERT_EQ(files.ivb.size(), 4u + 3 * 8);
    EXPECT_EQ(U32(files.ivb, 0), 24u);
    const std::pair<std::uint32_t, std::string> ids[] = {
        {7, Cp1251("Папка/b.htm")}, {0x10000, "a.htm"}, {3, "a.htm"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(U32(files.ivb, 4 + 8 * i), ids[i].first);
        EXPECT_EQ(text(U32(files.ivb, 8 + 8 * i)), ids[i].second);
    }
    EXPECT_EQ(U32(files.ivb, 16), U32(files.ivb, 24)); // one text for one file

    // #IDXHDR: offset -> value, where a text's offset is checked by its text.
    const std::string& h = files.idxhdr;
    ASSERT_EQ(h.size(), kIdxHdrSize);
    EXPECT_EQ(h.substr(0, 4), "T#SM");
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {0x08, 1},   {0x0C, 2},   {0x10, 0},   {0x14, ~0u},      {0x18, 0},   {0x1C, 1},
        {0x20, ~0u}, {0x24, ~0u}, {0x28, ~0u}, {0x2C, 0x800425}, {0x30, ~0u}, {0x34, ~0u},
        {0x3C, ~0u}, {0x40, 0},   {0x44, 1},   {0x48, 2},        {0x4C, 0},   {0x58, 0}};
    for (const auto& [at, value] : fields)
        EXPECT_EQ(U32(h, at), value) << std::hex << at;
    EXPECT_EQ(text(U32(h, 0x38)), "right");
    EXPECT_EQ(text(U32(h, 0x50)), "other.chm");
    EXPECT_EQ(text(U32(h, 0x54)), "second.chm");
    EXPECT_EQ(h.find_first_not_of('\0', 0x58), std::string::npos);

    // No context ids: no #IVB to store.
    EXPECT_TRUE(BuildHelpFiles(Model()).ivb.empty());
}

TEST(InternalFiles, WindowRecordHoldsEveryFieldOfTheDefinition) {
    const HelpFiles files = BuildHelpFiles(Model());
    const std::string& w = files.windows;

    ASSERT_EQ(w.size(), 8 + kWindowRecordSize);
    EXPECT_EQ(U32(w, 0), 1u);
    EXPECT_EQ(U32(w, 4), kWindowRecordSize);
    const std::size_t r = 8;
    auto text = [&](std::size_t field) { return TextAt(files.strings, U32(w, r + field)); };
    EXPECT_EQ(U32(w, r + 0x00), kWindowRecordSize);
    EXPECT_EQ(U32(w, r + 0x04), 0u);
    EXPECT_EQ(text(0x08), "Tomebox");
    // Properties, rectangle, navigation width, buttons; nothing else was given.
    EXPECT_EQ(U32(w, r + 0x0C), 0x2u | 0x10 | 0x20 | 0x100);
    EXPECT_EQ(U32(w, r + 0x10), 0x42120u);
    EXPECT_EQ(text(0x14), Cp1251("Моя справка"));
    EXPECT_EQ(static_cast<std::int32_t>(U32(w, r + 0x20)), -20);
    EXPECT_EQ(U32(w, r + 0x24), 64u);
    EXPECT_EQ(U32(w, r + 0x28), 938u);
    EXPECT_EQ(U32(w, r + 0x2C), 704u);
    EXPECT_EQ(U32(w, r + 0x4C), 250u);
    EXPECT_EQ(U32(w, r + 0x60), 0u); // no contents file: the empty text
    EXPECT_EQ(text(0x6C), "http://tomebox.example.org/");
    EXPECT_EQ(U32(w, r + 0x70), 0xC3006u);
    EXPECT_EQ(text(0x9C), "About");
    EXPECT_EQ(text(0xA0), Cp1251("Сайт"));
    EXPECT_EQ(text(0xA4), "/opt/tomebox/about.htm");
    EXPECT_EQ(text(0xA8), "http://x.example/");
    EXPECT_EQ(files.strings[0], '\0');
    EXPECT_EQ(files.itbits, "");
}

// First-run options give a navigation width of 0, which the viewer would
// take as a pane of no width and hide it for good: the width is left unset,
// as for an empty field.
TEST(InternalFiles, FirstRunWindowDefinitionGivesNoNavigationWidth) {
    const test::TempDir store;
    const RegHive hive(store.Path());
    WriteFirstRunDefaults(hive);
    const std::string definition =
        BuildWindowDefinition(hive, "Справка", "/opt/tomebox/about.htm", {1024, 768});
    HelpModel model = Model();
    HelpWindow& window = model.windows[0];
    ASSERT_EQ(site::ParseWindowDefinition(definition, window), "") << definition;
    ASSERT_EQ(window.navWidth, 0); // the project text says 0, as the options hold

    for (const std::int64_t width : {0, -5}) {
        window.navWidth = width;
        const std::string w = BuildHelpFiles(model).windows;
        EXPECT_EQ(U32(w, 8 + 0x0C) & 0x20, 0u) << width;
        EXPECT_EQ(U32(w, 8 + 0x4C), 0u) << width;
    }
}

TEST(InternalFiles, TopicsUrlTableAndUrlStringsLeadFromEachTopicToItsNameAndTitle) {
    HelpModel model = Model();
    // Enough topics, names and titles to fill several 4 KiB blocks of each table.
    for (int i = 0; i < 800; ++i) {
        HelpTopic topic;
        topic.name = "/раздел " + std::to_string(i % 7) + "/страница " + std::to_string(i) + ".htm";
        if (i % 5 != 0)
            topic.title = "Заголовок " + std::string(static_cast<std::size_t>(i % 300), 'x') +
                          std::to_string(i);
        topic.inContents = i % 3 != 0;
        model.topics.push_back(topic);
    }
    model.topics[1].title = model.topics[2].title; // a shared title is stored once
    const HelpFiles files = BuildHelpFiles(model);

    ASSERT_EQ(files.topics.size(), model.topics.size() * kTopicEntrySize);
    std::set<std::uint32_t> urltblOffsets;
    for (std::size_t i = 0; i < model.topics.size(); ++i) {
        const HelpTopic& topic = model.topics[i];
        const std::size_t at = i * kTopicEntrySize;
        const std::uint32_t title = U32(files.topics, at + 4);
        if (topic.title)
            EXPECT_EQ(TextAt(files.strings, title), Cp1251(*topic.title)) << i;
        else
            EXPECT_EQ(title, 0xFFFFFFFFu) << i;
        EXPECT_EQ(U16(files.topics, at + 12), topic.inContents ? 6 : 2);
        const std::uint32_t entry = U32(files.topics, at + 8);
        EXPECT_LT(entry % kStringBlockSize, 341 * kUrlTableEntrySize);
        urltblOffsets.insert(entry);
        EXPECT_EQ(U32(files.urltbl, entry + 4), i);
        const std::string local = Cp1251(topic.name.substr(1));
        EXPECT_EQ(U32(files.urltbl, entry), UrlHash(local));
        const std::uint32_t url = U32(files.urltbl, entry + 8);
        EXPECT_EQ(url / kStringBlockSize, (url + 8 + local.size()) / kStringBlockSize);
        EXPECT_EQ(TextAt(files.urlstr, url + 8), local);
    }
    EXPECT_EQ(U32(files.topics, kTopicEntrySize + 4), U32(files.topics, 2 * kTopicEntrySize + 4));
    EXPECT_EQ(urltblOffsets.size(), model.topics.size());

    // The table is sorted by hash, in blocks of 341 entries padded to 4 KiB.
    std::uint32_t previous = 0;
    for (std::uint32_t offset : urltblOffsets) {
        EXPECT_GE(U32(files.urltbl, offset), previous);
        previous = U32(files.urltbl, offset);
    }
    EXPECT_EQ(files.urltbl.size(), 2 * kStringBlockSize + (800 - 2 * 341) * kUrlTableEntrySize);
}

} // namespace
} // namespace tbx::chm
