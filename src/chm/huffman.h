#pragma once
// Huffman codes as LZX sends them: lengths limited to a maximum, canonical
// codes assigned from the lengths alone.

#include <cstdint>
#include <span>

namespace tbx::chm {

// Fills lengths (one per frequency; 0 = symbol unused) with code lengths of
// at most maxLength bits that suit the frequencies. The code is always
// complete, and at least two symbols get a length even when fewer occur,
// since the strictest readers refuse a one-symbol tree. Requires at least
// two symbols and no more than 2^maxLength of them.
void BuildCodeLengths(std::span<const std::uint32_t> frequencies, unsigned maxLength,
                      std::span<std::uint8_t> lengths);

// Canonical codes: by increasing length, ties by increasing symbol.
void AssignCanonicalCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes);

} // namespace tbx::chm
