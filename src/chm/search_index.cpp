#include "chm/search_index.h"

#include "chm/little_endian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <utility>
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
    void Add(const RootChooser& other) {
        for (unsigned width = 0; width < widths_.size(); ++width)
            widths_[width] += other.widths_[width];
    }

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

// The roots of the three code streams: topic distances, position counts
// and position distances.
struct Roots {
    unsigned topic = 1, count = 1, location = 1;
    bool operator==(const Roots&) const = default;
};

// Reads the code BitWriter writes, bit by bit: only for codes written
// with other roots, which is rare.
class CodeReader {
public:
    explicit CodeReader(const std::uint8_t* in) : in_(in) {}

    std::uint32_t Get(unsigned root) {
        unsigned ones = 0;
        while (Bit())
            ++ones;
        if (!ones)
            return Bits(root);
        const unsigned low = ones + root - 1;
        return static_cast<std::uint32_t>(std::uint64_t{1} << low | Bits(low));
    }
    void Align() {
        if (used_) {
            used_ = 0;
            ++in_;
        }
    }
    const std::uint8_t* Position() const { return in_; }

private:
    unsigned Bit() {
        const unsigned bit = *in_ >> (7 - used_) & 1u;
        if (++used_ == 8) {
            used_ = 0;
            ++in_;
        }
        return bit;
    }
    std::uint64_t Bits(unsigned count) {
        std::uint64_t value = 0;
        while (count--)
            value = value << 1 | Bit();
        return value;
    }

    const std::uint8_t* in_;
    unsigned used_ = 0;
};

// The most bytes one topic's record of count positions takes: a code is at
// most 64 bits.
std::size_t RecordBound(std::size_t count) {
    return 8 * (count + 2);
}

// Rewrites records (each one topic's codes, from a byte) from one set of
// roots into another; the first record's topic distance becomes
// firstTopic. Returns where the records read end.
const std::uint8_t* Recode(const std::uint8_t* in, std::uint32_t records, const Roots& from,
                           const Roots& to, std::uint32_t firstTopic,
                           std::vector<std::uint8_t>& out) {
    CodeReader codes(in);
    for (std::uint32_t record = 0; record < records; ++record) {
        const std::uint32_t topic = codes.Get(from.topic);
        const std::uint32_t count = codes.Get(from.count);
        const std::size_t at = out.size();
        out.resize(at + RecordBound(count));
        BitWriter bits(out.data() + at);
        bits.PutScaleRoot(record ? topic : firstTopic, to.topic);
        bits.PutScaleRoot(count, to.count);
        for (std::uint32_t i = 0; i < count; ++i)
            bits.PutScaleRoot(codes.Get(from.location), to.location);
        bits.Align();
        codes.Align();
        out.resize(static_cast<std::size_t>(bits.End() - out.data()));
    }
    return codes.Position();
}

// Byte streams that grow side by side in large shared blocks, each a chain
// of chunks twice the size of the one before (up to a limit): a rare word
// costs a few bytes, a common one a chunk now and then, and nothing is
// copied as streams grow.
class StreamArena {
public:
    struct Stream {
        std::uint32_t head = 0; // where its first chunk is; 0 for none yet
        std::uint32_t tail = 0;
        std::uint16_t used = 0;    // bytes in the tail chunk
        std::uint8_t tailSize = 0; // the tail chunk's size class
        std::uint32_t size = 0;    // bytes in all
    };

    void Append(Stream& stream, const std::uint8_t* bytes, std::size_t count) {
        if (!stream.head)
            stream.head = stream.tail = NewChunk(0);
        stream.size += static_cast<std::uint32_t>(count);
        while (count) {
            if (stream.used == Room(stream.tailSize)) {
                const unsigned next = std::min(stream.tailSize + 1u, kSizes - 1);
                const std::uint32_t chunk = NewChunk(next);
                std::memcpy(At(stream.tail), &chunk, sizeof chunk);
                stream.tail = chunk;
                stream.tailSize = static_cast<std::uint8_t>(next);
                stream.used = 0;
            }
            const std::size_t take =
                std::min<std::size_t>(Room(stream.tailSize) - stream.used, count);
            std::uint8_t* const to = At(stream.tail) + kLink + stream.used;
            if (take <= 16) { // most records: cheaper than a call
                for (std::size_t i = 0; i < take; ++i)
                    to[i] = bytes[i];
            } else {
                std::memcpy(to, bytes, take);
            }
            stream.used = static_cast<std::uint16_t>(stream.used + take);
            bytes += take;
            count -= take;
        }
    }

