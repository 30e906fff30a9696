#pragma once
// What each LZX symbol is taken to cost while parsing: the code lengths an
// earlier parse of the same interval would get. The parses weigh literals
// and matches by it rather than by fixed guesses.

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

    // A match of length bytes in position slot, footer bits not counted.
    std::uint32_t Match(unsigned slot, std::uint32_t bytes) const {
        const std::uint32_t header = std::min(bytes - kLzxMinMatch, kLzxPrimaryLengths);
        return main[kLzxNumChars + slot * 8 + header] +
               (header == kLzxPrimaryLengths ? length[bytes - kLzxMinMatch - kLzxPrimaryLengths]
                                             : 0);
    }
};

} // namespace tbx::chm
