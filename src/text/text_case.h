#pragma once
// Comparisons of UTF-8 names without regard to letter case, for file lists
// and option texts: ASCII, Latin-1 and Cyrillic letters fold, and "ё" sorts
// right after "е" as the Russian alphabet has it. Bytes that are not valid
// UTF-8 compare as themselves.

#include <string>
#include <string_view>

namespace tbx {

// A total order: names equal but for case are ordered by their bytes, so a
// sorted list comes out the same every time.
bool NameLess(std::string_view a, std::string_view b);

// The order of an index for Russian readers, as in a Russian dictionary:
// letter case ignored; "ё" counts as "е" (and follows it when nothing else
// differs); numbers go by their value ("2" before "10"); digits come before
// Cyrillic letters, Cyrillic before Latin, other letters last. Punctuation
// and spaces before the first letter or digit are ignored ("«Мир»" files
// under "М"), and between words they sort before any letter, so a word
// comes before the longer words it begins. Texts equal under these rules
// go by NameLess, so the order is total.
bool RussianLess(std::string_view a, std::string_view b);
// What RussianLess compares first, for sorting many texts with one key each.
std::u32string RussianSortKey(std::string_view text);

bool EqualNoCase(std::string_view a, std::string_view b);
// A strict weak order in which names equal but for case are equivalent.
bool LessNoCase(std::string_view a, std::string_view b);
// The text with ASCII, Latin-1 and Cyrillic capitals made small.
std::string ToLowerCase(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view tail);
// A file name against a pattern as Windows takes one: "*" stands for any
// characters, "?" for one, other characters for themselves without regard
// to case, and a final ".*" may also match nothing ("*.*" is every name).
bool MatchesNoCase(std::string_view pattern, std::string_view name);

} // namespace tbx