    void Prefetch(const Stream& stream) const {
        if (stream.tail)
            __builtin_prefetch(At(stream.tail) + kLink + stream.used, 1);
    }

    // Appends the stream's bytes to out.
    void Read(const Stream& stream, std::vector<std::uint8_t>& out) const {
        unsigned size = 0;
        for (std::uint32_t chunk = stream.head; chunk;) {
            const std::uint8_t* at = At(chunk);
            if (chunk == stream.tail)
                return (void)out.insert(out.end(), at + kLink, at + kLink + stream.used);
            out.insert(out.end(), at + kLink, at + kLink + Room(size));
            std::memcpy(&chunk, at, sizeof chunk);
            size = std::min(size + 1, kSizes - 1);
        }
    }

private:
    static constexpr unsigned kSizes = 5;   // chunks of 16 to 256 bytes
    static constexpr std::size_t kLink = 4; // each chunk starts with the next one's place
    static constexpr unsigned kBlockBits = 20;
    static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;

    static std::size_t Room(unsigned size) { return (std::size_t{16} << size) - kLink; }

    std::uint32_t NewChunk(unsigned size) {
        const std::size_t bytes = std::size_t{16} << size;
        if (blocks_.empty() || used_ + bytes > kBlockSize) {
            if (blocks_.size() >= (std::size_t{1} << (32 - kBlockBits)))
                throw std::length_error("the search index outgrows its places");
            blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize));
            used_ = blocks_.size() == 1 ? 16 : 0; // place 0 stands for no chunk
        }
        const auto chunk = static_cast<std::uint32_t>((blocks_.size() - 1) << kBlockBits | used_);
        std::memset(At(chunk), 0, kLink);
        used_ += bytes;
        return chunk;
    }

    std::uint8_t* At(std::uint32_t chunk) const {
        return blocks_[chunk >> kBlockBits].get() + (chunk & (kBlockSize - 1));
    }

    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
    std::size_t used_ = 0; // of the last block
};

} // namespace

// The words gathered so far and, for each of their entries (2 * word for a
// word of titles, 2 * word + 1 for one of bodies), the codes it will be
// written with, gathered page by page in an arena: for each topic but the
// first its distance from the one before, then the number of its positions
// and each position's distance from the one before. How often each value
// comes is counted as it is added, to choose the roots at the end.
class WordTable {
public:
    struct EntryState {
        StreamArena::Stream codes;
        std::uint32_t firstTopic = 0;
        std::uint32_t lastTopic = 0;
        std::uint32_t topics = 0; // 0 while it has none
        std::uint64_t positions = 0;
        std::uint32_t page = 0; // the last page that had it (AddPage's stamp)
        std::uint32_t slot = 0; // its place among that page's entries
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
                entries.resize(2 * words_.size());
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

    static constexpr std::size_t kAhead = 8;

    // One word of the page being added (see AddPage), in text order.
    void Occur(std::uint32_t entry) {
        EntryState& state = entries[entry];
        if (state.page != topicCount + 1) {
            state.page = topicCount + 1;
            state.slot = static_cast<std::uint32_t>(touched_.size());
            touched_.push_back(entry);
            counts_.push_back(0);
        }
        ++counts_[state.slot];
        pageSlots_.push_back(state.slot);
    }
    std::size_t PageWords() const { return pageSlots_.size(); }

