#include "chm/keyword_index.h"

#include "chm/little_endian.h"
#include "text/collation.h"
#include "text/utf8.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace tbx::chm {
namespace {

constexpr std::uint16_t kSignature = 0x293B;
// Microsoft's compiler sets these two bits; other values have not been seen.
constexpr std::uint16_t kFlags = 0x0104;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kListingHeader = 12; // free bytes, entries, previous, next
constexpr std::size_t kIndexHeader = 8;    // free bytes, entries, first child
constexpr std::uint16_t kSeeAlso = 2;
// Each keyword's record in Data: the same 13 bytes in every file seen.
constexpr std::uint8_t kDataRecord[13] = {0, 0, 0, 0, 5, 0, 0, 0, 0x80, 0, 0, 0, 0};
constexpr std::size_t kDataRecordSize = sizeof kDataRecord;
// A keyword longer than this is cut: a record must fit one block.
constexpr std::size_t kMaxKeywordUnits = 400;

// ---- UTF-16, as the index stores its texts ----------------------------------------

void AppendUtf16z(std::string& out, std::u16string_view units) {
    for (char16_t unit : units)
        AppendLe16(out, unit);
    AppendLe16(out, 0);
}

// ---- Arranging -----------------------------------------------------------------------

// Hundreds of thousands of these at once on a large site: what a node
// needs only for the few keywords with many topics or children is made
// when it is needed.
struct Node {
    std::string text;
    std::vector<std::uint32_t> topics;
    std::unique_ptr<std::set<std::uint32_t>> seen; // of topics, once there are many
    std::string seeAlso;
    std::vector<std::unique_ptr<Node>> children;
    std::map<std::string_view, Node*> byText; // keyed on the child's own text

