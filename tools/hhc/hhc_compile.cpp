#include "hhc/hhc_compile.h"

#include "chm/internal_files.h"
#include "chm/keyword_index.h"
#include "chm/search_index.h"
#include "chm/writer.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "protocol/tool_output.h"
#include "site/context_ids.h"
#include "site/project.h"
#include "site/site_walk.h"
#include "site/sitemap.h"
#include "site/sitemap_reader.h"
#include "text/language.h"
#include "text/search_alphabet.h"
#include "text/text_case.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tbx::hhc {
namespace {

// A stop list is a few hundred words; a larger file is none.
constexpr std::size_t kMaxStopList = std::size_t{16} << 20;

// The compiler's own messages, together; the reason of a link not
// followed stays in English, as the line for programs gives it.
constexpr std::string_view kReservedName = "has a name the help file keeps for its own data";

std::string CannotWriteText(const std::string& output, const std::string& why) {
    return Format(Tr("cannot write the help file %s: %s"), output, why);
}
std::string ReplacesProjectText(const std::string& output) {
    return CannotWriteText(output, Tr("it is the project itself"));
}
std::string ReplacesInputText(const std::string& output, const std::string& link,
                              const std::string& page) {
    return CannotWriteText(
        output, page.empty()
                    ? Format(Tr("it is \"%s\" of the project, a file the build reads"), link)
                    : Format(Tr("it is \"%s\" in \"%s\", a file the build reads"), link, page));
}

// A site file's bytes, read while the help file is written.
class SiteFileSource final : public chm::FileSource {
public:
    SiteFileSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~SiteFileSource() override { ::close(fd_); }
    SiteFileSource(const SiteFileSource&) = delete;
    SiteFileSource& operator=(const SiteFileSource&) = delete;

    std::size_t Read(std::span<std::uint8_t> into) override {
        for (;;) {
            const ssize_t n = ::read(fd_, into.data(), into.size());
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR)
                throw std::runtime_error(
                    Format(Tr("cannot read %s: %s"), path_, std::strerror(errno)));
        }
    }

private:
    const int fd_;
    const std::string path_;
};

// Bytes hhc made itself that wait for the writer: where they stand among
// those set aside.
struct AsidePiece {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

class AsideSource final : public chm::FileSource {
public:
    AsideSource(const SpillBuffer& aside, AsidePiece piece) : aside_(aside), piece_(piece) {}

    std::size_t Read(std::span<std::uint8_t> into) override {
        const std::uint64_t left = piece_.length - done_;
        const std::size_t n = aside_.ReadAt(piece_.offset + done_,
                                            into.first(std::min<std::uint64_t>(into.size(), left)));
        done_ += n;
        return n;
    }

private:
    const SpillBuffer& aside_;
    const AsidePiece piece_;
    std::uint64_t done_ = 0;
};

bool Stopped(const CompileOptions& options) {
    return options.stop && *options.stop;
}

// The help file's own data is stored under "/#..." and "/$..."; a site file
// of such a name would be taken for it (and hh does not extract it).
bool ReservedName(std::string_view name) {
    return name.size() > 1 && (name[1] == '#' || name[1] == '$');
}

std::string Why(const site::Refusal& refusal) {
    std::string why(site::DescribeRefusal(refusal.reason));
    if (!refusal.detail.empty())
        why += " (" + refusal.detail + ")";
    return why;
}

// Seconds since 1970 for the help file's time stamp: SOURCE_DATE_EPOCH when
// set, so that a build can be repeated byte for byte, else now.
std::int64_t BuildTime() {
    if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        const long long value = std::strtoll(fixed, &end, 10);
        if (end != fixed && *end == '\0' && value >= 0)
            return value;
    }
    return static_cast<std::int64_t>(std::time(nullptr));
}

// A page the walk named after its file: it has no title of its own.
bool Untitled(const site::SiteFile& file) {
    return file.kind == site::FileKind::Page &&
           file.title == std::string_view(file.name).substr(file.name.rfind('/') + 1);
}

