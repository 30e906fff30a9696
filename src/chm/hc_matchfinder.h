#pragma once
// The hash-chain match finder of the LZX encoder: chains over one reset
// interval on five bytes, and the last place of every three and every four
// bytes for short near matches. It finds and weighs matches; which of them
// go out is the parse's choice (lzx_lazy_parse.h).
//
// A match never reaches further back than maxDistance nor before the start
// of the data, and never runs past the limit the caller gives.

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace tbx::chm {

// A match at pos: length bytes from distance back. Length 0: none worth
// sending.
struct MatchCandidate {
    std::uint32_t length = 0;
    std::uint32_t distance = 0;
    int score = 0; // bits saved against sending literals
};

// Position is the type the tables hold places in (as place + 1, 0 for
// none): 16 bits while an interval is at most 64 KiB, which halves the
// tables the search reads at random and makes the encoder about 6 %
// faster.
template <typename Position> class HcMatchFinder {
public:
    // Empties the tables for data[0, size), whose matches reach at most
    // maxDistance back.
    void Reset(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance) {
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
    }

    // Enters pos into the tables without looking for a match there.
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

    // Enters every place not yet entered up to end, as those a match
    // covers.
    void InsertUpTo(std::size_t end) {
        for (std::size_t p = inserted_; p < end; ++p)
            Insert(p);
    }

    // The length of the match at pos from distance back, up to limit; 0
    // when not even its first two bytes agree or it reaches before the
    // data.
    std::uint32_t LengthAt(std::size_t pos, std::uint32_t distance, std::uint32_t limit) const {
        if (distance > pos || Load16(pos) != Load16(pos - distance))
            return 0;
        return MatchLength(pos, pos - distance, limit);
    }

    // Improves best (which may hold a match found otherwise) by the
    // matches at pos of up to limit bytes that are longer than atLeast,
    // weighed by score(length, distance); visits at most chain entries of
    // the chain and stops at a match of nice bytes. Enters pos into the
    // tables. (best is filled in place: a returned struct of three fields
    // goes through the stack in pieces and stalls its first read.)
    // (Inlined: it runs at nearly every byte, and the compiler, left to
    // itself, calls it once the score is a lambda with captures.)
    template <typename Score>
    [[gnu::always_inline]] inline void Search(std::size_t pos, std::uint32_t limit, unsigned chain,
                                              std::uint32_t nice, std::uint32_t atLeast,
                                              const Score& score, MatchCandidate& best) {
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
        TryNear(Place(head4), lowest, pos, limit, score, longest, best);
        head4 = Entry(pos);
        Position& head3 = head3_[Hash3(bytes)];
        const std::int64_t near3 = Place(head3);
        head3 = Entry(pos);
        Position& head5 = head5_[Hash5(bytes)];
        std::int64_t cur = Place(head5);
        prev_[pos] = head5;
        head5 = Entry(pos);
        inserted_ = pos + 1;
        if (longest >= nice || longest >= limit)
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
            Consider(best, length, static_cast<std::uint32_t>(pos - from), score);
            if (length >= nice || length == limit)
                break;
            tailAt = longest - 3;
            tail = Load32(pos + tailAt);
        }
        // Three bytes are looked at last, and only when nothing longer is
        // in hand: they rarely win, and looking for them every time cost
        // 4 % of the time for no gain.
        if (longest < 3)
            TryNear(near3, lowest, pos, limit, score, longest, best);
    }

private:
    static constexpr unsigned kHash3Bits = 14;
    static constexpr unsigned kHash4Bits = 15;
    static constexpr unsigned kHash5Bits = 16;

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

    template <typename Score>
    static void Consider(MatchCandidate& best, std::uint32_t length, std::uint32_t distance,
                         const Score& score) {
        const int worth = score(length, distance);
        if (worth > best.score)
            best = {length, distance, worth};
    }

    // Weighs the match at from, the last place of some first bytes, when
    // it is in reach and longer than longest.
    template <typename Score>
    [[gnu::always_inline]] inline void
    TryNear(std::int64_t from, std::int64_t lowest, std::size_t pos, std::uint32_t limit,
            const Score& score, std::uint32_t& longest, MatchCandidate& best) const {
        if (from < lowest || longest >= limit)
            return;
        const std::uint32_t length = MatchLength(pos, static_cast<std::size_t>(from), limit);
        if (length > longest) {
            Consider(best, length, static_cast<std::uint32_t>(pos - static_cast<std::size_t>(from)),
                     score);
            longest = std::max(longest, best.length);
        }
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