    // Adds the words since the last page (the first titleWords of them
    // from its title) as topic number, grouped by entry.
    void AddPage(std::uint32_t number, std::size_t titleWords) {
        if (!topicCount)
            firstNumber = number;
        ++topicCount;
        lastNumber = number;
        occurrences += pageSlots_.size();
        starts_.resize(counts_.size() + 1);
        std::uint32_t sum = 0;
        for (std::size_t k = 0; k < counts_.size(); ++k) {
            starts_[k] = sum;
            sum += std::exchange(counts_[k], sum); // where its next position goes
        }
        starts_.back() = sum;
        positions_.resize(pageSlots_.size());
        for (std::size_t i = 0; i < pageSlots_.size(); ++i)
            positions_[counts_[pageSlots_[i]]++] =
                static_cast<std::uint32_t>(i < titleWords ? i : i - titleWords);
        for (std::size_t k = 0; k < touched_.size(); ++k) {
            // The entries' last chunks lie all over the arena: the ones
            // written a few records on are fetched meanwhile.
            if (k + kAhead < touched_.size())
                arena.Prefetch(entries[touched_[k + kAhead]].codes);
            EntryState& state = entries[touched_[k]];
            const std::uint32_t count = starts_[k + 1] - starts_[k];
            record_.resize(RecordBound(count));
            BitWriter bits(record_.data());
            const std::uint32_t distance = number - state.lastTopic; // the first: its number
            if (state.topics)
                topicCodes.Add(distance);
            else
                state.firstTopic = number;
            bits.PutScaleRoot(distance, roots_.topic);
            countCodes.Add(count);
            bits.PutScaleRoot(count, roots_.count);
            std::uint32_t previous = 0;
            for (std::uint32_t i = starts_[k]; i < starts_[k + 1]; ++i) {
                locationCodes.Add(positions_[i] - previous);
                bits.PutScaleRoot(positions_[i] - previous, roots_.location);
                previous = positions_[i];
            }
            bits.Align();
            arena.Append(state.codes, record_.data(),
                         static_cast<std::size_t>(bits.End() - record_.data()));
            state.lastTopic = number;
            ++state.topics;
            state.positions += count;
        }
        touched_.clear();
        counts_.clear();
        pageSlots_.clear();
        // The roots the codes are gathered in follow the first pages, so
        // that Finish can most often take the codes as they are.
        if (!fixedRoots && topicCount <= SearchIndexBuilder::kRootPages &&
            std::has_single_bit(topicCount))
            UseRoots(BestRoots());
    }

    // The best roots for the codes counted so far (each entry's first
    // topic left out).
    Roots BestRoots() const { return {topicCodes.Best(), countCodes.Best(), locationCodes.Best()}; }
    const Roots& GatheredRoots() const { return roots_; }

    // Rewrites the codes gathered so far in other roots.
    void UseRoots(const Roots& roots) {
        if (roots == roots_)
            return;
        StreamArena recoded;
        std::vector<std::uint8_t> codes, out;
        for (EntryState& state : entries) {
            if (!state.topics)
                continue;
            codes.clear();
            out.clear();
            arena.Read(state.codes, codes);
            Recode(codes.data(), state.topics, roots_, roots, state.firstTopic, out);
            state.codes = {};
            recoded.Append(state.codes, out.data(), out.size());
        }
        arena = std::move(recoded);
        roots_ = roots;
    }

    // Takes over the words and codes of a table of later topics.
    void Merge(WordTable& later) {
        std::vector<std::uint32_t> renumbered(later.WordCount());
        for (std::uint32_t word = 0; word < renumbered.size(); ++word)
            renumbered[word] = Find(later.Text(word));
        std::vector<std::uint8_t> codes, out;
        for (std::size_t entry = 0; entry < later.entries.size(); ++entry) {
            const EntryState& theirs = later.entries[entry];
            if (!theirs.topics)
                continue;
            EntryState& state = entries[2 * renumbered[entry / 2] + (entry & 1)];
            codes.clear();
            out.clear();
            later.arena.Read(theirs.codes, codes);
            // Its first topic now follows this table's last one for the
            // word: that record is written anew, and the others too when
            // the roots differ.
            const std::uint32_t distance =
                state.topics ? theirs.firstTopic - state.lastTopic : theirs.firstTopic;
            if (state.topics)
                topicCodes.Add(distance);
            else
                state.firstTopic = theirs.firstTopic;
            const bool same = later.roots_ == roots_;
            const std::uint8_t* rest =
                Recode(codes.data(), same ? 1 : theirs.topics, later.roots_, roots_, distance, out);
            arena.Append(state.codes, out.data(), out.size());
            if (same)
                arena.Append(state.codes, rest,
                             static_cast<std::size_t>(codes.data() + codes.size() - rest));
            state.lastTopic = theirs.lastTopic;
            state.topics += theirs.topics;
            state.positions += theirs.positions;
        }
        topicCodes.Add(later.topicCodes);
        countCodes.Add(later.countCodes);
        locationCodes.Add(later.locationCodes);
        occurrences += later.occurrences;
        if (!topicCount)
            firstNumber = later.firstNumber;
        topicCount += later.topicCount;
        lastNumber = later.lastNumber;
    }

