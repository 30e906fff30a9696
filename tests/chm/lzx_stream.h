#pragma once
// Writes LZX streams for the decoder tests: every kind of block, code and
// match coding the format has, from literals and matches the test chooses.
// No match finding and no frequency-shaped codes: codes of nearly equal
// lengths, optionally stretched to the longest 16-bit codes. Keeps the
// plain bytes the stream stands for and where each frame starts, so that
// another decoder can be handed the same frames.

#include "chm/format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tbx::test {

// A complete code for count symbols, lengths of k-1 and k bits; when deep,
// reshaped so that its longest codes take 16 bits. The lengths are turned by
// rotate places, so that blocks differ.
inline std::vector<std::uint8_t> CompleteLengths(unsigned count, bool deep, unsigned rotate) {
    unsigned k = 1;
    while ((1u << k) < count)
        ++k;
    std::vector<unsigned> perLength(17, 0);
    perLength[k - 1] = (1u << k) - count;
    perLength[k] = count - perLength[k - 1];
    if (deep && k < 16 && perLength[k] >= 2 * (16 - k) + 1) {
        // Merge 16-k pairs of sibling leaves one level up, and split one
        // leaf into a chain down to 16 bits: same count, still complete.
        perLength[k] -= 2 * (16 - k) + 1;
        perLength[k - 1] += 16 - k;
        for (unsigned length = k + 1; length < 16; ++length)
            ++perLength[length];
        perLength[16] += 2;
    }
    std::vector<std::uint8_t> lengths;
    for (unsigned length = 1; length <= 16; ++length)
        lengths.insert(lengths.end(), perLength[length], static_cast<std::uint8_t>(length));
    std::rotate(lengths.begin(), lengths.begin() + rotate % count, lengths.end());
    return lengths;
}

// The codes of a block.
struct LzxShape {
    bool deep = false;      // main code down to 16-bit codes
    bool lengthCode = true; // false: the length code is empty
    unsigned rotate = 0;
};

class LzxStreamWriter {
public:
    explicit LzxStreamWriter(unsigned windowBits)
        : mainSymbols_(chm::LzxMainSymbols(windowBits)), mainPrevious_(mainSymbols_, 0),
          lengthPrevious_(chm::kLzxLengthSymbols, 0) {}

    // Starts a run at a reset point: repeated offsets 1, code lengths
    // counted from zero, and the E8 header (translation size 0: none).
    void StartRun(std::uint32_t e8Size = 0) {
        runStart_ = output_.size();
        pad_ = false;
        r_ = {1, 1, 1};
        std::fill(mainPrevious_.begin(), mainPrevious_.end(), 0);
        std::fill(lengthPrevious_.begin(), lengthPrevious_.end(), 0);
        Bits(e8Size != 0, 1);
        if (e8Size != 0) {
            Bits(e8Size >> 16, 16);
            Bits(e8Size & 0xFFFF, 16);
        }
    }

    void StartBlock(chm::LzxBlockType type, std::uint32_t size, const LzxShape& shape = {}) {
        std::vector<std::uint8_t> length(chm::kLzxLengthSymbols, 0);
        if (shape.lengthCode)
            length = CompleteLengths(chm::kLzxLengthSymbols, false, shape.rotate);
        // Aligned codes of unequal lengths, so that they differ from plain bits.
        std::vector<std::uint8_t> aligned = {2, 2, 3, 3, 3, 4, 5, 5};
        std::rotate(aligned.begin(), aligned.begin() + shape.rotate % aligned.size(),
                    aligned.end());
        StartBlockWith(type, size, CompleteLengths(mainSymbols_, shape.deep, shape.rotate), length,
                       aligned);
    }

