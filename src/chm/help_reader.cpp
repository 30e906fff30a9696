#include "chm/help_reader.h"

#include "chm/little_endian.h"
#include "chm/page_words.h"
#include "text/charset.h"
#include "text/language.h"
#include "text/search_alphabet.h"
#include "text/text_case.h"

#include <algorithm>
#include <map>
#include <span>
#include <unordered_set>

namespace tbx::chm {
namespace {

// The help-level tables are read whole. Real ones stay far below this even
// for tens of thousands of pages; a directory claiming more is not believed.
constexpr std::uint64_t kMaxTableSize = std::uint64_t{64} << 20;
// Bytes read from an entry with one call: memory follows the bytes the
// entry really has, never the length its directory entry claims.
constexpr std::size_t kReadPiece = std::size_t{64} << 10;
constexpr std::uint32_t kNoString = 0xFFFFFFFFu;

// ---- Full-text index layout ----------------------------------------------------
constexpr std::size_t kFtsHeaderSize = 0x400;
constexpr std::uint32_t kFtsSignature = 0x00280000;
constexpr std::size_t kFtsRoot = 0x08, kFtsDepth = 0x18;
constexpr std::size_t kFtsScaleRoot = 0x1E, kFtsNodeSize = 0x2E, kFtsCodePage = 0x7A;
constexpr std::size_t kLeafHeaderSize = 8;  // next leaf, 0, free bytes
constexpr std::size_t kIndexHeaderSize = 2; // free bytes
constexpr std::size_t kMinNodeSize = 64, kMaxNodeSize = 0x10000;
// Deeper trees do not occur: a 4 KiB node holds tens of keys, so depth 8
// already covers more words than a language has.
constexpr unsigned kMaxDepth = 16;

// ---- #WINDOWS record fields ---------------------------------------------------
constexpr std::size_t kWindowsHeaderSize = 8;
constexpr std::size_t kMinWindowRecord = 0xBC; // the form before 1.1 ends here
constexpr std::size_t kMaxWindowRecord = 0x1000;

// ---- Bytes ---------------------------------------------------------------------

std::uint32_t Le32(std::string_view bytes, std::size_t at) {
    return GetLe32(reinterpret_cast<const std::uint8_t*>(bytes.data() + at));
}
std::uint16_t Le16(std::string_view bytes, std::size_t at) {
    return GetLe16(reinterpret_cast<const std::uint8_t*>(bytes.data() + at));
}
// The bytes of s from offset from on, for a cursor to fill.
std::span<std::uint8_t> Writable(std::string& s, std::size_t from) {
    return {reinterpret_cast<std::uint8_t*>(s.data()) + from, s.size() - from};
}
bool Fits(std::string_view bytes, std::uint64_t at, std::uint64_t size) {
    return at <= bytes.size() && size <= bytes.size() - at;
}

// The zero-terminated text at offset, cut at the end of the bytes.
std::string_view TextAt(std::string_view bytes, std::uint64_t at) {
    if (at >= bytes.size())
        return {};
    const std::string_view rest = bytes.substr(static_cast<std::size_t>(at));
    return rest.substr(0, rest.find('\0'));
}

std::string StoredName(std::string_view local) {
    if (local.empty() || local.starts_with('/'))
        return std::string(local);
    return "/" + std::string(local);
}

// ---- Query folding -----------------------------------------------------------------

// The one place a query byte is folded, after the query is in lower case:
// as the index of its code page folds it. A byte the code page ignores
// inside words (a soft hyphen, a combining mark) is dropped, marked by 0xFF
// here by a value no byte has; without an alphabet (double-byte code pages)
// ASCII letters and digits and every byte of 0x80 and up belong to words.
constexpr unsigned kIgnoredByte = 0x100;
unsigned FoldQueryByte(int codePage, unsigned char byte) {
    if (const text::SearchAlphabet* alphabet = text::FindSearchAlphabet(codePage)) {
        if (alphabet->ignorable[byte])
            return kIgnoredByte;
        return text::FoldSearchByte(codePage, byte);
    }
    if ((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte >= 0x80)
        return byte;
    return 0;
}

// ---- The scale-and-root code of word locations ---------------------------------------

// Bits of one word-location entry, most significant first in each byte,
// pulled from the index a piece at a time.
class WlcBits {
public:
    WlcBits(ChmCursor& cursor, const ChmEntry& entry, std::uint64_t at, std::uint64_t size)
        : cursor_(cursor), entry_(entry), at_(at), end_(at + size) {}

    // Scale 2, root r: n one bits and a zero, then r + n - 1 bits below a
    // leading one (n > 0), or r bits (n = 0).
    std::optional<std::uint32_t> ScaleRoot(unsigned root) {
        unsigned ones = 0;
        for (;;) {
            const std::optional<unsigned> bit = Bit();
            if (!bit)
                return std::nullopt;
            if (!*bit)
                break;
            if (++ones > 32)
                return std::nullopt;
        }
        if (ones == 0)
            return Bits(root);
        const unsigned low = root + ones - 1;
        if (low > 31)
            return std::nullopt;
        const std::optional<std::uint32_t> rest = Bits(low);
        if (!rest)
            return std::nullopt;
        return (std::uint32_t{1} << low) | *rest;
    }

    void Align() { bit_ = 8; }
    const std::string& Error() const { return error_; }

private:
    std::optional<std::uint32_t> Bits(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            const std::optional<unsigned> bit = Bit();
            if (!bit)
                return std::nullopt;
            value = value << 1 | *bit;
        }
        return value;
    }

    std::optional<unsigned> Bit() {
        if (bit_ >= 8) {
            if (position_ >= piece_.size() && !Fill())
                return std::nullopt;
            byte_ = piece_[position_++];
            bit_ = 0;
        }
        return (byte_ >> (7 - bit_++)) & 1u;
    }

    // The next piece; false at the end of the entry's codes.
    bool Fill() {
        at_ += piece_.size();
        position_ = 0;
        piece_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, end_ - at_)));
        if (piece_.empty())
            return false;
        error_ = cursor_.Read(entry_, at_, piece_);
        if (!error_.empty())
            piece_.clear();
        return !piece_.empty();
    }

    ChmCursor& cursor_;
    const ChmEntry& entry_;
    std::uint64_t at_, end_;
    std::vector<std::uint8_t> piece_;
    std::size_t position_ = 0;
    std::uint8_t byte_ = 0;
    unsigned bit_ = 8;
    std::string error_;
};

