#pragma once
// Parsing one LZX reset interval into literals and matches: hash chains
// over the interval (on four bytes, with the last place of every three
// bytes for short near matches), lazy matching, and the three repeated
// offsets.
//
// A match never reaches before the start of the interval (the readers
// forget everything at a reset) and never runs across the end of a 32 KiB
// frame (they decode frame by frame).

#include "chm/format.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
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

class LazyMatchFinder {
public:
    // Tuning: how many chain entries to visit, and how many in the look
    // ahead for a short and for a good match; the length at which a match
    // is good enough to stop looking, the length from which the look ahead
    // is shortened, the length from which it looks only one position on, and
    // how much better a match two bytes on must be to pay for two literals.
    // The look ahead takes half the searches, and its long walks are what
    // a short chain there saves: on text, a chain of 8 rather than 12 costs
    // under 0.1 % of output for about 7 % of the time, and looking two on
    // only for matches under 6 bytes (they win there 8 to 15 % of the time,
    // above it 1 to 4 %) 0.05 % for 2 %.
    static constexpr unsigned kMaxChain = 24;
    static constexpr unsigned kShortLookAheadChain = 8;
    static constexpr unsigned kGoodLookAheadChain = 6;
    static constexpr unsigned kNiceLength = 64;
    static constexpr unsigned kGoodLength = 8;
    static constexpr unsigned kTwoAheadBelow = 6;
    static constexpr int kTwoLiteralsMargin = 6;

    // Parses data[0, size) (one reset interval, offsets at most
    // maxDistance) into items; frameStarts receives the index of the first
    // item of every frame.
    void Parse(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance,
               std::vector<LzxItem>& items, std::vector<std::size_t>& frameStarts) {
        data_ = data;
        size_ = size;
        maxDistance_ = maxDistance;
        inserted_ = 0;
        head3_.assign(std::size_t{1} << kHash3Bits, -1);
        head4_.assign(std::size_t{1} << kHash4Bits, -1);
        if (prev_.size() < size)
            prev_.resize(size);
        items.clear();
        frameStarts.clear();
        std::uint32_t rep[3] = {1, 1, 1};

        std::size_t pos = 0;
        while (pos < size) {
            if (pos % kLzxFrameSize == 0)
                frameStarts.push_back(items.size());
            const std::size_t frameEnd = (pos / kLzxFrameSize + 1) * kLzxFrameSize;
            Candidate best, next;
            Best(pos, frameEnd, rep, kMaxChain, 2, best);
            // Lazy: while one of the next two positions offers a better
            // (and longer) match, the bytes before it go out as literals. The
            // look ahead walks shorter chains, shorter still when the match
            // in hand is good, and only one position on when it is not short.
            while (best.length != 0 && best.length < kNiceLength && pos + 1 < frameEnd) {
                const unsigned chain =
                    best.length >= kGoodLength ? kGoodLookAheadChain : kShortLookAheadChain;
                Best(pos + 1, frameEnd, rep, chain, best.length, next);
                if (next.score > best.score) {
                    items.push_back({0, data[pos]});
                    ++pos;
                    best = next;
                    continue;
                }
                if (pos + 2 >= frameEnd || best.length <= 2 || best.length >= kTwoAheadBelow)
                    break;
                Best(pos + 2, frameEnd, rep, chain, best.length, next);
                if (next.score <= best.score + kTwoLiteralsMargin)
                    break;
                items.push_back({0, data[pos]});
                items.push_back({0, data[pos + 1]});
                pos += 2;
                best = next;
            }
            if (best.length == 0) {
                items.push_back({0, data[pos]});
                ++pos;
                continue;
            }
            items.push_back({best.length, Code(best.distance, rep)});
            // The positions the match covers still enter the chains.
            for (std::size_t p = std::max(pos + 1, inserted_); p < pos + best.length; ++p)
                Insert(p);
            pos += best.length;
        }
    }

private:
    static constexpr unsigned kHash3Bits = 14;
    static constexpr unsigned kHash4Bits = 16;

    struct Candidate {
        std::uint32_t length = 0;
        std::uint32_t distance = 0;
        int score = 0; // bits saved against sending literals
    };

    // Rough bit costs for weighing matches against each other.
    static int Score(std::uint32_t length, unsigned extraBits) {
        constexpr int kLiteralBits = 6;
        constexpr int kMatchBits = 9;
        constexpr int kLengthBits = 4;
        return static_cast<int>(length) * kLiteralBits - kMatchBits - static_cast<int>(extraBits) -
               (length >= 9 ? kLengthBits : 0);
    }

    std::uint16_t Load16(std::size_t pos) const {
        std::uint16_t v;
        std::memcpy(&v, data_ + pos, 2);
        return v;
    }
    std::uint32_t Load32(std::size_t pos) const {
        std::uint32_t v;
        std::memcpy(&v, data_ + pos, 4);
        return v;
    }
    static std::uint32_t Hash3(std::uint32_t bytes) {
        return ((bytes & 0xFFFFFF) * 0x9E3779B1u) >> (32 - kHash3Bits);
    }
    static std::uint32_t Hash4(std::uint32_t bytes) {
        return (bytes * 0x9E3779B1u) >> (32 - kHash4Bits);
    }

