#include "chm/huffman.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <vector>

namespace tbx::chm {
namespace {

constexpr unsigned kMaxCodeBits = 16;

// Code lengths of an optimal prefix code for frequencies sorted in
// increasing order, computed in place (Moffat and Katajainen): on return
// weights[i] holds the length of the i-th symbol. Needs two or more symbols.
void OptimalLengths(std::vector<std::uint32_t>& weights) {
    const int n = static_cast<int>(weights.size());
    auto& a = weights;
    // Build the tree: internal nodes overwrite the leaves they consume and
    // then hold the index of their parent.
    a[0] += a[1];
    int root = 0;
    int leaf = 2;
    for (int next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = static_cast<std::uint32_t>(next);
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = static_cast<std::uint32_t>(next);
        } else {
            a[next] += a[leaf++];
        }
    }
    // Depths of the internal nodes.
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; --next)
        a[next] = a[a[next]] + 1;
    // Depths of the leaves, longest first.
    int available = 1;
    int used = 0;
    std::uint32_t depth = 0;
    root = n - 2;
    int next = n - 1;
    while (available > 0) {
        while (root >= 0 && a[root] == depth) {
            ++used;
            --root;
        }
        while (available > used) {
            a[next--] = depth;
            --available;
        }
        available = 2 * used;
        ++depth;
        used = 0;
    }
}

// Brings lengths over maxLength down to it and keeps the code complete:
// counts[l] leaves of length l on entry and on return.
void LimitLengths(std::array<std::uint32_t, 64>& counts, unsigned maxLength) {
    for (unsigned l = maxLength + 1; l < counts.size(); ++l) {
        counts[maxLength] += counts[l];
        counts[l] = 0;
    }
    const std::uint64_t target = std::uint64_t{1} << maxLength;
    std::uint64_t kraft = 0;
    for (unsigned l = 1; l <= maxLength; ++l)
        kraft += std::uint64_t{counts[l]} << (maxLength - l);
    // Over-full: push the deepest leaf that is not at the limit one level down.
    while (kraft > target) {
        unsigned l = maxLength - 1;
        while (counts[l] == 0)
            --l;
        --counts[l];
        ++counts[l + 1];
        kraft -= std::uint64_t{1} << (maxLength - l - 1);
    }
    // Room left: lift the deepest leaves whose gain still fits.
    while (kraft < target) {
        const std::uint64_t room = target - kraft;
        unsigned l = maxLength;
        while (counts[l] == 0 || (std::uint64_t{1} << (maxLength - l)) > room)
            --l;
        --counts[l];
        ++counts[l - 1];
        kraft += std::uint64_t{1} << (maxLength - l);
    }
}

} // namespace

void BuildCodeLengths(std::span<const std::uint32_t> frequencies, unsigned maxLength,
                      std::span<std::uint8_t> lengths) {
    const std::size_t n = frequencies.size();
    assert(n >= 2 && lengths.size() == n && maxLength <= kMaxCodeBits &&
           n <= (std::size_t{1} << maxLength));
    std::fill(lengths.begin(), lengths.end(), 0);

    // Symbols ordered by frequency, then by number; unused ones left out.
    std::vector<std::uint64_t> order;
    order.reserve(n);
    for (std::size_t s = 0; s < n; ++s)
        if (frequencies[s] != 0)
            order.push_back(std::uint64_t{frequencies[s]} << 16 | s);
    // Fewer than two symbols: give unused ones a place so the tree has two.
    for (std::size_t s = 0; order.size() < 2; ++s)
        if (frequencies[s] == 0)
            order.push_back(s);
    std::sort(order.begin(), order.end());

    std::vector<std::uint32_t> weights(order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        weights[i] = static_cast<std::uint32_t>(order[i] >> 16);
    OptimalLengths(weights);

    std::array<std::uint32_t, 64> counts{};
    for (const std::uint32_t length : weights)
        ++counts[std::min<std::uint32_t>(length, counts.size() - 1)];
    if (weights.front() > maxLength)
        LimitLengths(counts, maxLength);

    // The rarest symbols take the longest codes.
    std::size_t i = 0;
    for (unsigned l = maxLength; l >= 1; --l)
        for (std::uint32_t c = 0; c < counts[l]; ++c)
            lengths[order[i++] & 0xFFFF] = static_cast<std::uint8_t>(l);
}

void AssignCanonicalCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes) {
    std::array<std::uint32_t, kMaxCodeBits + 2> next{};
    for (const std::uint8_t length : lengths)
        ++next[length];
    next[0] = 0;
    std::uint32_t code = 0;
    for (unsigned l = 1; l <= kMaxCodeBits; ++l) {
        const std::uint32_t count = next[l];
        next[l] = code;
        code = (code + count) << 1;
    }
    for (std::size_t s = 0; s < lengths.size(); ++s)
        codes[s] = lengths[s] ? static_cast<std::uint16_t>(next[lengths[s]]++) : 0;
}

bool HuffmanDecoder::Build(std::span<const std::uint8_t> lengths, bool allowEmpty) {
    empty_ = true;
    if (lengths.size() > kMaxSymbols)
        return false;
    std::array<std::uint32_t, 17> count{};
    for (const std::uint8_t length : lengths) {
        if (length > kLzxMaxCodeLength)
            return false;
        ++count[length];
    }
    // Kraft sum in units of 2^-16: exactly one for a complete code.
    std::uint32_t sum = 0;
    for (unsigned length = 1; length <= 16; ++length)
        sum += count[length] << (16 - length);
    if (sum == 0)
        return allowEmpty;
    if (sum != 1u << 16)
        return false;
    empty_ = false;

    std::uint32_t code = 0;
    std::uint16_t index = 0;
    for (unsigned length = 1; length <= 16; ++length) {
        firstCode_[length] = code;
        firstIndex_[length] = index;
        code += count[length];
        index = static_cast<std::uint16_t>(index + count[length]);
        limit_[length] = code << (16 - length);
        code <<= 1;
    }
    std::array<std::uint16_t, 17> next = firstIndex_;
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol)
        if (lengths[symbol] != 0)
            sorted_[next[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);

    fast_.fill(0);
    for (unsigned length = 1; length <= kFastBits; ++length) {
        for (std::uint32_t i = 0; i < count[length]; ++i) {
            const std::uint32_t first = (firstCode_[length] + i) << (kFastBits - length);
            const std::uint32_t span = 1u << (kFastBits - length);
            const std::uint16_t symbol = sorted_[firstIndex_[length] + i];
            std::fill_n(fast_.begin() + first, span,
                        static_cast<std::uint16_t>(symbol << kLengthBits | length));
        }
    }
    return true;
}

} // namespace tbx::chm