// Seven bits a byte, least significant group first, high bit on all but
// the last byte.
std::optional<std::uint64_t> LowFirst(std::string_view node, std::size_t& at, std::size_t end) {
    std::uint64_t value = 0;
    for (unsigned shift = 0; at < end && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(node[at++]);
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (!(byte & 0x80))
            return value;
    }
    return std::nullopt;
}

// A node's word: suffix length + 1, length shared with the previous word,
// the suffix. False when the node's bytes cannot hold it.
bool NextWord(std::string_view node, std::size_t& at, std::size_t end, std::string& word) {
    if (end - at < 2)
        return false;
    const auto stored = static_cast<unsigned char>(node[at]);
    const auto shared = static_cast<unsigned char>(node[at + 1]);
    if (stored == 0 || shared > word.size() || end - at - 2 < stored - 1u)
        return false;
    word.resize(shared);
    word.append(node.substr(at + 2, stored - 1u));
    at += 2 + stored - 1u;
    return true;
}

struct WordMatch {
    std::uint64_t topics;
    std::uint64_t codesAt, codesSize;
    bool title;
};

bool Matches(std::string_view word, std::string_view query, SearchMode mode) {
    return mode == SearchMode::WholeWord ? word == query : word.starts_with(query);
}

// Past every word the query can match: the leaves are in byte order.
bool Beyond(std::string_view word, std::string_view query) {
    return word > query && !word.starts_with(query);
}

// One search through a $FIftiMain: the header checked, then for each word
// the leaf it would be in found from the root, the matching entries taken
// along the chain of leaves, and their word locations read topic by topic.
// Each step returns why it cannot go on, or nothing.
class IndexWalk {
public:
    IndexWalk(ChmCursor& cursor, const ChmEntry& entry) : cursor_(cursor), entry_(entry) {}

