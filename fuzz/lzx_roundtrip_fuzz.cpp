// The LZX encoder against our decoder: any bytes come back as they went
// in. The first byte chooses the window (2^16..2^21) and the level, the
// second the thread count (1..4); the rest is the data. The stream must also be the one a
// single thread writes, with one frame offset per frame, no frame larger
// than the strictest reader buffers, and every reset interval decodable
// from its own offset, as readers seek.

#include "chm/lzx_decoder.h"
#include "chm/lzx_encoder.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tbx::chm;
    if (size < 2)
        return 0;
    const unsigned windowBits = 16 + data[0] % 6;
    const LzxLevel level = (data[0] / 6) % 2 ? LzxLevel::Best : LzxLevel::Default;
    const unsigned threads = 1 + data[1] % 4;
    const std::span<const std::uint8_t> input(data + 2, size - 2);
    const LzxStream stream = LzxCompress(input, windowBits, threads, {}, nullptr, level);
    const std::uint64_t frames = LzxFrameCount(input.size());
    if (stream.frameOffsets.size() != frames)
        __builtin_trap();
    if (threads > 1) {
        const LzxStream single = LzxCompress(input, windowBits, 1, {}, nullptr, level);
        if (single.bytes != stream.bytes || single.frameOffsets != stream.frameOffsets)
            __builtin_trap();
    }
    const auto frameEnd = [&](std::uint64_t frame) {
        return frame + 1 < frames ? stream.frameOffsets[frame + 1] : stream.bytes.size();
    };
    const std::uint64_t intervalFrames = (std::uint64_t{1} << windowBits) / kLzxFrameSize;
    LzxDecoder decoder(windowBits);
    for (std::uint64_t first = 0; first < frames; first += intervalFrames) {
        const std::uint64_t last = std::min(frames, first + intervalFrames);
        const std::uint64_t start = stream.frameOffsets[first];
        if (start > frameEnd(last - 1))
            __builtin_trap();
        BitReader in(std::span(stream.bytes).subspan(start, frameEnd(last - 1) - start));
        decoder.Reset();
        for (std::uint64_t frame = first; frame < last; ++frame) {
            if (frameEnd(frame) < stream.frameOffsets[frame] ||
                frameEnd(frame) - stream.frameOffsets[frame] > kLzxFrameSize + 6144)
                __builtin_trap();
            const LzxDecoder::Result result = decoder.DecodeFrame(in);
            if (result.error || result.frame.size() != kLzxFrameSize)
                __builtin_trap();
            // The data, then zeros to the end of the last frame.
            const std::uint64_t at = frame * kLzxFrameSize;
            for (std::size_t i = 0; i < kLzxFrameSize; ++i)
                if (result.frame[i] != (at + i < input.size() ? input[at + i] : 0))
                    __builtin_trap();
        }
    }
    return 0;
}