// The stored name as the project's own fields give it: without the "/".
std::string LocalName(const std::string& stored) {
    return stored.empty() ? stored : stored.substr(1);
}

class Compiler {
public:
    Compiler(const CompileOptions& options, const OutputSink& output)
        : options_(options), output_(output), start_(std::chrono::steady_clock::now()) {}

    CompileResult Run(const std::string& projectPath) {
        try {
            return Steps(projectPath);
        } catch (const std::runtime_error& e) {
            return Failed(e.what()); // what was set aside could not be written or read
        }
    }

private:
    CompileResult Steps(const std::string& projectPath) {
        const site::ProjectResult read = site::ReadProject(projectPath);
        if (!read.Ok())
            return Failed(read.error);
        project_ = read.project;
        projectFolder_ = std::filesystem::absolute(projectPath).parent_path();
        warnings_.insert(warnings_.end(), read.warnings.begin(), read.warnings.end());
        if (std::string error = OutputRefusal(projectPath); !error.empty())
            return Failed(error);
        if (Stopped(options_))
            return Halted();

        walk_ = Walk();
        site::SiteWalk& walk = walk_;
        if (!walk.error.empty())
            return Failed(walk.error);
        for (const site::Refusal& refusal : walk.refusals) {
            if (refusal.reason == site::RefusalReason::HelpFile)
                return Failed(ReplacesInputText(project_.compiledFile, refusal.link, refusal.page));
        }
        for (const site::Refusal& refusal : walk.refusals)
            NotFollowed({refusal.link, refusal.page, Why(refusal)});
        if (walk.startNames.empty() || walk.startNames[0].empty())
            return Failed(Format(Tr("the start page %s cannot be compiled: %s"), StartPage(),
                                 ReasonMessage(StartRefusal(walk))));
        if (Stopped(options_))
            return Halted();

        NameUntitledPages(walk);
        model_ = Model(walk);
        if (project_.fullTextSearch)
            StartIndex();
        if (std::string error = AddSiteFiles(walk.files); !error.empty())
            return Failed(error);
        if (options_.strict && unfollowed_ > 0)
            return Failed(Format(TrN("%zu link was not followed; with --strict no help file is "
                                     "written",
                                     "%zu links were not followed; with --strict no help file "
                                     "is written",
                                     unfollowed_),
                                 unfollowed_));
        if (Stopped(options_))
            return Halted();
        if (std::string error = AddHelpFiles(); !error.empty())
            return Failed(error);
        return Write();
    }

    CompileResult Failed(std::string error) const { return {false, std::move(error), warnings_}; }
    CompileResult Halted() const { return {true, {}, warnings_}; }

    void Print(const std::string& line) {
        log_.push_back(line);
        if (output_)
            output_(line);
    }

    // Progress lines only where the project asks for them.
    void PrintProgress(const ProgressLine& progress) {
        if (project_.displayProgress)
            Print(FormatProgressLine(progress));
    }

public:
    // "Error log file": what the compile printed, then its warnings and
    // error, as hhc shows them. A log that cannot be written is a warning.
    void WriteErrorLog(CompileResult& result) const {
        if (project_.errorLogFile.empty())
            return;
        std::string text;
        for (const std::string& line : log_)
            text += line + "\n";
        for (const std::string& warning : result.warnings)
            text += "hhc: " + Format(Tr("warning: %s"), warning) + "\n";
        if (!result.error.empty())
            text += "hhc: " + result.error + "\n";
        if (std::string why = WriteFileAtomically(project_.errorLogFile, text); !why.empty())
            result.warnings.push_back(
                Format(Tr("cannot write the error log file %s: %s"), project_.errorLogFile, why));
    }

private:
    // The walk's start: the start page, else the first of [FILES].
    const std::string& StartPage() const {
        return project_.defaultTopic.empty() ? project_.files.front() : project_.defaultTopic;
    }