    // The same with the codes given, for damaged headers; an uncompressed
    // block ignores them.
    void StartBlockWith(chm::LzxBlockType type, std::uint32_t size,
                        const std::vector<std::uint8_t>& main,
                        const std::vector<std::uint8_t>& length,
                        const std::vector<std::uint8_t>& aligned) {
        if (pad_)
            bytes_.push_back(0);
        pad_ = false;
        type_ = type;
        blockLeft_ = size;
        Bits(static_cast<unsigned>(type), 3);
        Bits(size >> 8, 16);
        Bits(size & 0xFF, 8);
        if (type == chm::LzxBlockType::Uncompressed) {
            Bits(0, 16 - bits_ % 16);
            for (const std::uint32_t r : r_)
                for (int i = 0; i < 4; ++i)
                    bytes_.push_back(static_cast<std::uint8_t>(r >> (8 * i)));
            pad_ = size & 1;
            return;
        }
        if (type == chm::LzxBlockType::Aligned) {
            for (const std::uint8_t bits : aligned)
                Bits(bits, 3);
            aligned_ = Codes(aligned);
        }
        Lengths(mainPrevious_, main, 0, chm::kLzxNumChars);
        Lengths(mainPrevious_, main, chm::kLzxNumChars, mainSymbols_);
        Lengths(lengthPrevious_, length, 0, chm::kLzxLengthSymbols);
        main_ = Codes(main);
        length_ = Codes(length);
    }

    void Literal(std::uint8_t byte) {
        if (type_ == chm::LzxBlockType::Uncompressed)
            bytes_.push_back(byte);
        else
            Symbol(main_, byte);
        output_.push_back(byte);
        Produced(1);
    }

    // A match, coded by a repeated-offset slot when offset is one of them.
    void Match(unsigned length, std::uint32_t offset) {
        const unsigned header = std::min(length - chm::kLzxMinMatch, chm::kLzxPrimaryLengths);
        unsigned slot = 0;
        std::uint32_t footer = 0;
        if (offset == r_[0]) {
        } else if (offset == r_[1]) {
            slot = 1;
            std::swap(r_[0], r_[1]);
        } else if (offset == r_[2]) {
            slot = 2;
            std::swap(r_[0], r_[2]);
        } else {
            const std::uint32_t formatted = offset + 2;
            slot = 3;
            while (slot + 1 < chm::kLzxMaxPositionSlots &&
                   chm::kLzxPositionBase[slot + 1] <= formatted)
                ++slot;
            footer = formatted - chm::kLzxPositionBase[slot];
            r_ = {offset, r_[0], r_[1]};
        }
        Symbol(main_, chm::kLzxNumChars + slot * 8 + header);
        if (header == chm::kLzxPrimaryLengths)
            Symbol(length_, length - chm::kLzxMinMatch - chm::kLzxPrimaryLengths);
        const unsigned extra = slot < 3 ? 0 : chm::kLzxExtraBits[slot];
        if (type_ == chm::LzxBlockType::Aligned && extra >= 3) {
            Bits(footer >> 3, extra - 3);
            Symbol(aligned_, footer & 7);
        } else {
            Bits(footer, extra);
        }
        // A match reaching before the run (in damaged streams) stands for zeros.
        for (unsigned i = 0; i < length; ++i)
            output_.push_back(offset <= RunOutput() ? output_[output_.size() - offset] : 0);
        Produced(length);
    }

    // A main code symbol alone, and raw bits, for damaged streams.
    void MainSymbol(unsigned symbol) { Symbol(main_, symbol); }

    void Bits(std::uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            const std::uint32_t bit = i < 32 ? (value >> i) & 1 : 0;
            word_ = static_cast<std::uint16_t>(word_ << 1 | bit);
            if (++bits_ % 16 == 0) {
                bytes_.push_back(static_cast<std::uint8_t>(word_ & 0xFF));
                bytes_.push_back(static_cast<std::uint8_t>(word_ >> 8));
            }
        }
    }

    std::uint32_t BlockLeft() const { return blockLeft_; }
    bool Uncompressed() const { return type_ == chm::LzxBlockType::Uncompressed; }
    std::size_t FrameLeft() const {
        return chm::kLzxFrameSize - output_.size() % chm::kLzxFrameSize;
    }
    std::size_t RunOutput() const { return output_.size() - runStart_; }
    std::uint32_t Repeated(unsigned i) const { return r_[i]; }

    // The stream so far; frame i starts at FrameStarts()[i].
    const std::vector<std::uint8_t>& Stream() const { return bytes_; }
    const std::vector<std::size_t>& FrameStarts() const { return frameStarts_; }
    const std::vector<std::uint8_t>& Output() const { return output_; }

