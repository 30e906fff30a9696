#include "site/site_walk.h"

#include "platform/files.h"
#include "platform/messages.h"
#include "site/link_scanner.h"
#include "site/open_beneath.h"
#include "site/read_ahead.h"
#include "text/charset.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <new>
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

// The names of the folder at relative below root ("" for root itself).
std::vector<Entry> ListFolder(int root, const std::string& relative, Charset legacy) {
    std::vector<Entry> entries;
    const int fd = ::openat(root, relative.empty() ? "." : relative.c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            if (name != "." && name != "..")
                entries.push_back({std::string(name), text::DecodeLegacyText(name, legacy)});
        }
        ::closedir(dir);
    } else if (fd >= 0) {
        ::close(fd);
    }
    // Of several names equal but for case, the same one wins every time.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return NameLess(a.text, b.text); });
    return entries;
}

std::int64_t ModifiedNs(const struct stat& info) {
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::string PageTitle(const std::string& name, std::optional<std::string_view> tag,
                      Charset charset) {
    std::string title;
    if (tag && tag->size() <= kMaxTitleBytes)
        title = PlainText(*tag, charset);
    return title.empty() ? name.substr(name.rfind('/') + 1) : title;
}

} // namespace

struct SiteRoot {
    SiteRoot(int fd, std::string real) : fd(fd), real(std::move(real)) {}
    ~SiteRoot() { ::close(fd); }
    SiteRoot(const SiteRoot&) = delete;
    SiteRoot& operator=(const SiteRoot&) = delete;

    std::string Prefix() const { return real == "/" ? "/" : real + "/"; }

    const int fd;           // the folder, held for the walk's lookups
    const std::string real; // its real path
};

namespace {

// Why an open below the root failed, for a refusal.
struct FailureReason {
    RefusalReason reason;
    std::string detail;
};

FailureReason ReasonOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return {RefusalReason::Missing, {}};
    case ENAMETOOLONG:
        return {RefusalReason::TooLong, {}};
    case EACCES:
        return {RefusalReason::Unenterable, {}};
    default:
        return {RefusalReason::Unreadable, std::strerror(error)};
    }
}

int Reopen(const SiteRoot& root, const SiteFile& file, std::string& error);

// The file's bytes, whole and as the walk took it. Empty, or why not.
std::string ReadWhole(const SiteRoot& root, const SiteFile& file, std::string& bytes) {
    std::string error;
    const int fd = Reopen(root, file, error);
    if (fd < 0)
        return file.path + " " + error;
    FileBytes read = ReadOpenFile(fd, file.size, SIZE_MAX);
    ::close(fd);
    if (!read.Ok())
        return Format(Tr("cannot read %s: %s"), file.path, read.detail);
    if (read.bytes.size() != file.size)
        return file.path + " " + Tr("changed since the site was walked");
    bytes = std::move(read.bytes);
    return {};
}

class Walker {
public:
    explicit Walker(const WalkOptions& options) : options_(options) {}

