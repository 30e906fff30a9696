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

#include <algorithm>
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

// What the lazy parse takes each symbol to cost, in bits: the code lengths
// of the interval coded just before, which is usually much like this one,
// or fixed guesses when there is none.
struct LzxLazyCosts {
    std::array<std::uint8_t, kLzxNumChars> literal;
    // The main symbol of a match by position slot and length header, with
    // the slot's footer bits.
    std::array<std::uint8_t, kLzxMaxPositionSlots * 8> match;
    std::array<std::uint8_t, kLzxLengthSymbols> length;

    // About 6 bits a literal, 9 a match symbol and 4 a length symbol.
    static LzxLazyCosts Guess();
    // From the main and length trees of a block (of mainSymbols), a symbol
    // they leave out taken to cost about what a rare one does.
    static LzxLazyCosts FromTrees(const std::uint8_t* mainLengths, unsigned mainSymbols,
                                  const std::uint8_t* lengthLengths);

    // A match of bytes bytes in the slot.
    std::uint32_t Match(std::uint32_t bytes, unsigned slot) const {
        const unsigned header = std::min(bytes - kLzxMinMatch, kLzxPrimaryLengths);
        const std::uint32_t longer =
            header == kLzxPrimaryLengths ? length[bytes - kLzxMinMatch - kLzxPrimaryLengths] : 0;
        return match[slot * 8 + header] + longer;
    }
};

// Position: the place type of the match finder's tables, 16 bits for
// intervals of up to 64 KiB.
template <typename Position> class LzxLazyParser {
public:
    // Tuning: how many chain entries to visit, how many in the look
    // ahead, the length below which a match is weighed against those one
    // and two bytes on, and the length at which a match is good enough to
    // stop looking. Documentation repeats long runs of markup, which longer
    // chains and a longer good-enough length find; on prose the gain is
    // small. Chains on five bytes rather than four visit half the entries
    // for the same output. Looking ahead for matches up to 128 bytes rather
    // than 16 saves 2.6 % on a Doxygen tree and 0.4 % on the Python docs
    // for a few per cent more time; 32 gets half of it. Chains of 96 and 24 rather than 48 and 16
    // save 0.06 % on the generated site and 0.24 % on the Python docs for a few per cent more time;
    // 256 and 64 would save 0.03 % more on the site.
    static constexpr unsigned kMaxChain = 96;
    static constexpr unsigned kLookAheadChain = 24;
    static constexpr unsigned kLazyBelow = 128;
    static constexpr unsigned kNiceLength = kLzxMaxMatch;

    // Parses data[0, size) (one reset interval, offsets at most
    // maxDistance) into items, weighing them by costs; frameStarts
    // receives the index of the first item of every frame.
    void Parse(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance,
               const LzxLazyCosts& costs, std::vector<LzxItem>& items,
               std::vector<std::size_t>& frameStarts);

private:
    void Best(std::size_t pos, std::size_t frameEnd, const LzxRepeatQueue& rep, unsigned chain,
              std::uint32_t atLeast, MatchCandidate& best);

    HcMatchFinder<Position> finder_;
    const LzxLazyCosts* costs_ = nullptr;
    // literalBits_[i]: what the literals data[0, i) would cost, so that a
    // match is weighed against the literals it replaces; modulo 2^16, which
    // the difference over one match (257 bytes at 16 bits) never reaches,
    // for half the cache the table would take at 32 bits.
    std::vector<std::uint16_t> literalBits_;
};

} // namespace tbx::chm
