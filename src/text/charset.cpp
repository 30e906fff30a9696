#include "text/charset.h"

#include "text/ascii.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <iterator>
#include <memory>
#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <vector>

namespace tbx::text {
namespace {

struct CharsetInfo {
    std::string_view name;  // as browsers name it
    std::string_view iconv; // as glibc names it
    int codePage;           // the Windows code page of the same charset
    bool asciiCompatible;
};

// The charsets browsers decode pages in, with the Windows code pages of the
// same repertoire: Microsoft's forms (CP932 for Shift_JIS, CP936 for GBK ...)
// because the pages and projects in them were written on Windows.
constexpr CharsetInfo kCharsets[] = {
    {"UTF-8", "UTF-8", 65001, true},
    {"UTF-16LE", "UTF-16LE", 1200, false},
    {"UTF-16BE", "UTF-16BE", 1201, false},
    {"IBM866", "IBM866", 866, true},
    {"ISO-8859-2", "ISO-8859-2", 28592, true},
    {"ISO-8859-3", "ISO-8859-3", 28593, true},
    {"ISO-8859-4", "ISO-8859-4", 28594, true},
    {"ISO-8859-5", "ISO-8859-5", 28595, true},
    {"ISO-8859-6", "ISO-8859-6", 28596, true},
    {"ISO-8859-7", "ISO-8859-7", 28597, true},
    {"ISO-8859-8", "ISO-8859-8", 28598, true},
    {"ISO-8859-8-I", "ISO-8859-8", 38598, true},
    {"ISO-8859-10", "ISO-8859-10", 28600, true},
    {"ISO-8859-13", "ISO-8859-13", 28603, true},
    {"ISO-8859-14", "ISO-8859-14", 28604, true},
    {"ISO-8859-15", "ISO-8859-15", 28605, true},
    {"ISO-8859-16", "ISO-8859-16", 28606, true},
    {"KOI8-R", "KOI8-R", 20866, true},
    {"KOI8-U", "KOI8-U", 21866, true},
    {"macintosh", "MACINTOSH", 10000, true},
    {"x-mac-cyrillic", "MAC-CYRILLIC", 10007, true},
    {"windows-874", "WINDOWS-874", 874, true},
    {"windows-1250", "CP1250", 1250, true},
    {"windows-1251", "CP1251", 1251, true},
    {"windows-1252", "CP1252", 1252, true},
    {"windows-1253", "CP1253", 1253, true},
    {"windows-1254", "CP1254", 1254, true},
    {"windows-1255", "CP1255", 1255, true},
    {"windows-1256", "CP1256", 1256, true},
    {"windows-1257", "CP1257", 1257, true},
    {"windows-1258", "CP1258", 1258, true},
    {"GBK", "CP936", 936, true},
    {"gb18030", "GB18030", 54936, true},
    {"Big5", "CP950", 950, true},
    {"EUC-JP", "EUC-JP", 20932, true},
    // Escape sequences switch its bytes between ASCII and pairs of JIS bytes.
    {"ISO-2022-JP", "ISO-2022-JP", 50220, false},
    {"Shift_JIS", "CP932", 932, true},
    {"EUC-KR", "CP949", 949, true},
};

constexpr std::uint8_t IndexOf(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kCharsets); ++i) {
        if (kCharsets[i].name == name)
            return static_cast<std::uint8_t>(i);
    }
    throw "no such charset"; // at compile time: a typing error below
}

struct Label {
    std::string_view label; // lower case
    std::uint8_t charset;
};

#define TBX_LABEL(label, name)                                                                     \
    { label, IndexOf(name) }