    // The index is built in the help file's code page when it is a
    // single-byte one; for double-byte text the layout the viewer matches
    // is not known, and an index it cannot match is worse than none.
    void StartIndex() {
        const text::SearchAlphabet* alphabet =
            text::FindSearchAlphabet(text::AnsiCodePage(project_.language));
        if (!alphabet) {
            const text::Language* language = text::FindLanguage(project_.language);
            warnings_.push_back(
                Format(Tr("no full-text search for %s: it is built only for languages written "
                          "in a single-byte code page"),
                       language ? std::string(language->name)
                                : Format("0x%X", static_cast<unsigned>(project_.language))));
            return;
        }
        alphabet_ = alphabet;
        index_ = std::make_unique<chm::SearchIndexBuilder>(*alphabet, project_.language);
        if (project_.stopListFile.empty())
            return;
        const FileBytes stop = ReadWholeFile(project_.stopListFile, kMaxStopList);
        if (stop.Ok())
            index_->SetStopWords(stopList_ = stop.bytes);
        else
            warnings_.push_back(Format(Tr("the stop list file %s cannot be read, every word is "
                                          "indexed: %s"),
                                       project_.stopListFile, StopListProblem(stop)));
    }

    static std::string StopListProblem(const FileBytes& stop) {
        switch (stop.failure) {
        case FileBytes::Failure::NotAFile:
            return Tr("it is not a regular file");
        case FileBytes::Failure::TooLarge:
            return Tr("it is larger than 16 MB");
        default:
            return stop.detail;
        }
    }

    void NotFollowed(const UnfollowedLink& unfollowed) {
        ++unfollowed_;
        Print(FormatUnfollowedLine(unfollowed));
    }

    // Why the help file may not be written where the project says, before
    // anything is read: only a regular file, or a link to one, is replaced,
    // and never the project. (The files of the site are the walk's to tell.)
    std::string OutputRefusal(const std::string& projectPath) const {
        const OutputFile output = ResolveOutputFile(project_.compiledFile);
        if (!output.error.empty())
            return CannotWriteText(project_.compiledFile, output.error);
        struct stat info {};
        if (output.exists && ::stat(projectPath.c_str(), &info) == 0 &&
            info.st_dev == output.device && info.st_ino == output.inode)
            return ReplacesProjectText(project_.compiledFile);
        return {};
    }

    site::SiteWalk Walk() {
        site::WalkOptions walk;
        walk.root = project_.siteRoot;
        walk.starts.push_back(StartPage());
        walk.starts.insert(walk.starts.end(), project_.files.begin(), project_.files.end());
        for (const std::string* file : {&project_.contentsFile, &project_.indexFile}) {
            if (!file->empty())
                walk.starts.push_back(*file);
        }
        // Text popups are stored as they are, after the starts Model counts.
        walk.starts.insert(walk.starts.end(), project_.textPopups.begin(),
                           project_.textPopups.end());
        walk.skip.push_back(project_.compiledFile);
        if (!project_.errorLogFile.empty())
            walk.skip.push_back(project_.errorLogFile);
        walk.legacy = text::Charset::ForCodePage(text::AnsiCodePage(project_.language));
        walk.pageKeywords = project_.binaryIndex && project_.autoIndex;
        ProgressPacer pacer;
        std::size_t shown = 0;
        walk.progress = [&](std::size_t read) {
            if (pacer.Due())
                PrintProgress({ProgressKind::FilesRead, shown = read, 0});
        };
        site::SiteWalk result = site::WalkSite(walk);
        if (result.error.empty() && result.files.size() != shown)
            PrintProgress({ProgressKind::FilesRead, result.files.size(), 0});
        return result;
    }

    std::string StartRefusal(const site::SiteWalk& walk) const {
        for (const site::Refusal& refusal : walk.refusals) {
            if (refusal.page.empty() && refusal.link == StartPage())
                return Why(refusal);
        }
        return std::string(site::DescribeRefusal(site::RefusalReason::Missing));
    }

