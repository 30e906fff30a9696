#include "chm/search_index.h"

#include "chm/little_endian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <vector>

namespace tbx::chm {
namespace {

constexpr std::size_t kHeaderSize = 0x400;
constexpr std::size_t kNodeSize = 4096;
constexpr std::size_t kLeafHeaderSize = 8;        // next leaf, 0, free bytes
constexpr std::size_t kIndexHeaderSize = 2;       // free bytes
constexpr std::uint32_t kTopicMark = 0x80000000u; // topics stay below it
constexpr unsigned kMaxRoot = 31;

std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

// The counts and sizes in leaf entries: seven bits a byte, least
// significant group first, high bit set on every byte but the last.
void AppendLowFirst(std::string& out, std::uint64_t value) {
    do {
        const auto group = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
        out += static_cast<char>(value ? group | 0x80 : group);
    } while (value);
}

std::uint64_t Load(const char* at, std::size_t bytes) {
    std::uint64_t value = 0;
    std::memcpy(&value, at, bytes);
    return value;
}

// The first and last bytes of a word as two numbers, overlapping when the word is
// short: with the length they tell any two words of up to 16 bytes apart.
struct WordEnds {
    explicit WordEnds(std::string_view word) {
        const std::size_t n = word.size();
        const char* p = word.data();
        if (n >= 8) {
            head = Load(p, 8);
            tail = Load(p + n - 8, 8);
        } else if (n >= 4) {
            head = Load(p, 4);
            tail = Load(p + n - 4, 4);
        } else if (n) {
            head = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
                   static_cast<unsigned char>(p[n - 1]) << 16;
        }
    }
    std::uint64_t head = 0, tail = 0;
};

// How the word table knows a word: its length and, in eight bytes, the whole
// of a word of up to eight bytes, else its first eight; with a hash of all of it.
struct WordKey {
    explicit WordKey(std::string_view word) : length(static_cast<std::uint32_t>(word.size())) {
        const WordEnds ends(word);
        bytes = word.size() >= 8 ? ends.head : ends.head | ends.tail << 32;
        std::uint64_t mixed = (ends.head ^ std::uint64_t{length} << 56) * 0x9E3779B97F4A7C15u;
        mixed = (std::rotl(mixed, 29) ^ ends.tail) * 0xC2B2AE3D27D4EB4Fu;
        for (std::size_t at = 8; at + 8 < word.size(); at += 8)
            mixed = (std::rotl(mixed, 29) ^ Load(word.data() + at, 8)) * 0x9E3779B97F4A7C15u;
        static_assert(kMaxWordLength < 128, "the low seven bits hold the length");
        check = (static_cast<std::uint32_t>(mixed >> 32) & ~0x7Fu) | length;
    }
    std::uint64_t bytes;
    std::uint32_t length;
    std::uint32_t check;
};

// Equal when the lengths are: past the first eight bytes.
bool SameTail(std::string_view a, std::string_view b) {
    return a.size() <= 8 ||
           (WordEnds(a).tail == WordEnds(b).tail &&
            (a.size() <= 16 || std::memcmp(a.data() + 8, b.data() + 8, a.size() - 16) == 0));
}

// The "scale 2, root r" code the word locations are written in: a value
// below 2^r is a 0 bit and r bits; a larger one of n + 1 significant bits
// is n - r + 1 one bits, a 0 bit and its n low bits. Bits fill each byte
// from the top.
class BitWriter {
public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}

    void PutScaleRoot(std::uint32_t value, unsigned root) {
        if (value < (1u << root))
            return Put(value, root + 1);
        const unsigned low = static_cast<unsigned>(std::bit_width(value)) - 1;
        const unsigned ones = low - root + 1;
        const std::uint64_t lowBits = value & ((std::uint64_t{1} << low) - 1);
        if (ones + 1 + low <= 56)
            return Put(((std::uint64_t{1} << ones) - 1) << (low + 1) | lowBits, ones + 1 + low);
        Put((std::uint64_t{1} << (ones + 1)) - 2, ones + 1);
        Put(lowBits, low);
    }

