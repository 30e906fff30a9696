#include "chm/lzx_encoder.h"

#include "chm/bit_writer.h"
#include "chm/huffman.h"
#include "chm/interval_pool.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <utility>

namespace tbx::chm {
namespace {

constexpr unsigned kPretreeMaxLength = 15; // lengths are sent in 4 bits
constexpr unsigned kAlignedMaxLength = 7;  // and in 3 bits
// A match of at most 8 bytes has no length symbol and a footer of under 3
// bits has no aligned symbol: they count and send these spare symbols,
// which always have no bits, so that every pass over the parse runs
// without a branch per item.
constexpr std::uint16_t kNoLengthSymbol = kLzxLengthSymbols;
constexpr std::uint8_t kNoAlignedSymbol = kLzxAlignedSymbols;
constexpr unsigned kMainSplit = kLzxNumChars; // the main tree goes in two parts

// The largest compressed frame the strictest reader accepts.
constexpr std::size_t kMaxFrameBits = (kLzxFrameSize + 6144) * 8;

// The tree lengths of one part of a tree, coded against the lengths the
// reader holds from the previous block, as pretree symbols.
struct CodedLengths {
    struct Token {
        std::uint8_t symbol;
        std::uint8_t extra; // run length bits of symbols 17, 18, 19
    };
    std::vector<Token> tokens;
    std::array<std::uint8_t, kLzxPretreeSymbols> lengths{};
    std::array<std::uint16_t, kLzxPretreeSymbols> codes{};
    std::size_t bits = 0;
};

unsigned RunExtraBits(std::uint8_t symbol) {
    return symbol == 17 ? 4 : symbol == 18 ? 5 : symbol == 19 ? 1 : 0;
}

void CodeLengths(const std::uint8_t* previous, const std::uint8_t* current, std::size_t count,
                 CodedLengths& out) {
    out.tokens.clear();
    const auto delta = [&](std::size_t i) {
        return static_cast<std::uint8_t>((previous[i] + 17 - current[i]) % 17);
    };
    for (std::size_t i = 0; i < count;) {
        std::size_t run = 1;
        while (i + run < count && current[i + run] == current[i])
            ++run;
        if (current[i] == 0 && run >= 4) {
            // Zeros: 17 covers 4..19 of them, 18 covers 20..51.
            const std::size_t take = std::min<std::size_t>(run, 51);
            if (take >= 20)
                out.tokens.push_back({18, static_cast<std::uint8_t>(take - 20)});
            else
                out.tokens.push_back({17, static_cast<std::uint8_t>(take - 4)});
            i += take;
        } else if (run >= 4) {
            // 4 or 5 equal lengths, given as one change from the first
            // position's previous length.
            const std::size_t take = std::min<std::size_t>(run, 5);
            out.tokens.push_back({19, static_cast<std::uint8_t>(take - 4)});
            out.tokens.push_back({delta(i), 0});
            i += take;
        } else {
            out.tokens.push_back({delta(i), 0});
            ++i;
        }
    }
    std::array<std::uint32_t, kLzxPretreeSymbols> frequencies{};
    for (const auto& token : out.tokens)
        ++frequencies[token.symbol];
    BuildCodeLengths(frequencies, kPretreeMaxLength, out.lengths);
    AssignCanonicalCodes(out.lengths, out.codes);
    out.bits = kLzxPretreeSymbols * 4;
    for (const auto& token : out.tokens)
        out.bits += out.lengths[token.symbol] + RunExtraBits(token.symbol);
}

void PutCodedLengths(BitWriter& bits, const CodedLengths& coded) {
    for (const std::uint8_t length : coded.lengths)
        bits.Put(length, 4);
    for (const auto& token : coded.tokens) {
        bits.Put(coded.codes[token.symbol], coded.lengths[token.symbol]);
        bits.Put(token.extra, RunExtraBits(token.symbol));
    }
}

} // namespace

// How often each symbol occurs in a stretch of the parse.
struct LzxIntervalEncoder::Frequencies {
    std::vector<std::uint32_t> main;
    std::array<std::uint32_t, kLzxLengthSymbols + 1> length{};
    std::array<std::uint32_t, kLzxAlignedSymbols + 1> aligned{};
    std::uint64_t extraBits = 0; // footer bits sent as they are in a verbatim block

    void Add(const Frequencies& other) {
        for (std::size_t s = 0; s < main.size(); ++s)
            main[s] += other.main[s];
        for (std::size_t s = 0; s < length.size(); ++s)
            length[s] += other.length[s];
        for (std::size_t s = 0; s < aligned.size(); ++s)
            aligned[s] += other.aligned[s];
        extraBits += other.extraBits;
    }

