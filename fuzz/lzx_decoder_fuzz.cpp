// The LZX decoder alone. The first byte chooses the window (2^15..2^21),
// the second the frames from one reset point to the next; the rest is the
// stream, decoded frame by frame until it fails or 16 frames are done.

#include "chm/lzx_decoder.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    tbx::chm::LzxDecoder decoder(tbx::chm::kLzxMinWindowBits + data[0] % 7);
    const unsigned resetFrames = 1 + data[1] % 4;
    tbx::chm::BitReader in({data + 2, size - 2});
    for (unsigned frame = 0; frame < 16; ++frame) {
        if (frame % resetFrames == 0)
            decoder.Reset();
        const tbx::chm::LzxDecoder::Result result = decoder.DecodeFrame(in);
        if (result.error)
            break;
        // Frames given back from the window must be the ones decoded.
        const std::span<const std::uint8_t> held = decoder.HeldFrame(decoder.FramesDecoded() - 1);
        if (held.size() != result.frame.size() || held[0] != result.frame[0])
            __builtin_trap();
    }
    return 0;
}
