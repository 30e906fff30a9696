#pragma once
// Reads an LZX bit stream: 16-bit little-endian words, each taken from its
// most significant bit down. Standard C++ only.
//
// The reader never looks past its input. Once the input is used up it feeds
// zero bits, so that a lookahead near the end stays cheap and safe; taking
// any of those bits marks the stream as overrun, and the decoder treats that
// as damage.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tbx::chm {

class BitReader {
public:
    BitReader() = default;
    explicit BitReader(std::span<const std::uint8_t> input)
        : data_(input.data()), size_(input.size()) {}

    // Buffers at least 48 bits, real or zero fill.
    void Refill() {
        while (count_ <= 48) {
            std::uint64_t word = 0;
            if (size_ - pos_ >= 2) {
                word = static_cast<std::uint64_t>(data_[pos_] | data_[pos_ + 1] << 8);
                pos_ += 2;
            } else {
                fill_ += 16;
            }
            buffer_ |= word << (48 - count_);
            count_ += 16;
        }
    }

    // The next bits (1..32) without taking them; Refill first.
    std::uint32_t Peek(unsigned bits) const {
        return static_cast<std::uint32_t>(buffer_ >> (64 - bits));
    }

    void Skip(unsigned bits) {
        buffer_ <<= bits;
        count_ -= bits;
    }

    // Takes bits (0..32) and returns them as a number, first bit highest.
    std::uint32_t Read(unsigned bits) {
        if (bits == 0)
            return 0;
        Refill();
        const std::uint32_t value = Peek(bits);
        Skip(bits);
        return value;
    }

    // Drops the rest of the current 16-bit word, if any is left.
    void AlignToWord() { Skip(count_ % 16); }

    // Leaves bit reading for plain bytes: drops the rest of the current
    // word, or a whole word when none is left of it, as uncompressed blocks
    // ask. Bit reading resumes at the first byte not taken.
    void StartBytes() {
        Refill();
        const unsigned rest = count_ % 16;
        Skip(rest != 0 ? rest : 16);
        if (fill_ > count_) {
            overrun_ = true;
            pos_ = size_;
        } else {
            pos_ -= (count_ - fill_) / 8;
        }
        buffer_ = 0;
        count_ = 0;
        fill_ = 0;
    }

    // Copies the next bytes (after StartBytes); false, with the stream
    // marked overrun, when fewer are left.
    bool TakeBytes(std::uint8_t* out, std::size_t count) {
        if (size_ - pos_ < count) {
            overrun_ = true;
            return false;
        }
        if (count != 0)
            std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }

    // True once a bit or byte beyond the input was taken.
    bool Overrun() const { return overrun_ || fill_ > count_; }

    // Bytes of the input loaded so far; the stream goes on from there.
    std::size_t Loaded() const { return pos_; }

    // Goes on reading from input, whose first byte is the one after the
    // last loaded, as if both were one input: a long stream can be read in
    // bounded pieces. Zero fill loaded but not taken is dropped.
    void Continue(std::span<const std::uint8_t> input) {
        if (!Overrun()) {
            count_ -= fill_;
            fill_ = 0;
        }
        data_ = input.data();
        size_ = input.size();
        pos_ = 0;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;      // next byte to load
    std::uint64_t buffer_ = 0; // buffered bits, first one highest
    unsigned count_ = 0;       // bits in buffer_
    unsigned fill_ = 0;        // zero bits loaded past the end of the input
    bool overrun_ = false;
};

} // namespace tbx::chm
