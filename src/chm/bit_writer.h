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

    // Appends the low count bits of value, most significant first
    // (count <= 32).
    void Put(std::uint32_t value, unsigned count) {
        if (count == 0)
            return;
        pending_ = pending_ << count | (value & (0xFFFFFFFFu >> (32 - count)));
        pendingBits_ += count;
        while (pendingBits_ >= 16) {
            pendingBits_ -= 16;
            const auto word = static_cast<std::uint16_t>(pending_ >> pendingBits_);
            out_.push_back(static_cast<std::uint8_t>(word & 0xFF));
            out_.push_back(static_cast<std::uint8_t>(word >> 8));
        }
    }

    // Pads with zero bits to the next 16-bit boundary; nothing when already
    // on one.
    void Align() {
        if (pendingBits_ != 0)
            Put(0, 16 - pendingBits_);
    }

    // Bits written since the last 16-bit boundary.
    unsigned PendingBits() const { return pendingBits_; }

    // Raw bytes, for the body of an uncompressed block; only on a boundary.
    void PutBytes(const std::uint8_t* data, std::size_t size) {
        out_.insert(out_.end(), data, data + size);
    }

    // Bytes written so far, whole words only.
    std::size_t Size() const { return out_.size(); }

private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t pending_ = 0;
    unsigned pendingBits_ = 0;
};

} // namespace tbx::chm
