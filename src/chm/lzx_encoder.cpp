#include "chm/lzx_encoder.h"

#include "chm/bit_writer.h"
#include "chm/huffman.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace tbx::chm {
namespace {

constexpr unsigned kPretreeMaxLength = 15; // lengths are sent in 4 bits
constexpr unsigned kAlignedMaxLength = 7;  // and in 3 bits
constexpr std::uint16_t kNoLengthSymbol = 0xFFFF;
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

// How often each symbol occurs in a stretch of the parse.
struct Frequencies {
    std::vector<std::uint32_t> main;
    std::array<std::uint32_t, kLzxLengthSymbols> length{};
    std::array<std::uint32_t, kLzxAlignedSymbols> aligned{};
    std::uint64_t extraBits = 0;      // footer bits sent as they are in a verbatim block
    std::uint64_t alignedFooters = 0; // footers whose low 3 bits an aligned block codes

    void Add(const Frequencies& other) {
        for (std::size_t s = 0; s < main.size(); ++s)
            main[s] += other.main[s];
        for (std::size_t s = 0; s < length.size(); ++s)
            length[s] += other.length[s];
        for (std::size_t s = 0; s < aligned.size(); ++s)
            aligned[s] += other.aligned[s];
        extraBits += other.extraBits;
        alignedFooters += other.alignedFooters;
    }
};

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
};

// The trees of a compressed block, ready to be sent.
struct LzxIntervalEncoder::Trees {
    std::vector<std::uint8_t> mainLengths;
    std::vector<std::uint16_t> mainCodes;
    std::array<std::uint8_t, kLzxLengthSymbols> lengthLengths{};
    std::array<std::uint16_t, kLzxLengthSymbols> lengthCodes{};
    std::array<std::uint8_t, kLzxAlignedSymbols> alignedLengths{};
    std::array<std::uint16_t, kLzxAlignedSymbols> alignedCodes{};
    CodedLengths mainLow, mainHigh, lengthTree;
    bool aligned = false;
    std::uint64_t headerBits = 0; // block header and trees
    std::uint64_t bits = 0;       // the whole block

