#include "platform/files.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tbx {
namespace {

// Bytes read back from where they were set aside, held or spilled, are the
// bytes given: across the buffer's 1 MiB blocks, in pieces, and at the end.
TEST(SpillBufferTest, ReadsBackWhatWasAppendedWhereverItWaits) {
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 77);
    std::uint32_t seed = 12345;
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
    const test::TempDir dir;
    for (const std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{64} << 20}) {
        SCOPED_TRACE(limit);
        SpillBuffer buffer(dir / "beside", limit);
        // Pieces that do not line up with the blocks.
        for (std::size_t at = 0; at < bytes.size(); at += 700001)
            buffer.Append(bytes.data() + at, std::min<std::size_t>(700001, bytes.size() - at));
        ASSERT_EQ(buffer.Size(), bytes.size());
        const std::pair<std::uint64_t, std::size_t> reads[] = {
            {0, 10},           {(1 << 20) - 5, 10},  {1000, 2 << 20}, {bytes.size() - 3, 10},
            {bytes.size(), 4}, {bytes.size() + 9, 4}};
        for (const auto& [offset, size] : reads) {
            std::vector<std::uint8_t> into(size, 0xEE);
            const std::size_t got = buffer.ReadAt(offset, into);
            const std::size_t want =
                offset >= bytes.size() ? 0 : std::min<std::size_t>(size, bytes.size() - offset);
            ASSERT_EQ(got, want) << offset;
            if (got > 0) {
                EXPECT_TRUE(std::equal(into.begin(), into.begin() + got, bytes.begin() + offset))
                    << offset;
            }
        }
    }
}

} // namespace
} // namespace tbx