    std::vector<EntryState> entries;
    StreamArena arena;
    // Every code but each entry's first topic, which is its number.
    RootChooser topicCodes, countCodes, locationCodes;
    std::uint64_t occurrences = 0;
    std::uint32_t topicCount = 0, firstNumber = 0, lastNumber = 0;
    std::uint32_t stopWords = 0; // the first words, never indexed
    bool fixedRoots = false;     // taken from another table, not chosen

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
    // AddPage's room, kept from page to page.
    std::vector<std::uint32_t> touched_;   // entries of the page, by slot
    std::vector<std::uint32_t> counts_;    // of each slot's words
    std::vector<std::uint32_t> pageSlots_; // each word's slot, in text order
    std::vector<std::uint32_t> starts_, positions_;
    std::vector<std::uint8_t> record_;
    Roots roots_; // of the gathered codes
};

namespace {

class OccurrenceSink : public WordSink {
public:
    OccurrenceSink(WordTable& table, bool title) : table_(table), body_(title ? 0 : 1) {}
    void OnWord(std::string_view word) override {
        const std::uint32_t index = table_.Find(word);
        if (index >= table_.stopWords)
            table_.Occur(2 * index + body_);
    }

private:
    WordTable& table_;
    std::uint32_t body_;
};

// One entry of a leaf: a word's title or body occurrences.
struct Entry {
    std::string_view word;
    bool title = false;
    std::uint32_t index = 0; // in the word table's entries
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
    WordTable& words = *words_;
    if (topic.number & kTopicMark || (words.topicCount && topic.number <= words.lastNumber))
        return false;
    OccurrenceSink title(words, true);
    SplitTextWords(topic.title, alphabet_, title);
    const std::size_t titleWords = words.PageWords();
    OccurrenceSink body(words, false);
    SplitPageWords(topic.html, topic.charset, alphabet_, body);
    words.AddPage(topic.number, titleWords);
    return true;
}

bool SearchIndexBuilder::Append(SearchIndexBuilder& later) {
    WordTable& mine = *words_;
    WordTable& theirs = *later.words_;
    if (!theirs.topicCount)
        return true;
    if (&alphabet_ != &later.alphabet_ ||
        (mine.topicCount && theirs.firstNumber <= mine.lastNumber))
        return false;
    mine.Merge(theirs);
    *later.words_ = WordTable{};
    return true;
}

void SearchIndexBuilder::TakeRootsFrom(const SearchIndexBuilder& other) {
    if (words_->topicCount)
        return;
    words_->UseRoots(other.words_->GatheredRoots());
    words_->fixedRoots = true;
}

std::string SearchIndexBuilder::Finish() {
    WordTable words = std::move(*words_);
    *words_ = WordTable{};
    // (The stop words are gone with them: an empty builder starts afresh.)

    std::vector<std::uint32_t> order(words.WordCount());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&words](std::uint32_t a, std::uint32_t b) { return words.Text(a) < words.Text(b); });
    std::vector<Entry> entries;
    entries.reserve(order.size() * 2);
    RootChooser topicCodes = words.topicCodes;
    std::uint64_t entryBytes = 0, occurrenceBytes = 0, topicRecords = 0, gatheredBytes = 0;
    std::size_t longest = 0;
    for (std::uint32_t index : order) {
        const std::string_view word = words.Text(index);
        for (std::uint32_t entry : {2 * index, 2 * index + 1}) { // the title entry first
            const WordTable::EntryState& state = words.entries[entry];
            if (!state.topics)
                continue;
            entries.push_back({word, entry == 2 * index, entry, state.topics});
            topicCodes.Add(state.firstTopic);
            topicRecords += state.topics;
            gatheredBytes += state.codes.size;
            entryBytes += word.size();
            occurrenceBytes += word.size() * state.positions;
            longest = std::max(longest, word.size());
        }
    }

