#include "site/site_walk.h"

#include "site/link_scanner.h"
#include "text/charset.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <variant>

namespace tbx::site {
namespace {

namespace fs = std::filesystem;

using Components = std::vector<std::string>;

FileKind KindOf(std::string_view name) {
    for (const char* ext : {".htm", ".html", ".xhtml", ".shtml"}) {
        if (EndsWithNoCase(name, ext))
            return FileKind::Page;
    }
    if (EndsWithNoCase(name, ".hhc") || EndsWithNoCase(name, ".hhk"))
        return FileKind::Sitemap;
    return EndsWithNoCase(name, ".css") ? FileKind::StyleSheet : FileKind::Other;
}

// The path below the root a link names, taken lexically; nothing when
// ".." climbs above the root. A leading "/" counts from the root.
std::optional<Components> Lexical(std::string_view path, const Components& folder) {
    Components parts = path.starts_with('/') ? Components{} : folder;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else {
            parts.emplace_back(part);
        }
    }
    return parts;
}

std::string Join(const Components& parts) {
    std::string joined;
    for (const std::string& part : parts)
        joined += "/" + part;
    return joined;
}

// One name of a folder, and the same in UTF-8: names written on Windows
// may still carry their Windows-1251 bytes.
struct Entry {
    std::string disk;
    std::string text;
};

std::vector<Entry> ListFolder(const std::string& folder, Charset legacy) {
    std::vector<Entry> entries;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            if (name != "." && name != "..")
                entries.push_back({std::string(name), text::DecodeLegacyText(name, legacy)});
        }
        ::closedir(dir);
    }
    // Of several names equal but for case, the same one wins every time.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return NameLess(a.text, b.text); });
    return entries;
}