    // Pads with 0 bits to the next byte.
    void Align() {
        if (pending_)
            Put(0, 8 - pending_);
    }

    std::uint8_t* End() const { return out_; }

private:
    // count <= 56. Bits above the pending ones are left over from bytes
    // already written and never reach the output.
    void Put(std::uint64_t value, unsigned count) {
        bits_ = bits_ << count | value;
        for (pending_ += count; pending_ >= 8;) {
            pending_ -= 8;
            *out_++ = static_cast<std::uint8_t>(bits_ >> pending_);
        }
    }

    std::uint8_t* out_;
    std::uint64_t bits_ = 0;
    unsigned pending_ = 0;
};

// Bits of a value with the given bit width in the code above.
std::uint64_t ScaleRootBits(unsigned width, unsigned root) {
    return width <= root ? root + 1 : 2 * width - root;
}

// The root that writes a stream of values in the fewest bits.
class RootChooser {
public:
    void Add(std::uint32_t value) { ++widths_[static_cast<unsigned>(std::bit_width(value))]; }

    std::uint64_t Bits(unsigned root) const {
        std::uint64_t bits = 0;
        for (unsigned width = 0; width < widths_.size(); ++width)
            bits += widths_[width] * ScaleRootBits(width, root);
        return bits;
    }

    unsigned Best() const {
        unsigned best = 1;
        for (unsigned root = 2; root <= kMaxRoot; ++root) {
            if (Bits(root) < Bits(best))
                best = root;
        }
        return best;
    }

private:
    std::array<std::uint64_t, 33> widths_{};
};

// Calls the three functions with every topic delta, position count and
// position delta of an entry's codes (see EntryCodes), in the order they
// are written.
template <typename T, typename C, typename L>
void ForEachCode(std::span<const std::uint32_t> codes, T onTopic, C onCount, L onLocation) {
    for (std::size_t at = 0; at < codes.size();) {
        std::size_t end = at + 1;
        while (end < codes.size() && !(codes[end] & kTopicMark))
            ++end;
        onTopic(codes[at] & ~kTopicMark);
        onCount(static_cast<std::uint32_t>(end - at - 1));
        for (++at; at < end; ++at)
            onLocation(codes[at]);
    }
}

} // namespace

// The words gathered so far, and every occurrence of them as its entry:
// 2 * word for a word of a title, 2 * word + 1 for one of a body. A topic's
// positions need no storing: they are the places in its run of entries.
class WordTable {
public:
    struct Topic {
        std::uint32_t number;
        std::size_t titleStart; // of its entries in occurrences
        std::size_t bodyStart;
    };

    std::uint32_t Find(std::string_view word) {
        if ((words_.size() + 1) * 2 > slots_.size())
            Grow();
        const WordKey key(word);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Start(key.check, mask);; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.index == 0) {
                const auto index = static_cast<std::uint32_t>(words_.size());
                slot = {key.bytes, key.check, index + 1};
                words_.push_back({static_cast<std::uint32_t>(store_.size()),
                                  static_cast<std::uint32_t>(word.size())});
                store_.append(word);
                return index;
            }
            // Most words fit in the slot: their stored bytes stay unread.
            if (slot.check == key.check && slot.bytes == key.bytes &&
                SameTail(Text(slot.index - 1), word))
                return slot.index - 1;
        }
    }

    std::string_view Text(std::uint32_t index) const {
        return std::string_view(store_.data() + words_[index].text, words_[index].length);
    }
    std::size_t WordCount() const { return words_.size(); }

    std::vector<std::uint32_t> occurrences;
    std::vector<Topic> topics;
    std::uint32_t stopWords = 0; // the first words, never indexed

