#pragma once
// Parsing one LZX reset interval into literals and matches: hash chains
// over the interval on five bytes, with the last place of every three and
// every four bytes for short near matches, lazy matching for short
// matches, and the three repeated offsets.
//
// A match never reaches before the start of the interval (the readers
// forget everything at a reset) and never runs across the end of a 32 KiB
// frame (they decode frame by frame).

#include "chm/format.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
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

// Position is the type the tables hold places in (as place + 1, 0 for
// none): 16 bits while an interval is at most 64 KiB, which halves the
// tables the search reads at random and makes the encoder about 6 %
// faster.
template <typename Position>
class LazyMatchFinder {
public:
    // Tuning, measured on Russian text in Windows-1251: how many chain
    // entries to visit, how many in the look ahead, the length below
    // which a match is weighed against one a byte on, and the length at
    // which a match is good enough to stop looking. Looking a byte on
    // pays for matches under 6 bytes: above that it saved under 0.1 % of
    // output for about 5 % of the time. Chains on five bytes rather than
    // four visit half the entries for the same output.
    static constexpr unsigned kMaxChain = 24;
    static constexpr unsigned kLookAheadChain = 8;
    static constexpr unsigned kLazyBelow = 6;
    static constexpr unsigned kNiceLength = 64;

    // Parses data[0, size) (one reset interval, offsets at most
    // maxDistance) into items; frameStarts receives the index of the first
    // item of every frame.
    void Parse(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance,
               std::vector<LzxItem>& items, std::vector<std::size_t>& frameStarts) {
        // Only places with eight bytes from them enter the tables.
        assert(size <= std::size_t{std::numeric_limits<Position>::max()} + 7);
        data_ = data;
        size_ = size;
        maxDistance_ = maxDistance;
        inserted_ = 0;
        head3_.assign(std::size_t{1} << kHash3Bits, 0);
        head4_.assign(std::size_t{1} << kHash4Bits, 0);
        head5_.assign(std::size_t{1} << kHash5Bits, 0);
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
            // Lazy: while a short match is beaten by one a byte on, this
            // byte goes out as a literal.
            while (best.length != 0 && best.length < kLazyBelow && pos + 1 < frameEnd) {
                Best(pos + 1, frameEnd, rep, kLookAheadChain, best.length, next);
                if (next.score <= best.score)
                    break;
                items.push_back({0, data[pos]});
                ++pos;
                best = next;
            }
            if (best.length == 0) {
                items.push_back({0, data[pos]});
                ++pos;
                continue;
            }
            items.push_back({best.length, Code(best.distance, rep)});
            // The positions the match covers still enter the tables.
            for (std::size_t p = std::max(pos + 1, inserted_); p < pos + best.length; ++p)
                Insert(p);
            pos += best.length;
        }
    }

private:
    static constexpr unsigned kHash3Bits = 14;
    static constexpr unsigned kHash4Bits = 15;
    static constexpr unsigned kHash5Bits = 16;

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
    std::uint64_t Load64(std::size_t pos) const {
        std::uint64_t v;
        std::memcpy(&v, data_ + pos, 8);
        return v;
    }
    // Of the bytes as loaded: the three, four or five that come first in
    // memory on a little-endian machine (elsewhere other ones, which only
    // makes the search find less: every match is checked byte by byte).
    static std::uint32_t Hash3(std::uint64_t bytes) {
        return static_cast<std::uint32_t>(((bytes << 40) * kGolden64) >> (64 - kHash3Bits));
    }
    static std::uint32_t Hash4(std::uint64_t bytes) {
        return static_cast<std::uint32_t>(((bytes << 32) * kGolden64) >> (64 - kHash4Bits));
    }
    static std::uint32_t Hash5(std::uint64_t bytes) {
        return static_cast<std::uint32_t>(((bytes << 24) * kGolden64) >> (64 - kHash5Bits));
    }
    static constexpr std::uint64_t kGolden64 = 0x9E3779B97F4A7C15ull;

    // The table entry for pos, and the place an entry holds (-1 for none).
    static Position Entry(std::size_t pos) { return static_cast<Position>(pos + 1); }
    static std::int64_t Place(Position entry) { return std::int64_t{entry} - 1; }

    void Insert(std::size_t pos) {
        if (pos + 8 <= size_) {
            const std::uint64_t bytes = Load64(pos);
            head3_[Hash3(bytes)] = Entry(pos);
            head4_[Hash4(bytes)] = Entry(pos);
            Position& head = head5_[Hash5(bytes)];
            prev_[pos] = head;
            head = Entry(pos);
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

    // Weighs the match at from, the last place of some first bytes, when
    // it is in reach and longer than longest.
    void TryNear(std::int64_t from, std::int64_t lowest, std::size_t pos, std::uint32_t limit,
                 std::uint32_t& longest, Candidate& best) const {
        if (from < lowest || longest >= limit)
            return;
        const std::uint32_t length = MatchLength(pos, static_cast<std::size_t>(from), limit);
        if (length > longest) {
            Consider(best, length,
                     static_cast<std::uint32_t>(pos - static_cast<std::size_t>(from)));
            longest = std::max(longest, best.length);
        }
    }

    // Sets best to the best match at pos that ends by frameEnd, looking
    // through chain entries for one longer than atLeast; inserts pos into
    // the tables. A length of 0 means none worth sending. (Filled in place:
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
        if (pos + 8 > size_ || limit < 3) {
            Insert(pos);
            return;
        }
        const std::uint64_t bytes = Load64(pos);
        const auto first = static_cast<std::uint32_t>(bytes);
        const std::int64_t lowest =
            pos > maxDistance_ ? static_cast<std::int64_t>(pos - maxDistance_) : 0;
        std::uint32_t longest = std::max({best.length, atLeast, 2u});
        // The last places with the same four and three bytes: short
        // matches only pay when near, and the last is the nearest.
        Position& head4 = head4_[Hash4(bytes)];
        TryNear(Place(head4), lowest, pos, limit, longest, best);
        head4 = Entry(pos);
        Position& head3 = head3_[Hash3(bytes)];
        const std::int64_t near3 = Place(head3);
        head3 = Entry(pos);
        Position& head5 = head5_[Hash5(bytes)];
        std::int64_t cur = Place(head5);
        prev_[pos] = head5;
        head5 = Entry(pos);
        inserted_ = pos + 1;
        if (longest >= kNiceLength || longest >= limit)
            return;
        // A longer match must agree on the four bytes that end where the
        // longest so far ends (on the first four while that is shorter).
        std::size_t tailAt = std::max<std::uint32_t>(longest, 3) - 3;
        std::uint32_t tail = Load32(pos + tailAt);
        // lowest is never negative, so this also ends the chain at -1.
        for (; cur >= lowest && chain-- > 0; cur = Place(prev_[static_cast<std::size_t>(cur)])) {
            const auto from = static_cast<std::size_t>(cur);
            if (Load32(from + tailAt) != tail || Load32(from) != first)
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
        // Three bytes are looked at last, and only when nothing longer is
        // in hand: they rarely win, and looking for them every time cost
        // 4 % of the time for no gain.
        if (longest < 3)
            TryNear(near3, lowest, pos, limit, longest, best);
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
    std::vector<Position> head3_;
    std::vector<Position> head4_;
    std::vector<Position> head5_;
    std::vector<Position> prev_;
};

} // namespace tbx::chm
