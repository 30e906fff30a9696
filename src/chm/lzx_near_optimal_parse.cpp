#include "chm/lzx_near_optimal_parse.h"

#include "chm/huffman.h"

#include <algorithm>
#include <limits>

namespace tbx::chm {
namespace {

// What a symbol no code of the last pass held is taken to cost: about what
// a rare one costs, so that the next pass may still choose it.
constexpr std::uint32_t kUnusedBits = 14;

constexpr unsigned MainSymbolOf(const LzxItem& item) {
    return item.length == 0 ? item.value
                            : kLzxNumChars + LzxPositionSlot(item.value) * 8 +
                                  std::min(item.length - kLzxMinMatch, kLzxPrimaryLengths);
}

} // namespace

void LzxNearOptimalParser::Parse(const std::uint8_t* data, std::size_t size,
                                 std::uint32_t maxDistance, unsigned mainSymbols,
                                 std::vector<LzxItem>& items,
                                 std::vector<std::size_t>& frameStarts) {
    data_ = data;
    mainSymbols_ = mainSymbols;
    finder_.Reset(data, size, maxDistance);
    FindMatches(size);
    nodes_.resize(kLzxFrameSize + 1);
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        SetModel(items);
        items.clear();
        frameStarts.clear();
        LzxRepeatQueue rep;
        for (std::size_t begin = 0; begin < size; begin += kLzxFrameSize) {
            frameStarts.push_back(items.size());
            ParseFrame(begin, std::min(size, begin + kLzxFrameSize), rep, items);
        }
    }
}

// Every place's matches, each cut at its frame's end. A place a long match
// covers gets none: the match is taken whole, and searching there would
// only find the same match again, shorter.
//
// The tree is ordered on as many bytes at every place, up to the end of
// the interval and not of the frame: a place ordered on fewer bytes would
// take the place of one it only partly matches, and the order below it
// would no longer hold for places ordered on more.
void LzxNearOptimalParser::FindMatches(std::size_t size) {
    matches_.clear();
    starts_.assign(size + 1, 0);
    std::size_t skipTo = 0;
    for (std::size_t pos = 0; pos < size; ++pos) {
        starts_[pos] = static_cast<std::uint32_t>(matches_.size());
        const std::size_t frameEnd = std::min(size, (pos / kLzxFrameSize + 1) * kLzxFrameSize);
        const auto limit =
            static_cast<std::uint32_t>(std::min<std::size_t>(kLzxMaxMatch, frameEnd - pos));
        const auto reach =
            static_cast<std::uint32_t>(std::min<std::size_t>(kLzxMaxMatch, size - pos));
        const std::size_t before = matches_.size();
        finder_.Advance(pos, reach, kNiceLength, kDepth, pos >= skipTo, matches_);
        // Cut at the frame's end: the first match that reaches it is the
        // last worth keeping.
        for (std::size_t m = before; m < matches_.size(); ++m)
            if (matches_[m].length >= limit) {
                matches_[m].length = limit;
                matches_.resize(m + 1);
            }
        if (matches_.size() > before && matches_.back().length >= kNiceLength) {
            matches_[before] = matches_.back();
            matches_.resize(before + 1);
            skipTo = pos + matches_.back().length;
        }
    }
    starts_[size] = static_cast<std::uint32_t>(matches_.size());
}

// The model from the code lengths the items' symbol counts give.
void LzxNearOptimalParser::SetModel(const std::vector<LzxItem>& items) {
    std::vector<std::uint32_t> main(mainSymbols_, 0);
    std::vector<std::uint32_t> length(kLzxLengthSymbols, 0);
    for (const LzxItem& item : items) {
        ++main[MainSymbolOf(item)];
        if (item.length >= kLzxMinMatch + kLzxPrimaryLengths)
            ++length[item.length - kLzxMinMatch - kLzxPrimaryLengths];
    }
    const auto costs = [](const std::vector<std::uint32_t>& counts, std::vector<std::uint32_t>& to) {
        std::vector<std::uint8_t> bits(counts.size());
        BuildCodeLengths(counts, kLzxMaxCodeLength, bits);
        to.resize(counts.size());
        for (std::size_t s = 0; s < counts.size(); ++s)
            to[s] = (counts[s] != 0 ? bits[s] : kUnusedBits) * kScale;
    };
    costs(main, model_.main);
    costs(length, model_.length);
}