private:
    struct Code {
        std::uint32_t bits = 0;
        unsigned length = 0;
    };

    static std::vector<Code> Codes(const std::vector<std::uint8_t>& lengths) {
        std::vector<Code> codes(lengths.size());
        std::uint32_t next = 0;
        for (unsigned length = 1; length <= 16; ++length, next <<= 1)
            for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol)
                if (lengths[symbol] == length)
                    codes[symbol] = {next++, length};
        return codes;
    }

    void Symbol(const std::vector<Code>& codes, unsigned symbol) {
        if (symbol >= codes.size() || codes[symbol].length == 0)
            throw std::logic_error("symbol without a code");
        Bits(codes[symbol].bits, codes[symbol].length);
    }

    // Lengths [first, last) as changes from previous, through a pretree,
    // using runs of zeros (17, 18) and of equal lengths (19) where they fit.
    void Lengths(std::vector<std::uint8_t>& previous, const std::vector<std::uint8_t>& lengths,
                 unsigned first, unsigned last) {
        const std::vector<std::uint8_t> pre = CompleteLengths(chm::kLzxPretreeSymbols, false, 0);
        for (const std::uint8_t length : pre)
            Bits(length, 4);
        const std::vector<Code> codes = Codes(pre);
        const auto change = [&](unsigned i) { return (previous[i] + 17 - lengths[i]) % 17; };
        for (unsigned i = first; i < last;) {
            unsigned same = 1;
            while (i + same < last && lengths[i + same] == lengths[i])
                ++same;
            if (lengths[i] == 0 && same >= 20) {
                const unsigned run = std::min(same, 51u);
                Symbol(codes, 18);
                Bits(run - 20, 5);
                std::fill_n(previous.begin() + i, run, 0);
                i += run;
            } else if (lengths[i] == 0 && same >= 4) {
                const unsigned run = std::min(same, 19u);
                Symbol(codes, 17);
                Bits(run - 4, 4);
                std::fill_n(previous.begin() + i, run, 0);
                i += run;
            } else if (same >= 4) {
                const unsigned run = std::min(same, 5u);
                Symbol(codes, 19);
                Bits(run - 4, 1);
                Symbol(codes, change(i));
                std::fill_n(previous.begin() + i, run, lengths[i]);
                i += run;
            } else {
                Symbol(codes, change(i));
                previous[i] = lengths[i];
                ++i;
            }
        }
    }

    // Counts output against the block, and closes the frame when it is
    // full: padding to 16 bits.
    void Produced(unsigned length) {
        blockLeft_ -= std::min(blockLeft_, length);
        if (output_.size() % chm::kLzxFrameSize == 0) {
            Bits(0, (16 - bits_ % 16) % 16);
            frameStarts_.push_back(bytes_.size());
        }
    }

    unsigned mainSymbols_;
    std::vector<std::uint8_t> bytes_;
    std::uint16_t word_ = 0;
    std::uint64_t bits_ = 0;
    std::vector<std::size_t> frameStarts_{0};
    std::vector<std::uint8_t> output_;
    std::size_t runStart_ = 0;
    chm::LzxBlockType type_ = chm::LzxBlockType::Verbatim;
    std::uint32_t blockLeft_ = 0;
    bool pad_ = false;
    std::array<std::uint32_t, 3> r_{1, 1, 1};
    std::vector<std::uint8_t> mainPrevious_, lengthPrevious_;
    std::vector<Code> main_, length_, aligned_;
};

} // namespace tbx::test