    void AddTopic(std::uint32_t topic) {
        constexpr std::size_t kFew = 16; // looked through, faster than a set
        if (!seen && topics.size() < kFew) {
            if (std::find(topics.begin(), topics.end(), topic) == topics.end())
                topics.push_back(topic);
            return;
        }
        if (!seen)
            seen = std::make_unique<std::set<std::uint32_t>>(topics.begin(), topics.end());
        if (seen->insert(topic).second)
            topics.push_back(topic);
    }
};

void SortLevel(std::vector<std::unique_ptr<Node>>& level, const text::Collation& collation) {
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> keyed;
    keyed.reserve(level.size());
    for (std::unique_ptr<Node>& node : level)
        keyed.emplace_back(collation.SortKey(node->text), std::move(node));
    // Equal under the language's rules ("prikaz", "Prikaz"): the order given.
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        level[i] = std::move(keyed[i].second);
    keyed.clear(); // the keys go before the levels below make theirs
    keyed.shrink_to_fit();
    for (std::unique_ptr<Node>& node : level)
        SortLevel(node->children, collation);
}

// Empties the nodes as it goes: the keywords take over what they hold.
void Flatten(std::vector<std::unique_ptr<Node>>& level, const std::string& parent,
             std::uint16_t depth, std::vector<IndexKeyword>& out) {
    for (std::unique_ptr<Node>& node : level) {
        IndexKeyword keyword;
        keyword.depth = depth;
        if (depth == 0) {
            keyword.text = std::move(node->text);
        } else {
            keyword.text = parent + ", " + node->text;
            keyword.ownStart = static_cast<std::uint32_t>(Utf8ToUtf16(parent).size() + 2);
        }
        keyword.topics = std::move(node->topics);
        keyword.seeAlso = std::move(node->seeAlso);
        std::vector<std::unique_ptr<Node>> children = std::move(node->children);
        node.reset();
        if (children.empty()) {
            out.push_back(std::move(keyword));
            continue;
        }
        const std::string text = keyword.text; // out grows below
        out.push_back(std::move(keyword));
        Flatten(children, text, static_cast<std::uint16_t>(depth + 1), out);
    }
}

// ---- Writing -------------------------------------------------------------------------

// A keyword's record as a listing block holds it, without its last eight
// bytes (the 1 and the offset into Data), which differ between the listing
// and the index; an index record ends with its child block instead.
std::string RecordHead(const IndexKeyword& keyword) {
    std::u16string text = Utf8ToUtf16(keyword.text);
    if (text.size() > kMaxKeywordUnits)
        text.resize(kMaxKeywordUnits);
    const std::u16string seeAlso = Utf8ToUtf16(keyword.seeAlso).substr(0, kMaxKeywordUnits);
    std::string out;
    AppendUtf16z(out, text);
    AppendLe16(out, seeAlso.empty() ? 0 : kSeeAlso);
    AppendLe16(out, keyword.depth);
    AppendLe32(out, std::min<std::uint32_t>(keyword.ownStart, text.size()));
    AppendLe32(out, 0);
    if (!seeAlso.empty()) {
        AppendLe32(out, 1);
        AppendUtf16z(out, seeAlso);
        return out;
    }
    // As many topics as leave room for the record's tail in one block.
    const std::size_t room = (kKeywordBlockSize - kListingHeader - out.size() - 4 - 8) / 4;
    const std::size_t topics = std::min(keyword.topics.size(), room);
    AppendLe32(out, static_cast<std::uint32_t>(topics));
    for (std::size_t i = 0; i < topics; ++i)
        AppendLe32(out, keyword.topics[i]);
    return out;
}

struct Block {
    std::string bytes;          // the records
    std::size_t entries = 0;    // records in it
    std::string firstHead;      // the first record's head, for the level above
    std::uint32_t firstChild{}; // index blocks: the first record's child
};

std::string FinishBlock(const Block& block, std::size_t header, std::uint32_t a, std::uint32_t b) {
    std::string out;
    AppendLe16(out, static_cast<std::uint16_t>(kKeywordBlockSize - header - block.bytes.size()));
    AppendLe16(out, static_cast<std::uint16_t>(block.entries));
    AppendLe32(out, a);
    if (header == kListingHeader)
        AppendLe32(out, b);
    out += block.bytes;
    out.resize(kKeywordBlockSize, '\0');
    return out;
}

// Records into blocks of the given header size, in order, each block as
// full as the next record allows.
template <typename Records> std::vector<Block> Pack(const Records& records, std::size_t header) {
    std::vector<Block> blocks;
    for (const auto& [head, record, child] : records) {
        if (blocks.empty() ||
            header + blocks.back().bytes.size() + record.size() > kKeywordBlockSize)
            blocks.push_back({{}, 0, head, child});
        blocks.back().bytes += record;
        ++blocks.back().entries;
    }
    return blocks;
}

// ---- Reading -------------------------------------------------------------------------

class Cursor {
public:
    Cursor(std::string_view bytes) : bytes_(bytes) {}
    bool Has(std::size_t n) const { return bytes_.size() - at_ >= n; }
    std::uint16_t U16() {
        const std::uint16_t v = GetLe16(Data());
        at_ += 2;
        return v;
    }
    std::uint32_t U32() {
        const std::uint32_t v = GetLe32(Data());
        at_ += 4;
        return v;
    }
    bool Text(std::u16string& out) {
        out.clear();
        while (Has(2)) {
            const char16_t unit = static_cast<char16_t>(U16());
            if (unit == 0)
                return true;
            out += unit;
        }
        return false;
    }
    std::size_t At() const { return at_; }

private:
    const std::uint8_t* Data() const {
        return reinterpret_cast<const std::uint8_t*>(bytes_.data()) + at_;
    }
    std::string_view bytes_;
    std::size_t at_ = 0;
};

bool Fail(std::string* error, const char* what) {
    if (error)
        *error = what;
    return false;
}

// One record of a listing (index: with a child block instead of the tail).
bool ReadRecord(Cursor& in, bool index, IndexKeyword& keyword, std::uint32_t& tail,
                std::string* error) {
    std::u16string text;
    if (!in.Text(text))
        return Fail(error, "a keyword runs past its block");
    if (!in.Has(16))
        return Fail(error, "a keyword record is cut short");
    const std::uint16_t seeAlso = in.U16();
    keyword.depth = in.U16();
    keyword.ownStart = in.U32();
    in.U32();
    const std::uint32_t count = in.U32();
    if (keyword.ownStart > text.size())
        return Fail(error, "a sub-keyword starts past its text");
    keyword.text = Utf16ToUtf8(text);
    keyword.topics.clear();
    keyword.seeAlso.clear();
    if (seeAlso == kSeeAlso) {
        std::u16string other;
        if (!in.Text(other))
            return Fail(error, "a See Also text runs past its block");
        keyword.seeAlso = Utf16ToUtf8(other);
    } else {
        if (!in.Has(std::size_t{count} * 4))
            return Fail(error, "a keyword's topics run past its block");
        for (std::uint32_t i = 0; i < count; ++i)
            keyword.topics.push_back(in.U32());
    }
    if (!in.Has(index ? 4 : 8))
        return Fail(error, "a keyword record is cut short");
    tail = in.U32();
    if (!index)
        tail = in.U32();
    return true;
}

// The used bytes of block number, after its header of the given size.
bool BlockBody(std::string_view btree, std::uint32_t number, std::uint32_t blocks,
               std::size_t header, std::string_view& body, std::uint16_t& entries,
               std::string* error) {
    if (number >= blocks)
        return Fail(error, "a block number is out of range");
    const std::string_view block = btree.substr(
        kKeywordHeaderSize + std::size_t{number} * kKeywordBlockSize, kKeywordBlockSize);
    const std::uint16_t free = GetLe16(reinterpret_cast<const std::uint8_t*>(block.data()));
    entries = GetLe16(reinterpret_cast<const std::uint8_t*>(block.data()) + 2);
    if (free > kKeywordBlockSize - header)
        return Fail(error, "a block claims more free bytes than it has");
    body = block.substr(header, kKeywordBlockSize - header - free);
    return true;
}

// Each record of an index block names the first keyword of its child; the
// children of the lowest index level are listing blocks.
bool CheckIndex(std::string_view btree, std::uint32_t number, std::uint32_t blocks, unsigned level,
                const std::vector<std::pair<std::uint32_t, std::string>>& firsts,
                std::string* error) {
    if (level == 0)
        return true;
    std::string_view body;
    std::uint16_t entries = 0;
    if (!BlockBody(btree, number, blocks, kIndexHeader, body, entries, error))
        return false;
    Cursor in(body);
    for (std::uint16_t i = 0; i < entries; ++i) {
        IndexKeyword keyword;
        std::uint32_t child = 0;
        if (!ReadRecord(in, true, keyword, child, error))
            return false;
        if (level == 1) {
            const auto found = std::find_if(firsts.begin(), firsts.end(),
                                            [&](const auto& f) { return f.first == child; });
            if (found == firsts.end() || found->second != keyword.text)
                return Fail(error,
                            "an index record does not name its listing block's first keyword");
        } else {
            std::string_view childBody;
            std::uint16_t childEntries = 0;
            if (!BlockBody(btree, child, blocks, kIndexHeader, childBody, childEntries, error))
                return false;
            Cursor first(childBody);
            IndexKeyword firstKeyword;
            std::uint32_t grandChild = 0;
            if (childEntries == 0 || !ReadRecord(first, true, firstKeyword, grandChild, error) ||
                firstKeyword.text != keyword.text)
                return Fail(error, "an index record does not name its child's first keyword");
            if (!CheckIndex(btree, child, blocks, level - 1, firsts, error))
                return false;
        }
    }
    return true;
}

} // namespace