    // The stored name of the start at index, after the start page and [FILES].
    static std::string StartName(const site::SiteWalk& walk, std::size_t index) {
        return index < walk.startNames.size() ? walk.startNames[index] : std::string();
    }

    // Hands the bytes to aside_, letting go of them.
    AsidePiece SetAside(std::string&& bytes) {
        if (!aside_)
            aside_.emplace(project_.compiledFile, std::uint64_t{16} << 20);
        const AsidePiece piece{aside_->Size(), bytes.size()};
        try {
            aside_->Append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(
                Format(Tr("cannot write %s: %s"), project_.compiledFile, e.what()));
        }
        std::string().swap(bytes);
        return piece;
    }

    // A project that names no contents or index file gets one made from the
    // site: the contents tree as the start page lists it, and every page by
    // title. Must run while the walk still holds the pages' bytes.
    std::string GeneratedSitemap(const site::SiteWalk& walk, std::string_view extension,
                                 const std::vector<site::SitemapEntry>& entries) {
        std::string name = site::FreeStoredName(walk, extension);
        sitemaps_.emplace_back(name, SetAside(site::WriteSitemap(entries, project_.language)));
        return name;
    }

    // The sitemap of the walk stored under name, or null.
    static const site::SiteFile* StoredSitemap(const site::SiteWalk& walk,
                                               const std::string& name) {
        for (const site::SiteFile& file : walk.files) {
            if (!name.empty() && file.name == name && file.kind == site::FileKind::Sitemap)
                return &file;
        }
        return nullptr;
    }

    // The project's contents file as the walk read it, or null.
    const site::SiteFile* ContentsSitemap(const site::SiteWalk& walk) const {
        if (project_.contentsFile.empty())
            return nullptr;
        return StoredSitemap(walk, StartName(walk, 1 + project_.files.size()));
    }

    // A page without a title takes the name its first contents entry gives
    // it, as Microsoft's compiler does; else it keeps its file's name.
    void NameUntitledPages(site::SiteWalk& walk) const {
        const site::SiteFile* contents = ContentsSitemap(walk);
        if (!contents)
            return;
        std::vector<std::string> names = site::FirstEntryNames(walk, *contents);
        for (std::size_t i = 0; i < walk.files.size(); ++i) {
            if (Untitled(walk.files[i]) && !names[i].empty())
                walk.files[i].title = std::move(names[i]);
        }
    }

    // The context ids of [MAP] with the files of [ALIAS]; a file not in the
    // help file is named in a warning (the viewer would find nothing).
    std::vector<chm::HelpContextId> ContextIds(const site::SiteWalk& walk) {
        site::ContextIds read = site::ReadContextIds(project_.aliasLines, project_.mapLines);
        warnings_.insert(warnings_.end(), read.warnings.begin(), read.warnings.end());
        std::vector<chm::HelpContextId> ids;
        // Looked up by name, not file by file: a large [MAP] on a large site.
        const auto noCase = [](std::string_view a, std::string_view b) { return LessNoCase(a, b); };
        std::set<std::string_view, decltype(noCase)> names(noCase);
        for (std::size_t i = 0; !read.ids.empty() && i < walk.files.size(); ++i)
            names.insert(walk.files[i].name);
        for (const site::ContextId& id : read.ids) {
            const std::string target = id.target.substr(0, id.target.find('#'));
            const std::string path = (projectFolder_ / target).lexically_normal().string();
            const bool stored = path.starts_with(project_.siteRoot) &&
                                names.contains("/" + path.substr(project_.siteRoot.size()));
            if (!stored)
                warnings_.push_back(site::TargetNotInHelpFile(id));
            ids.push_back({id.id, id.target});
        }
        return ids;
    }