// Every label the browsers' encoding standard (WHATWG) gives these charsets.
// It reads "latin1", "iso-8859-1" and "us-ascii" as windows-1252, since pages
// so labelled use its extra characters all the time; likewise ISO-8859-9 as
// windows-1254 and ISO-8859-11 as windows-874.
constexpr Label kLabels[] = {
    TBX_LABEL("unicode-1-1-utf-8", "UTF-8"),
    TBX_LABEL("unicode11utf8", "UTF-8"),
    TBX_LABEL("unicode20utf8", "UTF-8"),
    TBX_LABEL("utf-8", "UTF-8"),
    TBX_LABEL("utf8", "UTF-8"),
    TBX_LABEL("x-unicode20utf8", "UTF-8"),
    TBX_LABEL("866", "IBM866"),
    TBX_LABEL("cp866", "IBM866"),
    TBX_LABEL("csibm866", "IBM866"),
    TBX_LABEL("ibm866", "IBM866"),
    TBX_LABEL("csisolatin2", "ISO-8859-2"),
    TBX_LABEL("iso-8859-2", "ISO-8859-2"),
    TBX_LABEL("iso-ir-101", "ISO-8859-2"),
    TBX_LABEL("iso8859-2", "ISO-8859-2"),
    TBX_LABEL("iso88592", "ISO-8859-2"),
    TBX_LABEL("iso_8859-2", "ISO-8859-2"),
    TBX_LABEL("iso_8859-2:1987", "ISO-8859-2"),
    TBX_LABEL("l2", "ISO-8859-2"),
    TBX_LABEL("latin2", "ISO-8859-2"),
    TBX_LABEL("csisolatin3", "ISO-8859-3"),
    TBX_LABEL("iso-8859-3", "ISO-8859-3"),
    TBX_LABEL("iso-ir-109", "ISO-8859-3"),
    TBX_LABEL("iso8859-3", "ISO-8859-3"),
    TBX_LABEL("iso88593", "ISO-8859-3"),
    TBX_LABEL("iso_8859-3", "ISO-8859-3"),
    TBX_LABEL("iso_8859-3:1988", "ISO-8859-3"),
    TBX_LABEL("l3", "ISO-8859-3"),
    TBX_LABEL("latin3", "ISO-8859-3"),
    TBX_LABEL("csisolatin4", "ISO-8859-4"),
    TBX_LABEL("iso-8859-4", "ISO-8859-4"),
    TBX_LABEL("iso-ir-110", "ISO-8859-4"),
    TBX_LABEL("iso8859-4", "ISO-8859-4"),
    TBX_LABEL("iso88594", "ISO-8859-4"),
    TBX_LABEL("iso_8859-4", "ISO-8859-4"),
    TBX_LABEL("iso_8859-4:1988", "ISO-8859-4"),
    TBX_LABEL("l4", "ISO-8859-4"),
    TBX_LABEL("latin4", "ISO-8859-4"),
    TBX_LABEL("csisolatincyrillic", "ISO-8859-5"),
    TBX_LABEL("cyrillic", "ISO-8859-5"),
    TBX_LABEL("iso-8859-5", "ISO-8859-5"),
    TBX_LABEL("iso-ir-144", "ISO-8859-5"),
    TBX_LABEL("iso8859-5", "ISO-8859-5"),
    TBX_LABEL("iso88595", "ISO-8859-5"),
    TBX_LABEL("iso_8859-5", "ISO-8859-5"),
    TBX_LABEL("iso_8859-5:1988", "ISO-8859-5"),
    TBX_LABEL("arabic", "ISO-8859-6"),
    TBX_LABEL("asmo-708", "ISO-8859-6"),
    TBX_LABEL("csiso88596e", "ISO-8859-6"),
    TBX_LABEL("csiso88596i", "ISO-8859-6"),
    TBX_LABEL("csisolatinarabic", "ISO-8859-6"),
    TBX_LABEL("ecma-114", "ISO-8859-6"),
    TBX_LABEL("iso-8859-6", "ISO-8859-6"),
    TBX_LABEL("iso-8859-6-e", "ISO-8859-6"),
    TBX_LABEL("iso-8859-6-i", "ISO-8859-6"),
    TBX_LABEL("iso-ir-127", "ISO-8859-6"),
    TBX_LABEL("iso8859-6", "ISO-8859-6"),
    TBX_LABEL("iso88596", "ISO-8859-6"),
    TBX_LABEL("iso_8859-6", "ISO-8859-6"),
    TBX_LABEL("iso_8859-6:1987", "ISO-8859-6"),
    TBX_LABEL("csisolatingreek", "ISO-8859-7"),
    TBX_LABEL("ecma-118", "ISO-8859-7"),
    TBX_LABEL("elot_928", "ISO-8859-7"),
    TBX_LABEL("greek", "ISO-8859-7"),
    TBX_LABEL("greek8", "ISO-8859-7"),
    TBX_LABEL("iso-8859-7", "ISO-8859-7"),
    TBX_LABEL("iso-ir-126", "ISO-8859-7"),
    TBX_LABEL("iso8859-7", "ISO-8859-7"),
    TBX_LABEL("iso88597", "ISO-8859-7"),
    TBX_LABEL("iso_8859-7", "ISO-8859-7"),
    TBX_LABEL("iso_8859-7:1987", "ISO-8859-7"),
    TBX_LABEL("sun_eu_greek", "ISO-8859-7"),
    TBX_LABEL("csiso88598e", "ISO-8859-8"),
    TBX_LABEL("csisolatinhebrew", "ISO-8859-8"),
    TBX_LABEL("hebrew", "ISO-8859-8"),
    TBX_LABEL("iso-8859-8", "ISO-8859-8"),
    TBX_LABEL("iso-8859-8-e", "ISO-8859-8"),
    TBX_LABEL("iso-ir-138", "ISO-8859-8"),
    TBX_LABEL("iso8859-8", "ISO-8859-8"),
    TBX_LABEL("iso88598", "ISO-8859-8"),
    TBX_LABEL("iso_8859-8", "ISO-8859-8"),
    TBX_LABEL("iso_8859-8:1988", "ISO-8859-8"),
    TBX_LABEL("visual", "ISO-8859-8"),
    TBX_LABEL("csiso88598i", "ISO-8859-8-I"),
    TBX_LABEL("iso-8859-8-i", "ISO-8859-8-I"),
    TBX_LABEL("logical", "ISO-8859-8-I"),
    TBX_LABEL("csisolatin6", "ISO-8859-10"),
    TBX_LABEL("iso-8859-10", "ISO-8859-10"),
    TBX_LABEL("iso-ir-157", "ISO-8859-10"),
    TBX_LABEL("iso8859-10", "ISO-8859-10"),
    TBX_LABEL("iso885910", "ISO-8859-10"),
    TBX_LABEL("l6", "ISO-8859-10"),
    TBX_LABEL("latin6", "ISO-8859-10"),
    TBX_LABEL("iso-8859-13", "ISO-8859-13"),
    TBX_LABEL("iso8859-13", "ISO-8859-13"),
    TBX_LABEL("iso885913", "ISO-8859-13"),
    TBX_LABEL("iso-8859-14", "ISO-8859-14"),
    TBX_LABEL("iso8859-14", "ISO-8859-14"),
    TBX_LABEL("iso885914", "ISO-8859-14"),
    TBX_LABEL("csisolatin9", "ISO-8859-15"),
    TBX_LABEL("iso-8859-15", "ISO-8859-15"),
    TBX_LABEL("iso8859-15", "ISO-8859-15"),
    TBX_LABEL("iso885915", "ISO-8859-15"),
    TBX_LABEL("iso_8859-15", "ISO-8859-15"),
    TBX_LABEL("l9", "ISO-8859-15"),
    TBX_LABEL("iso-8859-16", "ISO-8859-16"),
    TBX_LABEL("cskoi8r", "KOI8-R"),
    TBX_LABEL("koi", "KOI8-R"),
    TBX_LABEL("koi8", "KOI8-R"),
    TBX_LABEL("koi8-r", "KOI8-R"),
    TBX_LABEL("koi8_r", "KOI8-R"),
    TBX_LABEL("koi8-ru", "KOI8-U"),
    TBX_LABEL("koi8-u", "KOI8-U"),
    TBX_LABEL("csmacintosh", "macintosh"),
    TBX_LABEL("mac", "macintosh"),
    TBX_LABEL("macintosh", "macintosh"),
    TBX_LABEL("x-mac-roman", "macintosh"),
    TBX_LABEL("x-mac-cyrillic", "x-mac-cyrillic"),
    TBX_LABEL("x-mac-ukrainian", "x-mac-cyrillic"),
    TBX_LABEL("dos-874", "windows-874"),
    TBX_LABEL("iso-8859-11", "windows-874"),
    TBX_LABEL("iso8859-11", "windows-874"),
    TBX_LABEL("iso885911", "windows-874"),
    TBX_LABEL("tis-620", "windows-874"),
    TBX_LABEL("windows-874", "windows-874"),
    TBX_LABEL("cp1250", "windows-1250"),
    TBX_LABEL("windows-1250", "windows-1250"),
    TBX_LABEL("x-cp1250", "windows-1250"),
    TBX_LABEL("cp1251", "windows-1251"),
    TBX_LABEL("windows-1251", "windows-1251"),
    TBX_LABEL("x-cp1251", "windows-1251"),
    TBX_LABEL("ansi_x3.4-1968", "windows-1252"),
    TBX_LABEL("ascii", "windows-1252"),
    TBX_LABEL("cp1252", "windows-1252"),
    TBX_LABEL("cp819", "windows-1252"),
    TBX_LABEL("csisolatin1", "windows-1252"),
    TBX_LABEL("ibm819", "windows-1252"),
    TBX_LABEL("iso-8859-1", "windows-1252"),
    TBX_LABEL("iso-ir-100", "windows-1252"),
    TBX_LABEL("iso8859-1", "windows-1252"),
    TBX_LABEL("iso88591", "windows-1252"),
    TBX_LABEL("iso_8859-1", "windows-1252"),
    TBX_LABEL("iso_8859-1:1987", "windows-1252"),
    TBX_LABEL("l1", "windows-1252"),
    TBX_LABEL("latin1", "windows-1252"),
    TBX_LABEL("us-ascii", "windows-1252"),
    TBX_LABEL("windows-1252", "windows-1252"),
    TBX_LABEL("x-cp1252", "windows-1252"),
    TBX_LABEL("cp1253", "windows-1253"),
    TBX_LABEL("windows-1253", "windows-1253"),
    TBX_LABEL("x-cp1253", "windows-1253"),
    TBX_LABEL("cp1254", "windows-1254"),
    TBX_LABEL("csisolatin5", "windows-1254"),
    TBX_LABEL("iso-8859-9", "windows-1254"),
    TBX_LABEL("iso-ir-148", "windows-1254"),
    TBX_LABEL("iso8859-9", "windows-1254"),
    TBX_LABEL("iso88599", "windows-1254"),
    TBX_LABEL("iso_8859-9", "windows-1254"),
    TBX_LABEL("iso_8859-9:1989", "windows-1254"),
    TBX_LABEL("l5", "windows-1254"),
    TBX_LABEL("latin5", "windows-1254"),
    TBX_LABEL("windows-1254", "windows-1254"),
    TBX_LABEL("x-cp1254", "windows-1254"),
    TBX_LABEL("cp1255", "windows-1255"),
    TBX_LABEL("windows-1255", "windows-1255"),
    TBX_LABEL("x-cp1255", "windows-1255"),
    TBX_LABEL("cp1256", "windows-1256"),
    TBX_LABEL("windows-1256", "windows-1256"),
    TBX_LABEL("x-cp1256", "windows-1256"),
    TBX_LABEL("cp1257", "windows-1257"),
    TBX_LABEL("windows-1257", "windows-1257"),
    TBX_LABEL("x-cp1257", "windows-1257"),
    TBX_LABEL("cp1258", "windows-1258"),
    TBX_LABEL("windows-1258", "windows-1258"),
    TBX_LABEL("x-cp1258", "windows-1258"),
    TBX_LABEL("chinese", "GBK"),
    TBX_LABEL("csgb2312", "GBK"),
    TBX_LABEL("csiso58gb231280", "GBK"),
    TBX_LABEL("gb2312", "GBK"),
    TBX_LABEL("gb_2312", "GBK"),
    TBX_LABEL("gb_2312-80", "GBK"),
    TBX_LABEL("gbk", "GBK"),
    TBX_LABEL("iso-ir-58", "GBK"),
    TBX_LABEL("x-gbk", "GBK"),
    TBX_LABEL("gb18030", "gb18030"),
    TBX_LABEL("big5", "Big5"),
    TBX_LABEL("big5-hkscs", "Big5"),
    TBX_LABEL("cn-big5", "Big5"),
    TBX_LABEL("csbig5", "Big5"),
    TBX_LABEL("x-x-big5", "Big5"),
    TBX_LABEL("cseucpkdfmtjapanese", "EUC-JP"),
    TBX_LABEL("euc-jp", "EUC-JP"),
    TBX_LABEL("x-euc-jp", "EUC-JP"),
    TBX_LABEL("csiso2022jp", "ISO-2022-JP"),
    TBX_LABEL("iso-2022-jp", "ISO-2022-JP"),
    TBX_LABEL("csshiftjis", "Shift_JIS"),
    TBX_LABEL("ms932", "Shift_JIS"),
    TBX_LABEL("ms_kanji", "Shift_JIS"),
    TBX_LABEL("shift-jis", "Shift_JIS"),
    TBX_LABEL("shift_jis", "Shift_JIS"),
    TBX_LABEL("sjis", "Shift_JIS"),
    TBX_LABEL("windows-31j", "Shift_JIS"),
    TBX_LABEL("x-sjis", "Shift_JIS"),
    TBX_LABEL("cseuckr", "EUC-KR"),
    TBX_LABEL("csksc56011987", "EUC-KR"),
    TBX_LABEL("euc-kr", "EUC-KR"),
    TBX_LABEL("iso-ir-149", "EUC-KR"),
    TBX_LABEL("korean", "EUC-KR"),
    TBX_LABEL("ks_c_5601-1987", "EUC-KR"),
    TBX_LABEL("ks_c_5601-1989", "EUC-KR"),
    TBX_LABEL("ksc5601", "EUC-KR"),
    TBX_LABEL("ksc_5601", "EUC-KR"),
    TBX_LABEL("windows-949", "EUC-KR"),
    TBX_LABEL("unicodefffe", "UTF-16BE"),
    TBX_LABEL("utf-16be", "UTF-16BE"),
    TBX_LABEL("csunicode", "UTF-16LE"),
    TBX_LABEL("iso-10646-ucs-2", "UTF-16LE"),
    TBX_LABEL("ucs-2", "UTF-16LE"),
    TBX_LABEL("unicode", "UTF-16LE"),
    TBX_LABEL("unicodefeff", "UTF-16LE"),
    TBX_LABEL("utf-16", "UTF-16LE"),
    TBX_LABEL("utf-16le", "UTF-16LE"),
};