    SiteWalk Run() {
        char* real = ::realpath(options_.root.c_str(), nullptr);
        const int fd = real ? ::open(real, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
        if (fd < 0) {
            std::free(real);
            result_.error = Format(Tr("the site folder %s cannot be used"), options_.root);
            return std::move(result_);
        }
        result_.root = std::make_shared<const SiteRoot>(fd, real);
        std::free(real);
        rootFd_ = fd;
        rootReal_ = result_.root->real;
        rootPrefix_ = result_.root->Prefix();
        try {
            Walk();
        } catch (const std::bad_alloc&) {
            // What was read goes, so that the message can still be made.
            std::vector<SiteFile>().swap(result_.files);
            result_.error = reading_.empty() ? std::string(Tr("not enough memory to read the site"))
                                             : Format(Tr("not enough memory to read %s"), reading_);
        }
        return std::move(result_);
    }

private:
    void Walk() {
        struct stat info {};
        for (const std::string& path : options_.skip) {
            if (::stat(path.c_str(), &info) == 0)
                skipped_.emplace(info.st_dev, info.st_ino);
        }

        // The files taken wait in queue_, those in ahead are being read:
        // from the first start on, while the others are still looked up.
        ReadAhead<Examined> reader(kReaders);
        std::deque<std::size_t> ahead;
        std::uint64_t aheadBytes = 0;
        const auto feed = [&] {
            while (!queue_.empty() &&
                   (ahead.empty() || (ahead.size() < kAheadFiles && aheadBytes < kAheadBytes))) {
                const std::size_t index = queue_.front();
                queue_.pop_front();
                reader.Push([root = result_.root, file = result_.files[index], keep = Keeps(index),
                             this] { return Examine(*root, file, keep); });
                ahead.push_back(index);
                aheadBytes += HeldAhead(result_.files[index]);
            }
        };
        for (const std::string& start : options_.starts) {
            TakeStart(start);
            feed();
        }
        for (feed(); !ahead.empty(); feed()) {
            const std::size_t index = ahead.front();
            ahead.pop_front();
            const SiteFile& file = result_.files[index];
            aheadBytes -= HeldAhead(file);
            reading_ = file.path;
            Examined examined = reader.Take();
            reading_.clear();
            Scan(index, examined);
        }
    }

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
        if (index && result_.startNames.empty())
            startPage_ = *index;
        result_.startNames.push_back(index ? result_.files[*index].name : std::string());
        Report(outcome, path, std::string());
    }

    // How far the reading may run ahead of the links being followed, and
    // on how many threads: enough to keep the cores busy while one follows
    // links, not so much that what was read piles up.
    static constexpr std::size_t kReaders = 2;
    static constexpr std::size_t kAheadFiles = 512;
    static constexpr std::uint64_t kAheadBytes = std::uint64_t{16} << 20;

    static bool Scanned(const SiteFile& file) { return file.kind != FileKind::Other; }
    // The bytes reading it holds while it waits to be followed.
    static std::uint64_t HeldAhead(const SiteFile& file) { return Scanned(file) ? file.size : 0; }
    // Sitemaps and the start page are read again later.
    bool Keeps(std::size_t index) const {
        return result_.files[index].kind == FileKind::Sitemap || index == startPage_;
    }

    // What a file's own bytes say, read apart from the walk.
    struct Examined {
        struct Link {
            LinkTarget target;
            LinkContext context;
            std::size_t offset; // where its text starts in bytes
        };
        std::string bytes;                 // only of a file that keeps them
        bool utf16 = false;                // its links were read from its text in UTF-8
        Charset charset = Charset::Utf8(); // as Examine decides
        std::vector<Link> links;
        std::string title;
        PageKeywords keywords;
    };

    // Reads the file when its turn comes, not when it was found: the files
    // found wait in the queue without their bytes. A file that changed since
    // it was taken is left unread, without links: reading it for the help
    // file fails, saying so. Runs on a reading thread, so it touches nothing
    // of the walk's own.
    Examined Examine(const SiteRoot& root, const SiteFile& file, bool keep) const {
        Examined out;
        std::string bytes;
        if (Scanned(file) && !ReadWhole(root, file, bytes).empty())
            bytes.clear();
        // The one decision of the page's charset: its links, title and
        // words are all read in it.
        Charset charset = options_.legacy;
        // A UTF-16 page holds its markup in other bytes: it is read as UTF-8.
        std::string decoded;
        std::string_view markup = bytes;
        std::vector<FoundLink> links;
        std::optional<std::string_view> title;
        if (file.kind == FileKind::Page || file.kind == FileKind::Sitemap) {
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
        } else if (file.kind == FileKind::StyleSheet) {
            ScanCss(bytes, LinkContext::StyleSheet, links);
        }
        out.utf16 = !decoded.empty();
        const Charset read = out.utf16 ? Charset::Utf8() : charset;
        for (const FoundLink& link : links)
            out.links.push_back({DecodeLink(link, read, options_.legacy), link.context,
                                 static_cast<std::size_t>(link.text.data() - markup.data())});
        if (file.kind == FileKind::Page) {
            out.title = PageTitle(file.name, title, read);
            if (options_.pageKeywords)
                out.keywords = ReadPageKeywords(bytes, charset);
        }
        out.charset = charset;
        if (keep)
            out.bytes = std::move(bytes);
        return out;
    }

