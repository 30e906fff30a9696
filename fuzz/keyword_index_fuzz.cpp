// The reader of a binary keyword index on any bytes: it reads them or says
// why not, and what it reads, written again, reads back the same.

#include "chm/keyword_index.h"

#include <cstdint>
#include <string_view>

namespace {

// The writer cuts a keyword record down to one block; beyond these sizes a
// read keyword cannot come back whole, so the round trip is not asked.
bool WritableWhole(const tbx::chm::IndexKeyword& keyword) {
    return keyword.text.size() <= 400 && keyword.seeAlso.size() <= 400 &&
           keyword.topics.size() <= 200;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto read = tbx::chm::ReadKeywordIndex(bytes, &error);
    if (!read) {
        if (error.empty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    for (const tbx::chm::IndexKeyword& keyword : read->keywords) {
        if (!WritableWhole(keyword))
            return 0;
    }
    const tbx::chm::KeywordIndexFiles written =
        tbx::chm::WriteKeywordIndex(read->keywords, read->codePage, read->language);
    const auto again = tbx::chm::ReadKeywordIndex(written.btree, &error);
    if (!again || again->keywords.size() != read->keywords.size())
        __builtin_trap();
    for (std::size_t i = 0; i < read->keywords.size(); ++i) {
        const tbx::chm::IndexKeyword& a = read->keywords[i];
        const tbx::chm::IndexKeyword& b = again->keywords[i];
        if (a != b)
            __builtin_trap();
    }
    return 0;
}