    std::string ReadHeader() {
        std::string header(kFtsHeaderSize, '\0');
        if (entry_.length < kFtsHeaderSize)
            return "shorter than its header";
        if (std::string error = cursor_.Read(entry_, 0, Writable(header, 0)); !error.empty())
            return error;
        if (Le32(header, 0) != kFtsSignature)
            return "no index signature";
        nodeSize_ = Le32(header, kFtsNodeSize);
        depth_ = Le16(header, kFtsDepth);
        root_ = Le32(header, kFtsRoot);
        codePage_ = static_cast<int>(Le32(header, kFtsCodePage));
        if (nodeSize_ < kMinNodeSize || nodeSize_ > kMaxNodeSize)
            return "nodes of " + std::to_string(nodeSize_) + " bytes";
        if (depth_ == 0 || depth_ > kMaxDepth)
            return "a tree " + std::to_string(depth_) + " deep";
        for (unsigned i = 0; i < 3; ++i) {
            if (header[kFtsScaleRoot + 2 * i] != 2)
                return "a word-location code of scale other than 2";
            roots_[i] = static_cast<unsigned char>(header[kFtsScaleRoot + 2 * i + 1]);
            if (roots_[i] > 31)
                return "a word-location code of root " + std::to_string(roots_[i]);
        }
        node_.assign(nodeSize_, '\0');
        return {};
    }

    // The code page the index names for its words; 0 when it names none,
    // as older files do.
    int CodePage() const { return codePage_; }

    std::string FindEntries(std::string_view word, SearchMode mode,
                            std::vector<WordMatch>& matches) {
        std::uint64_t at = root_;
        for (unsigned level = depth_; level > 1 && at; --level) {
            if (std::string error = ChildFor(word, at); !error.empty())
                return error;
        }
        // Each leaf once: a chain that comes back to one is damaged.
        std::unordered_set<std::uint64_t> visited;
        bool beyond = false;
        while (at && !beyond) {
            if (!visited.insert(at).second)
                return "the leaves run in a circle";
            if (std::string error = ReadNode(at); !error.empty())
                return error;
            const std::size_t end =
                nodeSize_ - std::min<std::size_t>(Le16(node_, 6), nodeSize_ - kLeafHeaderSize);
            std::string current;
            for (std::size_t p = kLeafHeaderSize; p < end && !beyond;) {
                if (!NextWord(node_, p, end, current) || p >= end)
                    return "a leaf cut short";
                const bool title = node_[p++] != 0;
                const std::optional<std::uint64_t> topics = LowFirst(node_, p, end);
                if (!topics || end - p < 6)
                    return "a leaf cut short";
                const std::uint32_t codesAt = Le32(node_, p);
                p += 6;
                const std::optional<std::uint64_t> codesSize = LowFirst(node_, p, end);
                if (!codesSize)
                    return "a leaf cut short";
                if (Matches(current, word, mode))
                    matches.push_back({*topics, codesAt, *codesSize, title});
                else
                    beyond = Beyond(current, word);
            }
            at = Le32(node_, 0);
        }
        return {};
    }

    // Calls f(topic, occurrences) for each topic of the entry.
    template <typename F> std::string ForEachTopic(const WordMatch& match, F f) {
        if (match.codesAt > entry_.length || match.codesSize > entry_.length - match.codesAt)
            return "word locations beyond the index";
        WlcBits bits(cursor_, entry_, match.codesAt, match.codesSize);
        const auto cutShort = [&] {
            return bits.Error().empty() ? std::string("word locations cut short") : bits.Error();
        };
        std::uint32_t topic = 0;
        for (std::uint64_t t = 0; t < match.topics; ++t) {
            const std::optional<std::uint32_t> delta = bits.ScaleRoot(roots_[0]);
            const std::optional<std::uint32_t> count = delta ? bits.ScaleRoot(roots_[1]) : delta;
            if (!count)
                return cutShort();
            for (std::uint32_t c = 0; c < *count; ++c) {
                if (!bits.ScaleRoot(roots_[2]))
                    return cutShort();
            }
            bits.Align(); // each topic starts on a byte
            topic += *delta;
            f(topic, *count);
        }
        return {};
    }

private:
    std::string ReadNode(std::uint64_t at) {
        if (at < kFtsHeaderSize || at > entry_.length || nodeSize_ > entry_.length - at)
            return "a node beyond the index";
        return cursor_.Read(entry_, at, Writable(node_, 0));
    }

