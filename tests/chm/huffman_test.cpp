#include "chm/huffman.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tbx::chm {
namespace {

struct Case {
    std::string name;
    std::vector<std::uint32_t> frequencies;
    unsigned maxLength;
};

std::vector<std::uint32_t> Fibonacci(std::size_t count) {
    std::vector<std::uint32_t> f = {1, 1};
    while (f.size() < count)
        f.push_back(f[f.size() - 1] + f[f.size() - 2]);
    return f;
}

std::vector<std::uint32_t> Sparse(std::size_t count,
                                  std::vector<std::pair<std::size_t, std::uint32_t>> set) {
    std::vector<std::uint32_t> f(count, 0);
    for (const auto& [symbol, frequency] : set)
        f[symbol] = frequency;
    return f;
}

// Every tree the encoder sends must be accepted by the strictest reader:
// lengths within the limit, a complete code (Kraft sum exactly 1), at least
// two symbols, every symbol that occurs coded, and the codes prefix-free.
TEST(Huffman, LengthsAreLimitedCompleteAndPrefixFree) {
    std::vector<std::uint32_t> geometric(512, 0);
    for (std::size_t s = 0; s < 512; ++s)
        geometric[s] = 1u << (s % 20);
    const std::vector<Case> cases = {
        {"fibonacci main tree", Fibonacci(40), 16},
        {"fibonacci past 16 bits over 512 symbols",
         [] {
             auto f = Fibonacci(45);
             f.resize(512, 1);
             return f;
         }(),
         16},
        {"powers of two", geometric, 16},
        {"pretree", Fibonacci(20), 15},
        {"aligned tree", {1, 2, 4, 8, 16, 32, 64, 100000}, 7},
        {"one symbol", Sparse(249, {{100, 7}}), 16},
        {"none", std::vector<std::uint32_t>(249, 0), 16},
        {"last symbol only", Sparse(20, {{19, 3}}), 15},
        {"all equal", std::vector<std::uint32_t>(249, 5), 16},
        {"two symbols", Sparse(512, {{3, 1}, {400, 1000000}}), 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> lengths(c.frequencies.size());
        BuildCodeLengths(c.frequencies, c.maxLength, lengths);
        std::uint64_t kraft = 0;
        std::size_t coded = 0;
        for (std::size_t s = 0; s < lengths.size(); ++s) {
            EXPECT_LE(lengths[s], c.maxLength);
            if (c.frequencies[s] != 0) {
                EXPECT_NE(lengths[s], 0) << "symbol " << s;
            }
            if (lengths[s] != 0) {
                kraft += std::uint64_t{1} << (16 - lengths[s]);
                ++coded;
            }
        }
        EXPECT_EQ(kraft, std::uint64_t{1} << 16);
        EXPECT_GE(coded, 2u);

        std::vector<std::uint16_t> codes(lengths.size());
        AssignCanonicalCodes(lengths, codes);
        for (std::size_t a = 0; a < lengths.size(); ++a) {
            for (std::size_t b = 0; b < lengths.size(); ++b) {
                if (a != b && lengths[a] && lengths[b] && lengths[a] <= lengths[b]) {
                    ASSERT_NE(codes[b] >> (lengths[b] - lengths[a]), codes[a])
                        << "code of " << a << " is a prefix of the code of " << b;
                }
            }
        }
    }
}

TEST(Huffman, UnlimitedCodesAreOptimalAndCanonical) {
    std::vector<std::uint8_t> lengths(5);
    BuildCodeLengths(std::vector<std::uint32_t>{4, 0, 1, 1, 2}, 16, lengths);
    EXPECT_EQ(lengths, (std::vector<std::uint8_t>{1, 0, 3, 3, 2}));
    std::vector<std::uint16_t> codes(5);
    AssignCanonicalCodes(lengths, codes);
    EXPECT_EQ(codes, (std::vector<std::uint16_t>{0b0, 0, 0b110, 0b111, 0b10}));
}

} // namespace
} // namespace tbx::chm
