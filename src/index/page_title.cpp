#include "index/page_title.h"

#include "res/cp1251.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {

namespace {

constexpr std::string_view kOpenTag = "<title>";
constexpr std::string_view kCloseTag = "</title>";

// Big enough to hold a typical page in one read, small enough that a huge page
// whose title sits near the top costs one read and nothing more.
constexpr std::size_t kChunk = 64 * 1024;
// A tag cut by a chunk boundary is found when this many bytes of the previous
// chunk are kept in front of the next one.
constexpr std::size_t kOverlap = kCloseTag.size() - 1;

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// First position of tag (lower case) in text, ignoring the case of ASCII
// letters only, so every byte keeps its place and non-ASCII bytes never match.
// Both tags start with '<', which has no case, so memchr can look for it.
std::size_t FindTag(std::string_view text, std::string_view tag) {
    if (text.size() < tag.size())
        return std::string_view::npos;
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - tag.size());
    const char* p = begin;
    while (p <= last) {
        p = static_cast<const char*>(
            std::memchr(p, tag[0], static_cast<std::size_t>(last - p) + 1));
        if (!p)
            return std::string_view::npos;
        std::size_t i = 1;
        while (i < tag.size() && AsciiLower(p[i]) == tag[i])
            ++i;
        if (i == tag.size())
            return static_cast<std::size_t>(p - begin);
        ++p;
    }
    return std::string_view::npos;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Bytes read, 0 at the end of the file, -1 on a read error.
ssize_t ReadSome(int fd, char* into, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, into, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool ReadAt(int fd, std::uint64_t offset, std::size_t size, std::string& out) {
    out.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // the file shrank or failed under us
        done += static_cast<std::size_t>(n);
    }
    return true;
}

enum class Scan { Found, NoTitle, Failed };

// Looks for the title's bytes in the open page, reading chunk by chunk and
// keeping only a small overlap between chunks; a title that spans chunks is
// read back by its offsets once its end is known.
Scan ScanForTitle(int fd, std::string& title) {
    // Room for the overlap kept from the previous chunk plus one new chunk.
    const auto buffer = std::make_unique_for_overwrite<char[]>(kOverlap + kChunk);
    std::size_t held = 0;                 // bytes in buffer
    std::uint64_t heldAt = 0;             // file offset of buffer[0]
    std::optional<std::uint64_t> titleAt; // file offset just after "<title>"

    for (;;) {
        const ssize_t n = ReadSome(fd, buffer.get() + held, kChunk);
        if (n < 0)
            return Scan::Failed;
        if (n == 0)
            return Scan::NoTitle;
        // The page ends at its first zero byte.
        const char* zero = static_cast<const char*>(
            std::memchr(buffer.get() + held, 0, static_cast<std::size_t>(n)));
        const bool ends = zero != nullptr;
        held = ends ? static_cast<std::size_t>(zero - buffer.get())
                    : held + static_cast<std::size_t>(n);

        const std::string_view text(buffer.get(), held);
        if (!titleAt) {
            const std::size_t open = FindTag(text, kOpenTag);
            if (open != std::string_view::npos)
                titleAt = heldAt + open + kOpenTag.size();
        }
        if (titleAt) {
            // "</title>" counts only from the title's start on; the overlap
            // kept from the previous chunk may lie before it.
            const std::size_t from =
                *titleAt > heldAt ? static_cast<std::size_t>(*titleAt - heldAt) : 0;
            const std::size_t close = FindTag(text.substr(from), kCloseTag);
            if (close != std::string_view::npos) {
                const std::uint64_t titleEnd = heldAt + from + close;
                const auto length = static_cast<std::size_t>(titleEnd - *titleAt);
                if (length > kMaxTitleBytes)
                    return Scan::NoTitle;
                if (*titleAt >= heldAt) {
                    title.assign(text.substr(from, length));
                    return Scan::Found;
                }
                return ReadAt(fd, *titleAt, length, title) ? Scan::Found : Scan::Failed;
            }
            // Past the longest title without its end: no title, as when the
            // end tag is missing, and nothing more is read.
            if (heldAt + held >= *titleAt + kMaxTitleBytes + kCloseTag.size())
                return Scan::NoTitle;
        }
        if (ends)
            return Scan::NoTitle;

        // Keep only the tail that a tag cut at the boundary could start in.
        const std::size_t keepFrom = held > kOverlap ? held - kOverlap : 0;
        std::memmove(buffer.get(), buffer.get() + keepFrom, held - keepFrom);
        held -= keepFrom;
        heldAt += keepFrom;
    }
}

} // namespace

std::optional<std::string_view> TitleTagText(std::string_view page) {
    page = page.substr(0, page.find('\0'));
    const std::size_t open = FindTag(page, kOpenTag);
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = page.substr(open + kOpenTag.size());
    const std::size_t close = FindTag(rest, kCloseTag);
    // The same limit as the file reader's: a longer "title" is no title.
    if (close == std::string_view::npos || close > kMaxTitleBytes)
        return std::nullopt;
    return rest.substr(0, close);
}

std::string FileTitle(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PageTitle ExtractPageTitle(const std::string& path) {
    // O_NONBLOCK keeps a named pipe from hanging the listing; it changes
    // nothing for a regular file.
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {kNoTitle, TitleSource::Unreadable};

    try {
        std::string bytes;
        switch (ScanForTitle(fd.get(), bytes)) {
        case Scan::Found:
            return {DecodeLegacyText(bytes), TitleSource::Tag};
        case Scan::NoTitle:
            // Old pages may carry Windows-1251 file names; show them readably.
            return {DecodeLegacyText(FileTitle(path)), TitleSource::FileTitle};
        case Scan::Failed:
            break;
        }
    } catch (const std::bad_alloc&) {
        // No memory even for one chunk or a title: the listing goes on.
    }
    return {kNoTitle, TitleSource::Unreadable};
}

std::string GetPageTitle(const std::string& path) {
    return ExtractPageTitle(path).text;
}

} // namespace tbx