    // Down one index node: the first key not below the word (the last word
    // of its child) leads to where the word, or the first word it begins,
    // would be. at becomes 0 when the word is beyond every key.
    std::string ChildFor(std::string_view word, std::uint64_t& at) {
        if (std::string error = ReadNode(at); !error.empty())
            return error;
        const std::size_t end = nodeSize_ - std::min<std::size_t>(Le16(node_, 0), nodeSize_);
        std::string key;
        for (std::size_t p = kIndexHeaderSize; p < end;) {
            if (!NextWord(node_, p, end, key) || end - p < 6)
                return "an index node cut short";
            const std::uint32_t child = Le32(node_, p);
            p += 6;
            if (key >= word) {
                at = child;
                return {};
            }
        }
        at = 0;
        return {};
    }

    ChmCursor& cursor_;
    const ChmEntry entry_;
    std::uint32_t nodeSize_ = 0, root_ = 0;
    unsigned depth_ = 0;
    unsigned roots_[3] = {}; // of topic numbers, location counts, locations
    int codePage_ = 0;
    std::string node_;
};

// The whole of an entry of at most kMaxTableSize bytes; nothing, with why,
// when it is missing or cannot be read.
std::optional<std::string> ReadTable(const ChmFile& file, ChmCursor& cursor, std::string_view name,
                                     std::string& error) {
    const std::optional<std::size_t> index = file.Find(name);
    if (!index) {
        error = "missing";
        return std::nullopt;
    }
    const ChmEntry entry = file.Entry(*index);
    if (entry.length > kMaxTableSize) {
        error = "claims " + std::to_string(entry.length) + " bytes";
        return std::nullopt;
    }
    std::string bytes;
    while (bytes.size() < entry.length) {
        const std::size_t at = bytes.size();
        bytes.resize(
            at + static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, entry.length - at)));
        error = cursor.Read(entry, at, Writable(bytes, at));
        if (!error.empty())
            return std::nullopt;
    }
    return bytes;
}

} // namespace

std::vector<std::string> QueryWords(std::string_view utf8, int codePage) {
    std::vector<std::string> words(1);
    for (const char c : text::Encode(ToLowerCase(utf8), codePage, text::Unmappable::Nearest)) {
        const unsigned folded = FoldQueryByte(codePage, static_cast<unsigned char>(c));
        if (folded == kIgnoredByte)
            continue;
        if (!folded) {
            if (!words.back().empty())
                words.emplace_back();
        } else if (words.back().size() < kMaxWordLength) {
            words.back() += static_cast<char>(folded);
        }
    }
    if (words.back().empty())
        words.pop_back();
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return words;
}

// The help-level tables as read.
struct HelpReader::Tables {
    std::string strings, topics, urltbl, urlstr;
};

HelpReader::HelpReader(const ChmFile& file)
    : file_(file), cursor_(file), tables_(std::make_unique<Tables>()) {
    // A help file without window definitions is common; without the rest
    // the viewer misses something.
    const auto read = [&](std::string_view name, HelpPart part, std::string& out) {
        std::string error;
        if (std::optional<std::string> bytes = ReadTable(file_, cursor_, name, error))
            out = std::move(*bytes);
        else if (part != HelpPart::Windows || file_.Find(name))
            problems_.push_back({part, std::string(name) + ": " + error});
    };
    std::string system, windows;
    read("/#SYSTEM", HelpPart::System, system);
    read("/#STRINGS", HelpPart::Strings, tables_->strings);
    ReadSystem(system);
    read("/#WINDOWS", HelpPart::Windows, windows);
    ReadWindows(windows);
    read("/#TOPICS", HelpPart::Topics, tables_->topics);
    read("/#URLTBL", HelpPart::Topics, tables_->urltbl);
    read("/#URLSTR", HelpPart::Topics, tables_->urlstr);
}

HelpReader::~HelpReader() = default;

std::string HelpReader::Text(std::string_view bytes) const {
    return text::DecodeLegacyText(bytes, text::Charset::ForCodePage(system_.codePage));
}

