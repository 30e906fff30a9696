#pragma once
// The parse of the smaller, slower LZX level: every match the binary-tree
// finder meets in one reset interval is kept, then each frame is parsed as
// the cheapest path through its bytes under a model of what each literal
// and match costs in bits. The model comes from the Huffman code lengths
// of the parse before (the lazy one first), and the parse is run again
// with the model it yields: a few passes settle on a parse and codes that
// suit each other.
//
// The cheapest path to each place carries the repeated offsets of its own
// matches, so a match at one of them is costed as a repeat: that is what
// makes the path "near" optimal rather than optimal, as the queue of a
// dearer path is never followed.

#include "chm/bt_matchfinder.h"
#include "chm/lzx_lazy_parse.h"

#include <cstdint>
#include <vector>

namespace tbx::chm {

class LzxNearOptimalParser {
public:
    // Tuning, measured on Russian text in Windows-1251 against the size a
    // fourth pass or a deeper search gives: places the tree search visits,
    // the match length past which the tree is not ordered further and the
    // place's match is taken as it is, and the parse passes.
    static constexpr unsigned kDepth = 64;
    static constexpr unsigned kNiceLength = 128;
    static constexpr unsigned kPasses = 2;

    // Parses data[0, size) (one reset interval, offsets at most
    // maxDistance, mainSymbols main-tree symbols) into items, which on entry
    // hold another parse of the same data whose codes seed the model;
    // frameStarts holds the index of the first item of every frame, on
    // entry and on return.
    void Parse(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance,
               unsigned mainSymbols, std::vector<LzxItem>& items,
               std::vector<std::size_t>& frameStarts);

private:
    // Bits a symbol costs, in 1/kScale bits.
    static constexpr std::uint32_t kScale = 16;
    struct Model {
        std::vector<std::uint32_t> main;
        std::vector<std::uint32_t> length;
    };
    // The cheapest way found to reach a place: its cost, the item that
    // ends there and the repeated offsets after it.
    struct Node {
        std::uint32_t cost;
        LzxItem item;
        LzxRepeatQueue rep;
    };

    void FindMatches(std::size_t size);
    void SetModel(const std::vector<LzxItem>& items);
    void ParseFrame(std::size_t begin, std::size_t end, LzxRepeatQueue& rep,
                    std::vector<LzxItem>& items);

    const std::uint8_t* data_ = nullptr;
    unsigned mainSymbols_ = 0;
    BtMatchFinder finder_;
    std::vector<FoundMatch> matches_;   // of every place, shortest first
    std::vector<std::uint32_t> starts_; // where each place's matches begin in matches_
    std::vector<Node> nodes_;
    std::vector<LzxItem> reversed_;
    Model model_;
};

} // namespace tbx::chm
