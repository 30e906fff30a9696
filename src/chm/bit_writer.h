#pragma once
// The bit order of LZX: bits are collected most significant first into
// 16-bit words, and each word is stored low byte first.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tbx::chm {

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    // Appends count bits of value (which has no higher bits set), most
    // significant first; count <= 32.
    void Put(std::uint32_t value, unsigned count) {
        pending_ = pending_ << count | value;
        pendingBits_ += count;
        if (pendingBits_ >= 32) {
            pendingBits_ -= 32;
            const auto word = static_cast<std::uint32_t>(pending_ >> pendingBits_);
            const std::uint8_t bytes[4] = {
                static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24),
                static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8)};
            out_.insert(out_.end(), bytes, bytes + 4);
        }
    }

    // Pads with zero bits to the next 16-bit boundary; nothing when already
    // on one. Every bit put so far is then in the output.
    void Align() {
        Put(0, (16 - pendingBits_ % 16) % 16);
        if (pendingBits_ == 16) {
            pendingBits_ = 0;
            PutWord(static_cast<std::uint16_t>(pending_));
        }
    }

    // Bits written since the last 16-bit boundary.
    unsigned PendingBits() const { return pendingBits_ % 16; }

    // Raw bytes, for the body of an uncompressed block; only after Align.
    void PutBytes(const std::uint8_t* data, std::size_t size) {
        out_.insert(out_.end(), data, data + size);
    }

private:
    void PutWord(std::uint16_t word) {
        out_.push_back(static_cast<std::uint8_t>(word & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(word >> 8));
    }

    std::vector<std::uint8_t>& out_;
    std::uint64_t pending_ = 0;
    unsigned pendingBits_ = 0;
};

} // namespace tbx::chm
