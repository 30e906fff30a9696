#pragma once
// The binary-tree match finder of the slower, smaller LZX level: for every
// four-byte hash, a tree of the earlier places ordered by the bytes that
// follow them, so that one walk from the root meets the longest matches at
// every distance and leaves the tree re-rooted at the new place. Hash
// chains visit places in distance order and must give up early; the tree
// visits only places that share ever more bytes, so it can afford to look
// through the whole interval. It finds matches; the parse chooses
// (lzx_near_optimal_parse.h).
//
// A match never reaches further back than maxDistance nor before the start
// of the data.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tbx::chm {

// A match the finder met: length bytes from distance back.
struct FoundMatch {
    std::uint32_t length;
    std::uint32_t distance;
};

class BtMatchFinder {
public:
    // Empties the tables for data[0, size).
    void Reset(const std::uint8_t* data, std::size_t size, std::uint32_t maxDistance) {
        data_ = data;
        size_ = size;
        maxDistance_ = maxDistance;
        head3_.assign(std::size_t{1} << kHash3Bits, kNone);
        root_.assign(std::size_t{1} << kHash4Bits, kNone);
        if (children_.size() < 2 * size)
            children_.resize(2 * size);
    }

    // Appends to out the matches at pos, shortest first, each longer than
    // the one before, of at most maxLength bytes (the tree is ordered on at
    // most nice bytes, nice <= maxLength); visits at most depth places.
    // Enters pos into the tree. With record false it only enters pos: the
    // parse skips the places a long match covers.
    void Advance(std::size_t pos, std::uint32_t maxLength, std::uint32_t nice, unsigned depth,
                 bool record, std::vector<FoundMatch>& out) {
        if (maxLength < 4 || pos + 4 > size_)
            return; // too near the end to enter: no later place matches it anyway
        nice = std::min(nice, maxLength);
        const std::uint8_t* in = data_ + pos;
        const std::uint32_t first = Load32(in);
        const auto lowest = pos > maxDistance_ ? static_cast<std::uint32_t>(pos - maxDistance_) : 0;
        std::uint32_t best = 2;

        // The last place of the same three bytes: the nearest length-3 match.
        std::uint32_t& head3 = head3_[Hash3(first)];
        if (record && head3 != kNone && head3 >= lowest) {
            const std::uint8_t* from = data_ + head3;
            if (std::memcmp(from, in, 3) == 0) {
                best = 3;
                out.push_back({3, static_cast<std::uint32_t>(pos - head3)});
            }
        }
        head3 = static_cast<std::uint32_t>(pos);

        std::uint32_t& root = root_[Hash4(first)];
        std::uint32_t cur = root;
        root = static_cast<std::uint32_t>(pos);
        // Where the places smaller and greater than pos go, and how many
        // bytes those on each side are known to share with pos.
        std::uint32_t* lessSlot = &children_[2 * pos];
        std::uint32_t* greaterSlot = &children_[2 * pos + 1];
        std::uint32_t lessLength = 0;
        std::uint32_t greaterLength = 0;
        std::uint32_t length = 0;
        while (cur != kNone && cur >= lowest && depth-- > 0) {
            const std::uint8_t* from = data_ + cur;
            if (from[length] == in[length]) {
                length = MatchLength(from, in, length + 1, nice);
                if (record && length > best) {
                    best = length;
                    out.push_back({length, static_cast<std::uint32_t>(pos - cur)});
                }
                if (length >= nice) {
                    // cur is pos as far as the tree tells: pos takes its place.
                    if (record && nice < maxLength)
                        out.back().length = MatchLength(from, in, length, maxLength);
                    *lessSlot = children_[2 * cur];
                    *greaterSlot = children_[2 * cur + 1];
                    return;
                }
            }
            if (from[length] < in[length]) {
                *lessSlot = cur;
                lessSlot = &children_[2 * cur + 1];
                cur = *lessSlot;
                lessLength = length;
            } else {
                *greaterSlot = cur;
                greaterSlot = &children_[2 * cur];
                cur = *greaterSlot;
                greaterLength = length;
            }
            length = std::min(lessLength, greaterLength);
        }
        *lessSlot = kNone;
        *greaterSlot = kNone;
    }

    // Bytes that a and b share, knowing the first n agree, up to limit.
    static std::uint32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t n,
                                     std::uint32_t limit) {
        while (n + 8 <= limit) {
            std::uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y)
                return n + static_cast<std::uint32_t>(std::countr_zero(x ^ y) / 8);
            n += 8;
        }
        while (n < limit && a[n] == b[n])
            ++n;
        return n;
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr unsigned kHash3Bits = 15;
    static constexpr unsigned kHash4Bits = 16;

    static std::uint32_t Load32(const std::uint8_t* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static std::uint32_t Hash3(std::uint32_t bytes) {
        return ((bytes << 8) * 0x9E3779B1u) >> (32 - kHash3Bits);
    }
    static std::uint32_t Hash4(std::uint32_t bytes) {
        return (bytes * 0x9E3779B1u) >> (32 - kHash4Bits);
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::uint32_t maxDistance_ = 0;
    std::vector<std::uint32_t> head3_;
    std::vector<std::uint32_t> root_;
    std::vector<std::uint32_t> children_; // two a place: smaller, greater
};

} // namespace tbx::chm