    void Insert(std::size_t pos) {
        if (pos + 4 <= size_) {
            const std::uint32_t bytes = Load32(pos);
            head3_[Hash3(bytes)] = static_cast<std::int32_t>(pos);
            const std::uint32_t h = Hash4(bytes);
            prev_[pos] = head4_[h];
            head4_[h] = static_cast<std::int32_t>(pos);
        }
        inserted_ = pos + 1;
    }

    // Bytes that match at a and b, up to limit.
    std::uint32_t MatchLength(std::size_t a, std::size_t b, std::uint32_t limit) const {
        std::uint32_t n = 0;
        while (n + 8 <= limit) {
            std::uint64_t x, y;
            std::memcpy(&x, data_ + a + n, 8);
            std::memcpy(&y, data_ + b + n, 8);
            if (x != y)
                return n + static_cast<std::uint32_t>(std::countr_zero(x ^ y) / 8);
            n += 8;
        }
        while (n < limit && data_[a + n] == data_[b + n])
            ++n;
        return n;
    }

    void Consider(Candidate& best, std::uint32_t length, std::uint32_t distance) const {
        const int score = Score(length, kLzxExtraBits[LzxPositionSlot(distance + 2)]);
        if (score > best.score)
            best = {length, distance, score};
    }

    // Sets best to the best match at pos that ends by frameEnd, looking
    // through chain entries for one longer than atLeast; inserts pos into
    // the chains. A length of 0 means none worth sending. (Filled in place:
    // a returned struct of three fields goes through the stack in pieces
    // and stalls its first read.)
    void Best(std::size_t pos, std::size_t frameEnd, const std::uint32_t* rep, unsigned chain,
              std::uint32_t atLeast, Candidate& best) {
        const auto limit =
            static_cast<std::uint32_t>(std::min<std::size_t>(kLzxMaxMatch, frameEnd - pos));
        best = {};
        if (limit < kLzxMinMatch) {
            Insert(pos);
            return;
        }
        // Repeated offsets cost no extra bits, so a short one can beat a
        // longer explicit match.
        for (int i = 0; i < 3; ++i) {
            if (rep[i] > pos || Load16(pos) != Load16(pos - rep[i]))
                continue;
            const std::uint32_t length = MatchLength(pos, pos - rep[i], limit);
            const int score = Score(length, 0) - i;
            if (length >= kLzxMinMatch && score > best.score)
                best = {length, rep[i], score};
        }
        if (pos + 4 > size_ || limit < 3) {
            Insert(pos);
            return;
        }
        const std::uint32_t bytes = Load32(pos);
        const auto lowest = static_cast<std::int32_t>(pos > maxDistance_ ? pos - maxDistance_ : 0);
        std::uint32_t longest = std::max({best.length, atLeast, 2u});
        // The last position with the same three bytes: a match of three
        // only pays when it is near.
        const std::uint32_t h3 = Hash3(bytes);
        const std::int32_t near = head3_[h3];
        head3_[h3] = static_cast<std::int32_t>(pos);
        if (near >= lowest && longest < limit) {
            const std::uint32_t length = MatchLength(pos, static_cast<std::size_t>(near), limit);
            if (length > longest) {
                Consider(best, length,
                         static_cast<std::uint32_t>(pos - static_cast<std::size_t>(near)));
                longest = std::max(longest, best.length);
            }
        }
        const std::uint32_t h = Hash4(bytes);
        std::int32_t cur = head4_[h];
        prev_[pos] = cur;
        head4_[h] = static_cast<std::int32_t>(pos);
        inserted_ = pos + 1;
        if (longest >= kNiceLength || longest >= limit)
            return;
        // A longer match must agree on the four bytes that end where the
        // longest so far ends (on the first four while that is shorter).
        std::size_t tailAt = std::max<std::uint32_t>(longest, 3) - 3;
        std::uint32_t tail = Load32(pos + tailAt);
        // lowest is never negative, so this also ends the chain at -1.
        for (; cur >= lowest && chain-- > 0; cur = prev_[cur]) {
            const auto from = static_cast<std::size_t>(cur);
            if (Load32(from + tailAt) != tail || Load32(from) != bytes)
                continue;
            const std::uint32_t length = MatchLength(pos, from, limit);
            if (length <= longest)
                continue;
            longest = length;
            Consider(best, length, static_cast<std::uint32_t>(pos - from));
            if (length >= kNiceLength || length == limit)
                break;
            tailAt = longest - 3;
            tail = Load32(pos + tailAt);
        }
    }

    // The code of a match at distance, updating the repeated offsets as
    // the reader will.
    static std::uint32_t Code(std::uint32_t distance, std::uint32_t* rep) {
        if (distance == rep[0])
            return 0;
        if (distance == rep[1]) {
            std::swap(rep[0], rep[1]);
            return 1;
        }
        if (distance == rep[2]) {
            std::swap(rep[0], rep[2]);
            return 2;
        }
        rep[2] = rep[1];
        rep[1] = rep[0];
        rep[0] = distance;
        return distance + 2;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::uint32_t maxDistance_ = 0;
    std::size_t inserted_ = 0;
    std::vector<std::int32_t> head3_;
    std::vector<std::int32_t> head4_;
    std::vector<std::int32_t> prev_;
};

} // namespace tbx::chm