private:
    struct Word {
        std::uint32_t text; // offset of its bytes in the store
        std::uint32_t length;
    };

    void Grow() {
        std::vector<Slot> old(std::max<std::size_t>(1024, slots_.size() * 2));
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (!slot.index)
                continue;
            std::size_t i = Start(slot.check, mask);
            while (slots_[i].index)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::string store_; // every distinct word, back to back
    std::vector<Word> words_;
    struct Slot {
        std::uint64_t bytes = 0; // as WordKey has them
        std::uint32_t check = 0;
        std::uint32_t index = 0; // of the word + 1, 0 when free
    };
    // Where a word's search starts: its hash bits above the length's.
    static std::size_t Start(std::uint32_t check, std::size_t mask) { return (check >> 7) & mask; }

    std::vector<Slot> slots_; // open addressing
};

namespace {

class OccurrenceSink : public WordSink {
public:
    OccurrenceSink(WordTable& table, bool title) : table_(table), body_(title ? 0 : 1) {}
    void OnWord(std::string_view word) override {
        const std::uint32_t index = table_.Find(word);
        if (index >= table_.stopWords)
            table_.occurrences.push_back(2 * index + body_);
    }

private:
    WordTable& table_;
    std::uint32_t body_;
};

// Every entry's codes, entry after entry: for each of its topics, kTopicMark
// | the topic's distance from the entry's previous topic, then the distance
// of each position from the previous one. With the numbers each code
// stream holds, to choose its root.
struct EntryCodes {
    std::vector<std::uint32_t> codes;
    std::vector<std::size_t> start; // of each entry's codes; one more at the end
    std::vector<std::uint32_t> topics;
    RootChooser topicCodes, countCodes, locationCodes;
};

// Sorts the occurrences by entry, topics in order within each.
EntryCodes GroupByEntry(const WordTable& table) {
    const std::size_t entries = 2 * table.WordCount();
    const std::vector<std::uint32_t>& occurrences = table.occurrences;
    const auto forEach = [&](auto f) {
        for (std::uint32_t t = 0; t < table.topics.size(); ++t) {
            const WordTable::Topic& topic = table.topics[t];
            const std::size_t end =
                t + 1 < table.topics.size() ? table.topics[t + 1].titleStart : occurrences.size();
            for (std::size_t i = topic.titleStart; i < end; ++i) {
                const std::size_t first = i < topic.bodyStart ? topic.titleStart : topic.bodyStart;
                f(occurrences[i], t, static_cast<std::uint32_t>(i - first));
            }
        }
    };
    // Where each entry stands in the scan: its last topic (index + 1, 0
    // for none), position and count of positions there.
    struct State {
        std::size_t next = 0;
        std::uint32_t topic = 0;
        std::uint32_t position = 0;
        std::uint32_t count = 0;
    };
    std::vector<State> states(entries);
    EntryCodes grouped;
    grouped.topics.assign(entries, 0);
    forEach([&](std::uint32_t entry, std::uint32_t t, std::uint32_t) {
        State& state = states[entry];
        ++state.next;
        if (state.topic != t + 1) {
            state.topic = t + 1;
            ++state.next;
            ++grouped.topics[entry];
        }
    });
    grouped.start.assign(entries + 1, 0);
    for (std::size_t entry = 0; entry < entries; ++entry) {
        grouped.start[entry + 1] = grouped.start[entry] + states[entry].next;
        states[entry] = State{grouped.start[entry]};
    }
    grouped.codes.resize(grouped.start.back());
    forEach([&](std::uint32_t entry, std::uint32_t t, std::uint32_t position) {
        State& state = states[entry];
        if (state.topic != t + 1) {
            if (state.topic)
                grouped.countCodes.Add(state.count);
            const std::uint32_t delta =
                table.topics[t].number - (state.topic ? table.topics[state.topic - 1].number : 0);
            grouped.topicCodes.Add(delta);
            grouped.codes[state.next++] = kTopicMark | delta;
            state.topic = t + 1;
            state.position = 0;
            state.count = 0;
        }
        grouped.locationCodes.Add(position - state.position);
        grouped.codes[state.next++] = position - state.position;
        state.position = position;
        ++state.count;
    });
    for (const State& state : states) {
        if (state.topic)
            grouped.countCodes.Add(state.count);
    }
    return grouped;
}

// One entry of a leaf: a word's title or body occurrences.
struct Entry {
    std::string_view word;
    bool title = false;
    std::span<const std::uint32_t> codes; // as ForEachCode reads them
    std::uint32_t topics = 0;
    std::uint32_t codesOffset = 0; // of its word-location codes in the file
    std::uint32_t codesSize = 0;
};

std::size_t CommonPrefix(std::string_view a, std::string_view b) {
    const std::size_t most = std::min(a.size(), b.size());
    std::size_t length = 0;
    while (length < most && a[length] == b[length])
        ++length;
    return length;
}

// The word as a node stores it: suffix length + 1, the length shared with
// the previous word of the node, the suffix.
void AppendNodeWord(std::string& out, std::string_view word, std::string_view previous) {
    const std::size_t shared = CommonPrefix(word, previous);
    out += static_cast<char>(word.size() - shared + 1);
    out += static_cast<char>(shared);
    out.append(word.substr(shared));
}

void AppendLeafEntry(std::string& out, const Entry& entry, std::string_view word,
                     std::string_view previous) {
    AppendNodeWord(out, word, previous);
    out += static_cast<char>(entry.title ? 1 : 0);
    AppendLowFirst(out, entry.topics);
    AppendLe32(out, entry.codesOffset);
    AppendLe16(out, 0);
    AppendLowFirst(out, entry.codesSize);
}

// A node's last word and where the node starts: what the level above keeps.
struct NodeKey {
    std::string_view last;
    std::uint32_t offset;
};

struct Leaves {
    std::vector<NodeKey> keys;
    std::size_t lastFree = 0;
};

// Appends the leaves to out. The entries of one word never straddle two
// leaves, so that its title and body entries are read together.
Leaves WriteLeaves(std::string& out, const std::vector<Entry>& entries) {
    Leaves leaves;
    std::string node, group;
    std::string_view last;
    const auto close = [&] {
        leaves.lastFree = kNodeSize - node.size();
        PutLe16At(node, 6, leaves.lastFree);
        node.resize(kNodeSize, '\0');
        leaves.keys.push_back({last, static_cast<std::uint32_t>(out.size())});
        out += node;
        node.clear();
    };
    for (std::size_t at = 0; at < entries.size();) {
        const std::string_view word = entries[at].word;
        std::size_t end = at + 1;
        while (end < entries.size() && entries[end].word.data() == word.data())
            ++end;
        const auto encode = [&](std::string_view previous) {
            group.clear();
            for (std::size_t i = at; i < end; ++i)
                AppendLeafEntry(group, entries[i], word, i > at ? word : previous);
        };
        if (!node.empty()) {
            encode(last);
            if (node.size() + group.size() > kNodeSize)
                close();
        }
        if (node.empty()) {
            node.assign(kLeafHeaderSize, '\0');
            encode(""); // each node starts its prefixes afresh
        }
        node += group;
        last = word;
        at = end;
    }
    if (node.empty())
        node.assign(kLeafHeaderSize, '\0'); // an index of no words still has its one leaf
    close();
    for (std::size_t i = 0; i + 1 < leaves.keys.size(); ++i)
        PutLe32At(out, leaves.keys[i].offset, leaves.keys[i + 1].offset);
    return leaves;
}

// Appends one level of index nodes above the given nodes; returns the keys
// of the new level.
std::vector<NodeKey> WriteIndexLevel(std::string& out, const std::vector<NodeKey>& below) {
    std::vector<NodeKey> level;
    std::string node, entry;
    std::string_view last;
    const auto close = [&] {
        PutLe16At(node, 0, kNodeSize - node.size());
        node.resize(kNodeSize, '\0');
        level.push_back({last, static_cast<std::uint32_t>(out.size())});
        out += node;
        node.clear();
    };
    for (const NodeKey& key : below) {
        entry.clear();
        AppendNodeWord(entry, key.last, node.empty() ? "" : last);
        if (!node.empty() && node.size() + entry.size() + 6 > kNodeSize) {
            close();
            entry.clear();
            AppendNodeWord(entry, key.last, "");
        }
        if (node.empty())
            node.assign(kIndexHeaderSize, '\0');
        node += entry;
        AppendLe32(node, key.offset);
        AppendLe16(node, 0);
        last = key.last;
    }
    close();
    return level;
}

} // namespace

