#include "text/collation.h"

#include "text/language.h"
#include "text/text_case.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace tbx::text {
namespace {

constexpr std::uint32_t kRussian = 0x19; // the primary language of 0x419

std::unique_ptr<icu::Collator> CollatorFor(std::uint32_t lcid) {
    if ((lcid & 0x3FF) == kRussian)
        return nullptr;
    const Language* language = FindLanguage(lcid);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::forLanguageTag(
        language ? std::string(language->tag) : std::string("und"), status);
    status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(U_SUCCESS(status) ? locale : icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    if (!collator)
        return nullptr;
    // Accents count, letter case does not; "2" comes before "10".
    collator->setStrength(icu::Collator::SECONDARY);
    status = U_ZERO_ERROR;
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    return collator;
}

} // namespace

struct Collation::Icu {
    std::unique_ptr<icu::Collator> collator;
};

Collation::Collation(std::uint32_t lcid) {
    if (std::unique_ptr<icu::Collator> collator = CollatorFor(lcid))
        icu_ = std::make_unique<Icu>(Icu{std::move(collator)});
}

Collation::~Collation() = default;

std::string Collation::SortKey(std::string_view utf8) const {
    std::string key;
    if (!icu_) {
        // Each code point of the Russian key as four bytes, most significant
        // first, so that the bytes sort as the code points do.
        for (char32_t c : RussianSortKey(utf8)) {
            for (int shift = 24; shift >= 0; shift -= 8)
                key += static_cast<char>((c >> shift) & 0xFF);
        }
        return key;
    }
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    std::int32_t size = icu_->collator->getSortKey(text, nullptr, 0);
    key.resize(static_cast<std::size_t>(size));
    size = icu_->collator->getSortKey(text, reinterpret_cast<std::uint8_t*>(key.data()), size);
    // The key ends with a zero byte, which orders nothing.
    key.resize(size > 0 ? static_cast<std::size_t>(size) - 1 : 0);
    return key;
}

} // namespace tbx::text