    // Follows the links of the file examined, in the walk's own order.
    void Scan(std::size_t index, Examined& examined) {
        const std::string name = result_.files[index].name;
        const Components folder = *Lexical(name.substr(0, name.rfind('/')), {});
        // What was read from a page or style sheet not kept is known now;
        // its bytes are read again only when they are stored. Links are
        // found again by where they stand in the bytes, so they are kept
        // with the bytes and with them only: on a large site the other
        // pages' links would cost more than their records.
        const bool keep = Keeps(index);
        std::vector<ReachedFile> reached;
        for (const Examined::Link& link : examined.links) {
            const std::optional<std::size_t> target = Follow(link.target, folder, name);
            if (keep && target && link.context == LinkContext::Attribute && !examined.utf16)
                reached.push_back({link.offset, *target});
        }
        std::sort(reached.begin(), reached.end(),
                  [](const ReachedFile& a, const ReachedFile& b) { return a.offset < b.offset; });
        SiteFile& file = result_.files[index];
        file.charset = examined.charset;
        if (file.kind == FileKind::Page) {
            file.title = std::move(examined.title);
            file.keywords = std::move(examined.keywords);
        }
        if (keep) {
            file.bytes = std::move(examined.bytes);
            file.reached = std::move(reached);
        }
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
        // A backslash is read as "/" (Windows paths): say so when that finds nothing.
        if (const auto* refused = std::get_if<Refused>(&outcome);
            refused && refused->reason == RefusalReason::Missing &&
            target.shown.find('\\') != std::string::npos)
            outcome = Refused{RefusalReason::Backslash, {}};
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
    // when it is not there as written, opens it below the root and reads it
    // (the kinds that are scanned) or notes its size.
    Outcome Locate(const Components& parts) {
        if (parts.empty())
            return Refused{RefusalReason::NotAFile, {}};
        // Said as such: the lookup would stop at the first name not there.
        if (rootPrefix_.size() + Join(parts).size() >= PATH_MAX ||
            std::any_of(parts.begin(), parts.end(),
                        [](const std::string& part) { return part.size() > NAME_MAX; }))
            return Refused{RefusalReason::TooLong, {}};
        std::string disk; // below the root, as on disk
        std::string stored;
        for (const std::string& part : parts) {
            std::string candidate = disk.empty() ? part : disk + "/" + part;
            std::string text = part;
            struct stat info {};
            if (::fstatat(rootFd_, candidate.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                const int error = errno;
                const Entry* match = error == ENOENT ? FindNoCase(disk, part) : nullptr;
                if (!match) {
                    const FailureReason why = ReasonOf(error);
                    return Refused{why.reason, why.detail};
                }
                candidate = disk.empty() ? match->disk : disk + "/" + match->disk;
                text = match->text;
            }
            disk = std::move(candidate);
            stored += "/" + text;
        }

        const Beneath opened = OpenBeneath(rootFd_, rootReal_, disk);
        switch (opened.status) {
        case Beneath::Status::Outside:
            return Refused{RefusalReason::LinkOutsideRoot, {}};
        case Beneath::Status::NotAFile:
            return Refused{RefusalReason::NotAFile, {}};
        case Beneath::Status::Changed:
            return Refused{RefusalReason::Unreadable, "it changed while it was looked up"};
        case Beneath::Status::Failed: {
            // A file that cannot be read is said to be so, not a folder on the way.
            const FailureReason why =
                opened.error == EACCES
                    ? FailureReason{RefusalReason::Unreadable, std::strerror(EACCES)}
                    : ReasonOf(opened.error);
            return Refused{why.reason, why.detail};
        }
        case Beneath::Status::Opened:
            break;
        }
        const int fd = opened.fd;
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        struct stat info {};
        if (::fstat(fd, &info) != 0)
            return Refused{RefusalReason::Unreadable, std::strerror(errno)};
        if (skipped_.contains({info.st_dev, info.st_ino}))
            return Refused{RefusalReason::HelpFile, {}};
        if (const auto taken = byName_.find(stored); taken != byName_.end()) {
            const std::string& other = result_.files[taken->second].name;
            if (other == stored)
                return taken->second;
            return Refused{RefusalReason::NameClash, other};
        }

        SiteFile file;
        file.path = rootPrefix_ + disk;
        file.name = stored;
        file.kind = KindOf(stored);
        file.size = static_cast<std::uint64_t>(info.st_size);
        file.device = info.st_dev;
        file.inode = info.st_ino;
        file.modified = ModifiedNs(info);
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
            listed = listings_.emplace(folder, ListFolder(rootFd_, folder, options_.legacy)).first;
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
    int rootFd_ = -1; // held by result_.root
    std::string rootReal_, rootPrefix_;
    std::string reading_;              // the file being read whole, for a failure
    std::size_t startPage_ = SIZE_MAX; // its file, whose bytes stay held
    std::set<std::pair<dev_t, ino_t>> skipped_;
    std::deque<std::size_t> queue_;
    std::unordered_map<std::string, Outcome> outcomes_;            // path below root -> outcome
    std::map<std::string, std::size_t, NoCaseLess> byName_;        // stored name -> file
    std::unordered_map<std::string, std::vector<Entry>> listings_; // folder -> its names
    std::set<std::pair<std::string, std::string>> reported_;       // page, link
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
    case RefusalReason::Backslash:
        return "does not exist, with its backslashes read as \"/\"";
    case RefusalReason::TooLong:
        return "has a name or path longer than the system takes";
    case RefusalReason::Unenterable:
        return "is in a folder that cannot be entered";
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

int OpenSiteFile(const SiteWalk& walk, const SiteFile& file, std::string& error) {
    if (!walk.root) {
        error = Tr("is not a file of the site walked");
        return -1;
    }
    return Reopen(*walk.root, file, error);
}

std::string ReadSiteFile(const SiteWalk& walk, const SiteFile& file, std::string& bytes) {
    if (!walk.root)
        return file.path + " " + Tr("is not a file of the site walked");
    return ReadWhole(*walk.root, file, bytes);
}

namespace {

int Reopen(const SiteRoot& root, const SiteFile& file, std::string& error) {
    const std::string prefix = root.Prefix();
    if (!file.path.starts_with(prefix)) {
        error = Tr("is not a file of the site walked");
        return -1;
    }
    const Beneath opened = OpenBeneath(root.fd, root.real, file.path.substr(prefix.size()));
    struct stat info {};
    if (opened.status == Beneath::Status::Opened && ::fstat(opened.fd, &info) == 0 &&
        info.st_dev == file.device && info.st_ino == file.inode &&
        static_cast<std::uint64_t>(info.st_size) == file.size && ModifiedNs(info) == file.modified)
        return opened.fd;
    if (opened.fd >= 0)
        ::close(opened.fd);
    error = opened.status == Beneath::Status::Failed && opened.error != ENOENT &&
                    opened.error != ELOOP && opened.error != ENOTDIR
                ? Format(Tr("cannot be read again: %s"), std::strerror(opened.error))
                : std::string(Tr("changed since the site was walked"));
    return -1;
}

} // namespace

} // namespace tbx::site