SearchIndexBuilder::SearchIndexBuilder(const text::SearchAlphabet& alphabet, std::uint32_t lcid)
    : alphabet_(alphabet), lcid_(lcid), words_(std::make_unique<WordTable>()) {}
SearchIndexBuilder::~SearchIndexBuilder() = default;

namespace {

class StopWordSink : public WordSink {
public:
    explicit StopWordSink(WordTable& table) : table_(table) {}
    void OnWord(std::string_view word) override {
        if (table_.Find(word) == table_.stopWords)
            ++table_.stopWords;
    }

private:
    WordTable& table_;
};

} // namespace

void SearchIndexBuilder::SetStopWords(std::string_view text) {
    // Stop words take the first numbers of an empty table; a later list
    // adds to them only while no other word has been seen.
    if (words_->WordCount() != words_->stopWords)
        return;
    StopWordSink sink(*words_);
    SplitTextWords(text, alphabet_, sink);
}

bool SearchIndexBuilder::AddTopic(const SearchTopic& topic) {
    std::vector<WordTable::Topic>& topics = words_->topics;
    if (topic.number & kTopicMark || (!topics.empty() && topic.number <= topics.back().number))
        return false;
    WordTable::Topic& added = topics.emplace_back();
    added.number = topic.number;
    added.titleStart = words_->occurrences.size();
    OccurrenceSink title(*words_, true);
    SplitTextWords(topic.title, alphabet_, title);
    added.bodyStart = words_->occurrences.size();
    OccurrenceSink body(*words_, false);
    SplitPageWords(topic.html, topic.charset, alphabet_, body);
    return true;
}