    // Footers whose low 3 bits an aligned block codes.
    std::uint64_t AlignedFooters() const {
        std::uint64_t n = 0;
        for (unsigned s = 0; s < kLzxAlignedSymbols; ++s)
            n += aligned[s];
        return n;
    }
};

namespace {

std::uint64_t CostOf(std::span<const std::uint32_t> frequencies,
                     std::span<const std::uint8_t> lengths) {
    std::uint64_t bits = 0;
    for (std::size_t s = 0; s < frequencies.size(); ++s)
        bits += std::uint64_t{frequencies[s]} * lengths[s];
    return bits;
}

// Bits of an uncompressed block of one frame: header, alignment, the three
// repeated offsets, the bytes.
constexpr std::size_t kUncompressedFrameBits = 3 + 24 + 16 + 96 + kLzxFrameSize * 8;

} // namespace

struct LzxIntervalEncoder::Coded {
    std::uint16_t main;
    std::uint16_t length; // length-tree symbol, or kNoLengthSymbol
    std::uint32_t extra;  // footer bits of the offset
    std::uint8_t extraBits;
    std::uint8_t aligned; // the low 3 footer bits, or kNoAlignedSymbol
};

// The trees of a compressed block, ready to be sent.
struct LzxIntervalEncoder::Trees {
    std::vector<std::uint8_t> mainLengths;
    std::vector<std::uint16_t> mainCodes;
    // Each with the spare symbol last, of no bits.
    std::array<std::uint8_t, kLzxLengthSymbols + 1> lengthLengths{};
    std::array<std::uint16_t, kLzxLengthSymbols + 1> lengthCodes{};
    std::array<std::uint8_t, kLzxAlignedSymbols + 1> alignedLengths{};
    std::array<std::uint16_t, kLzxAlignedSymbols + 1> alignedCodes{};
    CodedLengths mainLow, mainHigh, lengthTree;
    bool aligned = false;
    std::uint64_t headerBits = 0; // block header and trees
    std::uint64_t bits = 0;       // the whole block

