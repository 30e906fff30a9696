#pragma once
// Parsing one LZX reset interval into literals and matches: the matches
// the hash-chain finder offers and those at the three repeated offsets,
// weighed by their rough cost in bits, with lazy matching for short ones.
//
// A match never reaches before the start of the interval (the readers
// forget everything at a reset) and never runs across the end of a 32 KiB
// frame (they decode frame by frame).

#include "chm/format.h"
#include "chm/hc_matchfinder.h"

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace tbx::chm {

// One step of the parse: a literal byte, or a match of length bytes whose
// offset is given as LZX codes it: 0, 1, 2 repeat R0, R1, R2; otherwise
// the distance back plus 2.
struct LzxItem {
    std::uint32_t length; // 0 for a literal
    std::uint32_t value;  // the literal byte, or the coded offset
};

// The position slot of an offset as LZX codes it (0..2 for the repeated
// offsets, else the distance plus 2).
inline unsigned LzxPositionSlot(std::uint32_t codedOffset) {
    // Two slots per power of two, told apart by the bit below the top one,
    // up to where every slot spans 2^17. Below 4 the slot is the code
    // itself, which the same sum gives for 2 and 3 and, less 2, for 0 and 1:
    // no branch, since repeated and explicit offsets come in no order.
    if (codedOffset < kLzxPositionBase[36]) {
        const unsigned top = static_cast<unsigned>(std::bit_width(codedOffset | 2)) - 1;
        return 2 * top + ((codedOffset >> (top - 1)) & 1) - 2 * unsigned{codedOffset < 2};
    }
    return 36 + (codedOffset - kLzxPositionBase[36]) / (1u << 17);
}

// The three last distances, R0 first, as the reader keeps them from a
// reset on: a match at one of them is sent by its place in the queue.
class LzxRepeatQueue {
public:
    std::uint32_t operator[](std::size_t i) const { return r_[i]; }

    // The coded offset of a match at distance; the queue moves as the
    // reader's will.
    std::uint32_t Code(std::uint32_t distance) {
        const std::uint32_t code = distance == r_[0]   ? 0
                                   : distance == r_[1] ? 1
                                   : distance == r_[2] ? 2
                                                       : distance + 2;
        Apply(code);
        return code;
    }

    // What the reader does on a match of the coded offset: a repeated one
    // moves to the front, a new one pushes the others back.
    void Apply(std::uint32_t codedOffset) {
        if (codedOffset >= 3)
            r_ = {codedOffset - 2, r_[0], r_[1]};
        else
            std::swap(r_[0], r_[codedOffset]);
    }

private:
    std::array<std::uint32_t, 3> r_ = {1, 1, 1};
};

// Position: the place type of the match finder's tables, 16 bits for
// intervals of up to 64 KiB.
template <typename Position> class LzxLazyParser {
public:
    // Tuning: how many chain entries to visit, how many in the look
    // ahead, the length below which a match is weighed against one a byte
    // on, and the length at which a match is good enough to stop looking.
    // Measured on tars of the generated Russian site, the Python 3.11 docs
    // and a Doxygen tree: against 24, 8, 6 and 64 these save 0.24 %, 1.3 %
    // and 1.4 % of output for about 14 % more time. Documentation repeats
    // long runs of markup, which longer chains and a longer good-enough
    // length find; on prose the gain is small. Chains on five bytes rather
    // than four visit half the entries for the same output.
    static constexpr unsigned kMaxChain = 48;
    static constexpr unsigned kLookAheadChain = 16;
    static constexpr unsigned kLazyBelow = 16;
    static constexpr unsigned kNiceLength = kLzxMaxMatch;

    // Parses data[0, size) (one reset interval, offsets at most
    // maxDistance) into items; frameStarts receives the index of the first
    // item of every frame.
    void Parse(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance,
               std::vector<LzxItem>& items, std::vector<std::size_t>& frameStarts);

private:
    void Best(std::size_t pos, std::size_t frameEnd, const LzxRepeatQueue& rep, unsigned chain,
              std::uint32_t atLeast, MatchCandidate& best);

    HcMatchFinder<Position> finder_;
};

} // namespace tbx::chm
