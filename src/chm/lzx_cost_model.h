#pragma once
// What each LZX symbol is taken to cost while parsing: the code lengths an
// earlier parse of the same interval would get. The near-optimal parse
// weighs literals and matches by it rather than by fixed guesses.

#include "chm/lzx_lazy_parse.h"

#include <cstdint>
#include <vector>

namespace tbx::chm {

struct LzxCostModel {
    static constexpr std::uint32_t kScale = 16; // costs are in 1/16 bits

    std::vector<std::uint32_t> main;   // by main-tree symbol
    std::vector<std::uint32_t> length; // by length-tree symbol

    // From the symbol counts of items, in a main tree of mainSymbols.
    void Build(const std::vector<LzxItem>& items, unsigned mainSymbols);
};

} // namespace tbx::chm
