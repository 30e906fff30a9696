#pragma once
// The full-text search index of a help file: the bytes of "/$FIftiMain"
// (every word with the topics and word positions it has) and of "/$OBJINST"
// (the viewer's word-breaking settings), in the help file's single-byte code
// page and language. Standard C++ only.
//
// $FIftiMain: a 0x400-byte header, the word-location codes of every entry,
// 4096-byte leaf nodes of prefix-compressed words in byte order, and index
// nodes above them, the root last. A word has up to two entries, side by side
// in one leaf: its title entry first, then its body entry. Positions count
// words from 0, in the title and in the body separately.

#include "chm/page_words.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tbx::chm {

struct SearchTopic {
    std::uint32_t number = 0;                      // the topic's index in #TOPICS
    std::string_view html;                         // the page's bytes
    text::Charset charset = text::Charset::Utf8(); // as the walk decided
    // The page's title as its <title> holds it or #TOPICS names it: UTF-8,
    // or the help file's code page when not valid UTF-8; character
    // references count.
    std::string_view title;
};

class WordTable;

// Gathers the words topic by topic, so that a compiler can drop each page
// once it is added.
class SearchIndexBuilder {
public:
    // Words in the alphabet's code page; lcid goes into the header.
    SearchIndexBuilder(const text::SearchAlphabet& alphabet, std::uint32_t lcid);
    ~SearchIndexBuilder();
    SearchIndexBuilder(const SearchIndexBuilder&) = delete;
    SearchIndexBuilder& operator=(const SearchIndexBuilder&) = delete;

    // The words of a stop list (a text of words, as SplitTextWords reads
    // it) are left out of the index. Only before the first topic: once
    // words are gathered it does nothing.
    void SetStopWords(std::string_view text);

    // Topic numbers must rise from call to call and stay below 2^31: false,
    // with nothing indexed, for any other number.
    bool AddTopic(const SearchTopic& topic);

    // Takes over the topics of a builder that gathered later ones (its first
    // number above every number here), so that pages can be indexed by
    // several builders at once; the index comes out as if one builder had
    // taken every topic. False, with neither builder changed, when the
    // numbers do not follow on or the builders' alphabets differ; later is
    // empty afterwards. Later keeps its own stop words.
    bool Append(SearchIndexBuilder& later);

    // The codes are gathered in roots chosen from the first pages, up to
    // kRootPages of them. A builder of later topics can take another's
    // instead, before its first topic, and keep them: Append then takes its
    // codes as they are, where roots of its own would be written anew.
    static constexpr std::uint32_t kRootPages = 64;
    void TakeRootsFrom(const SearchIndexBuilder& other);

    // The bytes of /$FIftiMain. The builder is empty afterwards.
    std::string Finish();

private:
    const text::SearchAlphabet& alphabet_;
    std::uint32_t lcid_;
    std::unique_ptr<WordTable> words_;
};

// The same for topics at hand; topics out of order are left out.
std::string BuildFullTextIndex(std::span<const SearchTopic> topics,
                               const text::SearchAlphabet& alphabet, std::uint32_t lcid);

// The bytes of /$OBJINST: the character classes of the alphabet's code page
// that the viewer breaks and folds its queries with, matching the words above.
std::string BuildObjInst(const text::SearchAlphabet& alphabet, std::uint32_t lcid);

} // namespace tbx::chm
