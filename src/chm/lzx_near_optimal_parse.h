#pragma once
// The parse of the smaller, slower LZX level: every match the binary-tree
// finder meets in one reset interval is kept, then each frame is parsed as
// the cheapest path through its bytes under a model of what each literal
// and match costs in bits. The model comes from the Huffman code lengths
// of the parse before (the lazy one first); further passes would parse
// again with the model each yields.
//
// The cheapest path to each place carries the repeated offsets of its own
// matches, so a match at one of them is costed as a repeat: that is what
// makes the path "near" optimal rather than optimal, as the queue of a
// dearer path is never followed.

#include "chm/bt_matchfinder.h"
#include "chm/lzx_cost_model.h"
#include "chm/lzx_lazy_parse.h"

#include <cstdint>
#include <vector>

namespace tbx::chm {

class LzxNearOptimalParser {
public:
    // Tuning, measured on the generated Russian site: places the tree
    // search visits (from 24 to 64 changed the output by under 0.001 %),
    // the match length past which the tree is not ordered further and the
    // place's match is taken whole, and the parse passes after the lazy
    // parse's (a second saves 0.12 % for a quarter more time, which would
    // make the level slower than wimlib's slowest at no real gain).
    static constexpr unsigned kDepth = 32;
    static constexpr unsigned kNiceLength = 128;
    static constexpr unsigned kPasses = 1;

    // Parses data[0, size) (one reset interval, offsets at most
    // maxDistance, mainSymbols main-tree symbols) into items, which on entry
    // hold another parse of the same data whose codes seed the model;
    // frameStarts receives the index of the first item of every frame.
    void Parse(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance,
               unsigned mainSymbols, std::vector<LzxItem>& items,
               std::vector<std::size_t>& frameStarts);

private:
    // The cheapest way found to reach a place: its cost and the item that
    // ends there, packed as length << 23 | value (a literal or coded offset
    // takes at most 22 bits, a length 9). The repeated offsets after it
    // follow from the place the item starts at, so they are worked out
    // once, when the parse reaches the place, rather than at every offer.
    struct Node {
        std::uint32_t cost;
        std::uint32_t item;
    };
    static constexpr unsigned kValueBits = 23;

    void FindMatches(std::size_t size);
    void ParseFrame(std::size_t begin, std::size_t end, LzxRepeatQueue& rep,
                    std::vector<LzxItem>& items);

    const std::uint8_t* data_ = nullptr;
    BtMatchFinder finder_;
    std::vector<FoundMatch> matches_;   // of every place, shortest first
    std::vector<std::uint32_t> starts_; // where each place's matches begin in matches_
    std::vector<Node> nodes_;
    std::vector<LzxRepeatQueue> reps_; // of every place the parse has reached
    std::vector<LzxItem> reversed_;
    LzxCostModel model_;
};

} // namespace tbx::chm
