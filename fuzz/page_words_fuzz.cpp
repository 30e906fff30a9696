// The page splitter, and the index built from what it finds, on any bytes:
// the first byte picks the charset (Detect, Windows-1251, UTF-8), the rest
// is the page. Every word must be 1..kMaxWordLength folded word bytes.

#include "chm/page_words.h"
#include "chm/search_index.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace {

class CheckedWords : public tbx::chm::WordSink {
public:
    void OnWord(std::string_view word) override {
        if (word.empty() || word.size() > tbx::chm::kMaxWordLength)
            std::abort();
        for (char c : word) {
            const auto byte = static_cast<unsigned char>(c);
            if (tbx::chm::FoldedWordByte(byte) != byte)
                std::abort();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The charset the walk could have decided: the first byte picks it.
    static constexpr std::string_view kLabels[] = {"utf-8", "windows-1251", "koi8-r", "shift_jis",
                                                   "utf-16le"};
    const tbx::text::Charset charset =
        *tbx::text::Charset::ForLabel(kLabels[data[0] % std::size(kLabels)]);
    const std::string_view html(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckedWords words;
    tbx::chm::SplitPageWords(html, charset, words);
    tbx::chm::SplitTextWords(html.substr(0, 256), words);
    const tbx::chm::SearchTopic topic{7, html, charset, html.substr(0, 64)};
    tbx::chm::BuildFullTextIndex({&topic, 1});
    return 0;
}
