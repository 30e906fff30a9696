#include "chm/lzx_decoder.h"

#include <algorithm>
#include <cstring>

namespace tbx::chm {
namespace {

constexpr std::uint64_t kNoFrame = ~std::uint64_t{0};
// E8 translation covers the first 32768 frames of a run and never the last
// bytes of a frame, where a call's operand would not fit.
constexpr std::uint64_t kE8Frames = 32768;
constexpr std::size_t kE8Tail = 10;

} // namespace

LzxDecoder::LzxDecoder(unsigned windowBits)
    : windowBits_(std::clamp(windowBits, kLzxMinWindowBits, kLzxMaxWindowBits)),
      windowSize_(std::size_t{1} << windowBits_), mainSymbols_(LzxMainSymbols(windowBits_)),
      window_(windowSize_) {
    Reset();
}

void LzxDecoder::Reset() {
    frames_ = 0;
    headerRead_ = false;
    e8Size_ = 0;
    block_ = Block::None;
    blockLength_ = 0;
    blockRemaining_ = 0;
    r0_ = r1_ = r2_ = 1;
    mainLengths_.fill(0);
    lengthLengths_.fill(0);
    translatedIndex_ = kNoFrame;
    failed_ = false;
}

// The lengths of one part of a code, each coded as a change from the
// length the same symbol had in the previous block, through a pretree.
const char* LzxDecoder::ReadLengths(BitReader& in, std::uint8_t* lengths, unsigned count) {
    std::array<std::uint8_t, kLzxPretreeSymbols> pre{};
    for (std::uint8_t& length : pre)
        length = static_cast<std::uint8_t>(in.Read(4));
    if (!pretree_.Build(pre, false))
        return "invalid pretree";
    for (unsigned i = 0; i < count;) {
        in.Refill();
        const unsigned symbol = pretree_.Decode(in);
        unsigned run = 1;
        std::uint8_t value = 0;
        if (symbol == 17) {
            run = 4 + in.Read(4);
        } else if (symbol == 18) {
            run = 20 + in.Read(5);
        } else if (symbol == 19) {
            run = 4 + in.Read(1);
            in.Refill();
            const unsigned change = pretree_.Decode(in);
            if (change > 16)
                return "invalid code length run";
            value = static_cast<std::uint8_t>((lengths[i] + 17 - change) % 17);
        } else {
            value = static_cast<std::uint8_t>((lengths[i] + 17 - symbol) % 17);
        }
        // Some encoders let a run go past the last symbol; the excess is dropped.
        run = std::min(run, count - i);
        std::fill_n(lengths + i, run, value);
        i += run;
    }
    return in.Overrun() ? "compressed data ends inside a block header" : nullptr;
}

const char* LzxDecoder::ReadBlockHeader(BitReader& in) {
    if (block_ == Block::Uncompressed && (blockLength_ & 1)) {
        std::uint8_t pad;
        if (!in.TakeBytes(&pad, 1))
            return "compressed data ends inside a block";
    }
    const unsigned type = in.Read(3);
    const std::uint32_t high = in.Read(16);
    const std::uint32_t size = high << 8 | in.Read(8);
    switch (type) {
    case static_cast<unsigned>(Block::Aligned): {
        std::array<std::uint8_t, kLzxAlignedSymbols> lengths{};
        for (std::uint8_t& length : lengths)
            length = static_cast<std::uint8_t>(in.Read(3));
        if (!aligned_.Build(lengths, false))
            return "invalid aligned offset code";
    }
        [[fallthrough]];
    case static_cast<unsigned>(Block::Verbatim): {
        if (const char* error = ReadLengths(in, mainLengths_.data(), kLzxNumChars))
            return error;
        if (const char* error =
                ReadLengths(in, mainLengths_.data() + kLzxNumChars, mainSymbols_ - kLzxNumChars))
            return error;
        if (!main_.Build({mainLengths_.data(), mainSymbols_}, false))
            return "invalid main code";
        if (const char* error = ReadLengths(in, lengthLengths_.data(), kLzxLengthSymbols))
            return error;
        if (!length_.Build(lengthLengths_, true))
            return "invalid length code";
        break;
    }
    case static_cast<unsigned>(Block::Uncompressed): {
        in.StartBytes();
        std::uint8_t repeated[12];
        if (!in.TakeBytes(repeated, sizeof repeated))
            return "compressed data ends inside a block header";
        r0_ = static_cast<std::uint32_t>(GetLe(repeated, 4));
        r1_ = static_cast<std::uint32_t>(GetLe(repeated + 4, 4));
        r2_ = static_cast<std::uint32_t>(GetLe(repeated + 8, 4));
        break;
    }
    default:
        return "invalid block type";
    }
    if (in.Overrun())
        return "compressed data ends inside a block header";
    block_ = static_cast<Block>(type);
    blockLength_ = size;
    blockRemaining_ = size;
    return nullptr;
}

// Decodes window_[pos, end) of a verbatim or aligned block; end is the end
// of the block or of the frame, whichever comes first, and no match may
// run past it.
const char* LzxDecoder::DecodeRun(BitReader& in, std::size_t pos, std::size_t end) {
    std::uint8_t* const window = window_.data();
    const bool alignedBlock = block_ == Block::Aligned;
    // Bytes of this run before window_[0]: frames since the reset, less
    // where this frame sits in the window.
    const std::uint64_t frameStart = (frames_ % (windowSize_ / kLzxFrameSize)) * kLzxFrameSize;
    const std::uint64_t before = frames_ * kLzxFrameSize - frameStart;
    while (pos < end) {
        in.Refill();
        unsigned symbol = main_.Decode(in);
        if (symbol < kLzxNumChars) {
            window[pos++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        symbol -= kLzxNumChars;
        const unsigned header = symbol & 7;
        const unsigned slot = symbol >> 3;
        std::size_t length = header + kLzxMinMatch;
        if (header == kLzxPrimaryLengths) {
            if (length_.Empty())
                return "a match needs the empty length code";
            length += length_.Decode(in);
        }
        std::uint32_t offset;
        if (slot == 0) {
            offset = r0_;
        } else if (slot == 1) {
            offset = r1_;
            r1_ = r0_;
            r0_ = offset;
        } else if (slot == 2) {
            offset = r2_;
            r2_ = r0_;
            r0_ = offset;
        } else {
            const unsigned extra = kLzxExtraBits[slot];
            std::uint32_t formatted = kLzxPositionBase[slot];
            if (alignedBlock && extra >= 3) {
                formatted += in.Read(extra - 3) << 3;
                in.Refill();
                formatted += aligned_.Decode(in);
            } else {
                formatted += in.Read(extra);
            }
            offset = formatted - 2;
            r2_ = r1_;
            r1_ = r0_;
            r0_ = offset;
        }
        if (length > end - pos)
            return "a match runs past the end of its frame or block";
        if (offset == 0 || offset >= windowSize_ || offset > before + pos)
            return "a match reaches back before the data";

        std::uint8_t* const dest = window + pos;
        std::size_t from = pos >= offset ? pos - offset : pos + windowSize_ - offset;
        // A source behind the destination and at least a length away, or
        // ahead of it (the older data at the top of the window), can be
        // moved at once; a nearer one repeats the bytes it is writing.
        if (from + length <= windowSize_ && (offset >= length || from > pos)) {
            std::memmove(dest, window + from, length);
        } else if (offset == 1) {
            std::memset(dest, window[from], length);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                dest[i] = window[from];
                if (++from == windowSize_)
                    from = 0;
            }
        }
        pos += length;
    }
    return nullptr;
}

LzxDecoder::Result LzxDecoder::DecodeFrame(BitReader& in) {
    const Result result = Decode(in);
    failed_ = result.error != nullptr;
    return result;
}

LzxDecoder::Result LzxDecoder::Decode(BitReader& in) {
    // The state after a failure is half-updated: only a reset clears it.
    if (failed_)
        return {{}, "decoding continued after damage"};
    if (!headerRead_) {
        if (in.Read(1)) {
            const std::uint32_t high = in.Read(16);
            e8Size_ = high << 16 | in.Read(16);
        }
        headerRead_ = true;
    }
    const std::size_t start = (frames_ % (windowSize_ / kLzxFrameSize)) * kLzxFrameSize;
    const std::size_t end = start + kLzxFrameSize;
    std::size_t pos = start;
    while (pos < end) {
        if (blockRemaining_ == 0) {
            if (const char* error = ReadBlockHeader(in))
                return {{}, error};
            continue;
        }
        const std::size_t run = std::min<std::size_t>(blockRemaining_, end - pos);
        if (block_ == Block::Uncompressed) {
            if (!in.TakeBytes(window_.data() + pos, run))
                return {{}, "compressed data ends inside a block"};
        } else if (const char* error = DecodeRun(in, pos, pos + run)) {
            return {{}, error};
        }
        pos += run;
        blockRemaining_ -= static_cast<std::uint32_t>(run);
    }
    if (in.Overrun())
        return {{}, "compressed data ends inside a frame"};
    in.AlignToWord();
    return {Output(frames_++), nullptr};
}

std::span<const std::uint8_t> LzxDecoder::HeldFrame(std::uint64_t index) {
    if (index >= frames_ || frames_ - index > windowSize_ / kLzxFrameSize)
        return {};
    return Output(index);
}

// The bytes of frame index as the stream means them: E8 calls, when the
// stream asks for their translation, carry relative targets again.
std::span<const std::uint8_t> LzxDecoder::Output(std::uint64_t index) {
    const std::uint8_t* frame =
        window_.data() + (index % (windowSize_ / kLzxFrameSize)) * kLzxFrameSize;
    if (e8Size_ == 0 || index >= kE8Frames)
        return {frame, kLzxFrameSize};
    if (translatedIndex_ == index)
        return translated_;
    translated_.assign(frame, frame + kLzxFrameSize);
    std::uint8_t* const out = translated_.data();
    const std::int64_t size = static_cast<std::int32_t>(e8Size_);
    const std::int64_t frameAt = static_cast<std::int64_t>(index * kLzxFrameSize);
    for (std::size_t i = 0; i < kLzxFrameSize - kE8Tail;) {
        if (out[i] != 0xE8) {
            ++i;
            continue;
        }
        const std::int64_t at = frameAt + static_cast<std::int64_t>(i);
        const std::int64_t target = static_cast<std::int32_t>(GetLe(out + i + 1, 4));
        if (target >= -at && target < size)
            PutLe(out + i + 1, 4,
                  static_cast<std::uint32_t>(target >= 0 ? target - at : target + size));
        i += 5;
    }
    translatedIndex_ = index;
    return translated_;
}

} // namespace tbx::chm