void HelpReader::ReadSystem(std::string_view system) {
    if (system.empty())
        return;
    if (system.size() < 4) {
        problems_.push_back({HelpPart::System, "/#SYSTEM: shorter than its version"});
        return;
    }
    const std::vector<SystemRecord> records = ReadSystemRecords(system);
    for (const SystemRecord& record : records) {
        if (record.code == kSystemSettings && record.data.size() >= 12) {
            system_.language = Le32(record.data, 0);
            system_.fullTextSearch = Le32(record.data, 8) != 0;
        }
    }
    if (system_.language)
        system_.codePage = text::AnsiCodePage(system_.language);
    for (const SystemRecord& record : records) {
        std::string* text = nullptr;
        bool fileName = true;
        switch (record.code) {
        case 0:
            text = &system_.contentsFile;
            break;
        case 1:
            text = &system_.indexFile;
            break;
        case kSystemDefaultTopic:
            text = &system_.defaultTopic;
            break;
        case kSystemTitle:
            text = &system_.title;
            fileName = false;
            break;
        case 5:
            text = &system_.defaultWindow;
            fileName = false;
            break;
        default:
            break;
        }
        if (text) {
            *text = Text(TextAt(record.data, 0));
            if (fileName)
                *text = StoredName(*text);
        }
    }
}

void HelpReader::ReadWindows(std::string_view bytes) {
    if (bytes.empty())
        return;
    if (bytes.size() < kWindowsHeaderSize) {
        problems_.push_back({HelpPart::Windows, "/#WINDOWS: shorter than its header"});
        return;
    }
    const std::uint32_t count = Le32(bytes, 0);
    const std::uint32_t size = Le32(bytes, 4);
    if (size < kMinWindowRecord || size > kMaxWindowRecord) {
        problems_.push_back(
            {HelpPart::Windows, "/#WINDOWS: records of " + std::to_string(size) + " bytes"});
        return;
    }
    const std::uint64_t held = (bytes.size() - kWindowsHeaderSize) / size;
    if (count > held)
        problems_.push_back({HelpPart::Windows, "/#WINDOWS: " + std::to_string(count) +
                                                    " records claimed, " + std::to_string(held) +
                                                    " present"});
    const std::string_view strings = tables_->strings;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(count, held); ++i) {
        const std::string_view r = bytes.substr(kWindowsHeaderSize + i * size, size);
        const auto text = [&](std::size_t at) {
            const std::uint32_t offset = Le32(r, at);
            return offset == kNoString ? std::string() : Text(TextAt(strings, offset));
        };
        const std::uint32_t valid = Le32(r, 0x0C);
        const auto number = [&](std::size_t at, std::uint32_t bit) -> std::optional<std::int64_t> {
            if (!(valid & bit))
                return std::nullopt;
            return static_cast<std::int64_t>(Le32(r, at));
        };
        const auto sint = [&](std::size_t at) { return static_cast<std::int32_t>(Le32(r, at)); };
        HelpWindow& w = windows_.emplace_back();
        w.name = text(0x08);
        w.caption = text(0x14);
        w.contentsFile = text(0x60);
        w.indexFile = text(0x64);
        w.defaultFile = text(0x68);
        w.homeFile = text(0x6C);
        w.jump1Text = text(0x9C);
        w.jump2Text = text(0xA0);
        w.jump1Url = text(0xA4);
        w.jump2Url = text(0xA8);
        w.properties = number(0x10, 0x2);
        w.styles = number(0x18, 0x4);
        w.exStyles = number(0x1C, 0x8);
        if (valid & 0x10)
            w.rect = WindowRect{sint(0x20), sint(0x24), sint(0x28), sint(0x2C)};
        w.showState = number(0x30, 0x40);
        w.navWidth = number(0x4C, 0x20);
        w.buttons = number(0x70, 0x100);
        w.navClosed = number(0x74, 0x200);
        w.tabPosition = number(0x7C, 0x400);
        w.defaultTab = number(0x78, 0x2000);
        if (const std::uint32_t id = Le32(r, 0x80))
            w.notifyId = id;
    }
}

const HelpWindow* HelpReader::DefaultWindow() const {
    for (const HelpWindow& w : windows_) {
        if (!system_.defaultWindow.empty() && w.name == system_.defaultWindow)
            return &w;
    }
    return windows_.empty() ? nullptr : &windows_.front();
}

