#include "chm/page_words.h"
#include "chm/search_index.h"
#include "text/charset.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tbx::chm {
namespace {

const text::SearchAlphabet& kRussian = *text::FindSearchAlphabet(1251);
constexpr std::uint32_t kRussianLcid = 0x419;

std::string Cp1251(std::string_view utf8) {
    return EncodeCp1251(utf8, Unmappable::Nearest);
}

// ---- A reader of $FIftiMain written from the format description alone ----

std::uint32_t Le(std::string_view bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// Reads bits from the top of each byte down.
class BitReader {
public:
    explicit BitReader(std::string_view bytes) : bytes_(bytes) {}
    unsigned Bit() {
        const unsigned bit = static_cast<unsigned char>(bytes_.at(at_ / 8)) >> (7 - at_ % 8) & 1;
        ++at_;
        return bit;
    }
    // Scale 2: ones and a zero, then root + ones - 1 bits (root bits when no ones).
    std::uint32_t ScaleRoot(unsigned root) {
        unsigned ones = 0;
        while (Bit())
            ++ones;
        const unsigned bits = ones ? root + ones - 1 : root;
        std::uint32_t value = 0;
        for (unsigned i = 0; i < bits; ++i)
            value = value << 1 | Bit();
        return ones ? value | 1u << bits : value;
    }
    void Align() { at_ = (at_ + 7) / 8 * 8; }
    std::size_t BytesUsed() const { return (at_ + 7) / 8; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

using Occurrences = std::map<std::uint32_t, std::vector<std::uint32_t>>; // topic -> positions

struct LeafEntry {
    std::string word;
    bool title;
    Occurrences topics;
};

struct Leaf {
    std::vector<LeafEntry> entries;
    std::uint32_t next;
    std::uint32_t free;
    std::size_t firstShared = 0; // what the first word claims to share with one before it
};

class FtsReader {
public:
    explicit FtsReader(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint32_t Header(std::size_t at, int size = 4) const { return Le(bytes_, at, size); }

    Leaf ReadLeaf(std::uint32_t at) const {
        const std::string_view node = std::string_view(bytes_).substr(at, 4096);
        Leaf leaf{{}, Le(node, 0, 4), Le(node, 6, 2)};
        leaf.firstShared = leaf.free < 4096 - 8 ? static_cast<unsigned char>(node.at(9)) : 0;
        std::string word;
        for (std::size_t i = 8; i < 4096 - leaf.free;) {
            word = Word(node, i, word);
            LeafEntry entry{word, node.at(i++) == 1, {}};
            const std::uint32_t topics = LowFirst(node, i);
            const std::uint32_t offset = Le(node, i, 4);
            EXPECT_EQ(Le(node, i + 4, 2), 0u);
            i += 6;
            const std::uint32_t size = LowFirst(node, i);
            BitReader bits(std::string_view(bytes_).substr(offset, size));
            std::uint32_t topic = 0;
            for (std::uint32_t t = 0; t < topics; ++t) {
                bits.Align();
                topic += bits.ScaleRoot(Header(0x1F, 1));
                std::vector<std::uint32_t>& positions = entry.topics[topic];
                std::uint32_t position = 0;
                for (std::uint32_t n = bits.ScaleRoot(Header(0x21, 1)); n > 0; --n)
                    positions.push_back(position += bits.ScaleRoot(Header(0x23, 1)));
            }
            EXPECT_EQ(bits.BytesUsed(), size) << word;
            leaf.entries.push_back(std::move(entry));
        }
        return leaf;
    }

    // Descends from the root to the leaf that must hold word: at each index
    // node, the first entry whose word is not below it.
    std::uint32_t LeafFor(const std::string& word) const {
        std::uint32_t node = Header(0x14);
        for (unsigned level = 1; level < Header(0x18, 2); ++level) {
            const std::string_view index = std::string_view(bytes_).substr(node, 4096);
            std::string key;
            std::uint32_t child = 0;
            for (std::size_t i = 2; i < 4096 - Le(index, 0, 2) && !child; i += 6) {
                key = Word(index, i, key);
                if (key >= word)
                    child = Le(index, i, 4);
            }
            if (!child)
                return 0;
            node = child;
        }
        return node;
    }

    // Both entries of a word, read from the one leaf the tree leads to.
    std::vector<LeafEntry> Find(std::string_view utf8) const {
        const std::string word = Cp1251(utf8);
        std::vector<LeafEntry> found;
        if (const std::uint32_t leaf = LeafFor(word)) {
            for (LeafEntry& entry : ReadLeaf(leaf).entries) {
                if (entry.word == word)
                    found.push_back(std::move(entry));
            }
        }
        return found;
    }

private:
    // A node's word: suffix length + 1, length shared with the previous word, suffix.
    static std::string Word(std::string_view node, std::size_t& i, const std::string& previous) {
        const std::size_t suffix = static_cast<unsigned char>(node.at(i)) - 1u;
        const std::size_t shared = static_cast<unsigned char>(node.at(i + 1));
        EXPECT_LE(shared, previous.size());
        std::string word = previous.substr(0, shared) + std::string(node.substr(i + 2, suffix));
        i += 2 + suffix;
        return word;
    }
    static std::uint32_t LowFirst(std::string_view node, std::size_t& i) {
        std::uint32_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const auto byte = static_cast<unsigned char>(node.at(i++));
            value |= (byte & 0x7Fu) << shift;
            if (!(byte & 0x80))
                return value;
        }
    }

    std::string bytes_;
};

// ---- Tests ----

struct Page {
    std::string html;
    text::Charset charset;
    std::string title;
};

struct Expected {
    std::string word;
    Occurrences title, body;
};

TEST(SearchIndexTest, WordsLeadToExactlyThePagesHoldingThemAsText) {
    const Page pages[] = {
        {Cp1251("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                "charset=windows-1251\"><title>Царговая колонна</title></head><body>"
                "<p>Ректификационная колонна и царга.</p><script>var секрет = 'тайна';</script>"
                "<style>p { цвет: red }</style><p>Царга ЦАРГА царга</p><!-- заметка -->"
                "<a href=\"x.htm\" title=\"подсказка\">ссылка</a></body></html>"),
         text::Charset::ForCodePage(1251), "Царговая колонна"},
        {"<p>Hello WORLD, hello again: &#1094;&#1072;&#1088;&#1075;&#1072; &laquo;Ёлка&raquo; "
         "ёлка елка</p>",
         text::Charset::Utf8(), "Latin &amp; Co"},
        {"<meta charset=\"utf-8\"><p><b>Ц</b>арга и про&shy;грамма</p>", text::Charset::Utf8(), ""},
    };
    std::vector<SearchTopic> topics;
    for (std::uint32_t i = 0; i < std::size(pages); ++i)
        topics.push_back({i * 2 + 1, pages[i].html, pages[i].charset, pages[i].title});
    const FtsReader index(BuildFullTextIndex(topics, kRussian, kRussianLcid));

    const Expected expected[] = {
        {"царга", {}, {{1, {3, 4, 5, 6}}, {3, {4}}, {5, {0}}}},
        {"царговая", {{1, {0}}}, {}},
        {"колонна", {{1, {1}}}, {{1, {1}}}},
        {"hello", {}, {{3, {0, 2}}}},
        {"world", {}, {{3, {1}}}},
        {"latin", {{3, {0}}}, {}},
        {"ёлка", {}, {{3, {5, 6}}}},
        {"елка", {}, {{3, {7}}}},
        {"программа", {}, {{5, {2}}}},
        {"секрет", {}, {}},
        {"тайна", {}, {}},
        {"цвет", {}, {}},
        {"заметка", {}, {}},
        {"подсказка", {}, {}},
        {"amp", {}, {}},
    };
    for (const Expected& e : expected) {
        Occurrences title, body;
        for (const LeafEntry& entry : index.Find(e.word))
            (entry.title ? title : body) = entry.topics;
        EXPECT_EQ(title, e.title) << e.word;
        EXPECT_EQ(body, e.body) << e.word;
    }
    EXPECT_EQ(index.Header(0x04), 3u);
    EXPECT_EQ(index.Header(0x7A), 1251u);
    EXPECT_EQ(index.Header(0x7E), 0x419u);
}

// Words long enough that a few thousand of them need two levels of index
// nodes above the leaves.
std::string MadeUpWord(std::uint32_t n) {
    static const char* const kSyllables[] = {"ка", "ро", "ми", "ту", "ле", "за", "ё",  "ny",
                                             "ex", "qu", "ш",  "ьо", "b",  "7",  "щи", "ю"};
    std::string word;
    for (std::uint32_t i = 0; i < 4 || n; ++i, n /= 16)
        word += kSyllables[n % 16];
    return word + "предлиннейшееокончаниесловаизтестов";
}

TEST(SearchIndexTest, EveryWordOfALargeIndexDecodesAsItWasAdded) {
    // The first 32 pages are short and repeat a few words; the last ones are
    // long and their words rare, so that the codes' best roots at the end
    // are not the ones the first pages suggest, and builders of different
    // pages gather their codes in different roots.
    constexpr std::uint32_t kTopics = 40, kDense = 32;
    std::vector<std::string> html(kTopics), titles(kTopics);
    std::map<std::string, std::pair<Occurrences, Occurrences>> model; // title, body
    std::uint32_t seed = 1, words = 0;
    for (std::uint32_t t = 0; t < kTopics; ++t) {
        const std::uint32_t pageWords = t < kDense ? 200 : 1500;
        words += pageWords + 2;
        for (std::uint32_t position = 0; position < pageWords; ++position) {
            seed = seed * 1103515245u + 12345u;
            const std::uint32_t n = t < kDense ? (seed >> 8) % 40 : 40 + (seed >> 8) % 200000;
            html[t] += MadeUpWord(n) + (position % 7 ? " " : "</p><p>");
            model[Cp1251(MadeUpWord(n))].second[t * 3].push_back(position);
        }
        titles[t] = MadeUpWord(t) + " " + MadeUpWord(t + 1);
        model[Cp1251(MadeUpWord(t))].first[t * 3].push_back(0);
        model[Cp1251(MadeUpWord(t + 1))].first[t * 3].push_back(1);
    }
    std::vector<SearchTopic> topics;
    for (std::uint32_t t = 0; t < kTopics; ++t)
        topics.push_back({t * 3, html[t], text::Charset::Utf8(), titles[t]});
    const std::string whole = BuildFullTextIndex(topics, kRussian, kRussianLcid);
    const FtsReader index(whole);

    // Built in three parts at once and appended, it is the same index.
    SearchIndexBuilder parts[3] = {
        {kRussian, kRussianLcid}, {kRussian, kRussianLcid}, {kRussian, kRussianLcid}};
    for (std::uint32_t t = 0; t < kTopics; ++t)
        parts[t * 3 / kTopics].AddTopic(topics[t]);
    EXPECT_TRUE(parts[1].Append(parts[2]));
    EXPECT_TRUE(parts[0].Append(parts[1]));
    EXPECT_TRUE(parts[0].Finish() == whole);
    // So it is when the later part gathers its codes in the first part's roots.
    SearchIndexBuilder first(kRussian, kRussianLcid), second(kRussian, kRussianLcid);
    for (std::uint32_t t = 0; t < kTopics / 2; ++t)
        first.AddTopic(topics[t]);
    second.TakeRootsFrom(first);
    for (std::uint32_t t = kTopics / 2; t < kTopics; ++t)
        second.AddTopic(topics[t]);
    EXPECT_TRUE(first.Append(second));
    EXPECT_TRUE(first.Finish() == whole);

    ASSERT_GE(index.Header(0x18, 2), 3u) << "too few words to test the index nodes";
    // The chain of leaves from the first: every entry in byte order, the
    // title entry before the body entry, a word's two entries in one leaf.
    std::uint32_t leaf = index.LeafFor("");
    std::uint32_t leaves = 0, entries = 0;
    std::size_t longest = 0;
    std::map<std::string, std::pair<Occurrences, Occurrences>> decoded;
    std::string previous;
    bool previousTitle = false;
    for (; leaf; ++leaves) {
        const Leaf read = index.ReadLeaf(leaf);
        EXPECT_EQ(read.firstShared, 0u) << "a leaf's first word shares nothing";
        for (const LeafEntry& entry : read.entries) {
            const bool secondOfWord = entry.word == previous;
            EXPECT_TRUE(entry.word > previous || (secondOfWord && previousTitle && !entry.title))
                << entry.word;
            if (secondOfWord) {
                EXPECT_NE(&entry, &read.entries.front()) << "entries of one word in two leaves";
            }
            (entry.title ? decoded[entry.word].first : decoded[entry.word].second) = entry.topics;
            previous = entry.word;
            previousTitle = entry.title;
            longest = std::max(longest, entry.word.size());
            ++entries;
        }
        if (!read.next) {
            EXPECT_EQ(index.Header(0x56), read.free);
        }
        leaf = read.next;
    }
    EXPECT_TRUE(decoded == model);
    EXPECT_EQ(index.Header(0x10), leaves);
    EXPECT_EQ(index.Header(0x46), entries);
    EXPECT_EQ(index.Header(0x3E), longest);
    EXPECT_EQ(index.Header(0x42), words);
    // Words are found from the root, as a reader looks them up.
    std::size_t sample = 0;
    for (const auto& [word, occurrences] : model) {
        if (sample++ % 7)
            continue;
        const std::vector<LeafEntry> found = index.Find(DecodeCp1251(word));
        ASSERT_FALSE(found.empty()) << DecodeCp1251(word);
        EXPECT_EQ(found.back().topics,
                  occurrences.second.empty() ? occurrences.first : occurrences.second);
    }
}

TEST(SearchIndexTest, TopicsOutOfOrderAreRefusedAndAnEmptyIndexIsValid) {
    SearchIndexBuilder builder(kRussian, kRussianLcid);
    EXPECT_TRUE(builder.AddTopic({5, "пять", text::Charset::Utf8(), ""}));
    EXPECT_FALSE(builder.AddTopic({5, "снова", text::Charset::Utf8(), ""}));
    EXPECT_FALSE(builder.AddTopic({4, "четыре", text::Charset::Utf8(), ""}));
    EXPECT_FALSE(builder.AddTopic({0x80000000u, "много", text::Charset::Utf8(), ""}));
    EXPECT_TRUE(builder.AddTopic({9, "девять", text::Charset::Utf8(), ""}));
    SearchIndexBuilder earlier(kRussian, kRussianLcid), later(kRussian, kRussianLcid);
    earlier.AddTopic({7, "семь", text::Charset::Utf8(), ""});
    later.AddTopic({12, "двенадцать пять", text::Charset::Utf8(), ""});
    EXPECT_FALSE(builder.Append(earlier)); // 7 does not follow 9: neither changes
    EXPECT_TRUE(builder.Append(later));
    EXPECT_TRUE(builder.Append(later)); // emptied: nothing more to take
    EXPECT_EQ(FtsReader(earlier.Finish()).Find("семь").at(0).topics, (Occurrences{{7, {0}}}));
    const FtsReader index(builder.Finish());
    EXPECT_EQ(index.Header(0x04), 3u);
    EXPECT_EQ(index.Find("пять").at(0).topics, (Occurrences{{5, {0}}, {12, {1}}}));
    EXPECT_TRUE(index.Find("семь").empty());
    EXPECT_TRUE(index.Find("снова").empty());
    EXPECT_TRUE(index.Find("четыре").empty());

    const FtsReader empty(builder.Finish()); // the builder starts afresh
    EXPECT_EQ(empty.Header(0x04), 0u);
    EXPECT_EQ(empty.Header(0x18, 2), 1u);
    EXPECT_EQ(empty.Header(0x10), 1u);
    EXPECT_TRUE(empty.ReadLeaf(empty.Header(0x14)).entries.empty());
}

TEST(SearchIndexTest, ObjInstDescribesTheCodePageTheWordsAreFoldedIn) {
    const std::string obj = BuildObjInst(kRussian, kRussianLcid);
    ASSERT_EQ(Le(obj, 4, 4), 2u);
    const std::uint32_t first = Le(obj, 8, 4), firstSize = Le(obj, 12, 4);
    const std::uint32_t second = Le(obj, 16, 4), secondSize = Le(obj, 20, 4);
    ASSERT_EQ(first, 24u);
    ASSERT_EQ(second, first + firstSize);
    ASSERT_EQ(obj.size(), second + secondSize);
    EXPECT_EQ(Le(obj, first + 0x18, 4), 1251u);
    EXPECT_EQ(Le(obj, first + 0x1C, 4), 0x419u);
    EXPECT_EQ(Le(obj, second + 0x14, 4), 1251u);
    EXPECT_EQ(Le(obj, second + 0x18, 4), 0x419u);

    // Ten bytes a character: class, subclass, sort weight, folded byte.
    const auto record = [&](std::string_view utf8) {
        const auto byte = static_cast<unsigned char>(Cp1251(utf8).at(0));
        return std::string_view(obj).substr(first + 0x50 + byte * 10u, 10);
    };
    const auto weight = [&](std::string_view utf8) { return Le(record(utf8), 2, 2); };
    for (const char* letter : {"A", "Z", "Я", "Ё", "Ў", "Ґ"}) {
        EXPECT_EQ(record(letter)[0], 2) << letter;
        EXPECT_EQ(static_cast<unsigned char>(record(letter)[4]),
                  text::FoldSearchByte(1251, static_cast<unsigned char>(Cp1251(letter)[0])))
            << letter;
    }
    for (const char* letter : {"a", "я", "ё"})
        EXPECT_EQ(record(letter)[0], 1) << letter;
    EXPECT_EQ(record("7")[0], 3);
    for (const char* other : {" ", "_", "-", "«"})
        EXPECT_EQ(record(other)[0], 0) << other;
    EXPECT_EQ(weight("Ё"), weight("ё"));
    EXPECT_LT(weight("е"), weight("ё"));
    EXPECT_LT(weight("ё"), weight("ж"));
    EXPECT_LT(weight("9"), weight("a"));
    EXPECT_LT(weight("z"), weight("а"));
}

} // namespace
} // namespace tbx::chm