    chm::HelpModel Model(const site::SiteWalk& walk) {
        chm::HelpModel model;
        // No start page named: none recorded, as Microsoft's compiler does.
        model.defaultTopic = project_.defaultTopic.empty() ? std::string() : walk.startNames[0];
        model.compiledFile = project_.compiledFile;
        model.language = project_.language;
        model.timestamp = BuildTime();
        std::size_t next = 1 + project_.files.size();
        if (!project_.contentsFile.empty())
            model.contentsFile = StartName(walk, next++);
        else
            model.contentsFile =
                GeneratedSitemap(walk, ".hhc", site::ContentsFromPage(walk, walk.startNames[0]));
        if (!project_.indexFile.empty()) {
            model.indexFile = StartName(walk, next++);
            if (const site::SiteFile* index = StoredSitemap(walk, model.indexFile);
                index && project_.binaryIndex)
                keywords_ = site::ReadIndexKeywords(walk, *index);
        } else {
            const std::vector<site::SitemapEntry> entries =
                site::KeywordsFromPages(walk, project_.language);
            model.indexFile = GeneratedSitemap(walk, ".hhk", entries);
            for (std::size_t i = 0; project_.binaryIndex && i < entries.size(); ++i)
                keywords_.push_back(
                    {{entries[i].name}, {"/" + entries[i].local}, {}, {entries[i].name}});
        }
        model.windows = project_.windows;
        for (chm::HelpWindow& window : model.windows) {
            if (EqualNoCase(window.name, project_.defaultWindow))
                model.defaultWindow = window.name;
            // The window shows the contents and index the help file carries.
            if (window.contentsFile.empty())
                window.contentsFile = LocalName(model.contentsFile);
            if (window.indexFile.empty())
                window.indexFile = LocalName(model.indexFile);
        }
        model.title = project_.title;
        for (const chm::HelpWindow& window : model.windows) {
            if (model.title.empty() && window.name == model.defaultWindow)
                model.title = window.caption;
        }
        model.defaultFont = project_.defaultFont;
        model.contextIds = ContextIds(walk);
        model.mergeFiles = project_.mergeFiles;
        if (model.mergeFiles.size() > chm::kMaxMergeFiles)
            warnings_.push_back(Format(Tr("the project names %zu merge files; a help file holds "
                                          "at most %zu, so those after %s are left out"),
                                       model.mergeFiles.size(), chm::kMaxMergeFiles,
                                       model.mergeFiles[chm::kMaxMergeFiles - 1]));
        if (const site::SiteFile* contents = ContentsSitemap(walk))
            model.contentsProperties = site::ReadSitemapProperties(*contents);
        return model;
    }

    // Each file goes into the writer and, when it is a page, becomes a
    // topic (and is indexed). Only the sitemaps go as bytes, as they are
    // stored; every other file is read again when it is compressed, and a
    // page also once more when it is indexed, so that the site is never
    // held in memory at once.
    std::string AddSiteFiles(std::vector<site::SiteFile>& files) {
        std::vector<std::pair<std::uint32_t, const site::SiteFile*>> pages; // topic, file
        for (site::SiteFile& file : files) {
            if (ReservedName(file.name)) {
                NotFollowed({file.name, {}, std::string(kReservedName)});
                continue;
            }
            // The name is not repeated in the reason: the line names it.
            if (std::string why = writer_.NameRefusal(file.name); !why.empty()) {
                NotFollowed({file.name, {}, why});
                continue;
            }
            // A sitemap is stored as the walk read it: one it could not read
            // again as the file it had found is not stored empty.
            if (file.kind == site::FileKind::Sitemap && file.bytes.size() != file.size)
                return file.path + " " + Tr("changed since the site was walked");
            const std::string refused = file.kind == site::FileKind::Sitemap
                                            ? writer_.Adopt(file.name, site::StoredSitemap(file))
                                            : writer_.AddFrom(file.name, file.size, Opener(file));
            // Nothing reads the walk's bytes from here on.
            std::string().swap(file.bytes);
            if (!refused.empty()) {
                NotFollowed({file.name, {}, refused});
                continue;
            }
            ++stored_;
            ++compressed_;
            bytesIn_ += file.size;
            if (file.kind == site::FileKind::Page) {
                KeywordsOfPage(file);
                if (index_)
                    pages.emplace_back(static_cast<std::uint32_t>(model_.topics.size()), &file);
                model_.topics.push_back({file.name, file.title, true});
            }
        }
        return IndexPages(pages);
    }