#undef TBX_LABEL

constexpr std::uint8_t kUtf8 = IndexOf("UTF-8");
constexpr std::uint8_t kWindows1252 = IndexOf("windows-1252");

const CharsetInfo& Info(std::uint8_t index) {
    return kCharsets[index];
}

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One iconv conversion, closed when done.
class Converter {
public:
    Converter(std::string_view to, std::string_view from)
        : cd_(::iconv_open(std::string(to).c_str(), std::string(from).c_str())) {}
    ~Converter() {
        if (Ok())
            ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts from in onwards into out until the input ends or a sequence
    // cannot be converted; returns 0 or the errno that stopped it.
    int Run(std::string_view& in, std::string& out) {
        char buffer[4096];
        while (!in.empty()) {
            char* from = const_cast<char*>(in.data());
            std::size_t fromLeft = in.size();
            char* to = buffer;
            std::size_t toLeft = sizeof buffer;
            const std::size_t done = ::iconv(cd_, &from, &fromLeft, &to, &toLeft);
            const int error = done == static_cast<std::size_t>(-1) ? errno : 0;
            out.append(buffer, static_cast<std::size_t>(to - buffer));
            in.remove_prefix(in.size() - fromLeft);
            if (error != 0 && error != E2BIG)
                return error;
        }
        return 0;
    }

    // Writes what the converter still holds: a letter of Windows-1255 or
    // -1258 waits for the accents that may follow it.
    void Flush(std::string& out) {
        char buffer[64];
        char* to = buffer;
        std::size_t toLeft = sizeof buffer;
        ::iconv(cd_, nullptr, nullptr, &to, &toLeft);
        out.append(buffer, static_cast<std::size_t>(to - buffer));
    }

    void Reset() { ::iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

std::string DecodeUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t from = pos;
        char32_t cp = 0;
        if (NextUtf8(bytes, pos, cp))
            out.append(bytes.substr(from, pos - from));
        else
            out += kReplacement;
    }
    return out;
}

// A charset of one byte a character, as a table of its 256 bytes, made once
// from iconv: most pages and every code page west of Thailand are read and
// written this way, without a converter opened for each text. Windows-1255
// and -1258 combine letters with the accents that follow, so they keep
// iconv's own conversion.
struct ByteTable {
    std::array<char32_t, 256> codePoint{};                // U+FFFD where the byte is unassigned
    std::vector<std::pair<char32_t, std::uint8_t>> bytes; // by code point, above 0x7F
    // The byte of each code point below kDirect (0: none), where nearly all
    // letters of these charsets lie, to find without a search.
    static constexpr char32_t kDirect = 0x800;
    std::array<std::uint8_t, kDirect> direct{};