std::size_t HelpReader::TopicCount() const {
    return tables_->topics.size() / kTopicEntrySize;
}

std::optional<HelpTopicEntry> HelpReader::Topic(std::uint32_t number) const {
    const Tables& t = *tables_;
    if (number >= TopicCount())
        return std::nullopt;
    const std::size_t at = number * kTopicEntrySize;
    const std::uint32_t title = Le32(t.topics, at + 4);
    const std::uint32_t url = Le32(t.topics, at + 8);
    if (!Fits(t.urltbl, url, kUrlTableEntrySize))
        return std::nullopt;
    const std::uint32_t urlstr = Le32(t.urltbl, url + 8);
    if (!Fits(t.urlstr, urlstr, 9))
        return std::nullopt;
    const std::string_view local = TextAt(t.urlstr, std::uint64_t{urlstr} + 8);
    HelpTopicEntry topic;
    topic.number = number;
    if (title != kNoString)
        topic.title = Text(TextAt(t.strings, title));
    // The table holds the name in the code page; the directory in UTF-8.
    // Names copied through unconverted are UTF-8 already.
    topic.name = StoredName(Text(local));
    if (!file_.Find(topic.name) && file_.Find(StoredName(local)))
        topic.name = StoredName(local);
    return topic;
}

bool HelpReader::HasSearchIndex() const {
    return file_.Find("/$FIftiMain").has_value();
}

SearchResults HelpReader::Search(std::string_view query, SearchMode mode) {
    SearchResults results;
    const std::optional<std::size_t> index = file_.Find("/$FIftiMain");
    if (!index) {
        results.outcome = SearchOutcome::NoIndex;
        return results;
    }
    const auto damaged = [&](std::string why) {
        results.outcome = SearchOutcome::Damaged;
        results.problem = "/$FIftiMain: " + std::move(why);
        results.hits.clear();
        return results;
    };
    IndexWalk walk(cursor_, file_.Entry(*index));
    if (std::string error = walk.ReadHeader(); !error.empty())
        return damaged(error);
    const std::vector<std::string> words =
        QueryWords(query, walk.CodePage() ? walk.CodePage() : system_.codePage);
    if (words.empty()) {
        results.outcome = SearchOutcome::NoWords;
        return results;
    }

    // Per topic: the query words it holds, their occurrences, and whether
    // one is in its title.
    struct Tally {
        std::size_t words = 0;
        std::size_t lastWord = ~std::size_t{0};
        std::uint32_t count = 0;
        bool title = false;
    };
    std::map<std::uint32_t, Tally> tallies;
    for (std::size_t w = 0; w < words.size(); ++w) {
        std::vector<WordMatch> matches;
        if (std::string error = walk.FindEntries(words[w], mode, matches); !error.empty())
            return damaged(error);
        for (const WordMatch& match : matches) {
            std::string error =
                walk.ForEachTopic(match, [&](std::uint32_t topic, std::uint32_t count) {
                    Tally& tally = tallies[topic];
                    if (tally.lastWord != w) {
                        tally.lastWord = w;
                        ++tally.words;
                    }
                    tally.count += count;
                    tally.title = tally.title || match.title;
                });
            if (!error.empty())
                return damaged(error);
        }
    }

    for (const auto& [topic, tally] : tallies) {
        if (tally.words != words.size())
            continue;
        const std::optional<HelpTopicEntry> entry = Topic(topic);
        if (!entry) {
            // A hit no one could open: said once, not listed.
            if (results.problem.empty())
                results.problem = "/$FIftiMain: topic " + std::to_string(topic) +
                                  " is not in #TOPICS or its entry is damaged";
            continue;
        }
        results.hits.push_back({topic, entry->title, entry->name, tally.title, tally.count});
    }
    std::stable_sort(results.hits.begin(), results.hits.end(),
                     [](const SearchHit& a, const SearchHit& b) {
                         if (a.inTitle != b.inTitle)
                             return a.inTitle;
                         return a.count > b.count;
                     });
    results.outcome = results.hits.empty() ? SearchOutcome::NothingFound : SearchOutcome::Found;
    return results;
}

} // namespace tbx::chm