    // "Auto Index": the page's own KLinks join the index, its ALinks the
    // associative one (the walk read them, when asked, from the page).
    void KeywordsOfPage(site::SiteFile& page) {
        for (std::vector<std::string>& path : page.keywords.klinks)
            keywords_.push_back({std::move(path), {page.name}, {}, {}});
        for (std::vector<std::string>& path : page.keywords.alinks)
            alinks_.push_back({std::move(path), {page.name}, {}, {}});
        page.keywords = {};
    }

    // The keywords with their targets as topics; a target that is no page
    // (a picture, a text file) becomes a topic of its own, as the index
    // leads to it, titled as the sitemap names it.
    std::vector<chm::KeywordLink> Links(std::vector<site::SitemapKeyword> keywords) {
        std::map<std::string, std::uint32_t> topics; // stored name, letter case folded
        for (std::size_t i = 0; i < model_.topics.size(); ++i)
            topics.emplace(ToLowerCase(model_.topics[i].name), static_cast<std::uint32_t>(i));
        std::vector<chm::KeywordLink> links;
        links.reserve(keywords.size());
        for (site::SitemapKeyword& keyword : keywords) {
            chm::KeywordLink link{std::move(keyword.path), {}, std::move(keyword.seeAlso)};
            for (std::size_t i = 0; i < keyword.targets.size(); ++i) {
                const std::string& target = keyword.targets[i];
                auto [at, added] = topics.emplace(ToLowerCase(target),
                                                  static_cast<std::uint32_t>(model_.topics.size()));
                if (added && i < keyword.targetNames.size() && !keyword.targetNames[i].empty())
                    model_.topics.push_back({target, keyword.targetNames[i], false});
                else if (added)
                    model_.topics.push_back({target, std::nullopt, false});
                link.topics.push_back(at->second);
            }
            links.push_back(std::move(link));
            keyword = {}; // its targets are numbers now
        }
        return links;
    }

    // $WWKeywordLinks and $WWAssociativeLinks, with the flags #SYSTEM
    // gives them; before the topics are written, which they may add to.
    std::vector<std::pair<std::string, std::string>> KeywordFiles() {
        std::vector<std::pair<std::string, std::string>> files;
        if (!project_.binaryIndex)
            return files;
        const std::uint32_t codePage = text::AnsiCodePage(project_.language);
        const std::vector<chm::IndexKeyword> klinks =
            chm::ArrangeKeywords(Links(std::move(keywords_)), project_.language);
        const std::vector<chm::IndexKeyword> alinks =
            chm::ArrangeKeywords(Links(std::move(alinks_)), project_.language);
        model_.binaryIndex = true;
        model_.keywordLinks = !klinks.empty();
        model_.associativeLinks = !alinks.empty();
        chm::KeywordIndexFiles k = chm::WriteKeywordIndex(klinks, codePage, project_.language);
        files = {{"/$WWKeywordLinks/BTree", std::move(k.btree)},
                 {"/$WWKeywordLinks/Data", std::move(k.data)},
                 {"/$WWKeywordLinks/Map", std::move(k.map)},
                 {"/$WWKeywordLinks/Property", std::move(k.property)}};
        if (alinks.empty()) {
            files.emplace_back("/$WWAssociativeLinks/Property", chm::EmptyAssociativeProperty());
        } else {
            chm::KeywordIndexFiles a = chm::WriteKeywordIndex(alinks, codePage, project_.language);
            files.insert(files.end(), {{"/$WWAssociativeLinks/BTree", std::move(a.btree)},
                                       {"/$WWAssociativeLinks/Data", std::move(a.data)},
                                       {"/$WWAssociativeLinks/Map", std::move(a.map)},
                                       {"/$WWAssociativeLinks/Property", std::move(a.property)}});
        }
        return files;
    }

