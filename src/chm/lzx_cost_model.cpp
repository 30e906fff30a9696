#include "chm/lzx_cost_model.h"

#include "chm/huffman.h"

#include <algorithm>

namespace tbx::chm {
namespace {

// What a symbol no code of the last parse held is taken to cost: about what
// a rare one costs, so that the next parse may still choose it.
constexpr std::uint32_t kUnusedBits = 14;

void CostsOf(const std::vector<std::uint32_t>& counts, std::vector<std::uint32_t>& costs) {
    std::vector<std::uint8_t> bits(counts.size());
    BuildCodeLengths(counts, kLzxMaxCodeLength, bits);
    costs.resize(counts.size());
    for (std::size_t s = 0; s < counts.size(); ++s)
        costs[s] = (counts[s] != 0 ? bits[s] : kUnusedBits) * LzxCostModel::kScale;
}

} // namespace

void LzxCostModel::Build(const std::vector<LzxItem>& items, unsigned mainSymbols) {
    std::vector<std::uint32_t> mainCounts(mainSymbols, 0);
    std::vector<std::uint32_t> lengthCounts(kLzxLengthSymbols, 0);
    for (const LzxItem& item : items) {
        if (item.length == 0) {
            ++mainCounts[item.value];
            continue;
        }
        const std::uint32_t header = std::min(item.length - kLzxMinMatch, kLzxPrimaryLengths);
        ++mainCounts[kLzxNumChars + LzxPositionSlot(item.value) * 8 + header];
        if (header == kLzxPrimaryLengths)
            ++lengthCounts[item.length - kLzxMinMatch - kLzxPrimaryLengths];
    }
    CostsOf(mainCounts, main);
    CostsOf(lengthCounts, length);
}

} // namespace tbx::chm