void LzxNearOptimalParser::ParseFrame(std::size_t begin, std::size_t end, LzxRepeatQueue& rep,
                                      std::vector<LzxItem>& items) {
    const std::size_t n = end - begin;
    const std::uint8_t* in = data_ + begin;
    constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t i = 1; i <= n; ++i)
        nodes_[i].cost = kUnreached;
    nodes_[0] = {0, {0, 0}, rep};

    // Lengths past the primary ones pay a length symbol too.
    std::array<std::uint32_t, kLzxMaxMatch + 1> lengthCost{};
    for (unsigned l = kLzxMinMatch + kLzxPrimaryLengths; l <= kLzxMaxMatch; ++l)
        lengthCost[l] = model_.length[l - kLzxMinMatch - kLzxPrimaryLengths];
    const auto matchCost = [&](unsigned slot, std::uint32_t length) {
        return model_.main[kLzxNumChars + slot * 8 +
                           std::min(length - kLzxMinMatch, kLzxPrimaryLengths)] +
               lengthCost[length];
    };

    for (std::size_t i = 0; i < n; ++i) {
        const Node& node = nodes_[i];
        const std::uint32_t cost = node.cost;
        const std::size_t pos = begin + i;
        const auto relax = [&](std::size_t to, std::uint32_t total, LzxItem item,
                               const LzxRepeatQueue& after) {
            Node& target = nodes_[to];
            if (total < target.cost)
                target = {total, item, after};
        };
        relax(i + 1, cost + model_.main[in[i]], {0, in[i]}, node.rep);
        const auto limit = static_cast<std::uint32_t>(std::min<std::size_t>(kLzxMaxMatch, n - i));
        if (limit < kLzxMinMatch)
            continue;

        // Matches at the repeated offsets: no footer. A queue entry equal to
        // one before it is sent more cheaply by that one.
        for (unsigned k = 0; k < 3; ++k) {
            const std::uint32_t distance = node.rep[k];
            if (distance > pos || (k > 0 && distance == node.rep[0]) ||
                (k > 1 && distance == node.rep[1]))
                continue;
            const std::uint8_t* from = in + i - distance;
            std::uint32_t length = 0;
            while (length < limit && from[length] == in[i + length])
                ++length;
            if (length < kLzxMinMatch)
                continue;
            LzxRepeatQueue after = node.rep;
            after.Apply(k);
            for (std::uint32_t l = kLzxMinMatch; l <= length; ++l)
                relax(i + l, cost + matchCost(k, l), {l, k}, after);
        }

        // The finder's matches: each is the nearest of its length, and
        // serves the lengths from just past the one before it.
        std::uint32_t shortest = kLzxMinMatch + 1;
        for (std::uint32_t m = starts_[pos]; m < starts_[pos + 1]; ++m) {
            const FoundMatch match = matches_[m];
            const std::uint32_t length = match.length;
            if (match.distance != node.rep[0] && match.distance != node.rep[1] &&
                match.distance != node.rep[2]) {
                const std::uint32_t code = match.distance + 2;
                const unsigned slot = LzxPositionSlot(code);
                const std::uint32_t footer = kLzxExtraBits[slot] * kScale;
                LzxRepeatQueue after = node.rep;
                after.Apply(code);
                for (std::uint32_t l = shortest; l <= length; ++l)
                    relax(i + l, cost + footer + matchCost(slot, l), {l, code}, after);
            }
            shortest = length + 1;
        }
    }

    // The path, read back from the end.
    reversed_.clear();
    for (std::size_t i = n; i > 0;) {
        const LzxItem item = nodes_[i].item;
        reversed_.push_back(item);
        i -= item.length == 0 ? 1 : item.length;
    }
    items.insert(items.end(), reversed_.rbegin(), reversed_.rend());
    rep = nodes_[n].rep;
}

} // namespace tbx::chm
