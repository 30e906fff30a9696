#include "chm/lzx_near_optimal_parse.h"

#include <algorithm>
#include <limits>

namespace tbx::chm {

void LzxNearOptimalParser::Parse(const std::uint8_t* data, std::size_t size,
                                 std::uint32_t maxDistance, unsigned mainSymbols,
                                 std::vector<LzxItem>& items,
                                 std::vector<std::size_t>& frameStarts) {
    data_ = data;
    finder_.Reset(data, size, maxDistance);
    FindMatches(size);
    nodes_.resize(kLzxFrameSize + 1);
    reps_.resize(kLzxFrameSize + 1);
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        model_.Build(items, mainSymbols);
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

void LzxNearOptimalParser::ParseFrame(std::size_t begin, std::size_t end, LzxRepeatQueue& rep,
                                      std::vector<LzxItem>& items) {
    const std::size_t n = end - begin;
    const std::uint8_t* in = data_ + begin;
    constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t i = 1; i <= n; ++i)
        nodes_[i].cost = kUnreached;
    nodes_[0] = {0, 0};
    reps_[0] = rep;

    // Lengths past the primary ones pay a length symbol too.
    std::array<std::uint32_t, kLzxMaxMatch + 1> lengthCost{};
    for (unsigned l = kLzxMinMatch + kLzxPrimaryLengths; l <= kLzxMaxMatch; ++l)
        lengthCost[l] = model_.length[l - kLzxMinMatch - kLzxPrimaryLengths];
    const auto relax = [&](std::size_t to, std::uint32_t total, std::uint32_t item) {
        Node& target = nodes_[to];
        if (total < target.cost)
            target = {total, item};
    };
    // Offers the lengths [from, to] of a match with the main symbols of
    // slot, for cost bits on top of the symbols.
    const auto offer = [&](std::size_t i, std::uint32_t cost, unsigned slot, std::uint32_t from,
                           std::uint32_t to, std::uint32_t code) {
        const std::uint32_t* main = &model_.main[kLzxNumChars + slot * 8 - kLzxMinMatch];
        constexpr std::uint32_t kLong = kLzxMinMatch + kLzxPrimaryLengths;
        std::uint32_t l = from;
        for (; l <= to && l < kLong; ++l)
            relax(i + l, cost + main[l], l << kValueBits | code);
        const std::uint32_t longCost = cost + main[kLong];
        for (; l <= to; ++l)
            relax(i + l, longCost + lengthCost[l], l << kValueBits | code);
    };

    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t pos = begin + i;
        const std::uint32_t cost = nodes_[i].cost;
        if (i > 0) {
            // The queue after the item that ends here.
            const std::uint32_t item = nodes_[i].item;
            const std::uint32_t length = item >> kValueBits;
            if (length == 0) {
                reps_[i] = reps_[i - 1];
            } else {
                reps_[i] = reps_[i - length];
                reps_[i].Apply(item & ((1u << kValueBits) - 1));
            }
        }
        const LzxRepeatQueue& queue = reps_[i];
        relax(i + 1, cost + model_.main[in[i]], in[i]);
        const auto limit = static_cast<std::uint32_t>(std::min<std::size_t>(kLzxMaxMatch, n - i));
        if (limit < kLzxMinMatch)
            continue;

        // Matches at the repeated offsets: no footer. A queue entry equal to
        // one before it is sent more cheaply by that one.
        for (unsigned k = 0; k < 3; ++k) {
            const std::uint32_t distance = queue[k];
            if (distance > pos || (k > 0 && distance == queue[0]) ||
                (k > 1 && distance == queue[1]))
                continue;
            const std::uint32_t length =
                BtMatchFinder::MatchLength(in + i - distance, in + i, 0, limit);
            if (length >= kLzxMinMatch)
                offer(i, cost, k, kLzxMinMatch, length, k);
        }

        // The finder's matches: each is the nearest of its length, and
        // serves the lengths from just past the one before it.
        std::uint32_t shortest = kLzxMinMatch + 1;
        for (std::uint32_t m = starts_[pos]; m < starts_[pos + 1]; ++m) {
            const FoundMatch match = matches_[m];
            if (match.distance != queue[0] && match.distance != queue[1] &&
                match.distance != queue[2]) {
                const std::uint32_t code = match.distance + 2;
                const unsigned slot = LzxPositionSlot(code);
                offer(i, cost + kLzxExtraBits[slot] * LzxCostModel::kScale, slot, shortest,
                      match.length, code);
            }
            shortest = match.length + 1;
        }
    }

    // The path, read back from the end.
    reversed_.clear();
    for (std::size_t i = n; i > 0;) {
        const std::uint32_t item = nodes_[i].item;
        const std::uint32_t length = item >> kValueBits;
        reversed_.push_back({length, item & ((1u << kValueBits) - 1)});
        i -= length == 0 ? 1 : length;
    }
    items.insert(items.end(), reversed_.rbegin(), reversed_.rend());
    // The queue at the end, from the last item.
    const LzxItem last = reversed_.front();
    rep = reps_[n - (last.length == 0 ? 1 : last.length)];
    if (last.length != 0)
        rep.Apply(last.value);
}

} // namespace tbx::chm
