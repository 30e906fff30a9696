// /$OBJINST: the viewer's word breaker for the code page of the index.
// Its layout, and the values whose meaning is not known, follow the help
// files we compared ours with; the character classes are those of the
// index's code page and fold as its words do.

#include "chm/little_endian.h"
#include "chm/search_index.h"
#include "text/search_alphabet.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace tbx::chm {
namespace {

// GUIDs as their bytes stand in the file.
constexpr std::array<std::uint8_t, 16> kCharClassGuid = {
    0xAF, 0xDA, 0x62, 0x46, 0x93, 0xD3, 0xD0, 0x11, 0x9A, 0x56, 0x00, 0xC0, 0x4F, 0xB6, 0x8B, 0xF7};
constexpr std::array<std::uint8_t, 16> kBreakerGuid = {
    0xA8, 0xD5, 0xA0, 0x8F, 0xDF, 0xDE, 0xD0, 0x11, 0x9A, 0x61, 0x00, 0xC0, 0x4F, 0xB6, 0x8B, 0xF7};
constexpr std::array<std::uint8_t, 16> kSearchGuid = {
    0xB0, 0xDA, 0x62, 0x46, 0x93, 0xD3, 0xD0, 0x11, 0x9A, 0x56, 0x00, 0xC0, 0x4F, 0xB6, 0x8B, 0x66};
constexpr std::uint32_t kObjectVersion = 0x04000000;

void AppendGuid(std::string& out, const std::array<std::uint8_t, 16>& guid) {
    out.append(reinterpret_cast<const char*>(guid.data()), guid.size());
}

// Where a byte sorts: other characters in byte order, then digits, then
// letters alphabetically without regard to case, by their characters, with
// "ё" right after "е".
std::uint32_t AlphabetRank(const text::SearchAlphabet& alphabet, unsigned char byte) {
    const unsigned char folded = alphabet.fold[byte];
    if (!folded)
        return byte;
    if (folded < 0x80)
        return 0x100 + folded; // digits come before letters in ASCII
    const char32_t cp = alphabet.codePoint[folded];
    return 0x200 + (cp == 0x451 ? 0x435 * 2 + 1 : cp * 2);
}

// One 10-byte record a byte: class, subclass, sort weight, the byte it folds
// to, the byte itself, then the byte twice more where the files compared
// give the bytes of another code page, and two zero bytes.
std::string CharacterClasses(const text::SearchAlphabet& alphabet) {
    std::array<std::uint32_t, 256> weight{};
    std::array<unsigned char, 256> order{};
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&alphabet](unsigned char a, unsigned char b) {
        return AlphabetRank(alphabet, a) < AlphabetRank(alphabet, b);
    });
    // Steps of 5 between other characters, 10 between digits, 20 between
    // letters, as in the files compared; a letter's two cases share one.
    std::uint32_t next = 0;
    for (std::size_t i = 1; i < order.size(); ++i) {
        const unsigned char byte = order[i];
        const unsigned char folded = alphabet.fold[byte];
        const unsigned char previous = alphabet.fold[order[i - 1]];
        if (folded && folded == previous)
            weight[byte] = weight[order[i - 1]];
        else
            weight[byte] = next += !folded ? 5 : (folded <= '9' ? 10 : 20);
    }

    // ‘ ’ “ ” • – — sit where Windows-1252 has them, and keep their marks.
    constexpr unsigned char kQuoteKinds[] = {4, 5, 6, 7, 1, 2, 3};
    std::string table;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const unsigned char folded = alphabet.fold[byte];
        unsigned char kind = 0, subclass = 0;
        if (folded >= '0' && folded <= '9')
            kind = 3;
        else if (folded)
            kind = folded == byte ? 1 : 2; // 2: folds to another byte
        else if (byte == 1)
            kind = 7; // as in the files compared
        else if (byte == ',')
            kind = 4;
        else if (byte == '.')
            kind = 5;
        else if (byte == '\'')
            kind = 6;
        else if (byte == '*' || byte == '?')
            kind = 9; // wildcards of a query
        else if (byte >= 0x91 && byte <= 0x97)
            subclass = kQuoteKinds[byte - 0x91];
        table += static_cast<char>(kind);
        table += static_cast<char>(subclass);
        AppendLe16(table, weight[byte]);
        table += static_cast<char>(folded ? folded : byte);
        table.append(3, static_cast<char>(byte));
        table.append(2, '\0');
    }
    return table;
}

} // namespace

std::string BuildObjInst(const text::SearchAlphabet& alphabet, std::uint32_t lcid) {
    const auto codePage = static_cast<std::uint32_t>(alphabet.codePage);
    std::string classes;
    AppendGuid(classes, kCharClassGuid);
    AppendLe32(classes, kObjectVersion);
    AppendLe32(classes, 11);
    AppendLe32(classes, codePage);
    AppendLe32(classes, lcid);
    AppendLe64(classes, 0);
    AppendLe32(classes, 0x00145555);
    const std::string table = CharacterClasses(alphabet); // no ligatures to expand
    AppendLe32(classes, table.size());
    AppendLe16(classes, 256);
    AppendLe16(classes, 0);
    AppendLe32(classes, 3);
    classes.resize(0x50, '\0');
    classes += table;
    AppendGuid(classes, kBreakerGuid);
    AppendLe32(classes, kObjectVersion);
    AppendLe32(classes, 1);
    AppendLe32(classes, codePage);
    AppendLe32(classes, lcid);
    AppendLe32(classes, 0);

    std::string search;
    AppendGuid(search, kSearchGuid);
    AppendLe32(search, 666);
    AppendLe32(search, codePage);
    AppendLe32(search, lcid);
    AppendLe32(search, 10031);
    AppendLe32(search, 0);

    std::string out;
    AppendLe32(out, kObjectVersion);
    AppendLe32(out, 2); // objects
    AppendLe32(out, 24);
    AppendLe32(out, classes.size());
    AppendLe32(out, 24 + classes.size());
    AppendLe32(out, search.size());
    return out + classes + search;
}

} // namespace tbx::chm
