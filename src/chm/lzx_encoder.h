#pragma once
// LZX compression in the flavour compiled help files use: 32 KiB frames,
// each padded to a 16-bit boundary, a reset of all state at the start of
// every interval of window size, and no E8 translation.

#include "chm/lzx_lazy_parse.h"
#include "chm/lzx_near_optimal_parse.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tbx::chm {

constexpr unsigned kDefaultWindowBits = 16; // 64 KiB, the window help files are known to use

// How hard the encoder works: the lazy parse alone, or the near-optimal
// parse after it (several times slower, a few per cent smaller).
enum class LzxLevel { Default, Best };

// Compressed bytes and the offset in them where each 32 KiB frame starts
// (the reset table of the container).
struct LzxStream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> frameOffsets;
};

// True for the window sizes the encoder writes: 2^16 to 2^21 bytes. The
// reset interval is one window.
constexpr bool LzxWindowSupported(unsigned windowBits) {
    return windowBits >= 16 && windowBits <= kLzxMaxWindowBits;
}

// Frames a stream of size bytes is coded in: the data, then zeros to a frame
// boundary at least two bytes on. 7-Zip takes the frame count to be
// (size + 1) / 32 KiB + 1 and refuses a reset table that has fewer.
constexpr std::uint64_t LzxFrameCount(std::uint64_t size) {
    return (size + 1) / kLzxFrameSize + 1;
}

// Compresses one reset interval at a time; keeps its buffers between calls.
class LzxIntervalEncoder {
public:
    explicit LzxIntervalEncoder(unsigned windowBits = kDefaultWindowBits,
                                LzxLevel level = LzxLevel::Default);
    ~LzxIntervalEncoder(); // out of line: usable where its parts are not known

    // Appends the compressed form of one interval of length bytes (whole
    // frames, at most a window) to out, with its frame offsets counted from
    // the start of out.bytes. data holds its first bytes; zeros follow.
    // An interval that goes on the stream this encoder wrote last (out the
    // same and not emptied since) is parsed with the costs of the trees of
    // the one before; the first of a stream with fixed guesses. So a
    // stream's bytes depend on its own intervals only, whatever this
    // encoder did before.
    void Encode(std::span<const std::uint8_t> data, std::size_t length, LzxStream& out);

private:
    struct Coded;
    struct Frequencies;
    struct Block;
    struct Trees;
    std::size_t ItemEnd(std::size_t frame) const;
    std::size_t FrameBits(const Trees& trees, std::size_t frame) const;
    std::vector<LzxRepeatQueue> FrameReps() const;
    void Plan(std::vector<Block>& blocks);
    void Write(const std::vector<Block>& blocks, std::span<const std::uint8_t> data,
               LzxStream& out);

    unsigned windowBits_;
    LzxLevel level_;
    unsigned mainSymbols_;
    LzxLazyParser<std::uint16_t> smallParser_; // for windows of 64 KiB
    LzxLazyParser<std::uint32_t> largeParser_;
    LzxNearOptimalParser bestParser_;
    std::vector<std::uint8_t> padded_;
    std::vector<LzxItem> items_;
    std::vector<std::size_t> frameStarts_;
    std::vector<Coded> coded_;
    std::vector<Frequencies> frameFrequencies_;
    LzxLazyCosts costs_ = LzxLazyCosts::Guess();
    const LzxStream* lastStream_ = nullptr;
    std::size_t lastStreamEnd_ = 0;
};

// Compresses a whole stream into LzxFrameCount(data.size()) frames, its
// reset intervals on up to `threads` threads at once (0: one per core),
// joined in order: the result is the same for any thread count. progress, when set, is called on
// the calling thread with the number of leading input bytes whose compression is complete, each
// time it grows. Once *stop (when given) is true, no further interval is begun and the result is
// an empty stream.
LzxStream LzxCompress(std::span<const std::uint8_t> data, unsigned windowBits = kDefaultWindowBits,
                      unsigned threads = 0, const std::function<void(std::uint64_t)>& progress = {},
                      const std::atomic<bool>* stop = nullptr, LzxLevel level = LzxLevel::Default);

} // namespace tbx::chm
