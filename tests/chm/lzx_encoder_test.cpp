#include "chm/lzx_decoder.h"
#include "chm/lzx_encoder.h"
#include "chm_test_data.h"

#include <gtest/gtest.h>

namespace tbx::chm {
namespace {

// The bytes a stream stands for, each reset interval decoded from its own
// frame offset as readers seek; empty when a frame fails.
std::string Decoded(const LzxStream& stream, unsigned windowBits) {
    const std::size_t frames = stream.frameOffsets.size();
    const std::size_t intervalFrames = (std::size_t{1} << windowBits) / kLzxFrameSize;
    LzxDecoder decoder(windowBits);
    std::string bytes;
    for (std::size_t first = 0; first < frames; first += intervalFrames) {
        const std::size_t start = stream.frameOffsets[first];
        const std::size_t end = first + intervalFrames < frames
                                    ? stream.frameOffsets[first + intervalFrames]
                                    : stream.bytes.size();
        BitReader in(std::span(stream.bytes).subspan(start, end - start));
        decoder.Reset();
        for (std::size_t f = first; f < std::min(frames, first + intervalFrames); ++f) {
            const LzxDecoder::Result result = decoder.DecodeFrame(in);
            if (result.error)
                return {};
            bytes.append(result.frame.begin(), result.frame.end());
        }
    }
    return bytes;
}

// Intervals are compressed on many threads and joined in order: the
// stream must decode back to the input (zeros after it), not depend on the
// thread count, have one frame offset per 32 KiB frame (with at least two
// bytes of padding in the last), and no frame may outgrow what the readers
// buffer. The first block is of the kind that suits the data.
TEST(LzxEncoder, StreamDecodesBackTheSameOnAnyThreadCountInBoundedFrames) {
    struct Input {
        std::string name;
        std::string bytes;
        LzxBlockType firstBlock;
        unsigned windowBits = kDefaultWindowBits;
        LzxLevel level = LzxLevel::Default;
    };
    const std::vector<Input> inputs = {
        {"text", test::Prose(1, 1'500'000), LzxBlockType::Verbatim},
        {"random", test::RandomBytes(2, 400'000), LzxBlockType::Uncompressed},
        {"runs", test::Runs(3, 700'001), LzxBlockType::Verbatim},
        {"records", test::Records(5, 300'000), LzxBlockType::Aligned},
        {"up to a frame end", test::Prose(4, 3 * kLzxFrameSize - 1), LzxBlockType::Verbatim},
        // A stored frame, then one compressed that repeats offsets the
        // parse met in the stored one.
        {"stored, then compressed", test::RandomBytes(5, 45'000), LzxBlockType::Uncompressed},
        {"window of 2 MiB", test::Prose(7, 2'300'000), LzxBlockType::Verbatim, 21},
        {"best: text", test::Prose(1, 300'000), LzxBlockType::Verbatim, 16, LzxLevel::Best},
        {"best: runs", test::Runs(3, 200'001), LzxBlockType::Verbatim, 16, LzxLevel::Best},
        {"best: records", test::Records(5, 150'000), LzxBlockType::Aligned, 16, LzxLevel::Best},
        {"best: stored, then compressed", test::RandomBytes(5, 45'000), LzxBlockType::Uncompressed,
         16, LzxLevel::Best},
        {"best: window of 2 MiB", test::Prose(7, 2'200'000), LzxBlockType::Verbatim, 21,
         LzxLevel::Best},
    };
    for (const auto& [name, text, firstBlock, windowBits, level] : inputs) {
        SCOPED_TRACE(name);
        const std::span data(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const LzxStream one = LzxCompress(data, windowBits, 1, {}, nullptr, level);
        const std::size_t frames = (text.size() + 1) / kLzxFrameSize + 1;
        ASSERT_EQ(one.frameOffsets.size(), frames);
        EXPECT_EQ(one.frameOffsets[0], 0u);
        // The first 16-bit word: the E8 flag, then the block type.
        EXPECT_EQ((GetLe16(one.bytes.data()) >> 12) & 7, static_cast<unsigned>(firstBlock));
        for (std::size_t f = 0; f < frames; ++f) {
            const std::uint64_t end = f + 1 < frames ? one.frameOffsets[f + 1] : one.bytes.size();
            EXPECT_LT(one.frameOffsets[f], end);
            EXPECT_LE(end - one.frameOffsets[f], kLzxFrameSize + 6144) << "frame " << f;
            EXPECT_EQ(end % 2, 0u) << "frame " << f << " does not end on a 16-bit boundary";
        }
        std::string padded = text;
        padded.resize(frames * kLzxFrameSize, '\0');
        EXPECT_TRUE(Decoded(one, windowBits) == padded);
        for (const unsigned threads : {2u, 7u}) {
            const LzxStream many = LzxCompress(data, windowBits, threads, {}, nullptr, level);
            EXPECT_EQ(many.bytes, one.bytes) << threads << " threads";
            EXPECT_EQ(many.frameOffsets, one.frameOffsets) << threads << " threads";
        }
        // The slower level is worth its time only when smaller on what
        // compresses at all.
        if (level == LzxLevel::Best && firstBlock != LzxBlockType::Uncompressed) {
            EXPECT_LT(one.bytes.size(), LzxCompress(data, windowBits).bytes.size());
        }
    }
}

// The slot of every coded offset up to the largest window: 0 to 2 for the
// repeated offsets, else the one whose range holds the offset.
TEST(LzxEncoder, PositionSlotHoldsEveryCodedOffset) {
    for (std::uint32_t coded = 0; coded < (1u << kLzxMaxWindowBits) + 2; ++coded) {
        const unsigned slot = LzxPositionSlot(coded);
        if (coded < 3) {
            ASSERT_EQ(slot, coded);
            continue;
        }
        ASSERT_LT(slot, kLzxMaxPositionSlots) << coded;
        ASSERT_LE(kLzxPositionBase[slot], coded) << coded;
        ASSERT_LT(coded - kLzxPositionBase[slot], 1u << kLzxExtraBits[slot]) << coded;
    }
}

} // namespace
} // namespace tbx::chm
