#pragma once
// What a help viewer reads from a compiled help file besides its pages: the
// #SYSTEM facts, the window definitions of #WINDOWS, the topics of #TOPICS
// (title and stored name) and the full-text search of $FIftiMain. Standard
// C++ only.
//
// The files come from anywhere: every offset, count and size is checked
// against the bytes actually read, nothing is allocated for a size the file
// claims before those bytes are in hand, and every walk through a chain or
// tree is bounded (a leaf is visited once, the tree is descended as deep
// as its header says and no deeper than 16), so a hostile file costs memory
// and time in proportion to the bytes it really holds. What is missing or
// damaged is said in Problems(); the rest is still read.

#include "chm/internal_files.h"
#include "chm/reader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

// The facts of #SYSTEM a viewer needs. Texts are UTF-8; file names are
// stored names, with the leading "/" ("/index.htm"), empty when not given.
struct HelpSystemInfo {
    std::string title;
    std::string defaultTopic;
    std::string defaultWindow;   // the name of a #WINDOWS record
    std::string contentsFile;    // the .hhc
    std::string indexFile;       // the .hhk
    std::uint32_t language = 0;  // LCID; 0 when #SYSTEM gives none
    int codePage = 1252;         // the ANSI code page the help file's texts are in
    bool fullTextSearch = false; // the compiler says it wrote $FIftiMain
};

struct HelpTopicEntry {
    std::uint32_t number = 0; // its index in #TOPICS
    std::string title;        // UTF-8; empty when the topic has none
    std::string name;         // stored name, "/dir/page.htm"
};

enum class SearchMode {
    WholeWord, // the word as given
    Prefix,    // every word that starts with it
};

struct SearchHit {
    std::uint32_t topic = 0;
    std::string title; // as Topic() gives them
    std::string name;
    bool inTitle = false;    // a word of the query is in the topic's title
    std::uint32_t count = 0; // how often the query's words stand in the topic
};

enum class SearchOutcome {
    Found,
    NothingFound, // the index was read and has no topic for the query
    NoWords,      // the query holds no word the index could have
    NoIndex,      // the help file has no full-text index
    Damaged,      // the index could not be read; problem says why
};

struct SearchResults {
    SearchOutcome outcome = SearchOutcome::NothingFound;
    // Topics holding every word of the query: title hits first, then by
    // count, most first, then by topic number.
    std::vector<SearchHit> hits;
    std::string problem; // for Damaged, and for a part of the index skipped
};

// The parts of a help file a problem is about, so that a viewer can say in
// its own words what is missing.
enum class HelpPart { System, Windows, Strings, Topics, SearchIndex };

struct HelpProblem {
    HelpPart part;
    std::string detail; // what was found, for the log
};

// Reads the navigation data of one open help file through its own cursor:
// one HelpReader per thread, the ChmFile outliving it.
class HelpReader {
public:
    // Reads #SYSTEM, #WINDOWS, #STRINGS and the topic tables at once (they
    // are small); the full-text index is read on each search, node by node.
    explicit HelpReader(const ChmFile& file);
    ~HelpReader();
    HelpReader(const HelpReader&) = delete;
    HelpReader& operator=(const HelpReader&) = delete;

    const HelpSystemInfo& System() const { return system_; }
    // Every window record, texts in UTF-8 and file names as the definition
    // gives them ("toc.hhc"), numbers as stored; a number the record's
    // valid-members bits do not mark stays empty, as does a notify id of 0.
    const std::vector<HelpWindow>& Windows() const { return windows_; }
    // The window #SYSTEM names, else the first; nullptr without windows.
    const HelpWindow* DefaultWindow() const;

    std::size_t TopicCount() const;
    // Nothing for a number beyond the topics or a topic whose entry is damaged.
    std::optional<HelpTopicEntry> Topic(std::uint32_t number) const;

    bool HasSearchIndex() const;
    // The topics holding every word of query (UTF-8), the words folded as
    // the viewer folds them in the help file's code page.
    SearchResults Search(std::string_view query, SearchMode mode);

    // What is missing or could not be read, a line each; a help file that
    // has none of these parts at all (a plain archive) gives one line.
    const std::vector<HelpProblem>& Problems() const { return problems_; }

private:
    struct Tables;

    void ReadSystem(std::string_view system);
    void ReadWindows(std::string_view windows);
    // A text of the help file in UTF-8: in its code page, unless it is
    // valid UTF-8 already (compilers that copy a UTF-8 project through).
    std::string Text(std::string_view bytes) const;

    const ChmFile& file_;
    ChmCursor cursor_;
    HelpSystemInfo system_;
    std::vector<HelpWindow> windows_;
    std::unique_ptr<Tables> tables_;
    std::vector<HelpProblem> problems_;
};

// The words of a query as the index stores them: in the code page, each
// byte folded as the viewer folds it; a byte that belongs to no word splits.
std::vector<std::string> QueryWords(std::string_view utf8, int codePage);

} // namespace tbx::chm