    // The byte of a code point above 0x7F, or nothing.
    std::optional<std::uint8_t> ByteOf(char32_t cp) const {
        if (cp < kDirect)
            return direct[cp] ? std::optional<std::uint8_t>(direct[cp]) : std::nullopt;
        const auto at =
            std::lower_bound(bytes.begin(), bytes.end(), std::pair<char32_t, std::uint8_t>(cp, 0));
        return at != bytes.end() && at->first == cp ? std::optional(at->second) : std::nullopt;
    }
};

std::optional<ByteTable> MakeByteTable(const CharsetInfo& info) {
    if (!info.asciiCompatible || info.codePage == 1255 || info.codePage == 1258)
        return std::nullopt;
    Converter convert("UTF-32LE", info.iconv);
    if (!convert.Ok())
        return std::nullopt;
    ByteTable table;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char in = static_cast<char>(byte);
        std::string_view rest(&in, 1);
        std::string utf32;
        const int error = convert.Run(rest, utf32);
        convert.Reset();
        if (error == EINVAL)
            return std::nullopt; // the byte starts a longer sequence
        char32_t cp = 0xFFFD;
        if (error == 0 && utf32.size() == 4)
            std::memcpy(&cp, utf32.data(), 4);
        table.codePoint[byte] = cp;
        if (byte >= 0x80 && cp != 0xFFFD) {
            table.bytes.emplace_back(cp, static_cast<std::uint8_t>(byte));
            if (cp < ByteTable::kDirect && !table.direct[cp])
                table.direct[cp] = static_cast<std::uint8_t>(byte);
        }
    }
    std::sort(table.bytes.begin(), table.bytes.end());
    return table;
}

