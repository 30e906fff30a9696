// The LZX decoder on streams of every block kind, code shape and window,
// checked against the bytes each stream stands for and against chmlib's
// decoder; and on damaged streams, which must fail, never harm.

#include "chm/lzx_decoder.h"
#include "chm/lzx_stream.h"

#include <functional>
#include <gtest/gtest.h>
#include <lzx.h>
#include <random>
#include <string>

namespace tbx::chm {
namespace {

using Type = LzxBlockType;
using test::LzxStreamWriter;

struct BlockPlan {
    Type type;
    std::uint32_t size;
    test::LzxShape shape{};
};

struct Scenario {
    std::string name;
    unsigned windowBits;
    unsigned resetFrames;
    unsigned frames;
    std::vector<BlockPlan> blocks; // used in turn, each cut at its run's end
    std::uint32_t e8Size = 0;
    unsigned maxMatch = kLzxMaxMatch;
};

// Literals from a small alphabet (with many 0xE8 bytes, as machine code
// has) and matches of every length, offset slot and repeated offset, none
// past the block, the frame or the start of the run.
void Fill(LzxStreamWriter& out, std::mt19937& random, std::size_t bytes, const Scenario& scenario) {
    const std::uint32_t window = 1u << scenario.windowBits;
    while (bytes > 0) {
        const std::size_t room = std::min<std::size_t>(bytes, scenario.maxMatch);
        const std::size_t history = std::min<std::size_t>(out.RunOutput(), window - 3);
        if (out.Uncompressed() || room < kLzxMinMatch || history == 0 || random() % 3 == 0) {
            out.Literal(random() % 4 == 0 ? 0xE8 : static_cast<std::uint8_t>('a' + random() % 6));
            --bytes;
            continue;
        }
        const unsigned length = kLzxMinMatch + random() % (room - kLzxMinMatch + 1);
        std::uint32_t offset = out.Repeated(random() % 3);
        if (random() % 2 == 0 || offset > history)
            offset = 1 + random() % history;
        out.Match(length, offset);
        bytes -= length;
    }
}

LzxStreamWriter Write(const Scenario& scenario) {
    LzxStreamWriter out(scenario.windowBits);
    std::mt19937 random(scenario.windowBits * 131 + scenario.frames);
    std::size_t next = 0;
    for (unsigned frame = 0; frame < scenario.frames; ++frame) {
        if (frame % scenario.resetFrames == 0)
            out.StartRun(scenario.e8Size);
        const unsigned runEnd =
            std::min(scenario.frames, (frame / scenario.resetFrames + 1) * scenario.resetFrames);
        while (out.FrameLeft() > 0 && out.Output().size() < (frame + 1) * kLzxFrameSize) {
            if (out.BlockLeft() == 0) {
                const BlockPlan& plan = scenario.blocks[next++ % scenario.blocks.size()];
                const std::size_t toRunEnd = runEnd * kLzxFrameSize - out.Output().size();
                out.StartBlock(
                    plan.type,
                    static_cast<std::uint32_t>(std::min<std::size_t>(plan.size, toRunEnd)),
                    plan.shape);
            }
            Fill(out, random, std::min<std::size_t>(out.BlockLeft(), out.FrameLeft()), scenario);
        }
    }
    return out;
}

// Our decoder, one run at a time as the reader does it: each run's input
// ends where the next run starts.
std::string DecodeOurs(const LzxStreamWriter& stream, const Scenario& scenario) {
    LzxDecoder decoder(scenario.windowBits);
    std::string output;
    const std::vector<std::size_t>& starts = stream.FrameStarts();
    for (unsigned first = 0; first < scenario.frames; first += scenario.resetFrames) {
        const unsigned last = std::min(scenario.frames, first + scenario.resetFrames);
        BitReader in(
            std::span(stream.Stream()).subspan(starts[first], starts[last] - starts[first]));
        decoder.Reset();
        for (unsigned frame = first; frame < last; ++frame) {
            const LzxDecoder::Result result = decoder.DecodeFrame(in);
            if (result.error)
                return "error in frame " + std::to_string(frame) + ": " + result.error;
            output.append(result.frame.begin(), result.frame.end());
        }
    }
    return output;
}

// chmlib's decoder, handed one frame at a time as chmlib's reader does.
std::string DecodeChmlib(const LzxStreamWriter& stream, const Scenario& scenario) {
    LZXstate* state = LZXinit(static_cast<int>(scenario.windowBits));
    std::string output;
    std::vector<unsigned char> frame(kLzxFrameSize);
    for (unsigned i = 0; i < scenario.frames; ++i) {
        if (i % scenario.resetFrames == 0)
            LZXreset(state);
        const std::size_t start = stream.FrameStarts()[i];
        std::vector<unsigned char> in(stream.Stream().begin() + start,
                                      stream.Stream().begin() + stream.FrameStarts()[i + 1]);
        in.resize(in.size() + 16); // room for chmlib's lookahead
        if (LZXdecompress(state, in.data(), frame.data(), static_cast<int>(in.size() - 16),
                          static_cast<int>(frame.size())) != DECR_OK) {
            output = "chmlib failed in frame " + std::to_string(i);
            break;
        }
        output.append(frame.begin(), frame.end());
    }
    LZXteardown(state);
    return output;
}

TEST(LzxDecoder, DecodesEveryBlockKindAsChmlibDoes) {
    // Deep codes turned so that their longest codes fall on the letters
    // Fill writes most.
    const auto deep = [](unsigned windowBits) {
        return test::LzxShape{true, true, LzxMainSymbols(windowBits) - 7 - 'a'};
    };
    const test::LzxShape noLengths{false, false, 3};
    const std::vector<Scenario> scenarios = {
        {"verbatim, 64 KiB window", 16, 2, 4, {{Type::Verbatim, 32768}}},
        {"aligned blocks across frames", 16, 2, 4, {{Type::Aligned, 50000}}},
        {"uncompressed blocks of odd sizes",
         16,
         2,
         3,
         {{Type::Uncompressed, 7001}, {Type::Uncompressed, 3}, {Type::Verbatim, 20000}}},
        {"many small blocks of every kind",
         17,
         4,
         5,
         {{Type::Verbatim, 1000},
          {Type::Aligned, 3001},
          {Type::Uncompressed, 501},
          {Type::Aligned, 17},
          {Type::Verbatim, 40000, deep(17)}}},
        {"32 KiB window, a reset every frame",
         15,
         1,
         3,
         {{Type::Aligned, 9000}, {Type::Verbatim, 30000}}},
        {"2 MiB window, 16-bit codes",
         21,
         8,
         6,
         {{Type::Aligned, 100000, deep(21)}, {Type::Verbatim, 70000, deep(21)}}},
        {"no length code", 16, 2, 2, {{Type::Verbatim, 65536, noLengths}}, 0, 8},
        {"E8 translation",
         16,
         2,
         4,
         {{Type::Verbatim, 20000}, {Type::Uncompressed, 4001}, {Type::Aligned, 60000}},
         12'000'000},
    };
    for (const Scenario& scenario : scenarios) {
        const LzxStreamWriter stream = Write(scenario);
        const std::string ours = DecodeOurs(stream, scenario);
        ASSERT_EQ(ours.size(), scenario.frames * kLzxFrameSize) << scenario.name << ": " << ours;
        EXPECT_TRUE(ours == DecodeChmlib(stream, scenario)) << scenario.name;
        if (scenario.e8Size == 0) {
            EXPECT_TRUE(ours == std::string(stream.Output().begin(), stream.Output().end()))
                << scenario.name;
        }
    }
}

// E8 operands become relative to their own place when they point into the
// translation size, at most 10 bytes before a frame's end.
TEST(LzxDecoder, TranslatesE8OperandsBack) {
    struct Call {
        std::size_t at;
        std::int32_t stored;
        std::int32_t expected;
    };
    constexpr std::int32_t kSize = 1'000'000;
    const std::vector<Call> calls = {
        {100, 5000, 5000 - 100},                       // absolute target inside
        {200, -50, -50 + kSize},                       // negative, within reach
        {300, -301, -301},                             // before the start of the run
        {400, kSize, kSize},                           // beyond the translation size
        {32768 - 15, 70000, 70000 - (32768 - 15)},     // last place a call is read
        {32768 - 10, 70000, 70000},                    // in the last 10 bytes: kept
        {32768 + 1000, 40000, 40000 - (32768 + 1000)}, // second frame, counted from the reset
    };
    LzxStreamWriter out(16);
    out.StartRun(kSize);
    out.StartBlock(Type::Uncompressed, 65536);
    std::vector<std::uint8_t> plain(65536, 'x');
    for (const Call& call : calls) {
        plain[call.at] = 0xE8;
        PutLe32(plain.data() + call.at + 1, static_cast<std::uint32_t>(call.stored));
    }
    for (const std::uint8_t byte : plain)
        out.Literal(byte);

    LzxDecoder decoder(16);
    BitReader in(out.Stream());
    std::vector<std::uint8_t> decoded;
    for (int frame = 0; frame < 2; ++frame) {
        const LzxDecoder::Result result = decoder.DecodeFrame(in);
        ASSERT_EQ(result.error, nullptr) << result.error;
        decoded.insert(decoded.end(), result.frame.begin(), result.frame.end());
    }
    for (const Call& call : calls)
        EXPECT_EQ(static_cast<std::int32_t>(GetLe32(decoded.data() + call.at + 1)), call.expected)
            << "call at " << call.at;
    // A frame still in the window is given again, translated the same way.
    const std::span<const std::uint8_t> again = decoder.HeldFrame(0);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), decoded.begin()));
}

