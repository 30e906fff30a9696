#pragma once
// Data for the compression tests, the same on every run: text that
// compresses as pages do, bytes that do not compress, x86-like code full
// of E8 bytes, and long runs.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tbx::test {

// The engine gives the same numbers on every platform; the standard
// distributions would not.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t Next() { return engine_(); }
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(engine_() % bound); }

private:
    std::mt19937_64 engine_;
};

// Words of Cyrillic syllables (UTF-8) with some markup, frequent words
// more often.
inline std::string Prose(std::uint64_t seed, std::size_t size) {
    static const char* const kSyllables[] = {"ка", "ло", "ми", "ну", "ре", "ст", "ва", "до",
                                             "пр", "зе", "ты", "шо", "ль", "ю",  "я",  "ё"};
    Random random(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 400; ++i) {
        std::string word;
        for (std::size_t n = 1 + random.Below(4); n > 0; --n)
            word += kSyllables[random.Below(std::size(kSyllables))];
        words.push_back(word);
    }
    std::string text;
    while (text.size() < size) {
        if (random.Below(12) == 0)
            text += "</p>\n<p class=\"note\">";
        const double u = static_cast<double>(random.Next() >> 11) / 9007199254740992.0;
        text += words[static_cast<std::size_t>(u * u * static_cast<double>(words.size()))];
        text += random.Below(10) == 0 ? ", " : " ";
    }
    text.resize(size);
    return text;
}

inline std::string RandomBytes(std::uint64_t seed, std::size_t size) {
    Random random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random.Next());
    return bytes;
}

// Call instructions (E8 and a 32-bit displacement) between other bytes.
inline std::string E8Rich(std::uint64_t seed, std::size_t size) {
    Random random(seed);
    std::string bytes;
    while (bytes.size() < size) {
        bytes += '\xE8';
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(random.Below(3) == 0 ? random.Next() : 0);
        for (std::size_t n = random.Below(6); n > 0; --n)
            bytes += "\x55\x89\xE5\x8B\x45\x08"[random.Below(6)];
    }
    bytes.resize(size);
    return bytes;
}

// Records of 16 bytes, most of them an earlier record with a byte or two
// changed: match distances that are multiples of 16 suit aligned blocks.
inline std::string Records(std::uint64_t seed, std::size_t size) {
    Random random(seed);
    std::string bytes;
    while (bytes.size() < size) {
        const std::size_t records = bytes.size() / 16;
        if (records < 4 || random.Below(4) == 0) {
            for (int i = 0; i < 16; ++i)
                bytes += static_cast<char>(random.Next());
            continue;
        }
        std::string record = bytes.substr(
            16 * (records - 1 - random.Below(std::min<std::size_t>(records, 300))), 16);
        record[random.Below(16)] = static_cast<char>(random.Next());
        bytes += record;
    }
    bytes.resize(size);
    return bytes;
}

// Runs of one byte, from a byte to thousands long.
inline std::string Runs(std::uint64_t seed, std::size_t size) {
    Random random(seed);
    std::string bytes;
    while (bytes.size() < size)
        bytes.append(1 + random.Below(random.Below(4) == 0 ? 5000 : 40),
                     static_cast<char>(random.Below(4)));
    bytes.resize(size);
    return bytes;
}

} // namespace tbx::test