std::vector<IndexKeyword> ArrangeKeywords(std::vector<KeywordLink> links, std::uint32_t language) {
    Node root;
    std::size_t nodes = 0;
    for (KeywordLink& link : links) {
        Node* node = &root;
        for (std::string& part : link.path) {
            auto found = node->byText.find(part);
            if (found == node->byText.end()) {
                node->children.push_back(std::make_unique<Node>());
                Node* child = node->children.back().get();
                ++nodes;
                child->text = std::move(part);
                found = node->byText.emplace(child->text, child).first;
            }
            node = found->second;
        }
        if (node != &root) {
            for (std::uint32_t topic : link.topics)
                node->AddTopic(topic);
            if (node->seeAlso.empty())
                node->seeAlso = std::move(link.seeAlso);
        }
        link = {}; // the tree holds it now
    }
    links = {};
    root.byText = {}; // only for finding the keywords again
    const text::Collation collation(language);
    SortLevel(root.children, collation);
    std::vector<IndexKeyword> out;
    out.reserve(nodes); // not grown: twice its size for a moment
    Flatten(root.children, {}, 0, out);
    return out;
}

KeywordIndexFiles WriteKeywordIndex(const std::vector<IndexKeyword>& keywords,
                                    std::uint32_t codePage, std::uint32_t language) {
    KeywordIndexFiles files;
    struct Record {
        std::string head, bytes;
        std::uint32_t child = 0;
    };
    // The listing blocks are written as they fill, as Pack would fill
    // them: of their records only each block's first stays, for the level
    // above. Each names the next, the last none (set once it is known).
    std::vector<Block> leaves;
    std::string& blocksOut = files.btree; // after its header, filled in at the end
    blocksOut.resize(kKeywordHeaderSize, '\0');
    const auto close = [&] {
        const auto i = static_cast<std::uint32_t>(leaves.size() - 1);
        blocksOut += FinishBlock(leaves.back(), kListingHeader, i == 0 ? kNone : i - 1, i + 1);
        leaves.back().bytes = {};
    };
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        std::string head = RecordHead(keywords[i]);
        if (leaves.empty() ||
            kListingHeader + leaves.back().bytes.size() + head.size() + 8 > kKeywordBlockSize) {
            if (!leaves.empty())
                close();
            leaves.push_back({{}, 0, head, 0});
        }
        Block& block = leaves.back();
        block.bytes += head;
        AppendLe32(block.bytes, 1);
        AppendLe32(block.bytes, static_cast<std::uint32_t>(i * kDataRecordSize));
        ++block.entries;
        files.data.append(reinterpret_cast<const char*>(kDataRecord), kDataRecordSize);
    }
    if (leaves.empty())
        leaves.push_back({}); // an index without keywords still has its block
    close();
    const auto count = static_cast<std::uint32_t>(leaves.size());
    PutLe32At(blocksOut, kKeywordHeaderSize + std::size_t{count - 1} * kKeywordBlockSize + 8,
              kNone);

    AppendLe16(files.map, static_cast<std::uint16_t>(count));
    std::uint32_t before = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        AppendLe32(files.map, before);
        AppendLe32(files.map, i);
        before += static_cast<std::uint32_t>(leaves[i].entries);
    }

    // Index levels above the listing until one block holds the level.
    std::uint32_t next = count;
    std::uint16_t depth = 1;
    std::vector<Block> level = std::move(leaves);
    std::uint32_t levelStart = 0;
    while (level.size() > 1) {
        std::vector<Record> records;
        for (std::size_t i = 0; i < level.size(); ++i) {
            Record r{level[i].firstHead, level[i].firstHead,
                     levelStart + static_cast<std::uint32_t>(i)};
            AppendLe32(r.bytes, r.child);
            records.push_back(std::move(r));
        }
        level = Pack(records, kIndexHeader);
        levelStart = next;
        for (const Block& block : level)
            blocksOut += FinishBlock(block, kIndexHeader, block.firstChild, 0);
        next += static_cast<std::uint32_t>(level.size());
        ++depth;
    }

    std::string h;
    AppendLe16(h, kSignature);
    AppendLe16(h, kFlags);
    AppendLe16(h, static_cast<std::uint16_t>(kKeywordBlockSize));
    h += std::string("X44", 3);
    h.resize(0x16, '\0');
    AppendLe32(h, 0);
    AppendLe32(h, count - 1); // the last listing block
    AppendLe32(h, next - 1);  // the root: the last block written
    AppendLe32(h, kNone);
    AppendLe32(h, next); // blocks
    AppendLe16(h, depth);
    AppendLe32(h, static_cast<std::uint32_t>(keywords.size()));
    AppendLe32(h, codePage);
    AppendLe32(h, language);
    AppendLe32(h, 1);     // a help file's index, not a .chw's
    AppendLe32(h, 10031); // as Microsoft's compiler writes
    h.resize(kKeywordHeaderSize, '\0');
    files.btree.replace(0, kKeywordHeaderSize, h);

    for (std::uint32_t v : {0u, 0u, 0u, 0x0Cu, 1u, 1u, 0u, 0u})
        AppendLe32(files.property, v);
    return files;
}