// Each damaged stream fails with a reason, and keeps failing until a reset.
TEST(LzxDecoder, DamagedStreamsFail) {
    const auto flat = [](unsigned count) { return test::CompleteLengths(count, false, 0); };
    std::vector<std::uint8_t> incomplete = flat(512);
    incomplete[10] = 0;
    std::vector<std::uint8_t> overfull = flat(512);
    overfull[10] = 1;
    struct Case {
        std::string name;
        std::function<void(LzxStreamWriter&)> write;
    };
    const std::vector<Case> cases = {
        {"block type 0", [](LzxStreamWriter& out) { out.Bits(0, 27); }},
        {"block type 7", [](LzxStreamWriter& out) { out.Bits(7 << 24 | 100, 27); }},
        {"incomplete main code",
         [&](LzxStreamWriter& out) {
             out.StartBlockWith(Type::Verbatim, 100, incomplete,
                                test::CompleteLengths(249, false, 0), {});
         }},
        {"over-full main code",
         [&](LzxStreamWriter& out) {
             out.StartBlockWith(Type::Verbatim, 100, overfull, test::CompleteLengths(249, false, 0),
                                {});
         }},
        {"over-full aligned code",
         [](LzxStreamWriter& out) {
             out.StartBlockWith(Type::Aligned, 100, test::CompleteLengths(512, false, 0),
                                test::CompleteLengths(249, false, 0), {2, 2, 2, 2, 2, 2, 2, 2});
         }},
        {"incomplete length code",
         [](LzxStreamWriter& out) {
             std::vector<std::uint8_t> lengths(249, 0);
             lengths[0] = 1;
             out.StartBlockWith(Type::Verbatim, 100, test::CompleteLengths(512, false, 0), lengths,
                                {});
         }},
        {"pretree of one code",
         [](LzxStreamWriter& out) {
             out.Bits(1 << 24 | 100, 27);
             out.Bits(1, 4);
             out.Bits(0, 19 * 4);
         }},
        {"match before the start",
         [](LzxStreamWriter& out) {
             out.StartBlock(Type::Verbatim, 100);
             for (int i = 0; i < 5; ++i)
                 out.Literal('a');
             out.Match(3, 6);
         }},
        {"match past the block",
         [](LzxStreamWriter& out) {
             out.StartBlock(Type::Verbatim, 10);
             for (int i = 0; i < 8; ++i)
                 out.Literal('a');
             out.Match(5, 1);
         }},
        {"match past the frame",
         [](LzxStreamWriter& out) {
             out.StartBlock(Type::Uncompressed, 32766);
             for (int i = 0; i < 32766; ++i)
                 out.Literal('a');
             out.StartBlock(Type::Verbatim, 100);
             out.Match(20, 1);
         }},
        {"match needs the empty length code",
         [](LzxStreamWriter& out) {
             out.StartBlock(Type::Verbatim, 100, {false, false, 0});
             out.Literal('a');
             // A long match (slot 0, length header 7), with no length code
             // to finish it.
             out.MainSymbol(kLzxNumChars + kLzxPrimaryLengths);
         }},
        {"uncompressed block cut short",
         [](LzxStreamWriter& out) {
             out.StartBlock(Type::Uncompressed, 1000);
             for (int i = 0; i < 500; ++i)
                 out.Literal('a');
         }},
        {"verbatim block cut short",
         [](LzxStreamWriter& out) {
             out.StartBlock(Type::Verbatim, 32768);
             for (int i = 0; i < 5000; ++i)
                 out.Literal('a');
         }},
    };
    for (const Case& test : cases) {
        LzxStreamWriter out(16);
        out.StartRun();
        test.write(out);
        LzxDecoder decoder(16);
        BitReader in(out.Stream());
        const LzxDecoder::Result first = decoder.DecodeFrame(in);
        EXPECT_NE(first.error, nullptr) << test.name;
        EXPECT_NE(decoder.DecodeFrame(in).error, nullptr) << test.name;
    }
}

} // namespace
} // namespace tbx::chm