bool SearchIndexBuilder::Append(SearchIndexBuilder& later) {
    WordTable& mine = *words_;
    WordTable& theirs = *later.words_;
    if (theirs.topics.empty())
        return true;
    if (&alphabet_ != &later.alphabet_ ||
        (!mine.topics.empty() && theirs.topics.front().number <= mine.topics.back().number))
        return false;
    std::vector<std::uint32_t> renumbered(theirs.WordCount());
    for (std::uint32_t word = 0; word < renumbered.size(); ++word)
        renumbered[word] = mine.Find(theirs.Text(word));
    const std::size_t shift = mine.occurrences.size();
    mine.occurrences.reserve(shift + theirs.occurrences.size());
    for (const std::uint32_t entry : theirs.occurrences)
        mine.occurrences.push_back(2 * renumbered[entry / 2] + (entry & 1));
    for (WordTable::Topic topic : theirs.topics) {
        topic.titleStart += shift;
        topic.bodyStart += shift;
        mine.topics.push_back(topic);
    }
    *later.words_ = WordTable{};
    return true;
}

std::string SearchIndexBuilder::Finish() {
    const WordTable words = std::move(*words_);
    *words_ = WordTable{};
    // (The stop words are gone with them: an empty builder starts afresh.)
    const EntryCodes grouped = GroupByEntry(words);

    std::vector<std::uint32_t> order(words.WordCount());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&words](std::uint32_t a, std::uint32_t b) { return words.Text(a) < words.Text(b); });
    std::vector<Entry> entries;
    entries.reserve(order.size() * 2);
    std::uint64_t entryBytes = 0, occurrenceBytes = 0, topicRecords = 0;
    std::size_t longest = 0;
    for (std::uint32_t index : order) {
        const std::string_view word = words.Text(index);
        for (std::uint32_t entry : {2 * index, 2 * index + 1}) { // the title entry first
            const std::uint32_t topics = grouped.topics[entry];
            if (!topics)
                continue;
            const std::span<const std::uint32_t> codes(grouped.codes.data() + grouped.start[entry],
                                                       grouped.start[entry + 1] -
                                                           grouped.start[entry]);
            entries.push_back({word, entry == 2 * index, codes, topics});
            topicRecords += topics;
            entryBytes += word.size();
            occurrenceBytes += word.size() * (codes.size() - topics);
            longest = std::max(longest, word.size());
        }
    }

    const RootChooser& topicCodes = grouped.topicCodes;
    const RootChooser& countCodes = grouped.countCodes;
    const RootChooser& locationCodes = grouped.locationCodes;
    const unsigned topicRoot = topicCodes.Best();
    const unsigned countRoot = countCodes.Best();
    const unsigned locationRoot = locationCodes.Best();

    // Room for every code and the padding of each topic to its byte, so
    // that the codes are written in place; then room for the nodes.
    const std::uint64_t codeBits = topicCodes.Bits(topicRoot) + countCodes.Bits(countRoot) +
                                   locationCodes.Bits(locationRoot) + 7 * topicRecords;
    std::string out(kHeaderSize + codeBits / 8 + 1, '\0');
    out.reserve(out.size() + (entries.size() / 16 + 4) * kNodeSize);
    auto* const base = reinterpret_cast<std::uint8_t*>(out.data());
    BitWriter bits(base + kHeaderSize);
    for (Entry& entry : entries) {
        const std::uint8_t* start = bits.End();
        ForEachCode(
            entry.codes,
            [&](std::uint32_t v) {
                bits.Align(); // each topic starts on a byte
                bits.PutScaleRoot(v, topicRoot);
            },
            [&](std::uint32_t v) { bits.PutScaleRoot(v, countRoot); },
            [&](std::uint32_t v) { bits.PutScaleRoot(v, locationRoot); });
        bits.Align();
        entry.codesOffset = static_cast<std::uint32_t>(start - base);
        entry.codesSize = static_cast<std::uint32_t>(bits.End() - start);
    }
    out.resize(static_cast<std::size_t>(bits.End() - base));

    const Leaves leaves = WriteLeaves(out, entries);
    std::vector<NodeKey> level = leaves.keys;
    unsigned depth = 1;
    for (; level.size() > 1; ++depth)
        level = WriteIndexLevel(out, level);
    const std::uint32_t root = level.front().offset;

    PutLe32At(out, 0x00, 0x00280000);
    PutLe32At(out, 0x04, words.topics.size());
    PutLe32At(out, 0x08, root);
    PutLe32At(out, 0x10, leaves.keys.size());
    PutLe32At(out, 0x14, root);
    PutLe16At(out, 0x18, depth);
    PutLe32At(out, 0x1A, 7);
    const unsigned char scaleRoot[] = {2, static_cast<unsigned char>(topicRoot),
                                       2, static_cast<unsigned char>(countRoot),
                                       2, static_cast<unsigned char>(locationRoot)};
    std::memcpy(out.data() + 0x1E, scaleRoot, sizeof scaleRoot);
    PutLe32At(out, 0x2E, kNodeSize);
    // 1 and 5 stand here in the help files we compared ours with; what they
    // mean is not known.
    PutLe32At(out, 0x36, 1);
    PutLe32At(out, 0x3A, 5);
    PutLe32At(out, 0x3E, longest);
    PutLe32At(out, 0x42, Clamp32(words.occurrences.size()));
    PutLe32At(out, 0x46, Clamp32(entries.size()));
    PutLe64At(out, 0x4A, occurrenceBytes);
    PutLe32At(out, 0x52, Clamp32(entryBytes));
    PutLe32At(out, 0x56, leaves.lastFree);
    PutLe32At(out, 0x5E, words.topics.empty() ? 0 : words.topics.back().number);
    PutLe32At(out, 0x7A, static_cast<std::uint32_t>(alphabet_.codePage));
    PutLe32At(out, 0x7E, lcid_);
    return out;
}

std::string BuildFullTextIndex(std::span<const SearchTopic> topics,
                               const text::SearchAlphabet& alphabet, std::uint32_t lcid) {
    SearchIndexBuilder builder(alphabet, lcid);
    for (const SearchTopic& topic : topics)
        builder.AddTopic(topic);
    return builder.Finish();
}

} // namespace tbx::chm
