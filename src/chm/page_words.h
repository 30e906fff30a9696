#pragma once
// The words of a page as the full-text search stores them: runs of the
// letters and digits of the help file's code page, in that code page, folded
// the way the help viewer folds the words it is asked for (see
// text/search_alphabet.h). Standard C++ only.

#include "text/charset.h"
#include "text/search_alphabet.h"

#include <cstddef>
#include <string_view>

namespace tbx::chm {

// Words longer than this keep their first kMaxWordLength bytes.
constexpr std::size_t kMaxWordLength = 99;

class WordSink {
public:
    virtual ~WordSink() = default;
    // One word, 1..kMaxWordLength folded bytes of the code page, valid during the
    // call only. Calls come in text order, so the n-th call is position n.
    virtual void OnWord(std::string_view word) = 0;
};

// The words of the text a browser shows, read by the markup reader of
// text/markup.h in the page's charset (the walk's decision): markup, and the
// content of <script>, <style> and <title>, are left out; character
// references are decoded; inline tags such as <b> do not split a word, other
// tags do. Broken markup never hides the rest of the page. Characters the
// code page cannot hold (nor their base letters) split words; soft hyphens
// and combining accents are dropped.
void SplitPageWords(std::string_view html, text::Charset charset,
                    const text::SearchAlphabet& alphabet, WordSink& sink);

// The words of a title as it stands between <title> and </title>, or of a
// stop list: UTF-8 when valid, else the alphabet's code page; character
// references are decoded, and '<' is a character like any other, as the
// browser shows it.
void SplitTextWords(std::string_view text, const text::SearchAlphabet& alphabet, WordSink& sink);

} // namespace tbx::chm
