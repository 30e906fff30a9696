#include "viewer/help_document.h"

#include "chm/keyword_index.h"
#include "res/strings.h"
#include "text/charset.h"
#include "text/markup.h"
#include "text/text_case.h"

#include <new>

namespace tbx::viewer {
namespace {

std::string Extension(std::string_view stored) {
    const std::size_t slash = stored.rfind('/');
    const std::size_t dot = stored.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return ToLowerCase(stored.substr(dot + 1));
}

bool IsTextType(std::string_view mime) {
    return mime.starts_with("text/") || mime == "application/javascript" ||
           mime == "application/xml" || mime == "image/svg+xml";
}

// The charset of a page as its own markup says, else the file's code page.
class DeclarationReader final : public text::MarkupVisitor {
public:
    void OnTag(const text::MarkupTag& tag) override {
        text::ReadCharsetDeclaration(tag, declared);
        if (tag.Is("body"))
            done_ = true;
    }
    bool Done() const override { return done_; }
    text::CharsetDeclarations declared;

private:
    bool done_ = false;
};

int PartMessage(chm::HelpPart part) {
    switch (part) {
    case chm::HelpPart::System:
        return kMsgViewerPartSystem;
    case chm::HelpPart::Windows:
        return kMsgViewerPartWindows;
    case chm::HelpPart::Strings:
        return kMsgViewerPartStrings;
    case chm::HelpPart::Topics:
        return kMsgViewerPartTopics;
    case chm::HelpPart::SearchIndex:
        return kMsgViewerPartSearch;
    }
    return kMsgViewerPartSystem;
}

std::string ProblemLine(int partMessage, const std::string& detail) {
    return LoadString(partMessage) + ": " + detail;
}

bool IsPageName(std::string_view name) {
    const std::string ext = Extension(name);
    return ext == "htm" || ext == "html";
}

// Entries of a sitemap tree, at every level.
std::size_t CountNodes(const std::vector<SitemapNode>& nodes) {
    std::size_t count = nodes.size();
    for (const SitemapNode& node : nodes)
        count += CountNodes(node.children);
    return count;
}

} // namespace

std::string MimeTypeFor(std::string_view stored) {
    static const std::map<std::string, std::string, std::less<>> kTypes = {
        {"htm", "text/html"},
        {"html", "text/html"},
        {"xhtml", "text/html"},
        {"css", "text/css"},
        {"js", "application/javascript"},
        {"txt", "text/plain"},
        {"xml", "application/xml"},
        {"gif", "image/gif"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"bmp", "image/bmp"},
        {"ico", "image/x-icon"},
        {"svg", "image/svg+xml"},
        {"webp", "image/webp"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"ttf", "font/ttf"},
        {"hhc", "text/html"},
        {"hhk", "text/html"},
    };
    const auto it = kTypes.find(Extension(stored));
    return it == kTypes.end() ? std::string("application/octet-stream") : it->second;
}

std::unique_ptr<HelpDocument> HelpDocument::Open(const std::string& path, std::string& error) {
    std::unique_ptr<HelpDocument> doc(new HelpDocument());
    doc->file_ = chm::ChmFile::Open(path, error);
    if (!doc->file_)
        return nullptr;
    doc->path_ = path;
    const std::size_t slash = path.rfind('/');
    doc->fileName_ = slash == std::string::npos ? path : path.substr(slash + 1);
    for (const std::string& line : doc->file_->Damage()) {
        doc->problems_.push_back(ProblemLine(kMsgViewerPartDirectory, line));
        doc->damaged_ = true;
    }
    try {
        doc->ReadNavigation();
    } catch (const std::bad_alloc&) {
        doc->problems_.push_back(ProblemLine(kMsgViewerPartSystem, "out of memory"));
        doc->damaged_ = true;
    }
    return doc;
}

void HelpDocument::ReadNavigation() {
    reader_ = std::make_unique<chm::HelpReader>(*file_);
    system_ = reader_->System();
    for (const chm::HelpProblem& problem : reader_->Problems()) {
        // Most help files have no window definition: that is no fault.
        if (problem.part == chm::HelpPart::Windows && !file_->Find("/#WINDOWS"))
            continue;
        problems_.push_back(ProblemLine(PartMessage(problem.part), problem.detail));
        damaged_ = true;
    }
    layout_ = LayoutFor(reader_->DefaultWindow(), system_, fileName_);
    hasSearchIndex_ = reader_->HasSearchIndex();
    for (std::size_t i = 0; i < reader_->TopicCount(); ++i)
        if (const auto topic = reader_->Topic(static_cast<std::uint32_t>(i));
            topic && !topic->title.empty())
            titles_.emplace(ToLowerCase(topic->name), topic->title);

    // A file without #SYSTEM names still shows its .hhc and .hhk, as other
    // readers find them: the first of each in the root.
    auto firstWith = [this](std::string_view ext) {
        for (std::size_t i = 0; i < file_->Count(); ++i) {
            const std::string_view name = file_->Entry(i).name;
            if (name.find('/', 1) == std::string_view::npos && Extension(name) == ext)
                return std::string(name);
        }
        return std::string();
    };
    if (layout_.contentsFile.empty())
        layout_.contentsFile = firstWith("hhc");
    if (layout_.indexFile.empty())
        layout_.indexFile = firstWith("hhk");
    if (!layout_.contentsFile.empty())
        contents_ = ReadSitemapFile(layout_.contentsFile, hasContents_);
    if (!layout_.indexFile.empty())
        keywords_ = ReadSitemapFile(layout_.indexFile, hasKeywords_);
    // The binary index, where the compiler wrote one with more keywords than
    // the index file: none there (DocBook's, whose keywords are in its
    // pages), or the pages' own joined them (Auto Index).
    {
        bool binary = false;
        std::vector<SitemapNode> read = ReadBinaryIndex(binary);
        if (binary && CountNodes(read) > CountNodes(keywords_)) {
            keywords_ = std::move(read);
            hasKeywords_ = true;
        }
    }
    layout_.contentsTab = layout_.contentsTab && hasContents_;
    layout_.indexTab = layout_.indexTab && hasKeywords_;

    start_ = layout_.startTopic;
    if (start_.empty() || !Holds(start_)) {
        // The first page stored, in directory order.
        for (std::size_t i = 0; i < file_->Count() && (start_.empty() || !Holds(start_)); ++i)
            if (IsPageName(file_->Entry(i).name))
                start_ = std::string(file_->Entry(i).name);
    }
    if (layout_.homeTopic.empty() || !Holds(layout_.homeTopic))
        layout_.homeTopic = start_;
}

std::vector<SitemapNode> HelpDocument::ReadSitemapFile(const std::string& stored, bool& present) {
    const auto index = Lookup(stored);
    if (!index) {
        problems_.push_back(ProblemLine(kMsgViewerPartSitemap, stored + ": not in the help file"));
        return {};
    }
    std::string bytes, problem;
    if (!ReadStored(*index, bytes, problem)) {
        problems_.push_back(ProblemLine(kMsgViewerPartSitemap, stored + ": " + problem));
        damaged_ = true;
        return {};
    }
    present = true;
    return site::ReadSitemap(bytes, text::Charset::ForCodePage(system_.codePage));
}

std::vector<SitemapNode> HelpDocument::ReadBinaryIndex(bool& present) {
    const auto index = Lookup("/$WWKeywordLinks/BTree");
    if (!index)
        return {};
    std::string bytes, problem;
    std::optional<chm::KeywordIndexRead> read;
    if (ReadStored(*index, bytes, problem))
        read = chm::ReadKeywordIndex(bytes, &problem);
    if (!read) {
        problems_.push_back(ProblemLine(kMsgViewerPartSitemap, "$WWKeywordLinks: " + problem));
        damaged_ = true;
        return {};
    }
    present = true;
    // Each keyword under the last one a level up; its own text is what
    // follows its parent's and ", ".
    std::vector<SitemapNode> top;
    std::vector<std::pair<std::vector<SitemapNode>*, std::string>> levels{{&top, {}}};
    for (const chm::IndexKeyword& keyword : read->keywords) {
        const std::size_t depth = std::min<std::size_t>(keyword.depth, levels.size() - 1);
        levels.resize(depth + 1);
        const std::string& parent = levels.back().second;
        SitemapNode node;
        node.name = depth > 0 && keyword.text.starts_with(parent + ", ")
                        ? keyword.text.substr(parent.size() + 2)
                        : keyword.text;
        node.seeAlso = keyword.seeAlso;
        for (std::uint32_t number : keyword.topics) {
            if (const auto topic = reader_->Topic(number); topic && topic->name.size() > 1)
                node.targets.push_back(
                    {topic->title.empty() ? node.name : topic->title, topic->name.substr(1)});
        }
        std::vector<SitemapNode>& level = *levels.back().first;
        level.push_back(std::move(node));
        levels.emplace_back(&level.back().children, keyword.text);
    }
    return top;
}

std::optional<std::size_t> HelpDocument::Lookup(std::string_view stored) const {
    if (!file_ || stored.empty())
        return std::nullopt;
    if (auto found = file_->Find(stored))
        return found;
    // Names in the help file's code page, from compilers that stored them so.
    if (const auto ansi = text::EncodeExact(stored, system_.codePage); ansi && *ansi != stored)
        return file_->Find(*ansi);
    return std::nullopt;
}

bool HelpDocument::Holds(std::string_view stored) const {
    return Lookup(stored).has_value();
}

bool HelpDocument::ReadStored(std::size_t index, std::string& bytes, std::string& problem) const {
    const chm::ChmEntry entry = file_->Entry(index);
    if (entry.length > kMaxServedSize) {
        problem = "larger than the viewer shows";
        return false;
    }
    try {
        bytes.assign(static_cast<std::size_t>(entry.length), '\0');
        chm::ChmCursor cursor(*file_);
        problem =
            cursor.Read(entry, 0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
    } catch (const std::bad_alloc&) {
        problem = "out of memory";
    }
    if (!problem.empty())
        bytes.clear();
    return problem.empty();
}

ServedFile HelpDocument::Serve(std::string_view stored) const {
    ServedFile served;
    // Internal streams are the format's, not the site's.
    if (stored.starts_with("/#") || stored.starts_with("/$") || stored.starts_with("/:")) {
        served.problem = "not a file of the site";
        return served;
    }
    const auto index = Lookup(stored);
    if (!index) {
        served.problem = "not in the help file";
        return served;
    }
    if (!ReadStored(*index, served.bytes, served.problem))
        return served;
    served.found = true;
    served.mimeType = MimeTypeFor(stored);
    if (IsTextType(served.mimeType)) {
        DeclarationReader reader;
        if (served.mimeType == "text/html")
            text::ScanMarkup(served.bytes, reader);
        const text::Charset charset = text::DecidePageCharset(
            served.bytes, reader.declared, text::Charset::ForCodePage(system_.codePage));
        served.mimeType += "; charset=";
        served.mimeType += charset.Name();
    }
    return served;
}

chm::SearchResults HelpDocument::Search(std::string_view query) {
    std::string words(query);
    chm::SearchMode mode = chm::SearchMode::WholeWord;
    while (!words.empty() && (words.back() == ' ' || words.back() == '*')) {
        if (words.back() == '*')
            mode = chm::SearchMode::Prefix;
        words.pop_back();
    }
    std::lock_guard<std::mutex> hold(readerLock_);
    if (!reader_) {
        chm::SearchResults none;
        none.outcome = chm::SearchOutcome::NoIndex;
        return none;
    }
    try {
        return reader_->Search(words, mode);
    } catch (const std::bad_alloc&) {
        chm::SearchResults failed;
        failed.outcome = chm::SearchOutcome::Damaged;
        failed.problem = "out of memory";
        return failed;
    }
}

std::string HelpDocument::TopicTitle(std::string_view stored) const {
    const auto it = titles_.find(ToLowerCase(stored));
    return it == titles_.end() ? std::string() : it->second;
}

} // namespace tbx::viewer
