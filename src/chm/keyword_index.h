#pragma once
// The binary keyword index of a help file: $WWKeywordLinks (the index's
// keywords, KLinks) and $WWAssociativeLinks (ALinks), each a BTree of
// 2048-byte blocks beside its Data, Map and Property files. The viewer's
// Index tab, its "Related topics" controls and applications' keyword
// lookups read them. Standard C++: bytes in, bytes out.
//
// A keyword's text is stored in UTF-16 whatever the help file's code page;
// the code page and language in the tree's header say how the keywords are
// ordered. Sub-keywords are stored as "parent, child" with the position of
// the child's own text, right after their parent.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

// A keyword as the project gives it: its place in the tree (the texts of
// its parents, then its own), the topics it leads to (#TOPICS indexes) and
// the keyword its reader should look up instead ("See Also").
struct KeywordLink {
    std::vector<std::string> path; // UTF-8, outermost first, never empty
    std::vector<std::uint32_t> topics;
    std::string seeAlso; // UTF-8; empty: none
};

// A keyword as the index stores it.
struct IndexKeyword {
    std::string text;           // UTF-8; a sub-keyword as "parent, child"
    std::uint16_t depth = 0;    // 0 for a keyword of the top level
    std::uint32_t ownStart = 0; // UTF-16 position of the keyword's own text in text
    std::vector<std::uint32_t> topics;
    std::string seeAlso; // UTF-8; empty: none

    bool operator==(const IndexKeyword&) const = default;
};

// The keywords in the order the index stores them, for the language (a
// Windows language id, text::Collation's order): each level sorted, a
// keyword's sub-keywords right after it. Links to the same keyword (equal
// paths, letter case counting) become one keyword holding the topics of all
// in the order given, each once.
std::vector<IndexKeyword> ArrangeKeywords(std::vector<KeywordLink> links, std::uint32_t language);

struct KeywordIndexFiles {
    std::string btree, data, map, property;
};

// The files of one index ($WWKeywordLinks or $WWAssociativeLinks) holding
// the keywords in the order given; codePage and language go in the header.
KeywordIndexFiles WriteKeywordIndex(const std::vector<IndexKeyword>& keywords,
                                    std::uint32_t codePage, std::uint32_t language);

// $WWAssociativeLinks/Property of a help file without ALinks: Microsoft's
// compiler writes it always.
std::string EmptyAssociativeProperty();

struct KeywordIndexRead {
    std::uint32_t codePage = 0, language = 0;
    std::vector<IndexKeyword> keywords; // in stored order
};

// The keywords of a BTree file, through its chain of listing blocks, with
// the header and index blocks checked against them. Nothing on malformed
// bytes; error (if given) then says what is wrong.
std::optional<KeywordIndexRead> ReadKeywordIndex(std::string_view btree,
                                                 std::string* error = nullptr);

constexpr std::size_t kKeywordBlockSize = 2048;
constexpr std::size_t kKeywordHeaderSize = 0x4C;

} // namespace tbx::chm
