#include "chm/lzx_lazy_parse.h"

#include <algorithm>

namespace tbx::chm {
namespace {

constexpr std::uint8_t kGuessLiteral = 6;
constexpr std::uint8_t kGuessMatch = 9;
constexpr std::uint8_t kGuessLength = 4;
// What a symbol the last trees left out is taken to cost.
constexpr std::uint8_t kMissingLiteral = 12;
constexpr std::uint8_t kMissingMatch = 13;
constexpr std::uint8_t kMissingLength = 10;
// Bits a match one or two bytes on must save beyond the one in hand: the
// literals it needs are weighed only at their cost in the last trees, and
// the choice rests on a guess of what follows. On the generated site 4 and
// 7 rather than 0 and 2 save 0.17 % (one on: -1..24 measured, two on:
// 2..14), and the parse looks ahead less often.
constexpr int kOneOnMargin = 4;
constexpr int kTwoOnMargin = 7;

} // namespace

LzxLazyCosts LzxLazyCosts::Guess() {
    LzxLazyCosts costs;
    costs.literal.fill(kGuessLiteral);
    for (unsigned slot = 0; slot < kLzxMaxPositionSlots; ++slot)
        for (unsigned header = 0; header < 8; ++header)
            // A tie between repeated offsets goes to the front of the queue.
            costs.match[slot * 8 + header] = static_cast<std::uint8_t>(
                kGuessMatch + kLzxExtraBits[slot] + (slot < 3 ? slot : 0));
    costs.length.fill(kGuessLength);
    return costs;
}

LzxLazyCosts LzxLazyCosts::FromTrees(const std::uint8_t* mainLengths, unsigned mainSymbols,
                                     const std::uint8_t* lengthLengths) {
    LzxLazyCosts costs;
    for (unsigned b = 0; b < kLzxNumChars; ++b)
        costs.literal[b] = mainLengths[b] != 0 ? mainLengths[b] : kMissingLiteral;
    for (unsigned slot = 0; slot < kLzxMaxPositionSlots; ++slot)
        for (unsigned header = 0; header < 8; ++header) {
            const unsigned symbol = kLzxNumChars + slot * 8 + header;
            const std::uint8_t bits = symbol < mainSymbols && mainLengths[symbol] != 0
                                          ? mainLengths[symbol]
                                          : kMissingMatch;
            costs.match[slot * 8 + header] = static_cast<std::uint8_t>(bits + kLzxExtraBits[slot]);
        }
    for (unsigned s = 0; s < kLzxLengthSymbols; ++s)
        costs.length[s] = lengthLengths[s] != 0 ? lengthLengths[s] : kMissingLength;
    return costs;
}

template <typename Position>
void LzxLazyParser<Position>::Parse(const std::uint8_t* data, std::size_t size,
                                    std::uint32_t maxDistance, const LzxLazyCosts& costs,
                                    std::vector<LzxItem>& items,
                                    std::vector<std::size_t>& frameStarts) {
    finder_.Reset(data, size, maxDistance);
    costs_ = &costs;
    literalBits_.resize(size + 1);
    literalBits_[0] = 0;
    for (std::size_t i = 0; i < size; ++i)
        literalBits_[i + 1] = static_cast<std::uint16_t>(literalBits_[i] + costs.literal[data[i]]);
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
        // Lazy: while a short match is beaten by one a byte or two on,
        // the bytes before that go out as literals.
        while (best.length != 0 && best.length < kLazyBelow && pos + 1 < frameEnd) {
            Best(pos + 1, frameEnd, rep, kLookAheadChain, best.length, next);
            if (next.score > best.score + kOneOnMargin) {
                items.push_back({0, data[pos]});
                ++pos;
                best = next;
                continue;
            }
            // Two bytes on, when the one a byte on did not do, and only for a
            // match that covers that place (else it would enter the tables
            // twice), by a wider margin than a match a byte on (above).
            if (best.length < 3 || pos + 2 >= frameEnd)
                break;
            Best(pos + 2, frameEnd, rep, kLookAheadChain, best.length, next);
            if (next.score <= best.score + kTwoOnMargin)
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
    // A match is worth the literals it replaces less its own bits.
    const LzxLazyCosts& costs = *costs_;
    const std::uint16_t* literalBits = literalBits_.data() + pos;
    // Repeated offsets cost no footer bits, so a short one can beat a
    // longer explicit match.
    for (unsigned i = 0; i < 3; ++i) {
        const std::uint32_t length = finder_.LengthAt(pos, rep[i], limit);
        if (length < kLzxMinMatch)
            continue;
        const int score = static_cast<std::uint16_t>(literalBits[length] - literalBits[0]) -
                          static_cast<int>(costs.Match(length, i));
        if (score > best.score)
            best = {length, rep[i], score};
    }
    // (A lambda, so that the finder's search calls it without a pointer.)
    const auto explicitScore = [&](std::uint32_t length, std::uint32_t distance) {
        return static_cast<std::uint16_t>(literalBits[length] - literalBits[0]) -
               static_cast<int>(costs.Match(length, LzxPositionSlot(distance + 2)));
    };
    finder_.Search(pos, limit, chain, kNiceLength, atLeast, explicitScore, best);
}

template class LzxLazyParser<std::uint16_t>;
template class LzxLazyParser<std::uint32_t>;

} // namespace tbx::chm
