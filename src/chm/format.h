#pragma once
// Facts of the compiled-help container and of its LZX flavour that both the
// reader and the writer rely on. Standard C++ only.

#include "chm/little_endian.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tbx::chm {

// ---- The variable-length numbers of directory entries ------------------------
// Seven bits a byte, most significant group first, high bit set on every
// byte but the last.

constexpr std::size_t kMaxEncIntBytes = 10; // enough for 64 bits

// Bytes the shortest form of value takes.
inline std::size_t EncIntSize(std::uint64_t value) {
    std::size_t size = 1;
    while (value >>= 7)
        ++size;
    return size;
}

// Writes the shortest form of value at out (room for EncIntSize bytes);
// returns the bytes written.
inline std::size_t PutEncInt(std::uint8_t* out, std::uint64_t value) {
    const std::size_t size = EncIntSize(value);
    for (std::size_t i = size; i-- > 0; value >>= 7)
        out[i] = static_cast<std::uint8_t>((value & 0x7F) | (i + 1 < size ? 0x80 : 0));
    return size;
}

// Reads one number from [at, end) and moves at past it. False, with at
// unchanged, when the number runs past end or needs more than 64 bits.
inline bool GetEncInt(const std::uint8_t*& at, const std::uint8_t* end, std::uint64_t& value) {
    std::uint64_t result = 0;
    for (const std::uint8_t* p = at; p < end; ++p) {
        if (result >> 57)
            return false;
        result = result << 7 | (*p & 0x7F);
        if (!(*p & 0x80)) {
            at = p + 1;
            value = result;
            return true;
        }
    }
    return false;
}

// ---- Names --------------------------------------------------------------------

// The order of directory entries: ASCII letters folded to lower case, then
// unsigned bytes; a name that is a prefix of another comes first. The
// readers binary-search by it, so the writer must sort by exactly this.
inline int CompareNames(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// ---- Container layout -----------------------------------------------------------

constexpr std::size_t kItsfHeaderSize = 0x60; // version 3, with the content offset
constexpr std::size_t kHeaderSection0Size = 0x18;
constexpr std::size_t kItspHeaderSize = 0x54;
constexpr std::size_t kChunkSize = 0x1000;      // directory chunk written
constexpr std::size_t kPmglHeaderSize = 0x14;   // entries start here in a listing chunk
constexpr std::size_t kPmgiHeaderSize = 0x08;   // and here in an index chunk
constexpr unsigned kQuickrefDensity = 2;        // one quickref every 1 + 2^2 = 5 entries
constexpr std::uint32_t kNoChunk = 0xFFFFFFFFu; // "none" in chunk-number fields
constexpr std::size_t kMaxNameLength = 512;     // longest name every reader accepts

// GUIDs as their bytes appear in the file.
constexpr std::array<std::uint8_t, 16> kItsfGuid1 = {
    0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
constexpr std::array<std::uint8_t, 16> kItsfGuid2 = {
    0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
constexpr std::array<std::uint8_t, 16> kItspGuid = {0x6A, 0x92, 0x02, 0x5D, 0x2E, 0x21, 0xD0, 0x11,
                                                    0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};

// Section numbers of directory entries (their index in ::DataSpace/NameList).
constexpr std::uint64_t kUncompressedSection = 0;
constexpr std::uint64_t kCompressedSection = 1;

// Names of the streams that describe the compressed section.
constexpr std::string_view kNameList = "::DataSpace/NameList";
constexpr std::string_view kControlData = "::DataSpace/Storage/MSCompressed/ControlData";
constexpr std::string_view kSpanInfo = "::DataSpace/Storage/MSCompressed/SpanInfo";
constexpr std::string_view kContent = "::DataSpace/Storage/MSCompressed/Content";
constexpr std::string_view kTransformList = "::DataSpace/Storage/MSCompressed/Transform/List";
constexpr std::string_view kResetTable =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/"
    "InstanceData/ResetTable";

// ---- LZX ----------------------------------------------------------------------------

constexpr std::size_t kLzxFrameSize = 0x8000; // output is cut into frames of this size
constexpr unsigned kLzxMinWindowBits = 15;
constexpr unsigned kLzxMaxWindowBits = 21;
constexpr unsigned kLzxMinMatch = 2;
constexpr unsigned kLzxMaxMatch = 257;
constexpr unsigned kLzxNumChars = 256;
constexpr unsigned kLzxPrimaryLengths = 7;
constexpr unsigned kLzxLengthSymbols = 249;
constexpr unsigned kLzxPretreeSymbols = 20;
constexpr unsigned kLzxAlignedSymbols = 8;
constexpr unsigned kLzxMaxCodeLength = 16;

enum class LzxBlockType : unsigned { Verbatim = 1, Aligned = 2, Uncompressed = 3 };

// Position slots for a window of 2^bits bytes (bits 15..21).
constexpr unsigned LzxPositionSlots(unsigned windowBits) {
    constexpr unsigned kSlots[] = {30, 32, 34, 36, 38, 42, 50};
    return kSlots[windowBits - kLzxMinWindowBits];
}

constexpr unsigned LzxMainSymbols(unsigned windowBits) {
    return kLzxNumChars + 8 * LzxPositionSlots(windowBits);
}

// Extra bits of each position slot, and the formatted offset each slot
// starts at; 51 slots cover the largest window.
constexpr unsigned kLzxMaxPositionSlots = 51;

constexpr std::array<std::uint8_t, kLzxMaxPositionSlots> LzxExtraBitsTable() {
    std::array<std::uint8_t, kLzxMaxPositionSlots> bits{};
    for (unsigned slot = 0; slot < kLzxMaxPositionSlots; ++slot)
        bits[slot] = static_cast<std::uint8_t>(slot < 4 ? 0 : (slot < 36 ? slot / 2 - 1 : 17));
    return bits;
}
constexpr std::array<std::uint8_t, kLzxMaxPositionSlots> kLzxExtraBits = LzxExtraBitsTable();

constexpr std::array<std::uint32_t, kLzxMaxPositionSlots> LzxPositionBaseTable() {
    std::array<std::uint32_t, kLzxMaxPositionSlots> base{};
    for (unsigned slot = 1; slot < kLzxMaxPositionSlots; ++slot)
        base[slot] = base[slot - 1] + (1u << kLzxExtraBits[slot - 1]);
    return base;
}
constexpr std::array<std::uint32_t, kLzxMaxPositionSlots> kLzxPositionBase = LzxPositionBaseTable();

static_assert(kLzxPositionBase[4] == 4 && kLzxPositionBase[31] == 49152 &&
              kLzxPositionBase[36] == 262144 && kLzxPositionBase[50] == 2097152);

} // namespace tbx::chm