    const RootChooser& countCodes = words.countCodes;
    const RootChooser& locationCodes = words.locationCodes;
    const auto cost = [&](const Roots& roots) {
        return topicCodes.Bits(roots.topic) + countCodes.Bits(roots.count) +
               locationCodes.Bits(roots.location);
    };
    // The codes stay in the roots they were gathered in unless the best
    // ones save more than 0.5 %: writing them anew costs more time than
    // that saves room.
    const Roots gathered = words.GatheredRoots();
    const Roots best{topicCodes.Best(), countCodes.Best(), locationCodes.Best()};
    const Roots roots = cost(gathered) * 200 <= cost(best) * 201 ? gathered : best;
    const unsigned topicRoot = roots.topic;
    const unsigned countRoot = roots.count;
    const unsigned locationRoot = roots.location;

    // Room for every code and the padding of each topic to its byte, so
    // that the codes are written in place; then room for the nodes.
    const std::uint64_t codeBits = topicCodes.Bits(topicRoot) + countCodes.Bits(countRoot) +
                                   locationCodes.Bits(locationRoot) + 7 * topicRecords;
    // The whole file is reserved at once: growing a string this large
    // would hold it twice. A leaf is closed only when the next word's
    // entries, at most 2 * (kMaxWordLength + 19) bytes, do not fit; an index
    // node holds 37 keys or more.
    // Codes taken as gathered take just their own room: the bound would be
    // zeroed and so kept in memory.
    const bool asGathered = roots == gathered;
    const std::size_t codeBytes = asGathered ? gatheredBytes : codeBits / 8 + 1;
    const std::size_t leafBound = (entryBytes + 19 * entries.size()) /
                                      (kNodeSize - kLeafHeaderSize - 2 * (kMaxWordLength + 19)) +
                                  1;
    std::string out;
    out.reserve(kHeaderSize + codeBytes + (leafBound + leafBound / 8 + 8) * kNodeSize);
    out.resize(kHeaderSize + codeBytes);
    auto* const base = reinterpret_cast<std::uint8_t*>(out.data());
    BitWriter bits(base + kHeaderSize);
    std::vector<std::uint8_t> codes, recoded;
    for (Entry& entry : entries) {
        const WordTable::EntryState& state = words.entries[entry.index];
        codes.clear();
        words.arena.Read(state.codes, codes);
        const std::vector<std::uint8_t>* written = &codes;
        if (!asGathered) {
            recoded.clear();
            Recode(codes.data(), state.topics, gathered, roots, state.firstTopic, recoded);
            written = &recoded;
        }
        std::uint8_t* const start = bits.End();
        std::memcpy(start, written->data(), written->size());
        bits = BitWriter(start + written->size());
        entry.codesOffset = static_cast<std::uint32_t>(start - base);
        entry.codesSize = static_cast<std::uint32_t>(written->size());
    }
    out.resize(static_cast<std::size_t>(bits.End() - base));
    words.arena = StreamArena{}; // the codes are written: their gathered form can go

    const Leaves leaves = WriteLeaves(out, entries);
    std::vector<NodeKey> level = leaves.keys;
    unsigned depth = 1;
    for (; level.size() > 1; ++depth)
        level = WriteIndexLevel(out, level);
    const std::uint32_t root = level.front().offset;

    PutLe32At(out, 0x00, 0x00280000);
    PutLe32At(out, 0x04, words.topicCount);
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
    PutLe32At(out, 0x42, Clamp32(words.occurrences));
    PutLe32At(out, 0x46, Clamp32(entries.size()));
    PutLe64At(out, 0x4A, occurrenceBytes);
    PutLe32At(out, 0x52, Clamp32(entryBytes));
    PutLe32At(out, 0x56, leaves.lastFree);
    PutLe32At(out, 0x5E, words.topicCount ? words.lastNumber : 0);
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
