#include "chm/lzx_encoder.h"
#include "chm_test_data.h"

#include <gtest/gtest.h>

namespace tbx::chm {
namespace {

// Intervals are compressed on many threads and joined in order: the
// stream must not depend on the thread count, must have one frame offset
// per 32 KiB frame (with at least two bytes of padding in the last), and
// no frame may outgrow what the readers buffer. The first block is of the
// kind that suits the data.
TEST(LzxEncoder, StreamIsTheSameOnAnyThreadCountAndFramesStayBounded) {
    struct Input {
        std::string name;
        std::string bytes;
        LzxBlockType firstBlock;
    };
    const std::vector<Input> inputs = {
        {"text", test::Prose(1, 1'500'000), LzxBlockType::Verbatim},
        {"random", test::RandomBytes(2, 400'000), LzxBlockType::Uncompressed},
        {"runs", test::Runs(3, 700'001), LzxBlockType::Verbatim},
        {"records", test::Records(5, 300'000), LzxBlockType::Aligned},
        {"up to a frame end", test::Prose(4, 3 * kLzxFrameSize - 1), LzxBlockType::Verbatim},
    };
    for (const auto& [name, text, firstBlock] : inputs) {
        SCOPED_TRACE(name);
        const std::span data(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const LzxStream one = LzxCompress(data, kDefaultWindowBits, 1);
        const std::size_t frames = (text.size() + 1) / kLzxFrameSize + 1;
        ASSERT_EQ(one.frameOffsets.size(), frames);
        EXPECT_EQ(one.frameOffsets[0], 0u);
        // The first 16-bit word: the E8 flag, then the block type.
        EXPECT_EQ((GetLe(one.bytes.data(), 2) >> 12) & 7, static_cast<unsigned>(firstBlock));
        for (std::size_t f = 0; f < frames; ++f) {
            const std::uint64_t end = f + 1 < frames ? one.frameOffsets[f + 1] : one.bytes.size();
            EXPECT_LT(one.frameOffsets[f], end);
            EXPECT_LE(end - one.frameOffsets[f], kLzxFrameSize + 6144) << "frame " << f;
            EXPECT_EQ(end % 2, 0u) << "frame " << f << " does not end on a 16-bit boundary";
        }
        for (const unsigned threads : {2u, 7u}) {
            const LzxStream many = LzxCompress(data, kDefaultWindowBits, threads);
            EXPECT_EQ(many.bytes, one.bytes) << threads << " threads";
            EXPECT_EQ(many.frameOffsets, one.frameOffsets) << threads << " threads";
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
