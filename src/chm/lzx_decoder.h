#pragma once
// LZX decoder for the flavour compiled help files use: frames of 32 KiB,
// each ending on a 16-bit boundary, and reset points at which all decoder
// state is forgotten. Standard C++ only.
//
// Every bit, code, length and offset is checked: damaged input gives an
// error, never a read or write outside the decoder's buffers, and every
// frame consumes input or fails, so no input makes it loop for ever.

#include "chm/bit_reader.h"
#include "chm/format.h"
#include "chm/huffman.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tbx::chm {

class LzxDecoder {
public:
    // windowBits 15..21; anything else is clamped into that range.
    explicit LzxDecoder(unsigned windowBits);

    unsigned WindowBits() const { return windowBits_; }

    // Forgets every state, as at a reset point: the next frame starts a new
    // run of the stream.
    void Reset();

    // Decodes the next frame (32 KiB) from in. On success frame holds its
    // bytes, valid until the next call; otherwise the reason, and every
    // further frame fails until the next reset.
    struct Result {
        std::span<const std::uint8_t> frame;
        const char* error = nullptr;
    };
    Result DecodeFrame(BitReader& in);

    // Frames decoded since the last reset.
    std::uint64_t FramesDecoded() const { return frames_; }

    // Frame number index (counted from the last reset) again, while the
    // window still holds it; empty when it does not.
    std::span<const std::uint8_t> HeldFrame(std::uint64_t index);

private:
    enum class Block : std::uint8_t { None = 0, Verbatim = 1, Aligned = 2, Uncompressed = 3 };

    Result Decode(BitReader& in);
    const char* ReadBlockHeader(BitReader& in);
    const char* ReadLengths(BitReader& in, std::uint8_t* lengths, unsigned count);
    const char* DecodeRun(BitReader& in, std::size_t pos, std::size_t end);
    std::span<const std::uint8_t> Output(std::uint64_t index);

    unsigned windowBits_;
    std::size_t windowSize_;
    unsigned mainSymbols_;
    std::vector<std::uint8_t> window_;

    // State of the current run, forgotten at a reset.
    std::uint64_t frames_ = 0;
    bool failed_ = false;
    bool headerRead_ = false;
    std::uint32_t e8Size_ = 0; // translation size of the E8 header; 0: none
    Block block_ = Block::None;
    std::uint32_t blockLength_ = 0;
    std::uint32_t blockRemaining_ = 0;
    std::uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
    std::array<std::uint8_t, LzxMainSymbols(kLzxMaxWindowBits)> mainLengths_{};
    std::array<std::uint8_t, kLzxLengthSymbols> lengthLengths_{};
    HuffmanDecoder main_, length_, aligned_, pretree_;

    // A frame with its E8 calls translated back, and which frame it is.
    std::vector<std::uint8_t> translated_;
    std::uint64_t translatedIndex_ = ~std::uint64_t{0};
};

} // namespace tbx::chm