std::string ReadWhole(const std::string& path, std::string& bytes) {
    // Should the file have been swapped since it was checked, a pipe must not
    // hang the read (O_NONBLOCK) and a symbolic link must not be followed
    // out of the site (O_NOFOLLOW: the path given is already resolved).
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return std::strerror(errno);
    std::string error;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file";
    } else {
        // One byte more than the size, so a file read whole meets its end
        // without the buffer growing.
        bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t done = 0;
        for (;;) {
            if (done == bytes.size())
                bytes.resize(done * 2); // the file grew
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                error = std::strerror(errno);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return error;
}

std::string PageTitle(const std::string& name, std::optional<std::string_view> tag,
                      Charset charset) {
    std::string title;
    if (tag && tag->size() <= kMaxTitleBytes)
        title = PlainText(*tag, charset);
    return title.empty() ? name.substr(name.rfind('/') + 1) : title;
}

class Walker {
public:
    explicit Walker(const WalkOptions& options) : options_(options) {}

    SiteWalk Run() {
        char* real = ::realpath(options_.root.c_str(), nullptr);
        struct stat info {};
        if (!real || ::stat(real, &info) != 0 || !S_ISDIR(info.st_mode)) {
            std::free(real);
            result_.error = "the site folder " + options_.root + " cannot be used";
            return std::move(result_);
        }
        rootReal_ = real;
        std::free(real);
        rootPrefix_ = rootReal_ == "/" ? "/" : rootReal_ + "/";
        for (const std::string& path : options_.skip) {
            if (::stat(path.c_str(), &info) == 0)
                skipped_.emplace(info.st_dev, info.st_ino);
        }

        for (const std::string& start : options_.starts)
            TakeStart(start);
        while (!queue_.empty()) {
            const std::size_t index = queue_.front();
            queue_.pop_front();
            Scan(index);
        }
        return std::move(result_);
    }

private:
    // What a path below the root came to: a file taken, or why not.
    struct Refused {
        RefusalReason reason;
        std::string detail;
    };
    using Outcome = std::variant<std::size_t, Refused>;

    void TakeStart(const std::string& path) {
        const std::string normal = fs::path(path).lexically_normal().string();
        const std::string root = fs::path(options_.root + "/").lexically_normal().string();
        std::optional<Components> parts;
        for (const std::string& prefix : {root, rootPrefix_}) {
            if (!parts && normal.starts_with(prefix))
                parts = Lexical(normal.substr(prefix.size()), {});
        }
        const Outcome outcome = parts ? Take(*parts) : Refused{RefusalReason::OutsideRoot, {}};
        const auto* index = std::get_if<std::size_t>(&outcome);
        result_.startNames.push_back(index ? result_.files[*index].name : std::string());
        Report(outcome, path, std::string());
    }

    void Scan(std::size_t index) {
        // Links are read from a view of the file's bytes; files added while
        // scanning may move the vector, so the bytes are borrowed meanwhile.
        std::string bytes = std::move(result_.files[index].bytes);
        const FileKind kind = result_.files[index].kind;
        // The one decision of the page's charset: its links, title and
        // words are all read in it.
        Charset charset = options_.legacy;
        // A UTF-16 page holds its markup in other bytes: it is read as UTF-8.
        std::string decoded;
        std::string_view markup = bytes;
        std::vector<FoundLink> links;
        std::optional<std::string_view> title;
        if (kind == FileKind::Page || kind == FileKind::Sitemap) {
            if (text::ByteOrderMarkSize(bytes) == 2) {
                charset = text::DecidePageCharset(bytes, {}, options_.legacy);
                decoded = text::Decode(bytes, charset);
                markup = decoded;
            }
            HtmlScan scan = ScanHtml(markup);
            if (decoded.empty())
                charset = text::DecidePageCharset(bytes, scan.charset, options_.legacy);
            links = std::move(scan.links);
            title = scan.title;
        } else if (kind == FileKind::StyleSheet) {
            ScanCss(bytes, LinkContext::StyleSheet, links);
        }
        const std::string name = result_.files[index].name;
        const Components folder = *Lexical(name.substr(0, name.rfind('/')), {});
        std::vector<ReachedFile> reached;
        for (const FoundLink& link : links) {
            const std::optional<std::size_t> target = Follow(
                DecodeLink(link, decoded.empty() ? charset : Charset::Utf8(), options_.legacy),
                folder, name);
            if (target && link.context == LinkContext::Attribute && decoded.empty())
                reached.push_back(
                    {static_cast<std::size_t>(link.text.data() - bytes.data()), *target});
        }
        std::sort(reached.begin(), reached.end(),
                  [](const ReachedFile& a, const ReachedFile& b) { return a.offset < b.offset; });
        SiteFile& file = result_.files[index];
        file.bytes = std::move(bytes);
        file.charset = charset;
        file.reached = std::move(reached);
        if (kind == FileKind::Page)
            file.title = PageTitle(file.name, title, decoded.empty() ? charset : Charset::Utf8());
    }

    // The file the link reached, if any.
    std::optional<std::size_t> Follow(const LinkTarget& target, const Components& folder,
                                      const std::string& page) {
        if (target.kind == LinkTarget::Kind::External || target.kind == LinkTarget::Kind::SamePage)
            return std::nullopt;
        if (target.kind == LinkTarget::Kind::DrivePath) {
            Report(Refused{RefusalReason::DrivePath, {}}, target.shown, page);
            return std::nullopt;
        }
        Outcome outcome = Resolve(target.path, folder);
        // "100%ab.htm" may mean its name as written, not an escape.
        if (!target.literal.empty() && std::holds_alternative<Refused>(outcome) &&
            std::get<Refused>(outcome).reason == RefusalReason::Missing) {
            Outcome literal = Resolve(target.literal, folder);
            if (std::holds_alternative<std::size_t>(literal))
                outcome = literal;
        }
        // A name on disk in other bytes than the page's charset reads.
        if (!target.raw.empty() && std::holds_alternative<Refused>(outcome) &&
            std::get<Refused>(outcome).reason == RefusalReason::Missing) {
            Outcome raw = Resolve(target.raw, folder);
            if (std::holds_alternative<std::size_t>(raw))
                outcome = raw;
        }
        Report(outcome, target.shown, page);
        if (const auto* index = std::get_if<std::size_t>(&outcome))
            return *index;
        return std::nullopt;
    }

    Outcome Resolve(const std::string& path, const Components& folder) {
        if (path.find('\0') != std::string::npos)
            return Refused{RefusalReason::Missing, {}};
        const std::optional<Components> parts = Lexical(path, folder);
        if (!parts)
            return Refused{RefusalReason::OutsideRoot, {}};
        return Take(*parts);
    }

    // Each distinct refusal once per page.
    void Report(const Outcome& outcome, const std::string& link, const std::string& page) {
        const auto* refused = std::get_if<Refused>(&outcome);
        if (refused && reported_.emplace(page, link).second)
            result_.refusals.push_back({link, page, refused->reason, refused->detail});
    }

    Outcome Take(const Components& parts) {
        const std::string key = Join(parts);
        if (const auto known = outcomes_.find(key); known != outcomes_.end())
            return known->second;
        Outcome outcome = Locate(parts);
        outcomes_.emplace(key, outcome);
        return outcome;
    }

    // Finds the file on disk, each name matched without regard to case
    // when it is not there as written, and reads it.
    Outcome Locate(const Components& parts) {
        if (parts.empty())
            return Refused{RefusalReason::NotAFile, {}};
        std::string disk = rootReal_;
        std::string stored;
        for (const std::string& part : parts) {
            std::string candidate = (disk == "/" ? "" : disk) + "/" + part;
            std::string text = part;
            struct stat info {};
            if (::lstat(candidate.c_str(), &info) != 0) {
                const Entry* match = FindNoCase(disk, part);
                if (!match)
                    return Refused{RefusalReason::Missing, {}};
                candidate = (disk == "/" ? "" : disk) + "/" + match->disk;
                text = match->text;
            }
            disk = std::move(candidate);
            stored += "/" + text;
        }

        char* real = ::realpath(disk.c_str(), nullptr);
        if (!real)
            return Refused{errno == ENOENT || errno == ENOTDIR ? RefusalReason::Missing
                                                               : RefusalReason::Unreadable,
                           errno == ENOENT || errno == ENOTDIR ? "" : std::strerror(errno)};
        const std::string resolved = real;
        std::free(real);
        if (!resolved.starts_with(rootPrefix_))
            return Refused{RefusalReason::LinkOutsideRoot, {}};
        struct stat info {};
        if (::stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return Refused{RefusalReason::NotAFile, {}};
        if (skipped_.contains({info.st_dev, info.st_ino}))
            return Refused{RefusalReason::HelpFile, {}};
        if (const auto taken = byName_.find(stored); taken != byName_.end()) {
            const std::string& other = result_.files[taken->second].name;
            if (other == stored)
                return taken->second;
            return Refused{RefusalReason::NameClash, other};
        }

        SiteFile file;
        file.path = resolved;
        file.name = stored;
        file.kind = KindOf(stored);
        if (std::string error = ReadWhole(resolved, file.bytes); !error.empty())
            return Refused{RefusalReason::Unreadable, error};
        const std::size_t index = result_.files.size();
        result_.files.push_back(std::move(file));
        byName_.emplace(stored, index);
        queue_.push_back(index);
        if (options_.progress)
            options_.progress(result_.files.size());
        return index;
    }

    const Entry* FindNoCase(const std::string& folder, const std::string& name) {
        auto listed = listings_.find(folder);
        if (listed == listings_.end())
            listed = listings_.emplace(folder, ListFolder(folder, options_.legacy)).first;
        for (const Entry& entry : listed->second) {
            if (EqualNoCase(entry.text, name))
                return &entry;
        }
        return nullptr;
    }

    struct NoCaseLess {
        bool operator()(const std::string& a, const std::string& b) const {
            return LessNoCase(a, b);
        }
    };

    const WalkOptions& options_;
    SiteWalk result_;
    std::string rootReal_, rootPrefix_;
    std::set<std::pair<dev_t, ino_t>> skipped_;
    std::deque<std::size_t> queue_;
    std::unordered_map<std::string, Outcome> outcomes_;               // path below root -> outcome
    std::map<std::string, std::size_t, NoCaseLess> byName_;           // stored name -> file
    std::unordered_map<std::string, std::vector<Entry>> listings_;    // folder -> its names
    std::set<std::pair<std::string, std::string>> reported_;          // page, link
};

} // namespace

std::string_view DescribeRefusal(RefusalReason reason) {
    switch (reason) {
    case RefusalReason::OutsideRoot:
        return "leaves the site folder";
    case RefusalReason::LinkOutsideRoot:
        return "is a symbolic link to outside the site folder";
    case RefusalReason::NotAFile:
        return "is not a regular file";
    case RefusalReason::Missing:
        return "does not exist";
    case RefusalReason::Unreadable:
        return "cannot be read";
    case RefusalReason::NameClash:
        return "differs only in letter case from a file already taken";
    case RefusalReason::HelpFile:
        return "is the help file being written";
    case RefusalReason::DrivePath:
        return "is a Windows drive path";
    }
    return "is not followed";
}

SiteWalk WalkSite(const WalkOptions& options) {
    return Walker(options).Run();
}

} // namespace tbx::site