    chm::SourceOpener Opener(const site::SiteFile& file) const {
        return [this, &file]() -> std::unique_ptr<chm::FileSource> {
            std::string error;
            const int fd = site::OpenSiteFile(walk_, file, error);
            if (fd < 0)
                throw std::runtime_error(file.path + " " + error);
            return std::make_unique<SiteFileSource>(fd, file.path);
        };
    }

    // The later half of the pages is indexed on a thread of its own, by a
    // builder of its own, while this thread takes the first half: the index
    // costs about half the time. The later builder gathers its codes in the
    // roots the first pages chose, so that joining the halves need not
    // write them anew (on 20,000 pages that took 1.7 s on one core). Each
    // page is read right before it is indexed, from the page cache as a
    // rule, and let go after. Empty, or why a page could not be read.
    std::string
    IndexPages(const std::vector<std::pair<std::uint32_t, const site::SiteFile*>>& pages) {
        if (!index_)
            return {};
        const auto index = [this, &pages](chm::SearchIndexBuilder& builder, std::size_t from,
                                          std::size_t to, std::string& error) {
            std::string bytes;
            for (std::size_t i = from; i < to && error.empty(); ++i) {
                const site::SiteFile& file = *pages[i].second;
                error = site::ReadSiteFile(walk_, file, bytes);
                // A page without a title of its own has its file name for
                // one, which is no word of the page.
                const bool named = file.title == file.name.substr(file.name.rfind('/') + 1);
                if (error.empty())
                    builder.AddTopic({pages[i].first, bytes, file.charset,
                                      named ? std::string_view() : file.title});
            }
        };
        const std::size_t half = options_.threads == 1 ? pages.size() : pages.size() / 2;
        chm::SearchIndexBuilder later(*alphabet_, project_.language);
        later.SetStopWords(stopList_);
        std::string firstError, laterError;
        const std::size_t settled =
            std::min<std::size_t>(half, chm::SearchIndexBuilder::kRootPages);
        index(*index_, 0, settled, firstError);
        later.TakeRootsFrom(*index_);
        std::thread helper;
        try {
            if (half < pages.size())
                helper =
                    std::thread(index, std::ref(later), half, pages.size(), std::ref(laterError));
        } catch (const std::system_error&) {
            index(later, half, pages.size(), laterError); // no thread to be had: in turn
        }
        index(*index_, settled, half, firstError);
        if (helper.joinable())
            helper.join();
        index_->Append(later);
        // Finished at once: the gathered codes are let go before the
        // keyword index and the compressor need their room, and the index
        // takes less than its codes did.
        finishedIndex_ = SetAside(index_->Finish());
        return firstError.empty() ? laterError : firstError;
    }