    // Builds the trees for the frequencies, coded against the previous
    // block's lengths, and picks verbatim or aligned by size.
    void Build(const Frequencies& f, const std::vector<std::uint8_t>& previousMain,
               const std::array<std::uint8_t, kLzxLengthSymbols + 1>& previousLength) {
        const std::size_t mainSymbols = f.main.size();
        mainLengths.resize(mainSymbols);
        mainCodes.resize(mainSymbols);
        const auto lengthPart = std::span(lengthLengths).first<kLzxLengthSymbols>();
        const auto alignedPart = std::span(alignedLengths).first<kLzxAlignedSymbols>();
        BuildCodeLengths(f.main, kLzxMaxCodeLength, mainLengths);
        BuildCodeLengths(std::span(f.length).first<kLzxLengthSymbols>(), kLzxMaxCodeLength,
                         lengthPart);
        BuildCodeLengths(std::span(f.aligned).first<kLzxAlignedSymbols>(), kAlignedMaxLength,
                         alignedPart);
        AssignCanonicalCodes(mainLengths, mainCodes);
        AssignCanonicalCodes(lengthPart, std::span(lengthCodes).first<kLzxLengthSymbols>());
        AssignCanonicalCodes(alignedPart, std::span(alignedCodes).first<kLzxAlignedSymbols>());
        CodeLengths(previousMain.data(), mainLengths.data(), kMainSplit, mainLow);
        CodeLengths(previousMain.data() + kMainSplit, mainLengths.data() + kMainSplit,
                    mainSymbols - kMainSplit, mainHigh);
        CodeLengths(previousLength.data(), lengthLengths.data(), kLzxLengthSymbols, lengthTree);

        const std::uint64_t header = 3 + 24 + mainLow.bits + mainHigh.bits + lengthTree.bits;
        const std::uint64_t verbatim =
            header + CostOf(f.main, mainLengths) + CostOf(f.length, lengthLengths) + f.extraBits;
        const std::uint64_t withAligned = verbatim + kLzxAlignedSymbols * 3 +
                                          CostOf(f.aligned, alignedLengths) -
                                          3 * f.AlignedFooters();
        aligned = withAligned < verbatim;
        bits = aligned ? withAligned : verbatim;
        headerBits = header + (aligned ? kLzxAlignedSymbols * 3 : 0);
    }
};

struct LzxIntervalEncoder::Block {
    LzxBlockType type;
    std::size_t firstFrame;
    std::size_t endFrame;
    Trees trees; // unused by an uncompressed block
};

LzxIntervalEncoder::LzxIntervalEncoder(unsigned windowBits, LzxLevel level)
    : windowBits_(windowBits), level_(level), mainSymbols_(LzxMainSymbols(windowBits)) {
    assert(LzxWindowSupported(windowBits));
}

LzxIntervalEncoder::~LzxIntervalEncoder() = default;

void LzxIntervalEncoder::Encode(std::span<const std::uint8_t> data, std::size_t length,
                                LzxStream& out) {
    assert(length % kLzxFrameSize == 0 && length <= (std::size_t{1} << windowBits_) &&
           data.size() <= length);
    if (length == 0)
        return;
    std::span<const std::uint8_t> interval = data;
    if (data.size() < length) {
        padded_.assign(data.begin(), data.end());
        padded_.resize(length, 0);
        interval = padded_;
    }
    const std::uint32_t maxDistance = (1u << windowBits_) - 3;
    if (&out != lastStream_ || out.bytes.size() != lastStreamEnd_ || out.bytes.empty())
        costs_ = LzxLazyCosts::Guess();
    if (windowBits_ <= 16)
        smallParser_.Parse(interval.data(), interval.size(), maxDistance, costs_, items_,
                           frameStarts_);
    else
        largeParser_.Parse(interval.data(), interval.size(), maxDistance, costs_, items_,
                           frameStarts_);
    if (level_ == LzxLevel::Best)
        bestParser_.Parse(interval.data(), interval.size(), maxDistance, mainSymbols_, items_,
                          frameStarts_);

    // The coded items and the symbol counts of every frame.
    const std::size_t frames = frameStarts_.size();
    coded_.resize(items_.size());
    frameFrequencies_.resize(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        Frequencies& freq = frameFrequencies_[f];
        freq.main.assign(mainSymbols_, 0);
        freq.length.fill(0);
        freq.aligned.fill(0);
        std::uint64_t extraBitsSum = 0;
        for (std::size_t i = frameStarts_[f], end = ItemEnd(f); i < end; ++i) {
            // Without a branch on the kind of item: half are literals, in no
            // order a predictor could learn. The repeated offsets (slots 0
            // to 2) have no footer bits and their base is their own code.
            const LzxItem item = items_[i];
            const std::uint32_t matchMask = 0u - std::uint32_t{item.length != 0};
            const unsigned slot = LzxPositionSlot(item.value);
            const unsigned header = std::min(item.length - kLzxMinMatch, kLzxPrimaryLengths);
            const std::uint32_t extraBits = kLzxExtraBits[slot] & matchMask;
            const std::uint32_t extra = (item.value - kLzxPositionBase[slot]) & matchMask;
            const std::uint32_t matchSymbol = kLzxNumChars + slot * 8 + header;
            const std::uint32_t main = item.value ^ ((item.value ^ matchSymbol) & matchMask);
            // (Selections by mask: the compiler makes branches of ?: here.)
            const std::uint32_t longMask =
                0u - std::uint32_t{item.length >= kLzxMinMatch + kLzxPrimaryLengths};
            const std::uint32_t length =
                kNoLengthSymbol +
                ((item.length - kLzxMinMatch - kLzxPrimaryLengths - kNoLengthSymbol) & longMask);
            const std::uint32_t alignedMask = 0u - std::uint32_t{extraBits >= 3};
            const std::uint32_t aligned =
                kNoAlignedSymbol + (((extra & 7) - kNoAlignedSymbol) & alignedMask);
            coded_[i] = {static_cast<std::uint16_t>(main), static_cast<std::uint16_t>(length),
                         extra, static_cast<std::uint8_t>(extraBits),
                         static_cast<std::uint8_t>(aligned)};
            ++freq.main[main];
            ++freq.length[length];
            ++freq.aligned[aligned];
            extraBitsSum += extraBits;
        }
        freq.extraBits = extraBitsSum;
    }

    std::vector<Block> blocks;
    Plan(blocks);
    Write(blocks, interval, out);
    lastStream_ = &out;
    lastStreamEnd_ = out.bytes.size();
    // The next interval is weighed by the trees of this one's last
    // compressed block.
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block)
        if (block->type != LzxBlockType::Uncompressed) {
            costs_ = LzxLazyCosts::FromTrees(block->trees.mainLengths.data(), mainSymbols_,
                                             block->trees.lengthLengths.data());
            break;
        }
}

