#pragma once
// One help file open in the viewer: its directory, navigation data,
// contents and keywords, and the bytes of each stored file for the page
// view. Standard C++; opened off the interface thread.
//
// Thread safety: Serve may run on any number of threads at once (each call
// reads through its own cursor); Search and TopicTitle share one reader
// behind a lock.

#include "chm/help_reader.h"
#include "chm/reader.h"
#include "site/sitemap_reader.h"
#include "viewer/viewer_layout.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tbx::viewer {

using site::SitemapNode;

// A stored file larger than this is not served: memory stays bounded
// whatever size an entry claims.
inline constexpr std::uint64_t kMaxServedSize = 64u << 20;

struct ServedFile {
    bool found = false;
    std::string mimeType; // "text/html; charset=windows-1251", "image/png"
    std::string bytes;
    std::string problem; // when not found: why, in English
};

class HelpDocument {
public:
    // Null, with error (in English) when the file cannot be read as a help
    // file at all. A file damaged in part opens, and Problems() says what.
    static std::unique_ptr<HelpDocument> Open(const std::string& path, std::string& error);

    const std::string& Path() const { return path_; }
    // The file name without its folder: what "ms-its:" links name.
    const std::string& FileName() const { return fileName_; }
    const chm::HelpSystemInfo& System() const { return system_; }
    const ViewerLayout& Layout() const { return layout_; }
    const std::vector<SitemapNode>& Contents() const { return contents_; }
    const std::vector<SitemapNode>& Keywords() const { return keywords_; }
    bool HasContents() const { return hasContents_; }
    bool HasKeywords() const { return hasKeywords_; }
    bool HasSearchIndex() const { return hasSearchIndex_; }
    // The first page to show: the definition's, the #SYSTEM default topic,
    // else the first page stored.
    const std::string& StartTopic() const { return start_; }

    // What could not be read, a line each in Russian (with the reader's
    // detail), for the window's message.
    const std::vector<std::string>& Problems() const { return problems_; }
    // True when the directory or the navigation data are damaged (not
    // merely missing).
    bool Damaged() const { return damaged_; }

    // The stored file, its type and charset decided for the page view.
    ServedFile Serve(std::string_view stored) const;
    // Whether the file holds that stored name (as Serve would find it).
    bool Holds(std::string_view stored) const;

    // Full-text search: a word, or the start of words with a trailing "*".
    chm::SearchResults Search(std::string_view query);
    // The topic's title as #TOPICS gives it, else empty.
    std::string TopicTitle(std::string_view stored) const;

private:
    HelpDocument() = default;
    void ReadNavigation();
    std::vector<SitemapNode> ReadSitemapFile(const std::string& stored, bool& present);
    std::vector<SitemapNode> ReadBinaryIndex(bool& present);
    std::optional<std::size_t> Lookup(std::string_view stored) const;
    bool ReadStored(std::size_t index, std::string& bytes, std::string& problem) const;

    std::string path_, fileName_;
    std::unique_ptr<chm::ChmFile> file_;
    mutable std::mutex readerLock_;
    std::unique_ptr<chm::HelpReader> reader_; // under readerLock_
    chm::HelpSystemInfo system_;
    ViewerLayout layout_;
    std::vector<SitemapNode> contents_, keywords_;
    bool hasContents_ = false, hasKeywords_ = false, hasSearchIndex_ = false;
    std::string start_;
    std::map<std::string, std::string> titles_; // stored name, lower-case -> title
    std::vector<std::string> problems_;
    bool damaged_ = false;
};

// The type of a stored file by its extension, without charset.
std::string MimeTypeFor(std::string_view stored);

} // namespace tbx::viewer
