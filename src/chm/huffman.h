#pragma once
// Huffman codes as LZX sends them: lengths limited to a maximum, canonical
// codes assigned from the lengths alone, and the table that decodes them.

#include "chm/bit_reader.h"
#include "chm/format.h"

#include <array>
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

// A canonical Huffman code, as a table for decoding. Codes are at most 16
// bits long.
class HuffmanDecoder {
public:
    // Builds the code from one length per symbol (0: symbol unused). The
    // code must be complete; an empty one (all lengths 0) is accepted only
    // when allowEmpty. False for anything else.
    bool Build(std::span<const std::uint8_t> lengths, bool allowEmpty);
    bool Empty() const { return empty_; }

    // The next symbol; the reader must hold at least 16 buffered bits.
    unsigned Decode(BitReader& in) const {
        const std::uint16_t entry = fast_[in.Peek(kFastBits)];
        if (entry & kLengthMask) {
            in.Skip(entry & kLengthMask);
            return entry >> kLengthBits;
        }
        return DecodeLong(in);
    }

private:
    static constexpr unsigned kFastBits = 10;
    static constexpr unsigned kLengthBits = 5;
    static constexpr std::uint16_t kLengthMask = (1u << kLengthBits) - 1;
    static constexpr unsigned kMaxSymbols = LzxMainSymbols(kLzxMaxWindowBits);

    // Here rather than in huffman.cpp so that the decoder's loops can take
    // it in: called across files, decoding was 2 % slower.
    unsigned DecodeLong(BitReader& in) const {
        // The code is complete, so some length up to 16 always matches.
        const std::uint32_t bits = in.Peek(16);
        unsigned length = kFastBits + 1;
        while (length < 16 && bits >= limit_[length])
            ++length;
        in.Skip(length);
        return sorted_[firstIndex_[length] + (bits >> (16 - length)) - firstCode_[length]];
    }

    // Per code length: one past the last code of that length, left-aligned
    // to 16 bits, and where its symbols start in sorted_.
    std::array<std::uint32_t, 17> limit_{};
    std::array<std::uint32_t, 17> firstCode_{};
    std::array<std::uint16_t, 17> firstIndex_{};
    std::array<std::uint16_t, kMaxSymbols> sorted_{};
    // Codes of up to kFastBits bits: symbol << kLengthBits | length, by the
    // next kFastBits bits; 0 where a longer code starts.
    std::array<std::uint16_t, 1u << kFastBits> fast_{};
    bool empty_ = true;
};

} // namespace tbx::chm