    // Builds the trees for the frequencies, coded against the previous
    // block's lengths, and picks verbatim or aligned by size.
    void Build(const Frequencies& f, const std::vector<std::uint8_t>& previousMain,
               const std::array<std::uint8_t, kLzxLengthSymbols>& previousLength) {
        const std::size_t mainSymbols = f.main.size();
        mainLengths.resize(mainSymbols);
        mainCodes.resize(mainSymbols);
        BuildCodeLengths(f.main, kLzxMaxCodeLength, mainLengths);
        BuildCodeLengths(f.length, kLzxMaxCodeLength, lengthLengths);
        BuildCodeLengths(f.aligned, kAlignedMaxLength, alignedLengths);
        AssignCanonicalCodes(mainLengths, mainCodes);
        AssignCanonicalCodes(lengthLengths, lengthCodes);
        AssignCanonicalCodes(alignedLengths, alignedCodes);
        CodeLengths(previousMain.data(), mainLengths.data(), kMainSplit, mainLow);
        CodeLengths(previousMain.data() + kMainSplit, mainLengths.data() + kMainSplit,
                    mainSymbols - kMainSplit, mainHigh);
        CodeLengths(previousLength.data(), lengthLengths.data(), kLzxLengthSymbols, lengthTree);

        const std::uint64_t header = 3 + 24 + mainLow.bits + mainHigh.bits + lengthTree.bits;
        const std::uint64_t verbatim =
            header + CostOf(f.main, mainLengths) + CostOf(f.length, lengthLengths) + f.extraBits;
        const std::uint64_t withAligned = verbatim + kLzxAlignedSymbols * 3 +
                                          CostOf(f.aligned, alignedLengths) - 3 * f.alignedFooters;
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

LzxIntervalEncoder::LzxIntervalEncoder(unsigned windowBits)
    : windowBits_(windowBits), mainSymbols_(LzxMainSymbols(windowBits)) {
    assert(LzxWindowSupported(windowBits));
}

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
    finder_.Parse(interval.data(), interval.size(), (1u << windowBits_) - 3, items_, frameStarts_);

    coded_.resize(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const LzxItem& item = items_[i];
        Coded& c = coded_[i];
        if (item.length == 0) {
            c = {static_cast<std::uint16_t>(item.value), kNoLengthSymbol, 0, 0};
            continue;
        }
        const unsigned slot = LzxPositionSlot(item.value);
        const unsigned header = std::min(item.length - kLzxMinMatch, kLzxPrimaryLengths);
        c.main = static_cast<std::uint16_t>(kLzxNumChars + slot * 8 + header);
        c.length = header == kLzxPrimaryLengths
                       ? static_cast<std::uint16_t>(item.length - kLzxMinMatch - kLzxPrimaryLengths)
                       : kNoLengthSymbol;
        c.extraBits = slot < 3 ? 0 : kLzxExtraBits[slot];
        c.extra = slot < 3 ? 0 : item.value - kLzxPositionBase[slot];
    }

    std::vector<Block> blocks;
    Plan(blocks);
    Write(blocks, interval, out);
}

std::size_t LzxIntervalEncoder::FrameBits(const Trees& trees, bool aligned, std::size_t first,
                                          std::size_t last) const {
    std::size_t bits = 0;
    for (std::size_t i = first; i < last; ++i) {
        const Coded& c = coded_[i];
        bits += trees.mainLengths[c.main] + c.extraBits;
        if (c.length != kNoLengthSymbol)
            bits += trees.lengthLengths[c.length];
        if (aligned && c.extraBits >= 3)
            bits += trees.alignedLengths[c.extra & 7] - 3u;
    }
    return bits;
}

void LzxIntervalEncoder::Plan(std::vector<Block>& blocks) {
    const std::size_t frames = frameStarts_.size();
    const auto itemEnd = [&](std::size_t frame) {
        return frame + 1 < frames ? frameStarts_[frame + 1] : coded_.size();
    };
    std::vector<Frequencies> perFrame(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        Frequencies& freq = perFrame[f];
        freq.main.assign(mainSymbols_, 0);
        for (std::size_t i = frameStarts_[f]; i < itemEnd(f); ++i) {
            const Coded& c = coded_[i];
            ++freq.main[c.main];
            if (c.length != kNoLengthSymbol)
                ++freq.length[c.length];
            freq.extraBits += c.extraBits;
            if (c.extraBits >= 3) {
                ++freq.aligned[c.extra & 7];
                ++freq.alignedFooters;
            }
        }
    }

    // One block per frame, each compressed or stored, whichever is smaller.
    std::vector<std::uint8_t> previousMain(mainSymbols_, 0);
    std::array<std::uint8_t, kLzxLengthSymbols> previousLength{};
    std::uint64_t perFrameBits = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        Block block{LzxBlockType::Uncompressed, f, f + 1, {}};
        block.trees.Build(perFrame[f], previousMain, previousLength);
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
    Frequencies all = perFrame[0];
    for (std::size_t f = 1; f < frames; ++f)
        all.Add(perFrame[f]);
    Block whole{LzxBlockType::Verbatim, 0, frames, {}};
    whole.trees.Build(all, std::vector<std::uint8_t>(mainSymbols_, 0), {});
    if (whole.trees.bits >= perFrameBits)
        return;
    for (std::size_t f = 0; f < frames; ++f)
        if (FrameBits(whole.trees, whole.trees.aligned, frameStarts_[f], itemEnd(f)) +
                (f == 0 ? whole.trees.headerBits : 0) >
            kMaxFrameBits)
            return;
    whole.type = whole.trees.aligned ? LzxBlockType::Aligned : LzxBlockType::Verbatim;
    blocks.clear();
    blocks.push_back(std::move(whole));
}

void LzxIntervalEncoder::Write(const std::vector<Block>& blocks, std::span<const std::uint8_t> data,
                               LzxStream& out) {
    const std::size_t frames = frameStarts_.size();
    // The repeated offsets at the start of each frame, which an
    // uncompressed block must hand to the reader.
    std::vector<std::array<std::uint32_t, 3>> frameReps(frames);
    std::array<std::uint32_t, 3> rep = {1, 1, 1};
    for (std::size_t f = 0, i = 0; f < frames; ++f) {
        frameReps[f] = rep;
        for (; i < (f + 1 < frames ? frameStarts_[f + 1] : items_.size()); ++i) {
            const LzxItem& item = items_[i];
            if (item.length == 0 || item.value == 0)
                continue;
            if (item.value < 3)
                std::swap(rep[0], rep[item.value]);
            else
                rep = {item.value - 2, rep[0], rep[1]};
        }
    }

    BitWriter bits(out.bytes);
    out.frameOffsets.push_back(out.bytes.size());
    bits.Put(0, 1); // no E8 translation
    for (const Block& block : blocks) {
        const std::size_t size = (block.endFrame - block.firstFrame) * kLzxFrameSize;
        bits.Put(static_cast<std::uint32_t>(block.type), 3);
        bits.Put(static_cast<std::uint32_t>(size >> 8), 16);
        bits.Put(static_cast<std::uint32_t>(size & 0xFF), 8);
        if (block.type == LzxBlockType::Uncompressed) {
            // 1 to 16 bits of padding, then R0..R2 and the bytes as they are.
            bits.Put(0, 16 - bits.PendingBits());
            bits.Align();
            std::uint8_t header[12];
            for (int r = 0; r < 3; ++r)
                PutLe(header + 4 * r, 4, frameReps[block.firstFrame][r]);
            bits.PutBytes(header, sizeof header);
            bits.PutBytes(data.data() + block.firstFrame * kLzxFrameSize, size);
            if (block.endFrame < frames)
                out.frameOffsets.push_back(out.bytes.size());
            continue;
        }
        const Trees& t = block.trees;
        if (t.aligned)
            for (const std::uint8_t length : t.alignedLengths)
                bits.Put(length, 3);
        PutCodedLengths(bits, t.mainLow);
        PutCodedLengths(bits, t.mainHigh);
        PutCodedLengths(bits, t.lengthTree);
        for (std::size_t f = block.firstFrame; f < block.endFrame; ++f) {
            const std::size_t end = f + 1 < frames ? frameStarts_[f + 1] : coded_.size();
            for (std::size_t i = frameStarts_[f]; i < end; ++i) {
                const Coded& c = coded_[i];
                bits.Put(t.mainCodes[c.main], t.mainLengths[c.main]);
                if (c.length != kNoLengthSymbol)
                    bits.Put(t.lengthCodes[c.length], t.lengthLengths[c.length]);
                if (t.aligned && c.extraBits >= 3) {
                    bits.Put(c.extra >> 3, c.extraBits - 3u);
                    bits.Put(t.alignedCodes[c.extra & 7], t.alignedLengths[c.extra & 7]);
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
                      const std::atomic<bool>* stop) {
    assert(LzxWindowSupported(windowBits));
    const std::size_t intervalSize = std::size_t{1} << windowBits;
    const std::size_t coded = LzxFrameCount(data.size()) * kLzxFrameSize;
    const std::size_t intervals = (coded + intervalSize - 1) / intervalSize;
    // A task is a few intervals: enough to keep every thread busy to the end.
    constexpr std::size_t kIntervalsPerTask = 4;
    const std::size_t tasks = (intervals + kIntervalsPerTask - 1) / kIntervalsPerTask;
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::min<std::size_t>(threads, tasks);

    std::vector<LzxStream> results(tasks);
    std::vector<char> finished(tasks, 0);
    std::atomic<std::size_t> nextTask{0};
    std::atomic<bool> failed{false};
    bool halted = false; // a worker saw the stop; guarded by mutex
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable changed;

    const auto work = [&] {
        try {
            LzxIntervalEncoder encoder(windowBits);
            for (std::size_t task; !failed && (task = nextTask++) < tasks;) {
                if (stop && *stop) {
                    const std::lock_guard lock(mutex);
                    halted = true;
                    changed.notify_one();
                    break;
                }
                const std::size_t begin = task * kIntervalsPerTask * intervalSize;
                const std::size_t end = std::min(coded, begin + kIntervalsPerTask * intervalSize);
                for (std::size_t at = begin; at < end; at += intervalSize) {
                    const std::size_t length = std::min(intervalSize, end - at);
                    const std::size_t from = std::min(at, data.size());
                    encoder.Encode(data.subspan(from, std::min(length, data.size() - from)), length,
                                   results[task]);
                }
                const std::lock_guard lock(mutex);
                finished[task] = 1;
                changed.notify_one();
            }
        } catch (...) {
            const std::lock_guard lock(mutex);
            if (!failed)
                failure = std::current_exception();
            failed = true;
            changed.notify_one();
        }
    };
    std::vector<std::thread> pool;
    try {
        for (std::size_t i = 0; i < workers; ++i)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Out of threads: the ones started do the work, or this one does.
        if (pool.empty())
            work();
    }

    // Report the leading tasks as they complete, in order.
    for (std::size_t done = 0; done < tasks;) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return failed || halted || finished[done]; });
            if (failed || halted)
                break;
            while (done < tasks && finished[done])
                ++done;
        }
        if (progress)
            progress(std::min<std::uint64_t>(data.size(), done * kIntervalsPerTask * intervalSize));
    }
    for (std::thread& thread : pool)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
    if (halted)
        return {};

    LzxStream stream;
    std::size_t total = 0;
    for (const LzxStream& part : results)
        total += part.bytes.size();
    stream.bytes.reserve(total);
    for (const LzxStream& part : results) {
        const std::uint64_t base = stream.bytes.size();
        for (const std::uint64_t offset : part.frameOffsets)
            stream.frameOffsets.push_back(base + offset);
        stream.bytes.insert(stream.bytes.end(), part.bytes.begin(), part.bytes.end());
    }
    return stream;
}

} // namespace tbx::chm