    std::string AddHelpFiles() {
        model_.fullTextSearch = index_ != nullptr;
        std::vector<std::pair<std::string, std::string>> keywordFiles = KeywordFiles();
        chm::HelpFiles help = chm::BuildHelpFiles(model_);
        const std::pair<const char*, std::string*> compressed[] = {
            {"/#WINDOWS", &help.windows}, {"/#STRINGS", &help.strings}, {"/#TOPICS", &help.topics},
            {"/#URLTBL", &help.urltbl},   {"/#URLSTR", &help.urlstr},   {"/#IDXHDR", &help.idxhdr},
            {"/#IVB", &help.ivb},
        };
        std::string error = writer_.Add("/#SYSTEM", help.system, chm::Storage::Uncompressed);
        if (error.empty())
            error = writer_.Add("/#ITBITS", help.itbits, chm::Storage::Uncompressed);
        for (const auto& [name, bytes] : compressed) {
            if (bytes == &help.ivb && bytes->empty())
                continue; // no context ids
            if (error.empty())
                error = writer_.Adopt(name, std::move(*bytes));
            compressed_ += 1;
        }
        for (auto& [name, bytes] : keywordFiles) {
            if (error.empty())
                error = writer_.Adopt(name, std::move(bytes));
            compressed_ += 1;
        }
        for (const auto& [name, piece] : sitemaps_) {
            if (error.empty())
                error = writer_.AddFrom(name, piece.length, [this, piece] {
                    return std::make_unique<AsideSource>(*aside_, piece);
                });
            compressed_ += 1;
        }
        if (index_ && error.empty()) {
            // Stored as it is, unlike Microsoft's compiler: the word
            // locations are dense bits that LZX takes only 8 % off (3 % of
            // the help file on the generated 2,000-page site) for more CPU
            // time than building the index itself (bench_search_index),
            // and the viewer reads each word's locations without
            // decompressing the block around them.
            error = writer_.AddLater("/$FIftiMain", [this] {
                std::string bytes(finishedIndex_.length, '\0');
                aside_->ReadAt(finishedIndex_.offset,
                               {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
                return bytes;
            });
            if (error.empty())
                error = writer_.Add("/$OBJINST", chm::BuildObjInst(*alphabet_, project_.language));
            compressed_ += 1;
        }
        return error;
    }

    CompileResult Write() {
        PrintProgress({ProgressKind::FilesCompressed, 0, compressed_});
        chm::WriteOptions write;
        write.threads = options_.threads;
        write.level = options_.best || project_.bestCompression ? chm::LzxLevel::Best
                                                                : chm::LzxLevel::Default;
        write.stop = options_.stop;
        ProgressPacer pacer;
        pacer.Due(); // the line above was the first
        write.progress = [&](std::size_t done, std::size_t all) {
            if (pacer.Due() || done == all)
                PrintProgress({ProgressKind::FilesCompressed, done, all});
        };
        const std::string error = writer_.Finish(project_.compiledFile, write);
        if (error == chm::kStopped)
            return Halted();
        if (!error.empty())
            return Failed(error);

        struct stat info {};
        const std::uint64_t size =
            ::stat(project_.compiledFile.c_str(), &info) == 0 ? info.st_size : 0;
        const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start_;
        Print(FormatSummaryLine({stored_, bytesIn_, size, taken.count()}));
        return {false, {}, warnings_};
    }

    const CompileOptions& options_;
    const OutputSink& output_;
    const std::chrono::steady_clock::time_point start_;
    site::Project project_;
    std::filesystem::path projectFolder_;
    site::SiteWalk walk_;
    chm::HelpModel model_;
    chm::Writer writer_;
    // The search index, when the help file has one, in the alphabet of its
    // code page, leaving out the words of the stop list.
    const text::SearchAlphabet* alphabet_ = nullptr;
    std::unique_ptr<chm::SearchIndexBuilder> index_;
    std::string stopList_;
    // The generated sitemaps and the search index wait here for the writer:
    // on a large site, held till the help file is written, they would cost
    // as much memory as the rest of the work. A few megabytes stay in
    // memory; past that they go to an unnamed file beside the help file.
    std::optional<SpillBuffer> aside_;
    AsidePiece finishedIndex_;                                 // index_'s bytes
    std::vector<std::pair<std::string, AsidePiece>> sitemaps_; // stored name
    std::vector<site::SitemapKeyword> keywords_, alinks_;      // of the binary index, as found
    std::vector<std::string> warnings_;
    std::vector<std::string> log_; // every line printed, for the error log
    std::size_t unfollowed_ = 0;
    std::uint64_t stored_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::uint64_t compressed_ = 0; // files in the compressed section
};

} // namespace

CompileResult Compile(const std::string& projectPath, const CompileOptions& options,
                      const OutputSink& output) {
    try {
        Compiler compiler(options, output);
        CompileResult result = compiler.Run(projectPath);
        compiler.WriteErrorLog(result);
        return result;
    } catch (const std::bad_alloc&) {
        return {false, Tr("not enough memory"), {}};
    }
}

} // namespace tbx::hhc
