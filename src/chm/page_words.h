#pragma once
// The words of a page as the full-text search stores them: runs of letters
// (Latin and Cyrillic) and digits, in Windows-1251, folded to lower case the
// way the help viewer folds the words it is asked for. Standard C++ only.
//
// The viewer lower-cases with the code page's own mapping, which keeps "ё"
// apart from "е": a page that writes "ёлка" is found by "ёлка" and by "Ёлка",
// not by "елка". Folding "ё" into "е" here would make the stored word one the
// viewer never asks for.

#include "text/charset.h"

#include <cstddef>
#include <string_view>

namespace tbx::chm {

// Words longer than this keep their first kMaxWordLength bytes.
constexpr std::size_t kMaxWordLength = 99;

class WordSink {
public:
    virtual ~WordSink() = default;
    // One word, 1..kMaxWordLength folded Windows-1251 bytes, valid during the
    // call only. Calls come in text order, so the n-th call is position n.
    virtual void OnWord(std::string_view word) = 0;
};

// The words of the text a browser shows, read by the markup reader of
// text/markup.h in the page's charset (the walk's decision): markup, and the
// content of <script>, <style> and <title>, are left out; character
// references are decoded; inline tags such as <b> do not split a word, other
// tags do. Broken markup never hides the rest of the page. Characters
// Windows-1251 cannot hold split words; soft hyphens and combining accents
// are dropped.
void SplitPageWords(std::string_view html, text::Charset charset, WordSink& sink);

// The words of a title as it stands between <title> and </title>: UTF-8
// when valid, else Windows-1251; character references are decoded, and
// '<' is a character like any other, as the browser shows it.
void SplitTextWords(std::string_view text, WordSink& sink);

// The folded form of a Windows-1251 byte that belongs to words (a letter or
// a digit), or 0 for any other byte.
unsigned char FoldedWordByte(unsigned char byte);

} // namespace tbx::chm
