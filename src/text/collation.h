#pragma once
// The order of texts by a language's own rules, for the lists the program
// sorts for readers (the keyword index). ICU's collator does the work;
// Russian keeps the program's own dictionary order (RussianSortKey).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tbx::text {

class Collation {
public:
    // For the language of a Windows language id; an unknown id sorts as
    // the root order of Unicode.
    explicit Collation(std::uint32_t lcid);
    ~Collation();
    Collation(const Collation&) = delete;
    Collation& operator=(const Collation&) = delete;

    // A key whose byte order is the language's order of the texts: letter
    // case ignored, numbers by their value. Texts equal under these rules
    // get equal keys.
    std::string SortKey(std::string_view utf8) const;

private:
    struct Icu;                // ICU's collator, kept out of this header
    std::unique_ptr<Icu> icu_; // none: the Russian order
};

} // namespace tbx::text