std::size_t LzxIntervalEncoder::ItemEnd(std::size_t frame) const {
    return frame + 1 < frameStarts_.size() ? frameStarts_[frame + 1] : coded_.size();
}

std::size_t LzxIntervalEncoder::FrameBits(const Trees& trees, std::size_t frame) const {
    // An aligned block sends the low 3 footer bits by their own tree.
    std::array<int, kLzxAlignedSymbols + 1> alignedDelta{};
    if (trees.aligned)
        for (unsigned s = 0; s < kLzxAlignedSymbols; ++s)
            alignedDelta[s] = trees.alignedLengths[s] - 3;
    std::size_t bits = 0;
    for (std::size_t i = frameStarts_[frame], end = ItemEnd(frame); i < end; ++i) {
        const Coded& c = coded_[i];
        bits += trees.mainLengths[c.main] + trees.lengthLengths[c.length] + c.extraBits +
                alignedDelta[c.aligned];
    }
    return bits;
}

void LzxIntervalEncoder::Plan(std::vector<Block>& blocks) {
    const std::size_t frames = frameStarts_.size();
    // One block per frame, each compressed or stored, whichever is smaller.
    std::vector<std::uint8_t> previousMain(mainSymbols_, 0);
    std::array<std::uint8_t, kLzxLengthSymbols + 1> previousLength{};
    std::uint64_t perFrameBits = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        Block block{LzxBlockType::Uncompressed, f, f + 1, {}};
        block.trees.Build(frameFrequencies_[f], previousMain, previousLength);
        if (block.trees.bits < kUncompressedFrameBits) {
            block.type = block.trees.aligned ? LzxBlockType::Aligned : LzxBlockType::Verbatim;
            previousMain = block.trees.mainLengths;
            previousLength = block.trees.lengthLengths;
            perFrameBits += block.trees.bits;
        } else {
            perFrameBits += kUncompressedFrameBits;
        }
        blocks.push_back(std::move(block));
    }
    if (frames < 2)
        return;

    // One block over the whole interval saves the trees of every frame but
    // the first; it is taken when smaller and no frame outgrows the limit.
    Frequencies all = frameFrequencies_[0];
    for (std::size_t f = 1; f < frames; ++f)
        all.Add(frameFrequencies_[f]);
    Block whole{LzxBlockType::Verbatim, 0, frames, {}};
    whole.trees.Build(all, std::vector<std::uint8_t>(mainSymbols_, 0), {});
    if (whole.trees.bits >= perFrameBits)
        return;
    for (std::size_t f = 0; f < frames; ++f)
        if (FrameBits(whole.trees, f) + (f == 0 ? whole.trees.headerBits : 0) > kMaxFrameBits)
            return;
    whole.type = whole.trees.aligned ? LzxBlockType::Aligned : LzxBlockType::Verbatim;
    blocks.clear();
    blocks.push_back(std::move(whole));
}

// The repeated offsets the parse holds at the start of each frame and at
// the end of the interval. An uncompressed block must hand the reader
// those of its end: it sends no matches, but the parse went on through it,
// and the blocks after it repeat the offsets of the matches it met there.
std::vector<LzxRepeatQueue> LzxIntervalEncoder::FrameReps() const {
    std::vector<LzxRepeatQueue> frameReps(frameStarts_.size() + 1);
    for (std::size_t f = 0, i = 0; f < frameStarts_.size(); ++f) {
        frameReps[f + 1] = frameReps[f];
        for (; i < ItemEnd(f); ++i)
            if (items_[i].length != 0)
                frameReps[f + 1].Apply(items_[i].value);
    }
    return frameReps;
}

