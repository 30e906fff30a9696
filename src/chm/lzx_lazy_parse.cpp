#include "chm/lzx_lazy_parse.h"

#include <algorithm>

namespace tbx::chm {
namespace {

// Rough bit costs for weighing matches against each other.
int Score(std::uint32_t length, unsigned extraBits) {
    constexpr int kLiteralBits = 6;
    constexpr int kMatchBits = 9;
    constexpr int kLengthBits = 4;
    return static_cast<int>(length) * kLiteralBits - kMatchBits - static_cast<int>(extraBits) -
           (length >= 9 ? kLengthBits : 0);
}

// A match at a distance of its own pays the footer bits of its slot. (A
// lambda, so that the finder's search calls it without a pointer.)
constexpr auto kExplicitScore = [](std::uint32_t length, std::uint32_t distance) {
    return Score(length, kLzxExtraBits[LzxPositionSlot(distance + 2)]);
};

} // namespace

template <typename Position>
void LzxLazyParser<Position>::Parse(const std::uint8_t* data, std::size_t size,
                                    std::uint32_t maxDistance, std::vector<LzxItem>& items,
                                    std::vector<std::size_t>& frameStarts) {
    finder_.Reset(data, size, maxDistance);
    items.clear();
    frameStarts.clear();
    LzxRepeatQueue rep;

    std::size_t pos = 0;
    while (pos < size) {
        if (pos % kLzxFrameSize == 0)
            frameStarts.push_back(items.size());
        const std::size_t frameEnd = (pos / kLzxFrameSize + 1) * kLzxFrameSize;
        MatchCandidate best, next;
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
        items.push_back({best.length, rep.Code(best.distance)});
        // The positions the match covers still enter the tables.
        finder_.InsertUpTo(pos + best.length);
        pos += best.length;
    }
}

// Sets best to the best match at pos that ends by frameEnd, looking
// through chain entries for one longer than atLeast; enters pos into the
// finder's tables. A length of 0 means none worth sending.
template <typename Position>
void LzxLazyParser<Position>::Best(std::size_t pos, std::size_t frameEnd, const LzxRepeatQueue& rep,
                                   unsigned chain, std::uint32_t atLeast, MatchCandidate& best) {
    const auto limit =
        static_cast<std::uint32_t>(std::min<std::size_t>(kLzxMaxMatch, frameEnd - pos));
    best = {};
    if (limit < kLzxMinMatch) {
        finder_.Insert(pos);
        return;
    }
    // Repeated offsets cost no extra bits, so a short one can beat a
    // longer explicit match.
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t length = finder_.LengthAt(pos, rep[i], limit);
        const int score = Score(length, 0) - i;
        if (length >= kLzxMinMatch && score > best.score)
            best = {length, rep[i], score};
    }
    finder_.Search(pos, limit, chain, kNiceLength, atLeast, kExplicitScore, best);
}

template class LzxLazyParser<std::uint16_t>;
template class LzxLazyParser<std::uint32_t>;

} // namespace tbx::chm
