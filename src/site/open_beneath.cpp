#include "site/open_beneath.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tbx::site {
namespace {

// Closes the descriptor whatever the function returns; errno as it was.
struct Closer {
    int fd;
    ~Closer() {
        const int saved = errno;
        if (fd >= 0)
            ::close(fd);
        errno = saved;
    }
};

int Openat2(int folder, const char* path, std::uint64_t flags, std::uint64_t resolve) {
    open_how how{};
    how.flags = flags;
    how.resolve = resolve;
    return static_cast<int>(::syscall(SYS_openat2, folder, path, &how, sizeof how));
}

// The folder at relative below root (root itself for ""), for lookups only;
// -1 with errno set. With links, symbolic links that stay below root are
// followed (openat2 only); otherwise none is.
int OpenFolder(int root, const std::string& relative, bool links, Lookup& lookup) {
    if (relative.empty())
        return ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    const std::uint64_t flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    if (lookup == Lookup::Best) {
        const int fd =
            Openat2(root, relative.c_str(), flags,
                    RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | (links ? 0 : RESOLVE_NO_SYMLINKS));
        if (fd >= 0 || errno != ENOSYS)
            return fd;
        lookup = Lookup::NameByName;
    }
    int fd = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (std::size_t from = 0; fd >= 0 && from < relative.size();) {
        const std::size_t slash = relative.find('/', from);
        const std::string name =
            relative.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        from = slash == std::string::npos ? relative.size() : slash + 1;
        const Closer parent{fd};
        fd = ::openat(parent.fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    return fd;
}

// The file itself is checked before it is opened, so that a device is never
// opened, and again once held.
Beneath OpenFile(int root, const std::string& relative, bool links, Lookup& lookup) {
    const std::size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash);
    const std::string name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
    const Closer parent{OpenFolder(root, folder, links, lookup)};
    if (parent.fd < 0)
        return {errno == EXDEV ? Beneath::Status::Outside : Beneath::Status::Failed, -1, errno};
    struct stat info {};
    if (::fstatat(parent.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return {Beneath::Status::Failed, -1, errno};
    if (S_ISLNK(info.st_mode))
        return {Beneath::Status::Failed, -1, ELOOP};
    if (!S_ISREG(info.st_mode))
        return {Beneath::Status::NotAFile, -1, 0};
    const int fd = ::openat(parent.fd, name.c_str(),
                            O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {Beneath::Status::Failed, -1, errno};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {Beneath::Status::NotAFile, -1, 0};
    }
    return {Beneath::Status::Opened, fd, 0};
}

} // namespace

Beneath OpenBeneath(int rootFd, const std::string& rootReal, const std::string& relative,
                    Lookup lookup) {
    Beneath opened = OpenFile(rootFd, relative, true, lookup);
    const bool link = opened.status == Beneath::Status::Outside ||
                      (opened.status == Beneath::Status::Failed &&
                       (opened.error == ELOOP || opened.error == ENOTDIR));
    if (!link)
        return opened;
    // A symbolic link the lookup would not follow (an absolute one, one at
    // the end, or any without openat2), or a file where a folder should be.
    // Where it leads is read from the real path, which is then opened with
    // no link at all on the way: a link swapped in meanwhile fails the open.
    char* real = ::realpath((rootReal + "/" + relative).c_str(), nullptr);
    if (!real)
        return {Beneath::Status::Failed, -1, errno};
    const std::string resolved = real;
    std::free(real);
    const std::string prefix = rootReal == "/" ? "/" : rootReal + "/";
    if (!resolved.starts_with(prefix))
        return {Beneath::Status::Outside, -1, EXDEV};
    opened = OpenFile(rootFd, resolved.substr(prefix.size()), false, lookup);
    if (opened.status == Beneath::Status::Failed &&
        (opened.error == ELOOP || opened.error == ENOTDIR))
        opened.status = Beneath::Status::Changed;
    return opened;
}

} // namespace tbx::site