void LzxIntervalEncoder::Write(const std::vector<Block>& blocks, std::span<const std::uint8_t> data,
                               LzxStream& out) {
    const std::size_t frames = frameStarts_.size();
    std::vector<LzxRepeatQueue> frameReps;
    for (const Block& block : blocks)
        if (block.type == LzxBlockType::Uncompressed && frameReps.empty())
            frameReps = FrameReps();

    BitWriter bits(out.bytes);
    out.frameOffsets.push_back(out.bytes.size());
    bits.Put(0, 1); // no E8 translation
    for (const Block& block : blocks) {
        const std::size_t size = (block.endFrame - block.firstFrame) * kLzxFrameSize;
        bits.Put(static_cast<std::uint32_t>(block.type), 3);
        bits.Put(static_cast<std::uint32_t>(size >> 8), 16);
        bits.Put(static_cast<std::uint32_t>(size & 0xFF), 8);
        if (block.type == LzxBlockType::Uncompressed) {
            // 1 to 16 bits of padding, R0..R2 as they stand after the block,
            // then the bytes as they are.
            bits.Put(0, 16 - bits.PendingBits());
            bits.Align();
            std::uint8_t header[12];
            for (int r = 0; r < 3; ++r)
                PutLe32(header + 4 * r, frameReps[block.endFrame][r]);
            bits.PutBytes(header, sizeof header);
            bits.PutBytes(data.data() + block.firstFrame * kLzxFrameSize, size);
            if (block.endFrame < frames)
                out.frameOffsets.push_back(out.bytes.size());
            continue;
        }
        const Trees& t = block.trees;
        if (t.aligned)
            for (unsigned s = 0; s < kLzxAlignedSymbols; ++s)
                bits.Put(t.alignedLengths[s], 3);
        PutCodedLengths(bits, t.mainLow);
        PutCodedLengths(bits, t.mainHigh);
        PutCodedLengths(bits, t.lengthTree);
        for (std::size_t f = block.firstFrame; f < block.endFrame; ++f) {
            // The main and length codes (16 bits at most each) go out
            // together; a missing length code or aligned code has no bits.
            for (std::size_t i = frameStarts_[f], end = ItemEnd(f); i < end; ++i) {
                const Coded& c = coded_[i];
                const unsigned lengthBits = t.lengthLengths[c.length];
                bits.Put(std::uint32_t{t.mainCodes[c.main]} << lengthBits | t.lengthCodes[c.length],
                         t.mainLengths[c.main] + lengthBits);
                if (t.aligned) {
                    const unsigned low = 3 * unsigned{c.aligned != kNoAlignedSymbol};
                    const unsigned alignedBits = t.alignedLengths[c.aligned];
                    bits.Put((c.extra >> low) << alignedBits | t.alignedCodes[c.aligned],
                             c.extraBits - low + alignedBits);
                } else {
                    bits.Put(c.extra, c.extraBits);
                }
            }
            // Every frame ends on a 16-bit boundary.
            bits.Align();
            if (f + 1 < frames)
                out.frameOffsets.push_back(out.bytes.size());
        }
    }
}

LzxStream LzxCompress(std::span<const std::uint8_t> data, unsigned windowBits, unsigned threads,
                      const std::function<void(std::uint64_t)>& progress,
                      const std::atomic<bool>* stop, LzxLevel level) {
    assert(LzxWindowSupported(windowBits));
    const std::size_t intervalSize = std::size_t{1} << windowBits;
    const std::size_t coded = LzxFrameCount(data.size()) * kLzxFrameSize;
    const std::size_t intervals = (coded + intervalSize - 1) / intervalSize;
    // A task is a few intervals: enough to keep every thread busy to the end.
    constexpr std::size_t kIntervalsPerTask = 4;
    const std::size_t tasks = (intervals + kIntervalsPerTask - 1) / kIntervalsPerTask;

    const auto slice = [&](std::size_t task) {
        const std::size_t begin = task * kIntervalsPerTask * intervalSize;
        return std::pair(begin, std::min(coded, begin + kIntervalsPerTask * intervalSize));
    };
    std::vector<LzxStream> slots(IntervalSlots(tasks, threads));
    LzxStream stream;
    IntervalTasks run;
    run.count = tasks;
    run.threads = threads;
    run.stop = stop;
    run.makeWorker = [&]() -> SlotWorker {
        return [&, encoder = LzxIntervalEncoder(windowBits, level)](std::size_t slot,
                                                                    std::size_t task) mutable {
            const auto [begin, end] = slice(task);
            for (std::size_t at = begin; at < end; at += intervalSize) {
                const std::size_t length = std::min(intervalSize, end - at);
                const std::size_t from = std::min(at, data.size());
                encoder.Encode(data.subspan(from, std::min(length, data.size() - from)), length,
                               slots[slot]);
            }
        };
    };
    run.load = [&](std::size_t slot, std::size_t) {
        slots[slot].bytes.clear();
        slots[slot].frameOffsets.clear();
    };
    run.deliver = [&](std::size_t slot, std::size_t task) {
        const LzxStream& part = slots[slot];
        const std::uint64_t base = stream.bytes.size();
        for (const std::uint64_t offset : part.frameOffsets)
            stream.frameOffsets.push_back(base + offset);
        stream.bytes.insert(stream.bytes.end(), part.bytes.begin(), part.bytes.end());
        if (progress)
            progress(std::min<std::uint64_t>(data.size(), slice(task).second));
    };
    if (!RunIntervalTasks(run))
        return {};
    return stream;
}

} // namespace tbx::chm