const ByteTable* ByteTableOf(std::uint8_t index) {
    static const auto tables = [] {
        std::array<std::optional<ByteTable>, std::size(kCharsets)> made;
        for (std::size_t i = 0; i < made.size(); ++i)
            made[i] = MakeByteTable(kCharsets[i]);
        return made;
    }();
    return tables[index] ? &*tables[index] : nullptr;
}

std::uint8_t IndexOfCodePage(int codePage) {
    for (std::size_t i = 0; i < std::size(kCharsets); ++i) {
        if (kCharsets[i].codePage == codePage)
            return static_cast<std::uint8_t>(i);
    }
    return kWindows1252;
}

// The iconv name of a Windows ANSI code page a help file stores text in.
std::string_view CodePageIconv(int codePage) {
    return Info(IndexOfCodePage(codePage)).iconv;
}

// Encodes, handing each character the code page lacks (or each invalid
// byte, as cp 0x110000) to onUnmappable; stops when that returns false.
template <typename F>
bool EncodeWith(std::string_view utf8, int codePage, std::string& out, F onUnmappable) {
    out.reserve(utf8.size());
    if (IsAscii(utf8)) {
        out.assign(utf8);
        return true;
    }
    if (const ByteTable* table = ByteTableOf(IndexOfCodePage(codePage))) {
        for (std::size_t pos = 0; pos < utf8.size();) {
            const std::size_t from = pos;
            char32_t cp = 0;
            const bool valid = NextUtf8(utf8, pos, cp);
            if (valid && cp < 0x80) {
                out += static_cast<char>(cp);
                continue;
            }
            const std::optional<std::uint8_t> byte =
                valid ? table->ByteOf(cp) : std::optional<std::uint8_t>();
            if (byte)
                out += static_cast<char>(*byte);
            else if (!onUnmappable(out, utf8.substr(from, pos - from), valid ? cp : 0x110000))
                return false;
        }
        return true;
    }
    Converter convert(CodePageIconv(codePage), "UTF-8");
    while (!utf8.empty()) {
        const int error = convert.Ok() ? convert.Run(utf8, out) : EILSEQ;
        if (error == 0) {
            convert.Flush(out);
            break;
        }
        if (convert.Ok())
            convert.Flush(out);
        std::size_t pos = 0;
        char32_t cp = 0;
        const bool valid = NextUtf8(utf8, pos, cp);
        if (!onUnmappable(out, utf8.substr(0, pos), valid ? cp : 0x110000))
            return false;
        utf8.remove_prefix(pos);
        if (convert.Ok())
            convert.Reset();
    }
    return true;
}

} // namespace

