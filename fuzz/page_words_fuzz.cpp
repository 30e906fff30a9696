// The page splitter, and the index built from what it finds, on any bytes:
// the first byte picks the charset of the page and the code page of the
// index, the rest is the page. Every word must be 1..kMaxWordLength folded
// word bytes.

#include "chm/page_words.h"
#include "chm/search_index.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace {

class CheckedWords : public tbx::chm::WordSink {
public:
    explicit CheckedWords(int codePage) : codePage_(codePage) {}
    void OnWord(std::string_view word) override {
        if (word.empty() || word.size() > tbx::chm::kMaxWordLength)
            std::abort();
        for (char c : word) {
            const auto byte = static_cast<unsigned char>(c);
            if (tbx::text::FoldSearchByte(codePage_, byte) != byte)
                std::abort();
        }
    }

private:
    int codePage_;
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
    static constexpr int kCodePages[] = {1251, 1252, 1250, 874, 1255, 1258};
    const int codePage = kCodePages[data[0] / std::size(kLabels) % std::size(kCodePages)];
    const tbx::text::SearchAlphabet& alphabet = *tbx::text::FindSearchAlphabet(codePage);
    CheckedWords words(codePage);
    tbx::chm::SplitPageWords(html, charset, alphabet, words);
    tbx::chm::SplitTextWords(html.substr(0, 256), alphabet, words);
    const tbx::chm::SearchTopic topic{7, html, charset, html.substr(0, 64)};
    tbx::chm::BuildFullTextIndex({&topic, 1}, alphabet, 0x419);
    return 0;
}