std::string EmptyAssociativeProperty() {
    return std::string(4, '\0');
}

std::optional<KeywordIndexRead> ReadKeywordIndex(std::string_view btree, std::string* error) {
    if (btree.size() < kKeywordHeaderSize) {
        Fail(error, "the keyword tree is shorter than its header");
        return std::nullopt;
    }
    const auto* h = reinterpret_cast<const std::uint8_t*>(btree.data());
    if (GetLe16(h) != kSignature || GetLe16(h + 4) != kKeywordBlockSize) {
        Fail(error, "the keyword tree has no signature or another block size");
        return std::nullopt;
    }
    const std::uint32_t lastListing = GetLe32(h + 0x1A);
    const std::uint32_t root = GetLe32(h + 0x1E);
    const std::uint32_t blocks = GetLe32(h + 0x26);
    const std::uint16_t depth = GetLe16(h + 0x2A);
    const std::uint32_t count = GetLe32(h + 0x2C);
    if (blocks == 0 || (btree.size() - kKeywordHeaderSize) / kKeywordBlockSize < blocks ||
        depth == 0 || depth > 16 || root >= blocks || lastListing >= blocks) {
        Fail(error, "the keyword tree's header does not fit its blocks");
        return std::nullopt;
    }
    KeywordIndexRead out;
    out.codePage = GetLe32(h + 0x30);
    out.language = GetLe32(h + 0x34);

    // The listing blocks from the first, each naming the next.
    std::vector<std::pair<std::uint32_t, std::string>> firsts; // block, first keyword
    std::vector<bool> visited(blocks, false);
    std::uint32_t block = 0;
    std::uint32_t previous = kNone;
    while (block != kNone) {
        if (block >= blocks || visited[block]) {
            Fail(error, "the listing blocks do not form a chain");
            return std::nullopt;
        }
        visited[block] = true;
        std::string_view body;
        std::uint16_t entries = 0;
        if (!BlockBody(btree, block, blocks, kListingHeader, body, entries, error))
            return std::nullopt;
        const auto* b = h + kKeywordHeaderSize + std::size_t{block} * kKeywordBlockSize;
        if (GetLe32(b + 4) != previous) {
            Fail(error, "a listing block does not name the one before it");
            return std::nullopt;
        }
        Cursor in(body);
        for (std::uint16_t i = 0; i < entries; ++i) {
            IndexKeyword keyword;
            std::uint32_t dataOffset = 0;
            if (!ReadRecord(in, false, keyword, dataOffset, error))
                return std::nullopt;
            if (i == 0)
                firsts.emplace_back(block, keyword.text);
            out.keywords.push_back(std::move(keyword));
        }
        if (in.At() != body.size()) {
            Fail(error, "a listing block holds more bytes than its records");
            return std::nullopt;
        }
        previous = block;
        block = GetLe32(b + 8);
    }
    if (previous != lastListing || out.keywords.size() != count) {
        Fail(error, "the header's keyword count or last block does not match the listing");
        return std::nullopt;
    }
    if (depth > 1 && !CheckIndex(btree, root, blocks, depth - 1u, firsts, error))
        return std::nullopt;
    return out;
}

} // namespace tbx::chm