std::optional<Charset> Charset::ForLabel(std::string_view label) {
    label = TrimHtmlSpace(label);
    for (const Label& known : kLabels) {
        if (EqualsAsciiNoCase(label, known.label))
            return Charset(known.charset);
    }
    return std::nullopt;
}

Charset Charset::ForCodePage(int codePage) {
    return Charset(IndexOfCodePage(codePage));
}

Charset Charset::Utf8() {
    return Charset(kUtf8);
}

std::string_view Charset::Name() const {
    return Info(index_).name;
}

std::string_view Charset::Iconv() const {
    return Info(index_).iconv;
}

bool Charset::IsUtf8() const {
    return index_ == kUtf8;
}

bool Charset::IsUtf16() const {
    return Info(index_).codePage == 1200 || Info(index_).codePage == 1201;
}

bool Charset::AsciiCompatible() const {
    return Info(index_).asciiCompatible;
}

std::size_t ByteOrderMarkSize(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return 3;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
        return 2;
    return 0;
}

std::string Decode(std::string_view bytes, Charset charset) {
    if (charset.IsUtf8()) {
        if (bytes.starts_with("\xEF\xBB\xBF"))
            bytes.remove_prefix(3);
        return DecodeUtf8(bytes);
    }
    if (charset.IsUtf16() && ByteOrderMarkSize(bytes) == 2)
        bytes.remove_prefix(2);
    if (charset.AsciiCompatible() && IsAscii(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    if (const ByteTable* table = ByteTableOf(charset.index_)) {
        for (const char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80)
                out += c;
            else
                AppendUtf8(out, table->codePoint[static_cast<unsigned char>(c)]);
        }
        return out;
    }
    Converter convert("UTF-8", charset.Iconv());
    if (!convert.Ok())
        return DecodeUtf8(bytes); // a C library without the charset: the bytes as they are
    while (!bytes.empty()) {
        const int error = convert.Run(bytes, out);
        convert.Flush(out);
        if (error == 0)
            break;
        out += kReplacement;
        // A sequence cut off at the end costs all of it; a bad byte, only itself.
        bytes.remove_prefix(error == EINVAL ? bytes.size() : 1);
        convert.Reset();
    }
    return out;
}

std::string Encode(std::string_view utf8, int codePage, Unmappable policy) {
    std::string out;
    std::unique_ptr<icu::Transliterator> nearest;
    EncodeWith(utf8, codePage, out, [&](std::string& o, std::string_view sequence, char32_t cp) {
        if (cp > 0x10FFFF) {
            o += '?';
        } else if (policy == Unmappable::CharRef) {
            o += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
        } else {
            // ICU's transliterator rather than iconv's //TRANSLIT, which
            // depends on the locale and knows nothing in the C locale.
            if (!nearest) {
                UErrorCode status = U_ZERO_ERROR;
                nearest.reset(icu::Transliterator::createInstance(
                    "NFD; [:Nonspacing Mark:] Remove; NFC; Latin-ASCII", UTRANS_FORWARD, status));
                if (U_FAILURE(status))
                    nearest.reset();
            }
            std::optional<std::string> near;
            if (nearest) {
                icu::UnicodeString text = icu::UnicodeString::fromUTF8(
                    icu::StringPiece(sequence.data(), static_cast<std::int32_t>(sequence.size())));
                nearest->transliterate(text);
                std::string form;
                text.toUTF8String(form);
                if (form != sequence && !form.empty())
                    near = EncodeExact(form, codePage);
            }
            o += near ? *near : "?";
        }
        return true;
    });
    return out;
}

std::optional<std::string> EncodeExact(std::string_view utf8, int codePage) {
    std::string out;
    if (!EncodeWith(utf8, codePage, out,
                    [](std::string&, std::string_view, char32_t) { return false; }))
        return std::nullopt;
    return out;
}

namespace {

// The encoding named in an XML declaration at the very start of the bytes:
// <?xml version="1.0" encoding="windows-1251"?>
std::string_view XmlDeclaredEncoding(std::string_view bytes) {
    if (!bytes.starts_with("<?xml"))
        return {};
    const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
    const std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return {};
    std::string_view rest = TrimHtmlSpace(declaration.substr(at + 8));
    if (!rest.starts_with('='))
        return {};
    rest = TrimHtmlSpace(rest.substr(1));
    if (rest.empty() || (rest.front() != '"' && rest.front() != '\''))
        return {};
    const std::size_t close = rest.find(rest.front(), 1);
    return close == std::string_view::npos ? std::string_view() : rest.substr(1, close - 1);
}

// A declared label, as the page's markup gives it. A page that reaches us
// as ASCII-compatible bytes cannot be UTF-16, whatever it says: browsers
// read such a label as UTF-8.
std::optional<Charset> Declared(std::string_view label) {
    std::optional<Charset> charset = Charset::ForLabel(label);
    if (charset && charset->IsUtf16())
        return Charset::Utf8();
    return charset;
}

} // namespace

Charset DecidePageCharset(std::string_view bytes, const CharsetDeclarations& declared,
                          Charset fallback) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return Charset::Utf8();
    if (bytes.starts_with("\xFF\xFE"))
        return *Charset::ForLabel("utf-16le");
    if (bytes.starts_with("\xFE\xFF"))
        return *Charset::ForLabel("utf-16be");
    for (std::string_view label :
         {declared.metaCharset, declared.httpEquivType, XmlDeclaredEncoding(bytes)}) {
        if (const std::optional<Charset> charset = Declared(label)) {
            // A page declared UTF-8 whose bytes are not is legacy text
            // mislabelled; read it as the project's text instead.
            if (charset->IsUtf8() && !IsValidUtf8(bytes))
                return fallback;
            return *charset;
        }
    }
    if (!fallback.IsUtf8() && !IsAscii(bytes) && IsValidUtf8(bytes))
        return Charset::Utf8();
    return fallback;
}

std::string DecodeLegacyText(std::string_view bytes, Charset fallback) {
    return IsValidUtf8(bytes) ? std::string(bytes) : Decode(bytes, fallback);
}

} // namespace tbx::text
