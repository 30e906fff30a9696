#include "platform/files.h"

#include "platform/temp_files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {
namespace {

std::string SystemError(int err) {
    return std::strerror(err);
}

// Writes all pieces to fd, then flushes them to disk; 0 or an errno value.
int WriteAll(int fd, std::span<const std::string_view> pieces) {
    for (std::string_view bytes : pieces) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd, bytes.data(), bytes.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

} // namespace

bool PathExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        stamp = {true, st.st_dev, st.st_ino, st.st_mtim, st.st_size};
    return stamp;
}

std::string ProgramFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "./";
    return FolderOf(std::string(buffer, static_cast<std::size_t>(n)));
}

std::string WriteFileAtomically(const std::string& path, std::string_view bytes) {
    return WriteFileAtomically(path, std::span<const std::string_view>(&bytes, 1));
}

std::string WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces) {
    const std::string folder = FolderOf(path);
    // What an earlier write that was killed left here goes now.
    RemoveStaleTemporaries(folder, kTempFilePrefix);
    std::string temp;
    const int fd = CreateTempFile(folder, kTempFilePrefix, temp);
    if (fd < 0)
        return SystemError(errno);
    int err = WriteAll(fd, pieces);
    // The temporary file is private; give it the usual permissions.
    if (err == 0 && ::fchmod(fd, 0644) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return SystemError(err);
    }
    return {};
}

std::string WriteNewFile(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return SystemError(errno);
    int err = WriteAll(fd, std::span<const std::string_view>(&bytes, 1));
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(path.c_str());
        return SystemError(err);
    }
    return {};
}

std::string MoveFileNoReplace(const std::string& from, const std::string& to, bool& targetExists) {
    targetExists = false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    int err = errno;
    // Some file systems cannot refuse to replace; test first, then rename.
    if (err == EINVAL || err == ENOSYS) {
        if (PathExists(to)) {
            err = EEXIST;
        } else if (::rename(from.c_str(), to.c_str()) == 0) {
            return {};
        } else {
            err = errno;
        }
    }
    targetExists = err == EEXIST;
    return SystemError(err);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

FileBytes ReadWholeFile(const std::string& path, std::size_t limit, Beyond beyond) {
    FileBytes file;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!fd.Ok()) {
        file.failure = FileBytes::Failure::Open;
    } else if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        file.failure = FileBytes::Failure::NotAFile;
        return file;
    } else if (static_cast<std::uint64_t>(info.st_size) > limit && beyond == Beyond::Fail) {
        file.failure = FileBytes::Failure::TooLarge;
        return file;
    }
    if (!file.Ok()) {
        file.systemError = errno;
        file.detail = std::strerror(errno);
        return file;
    }
    // One byte more than the size (within the limit), so that a file read
    // whole meets its end without the buffer growing.
    const std::size_t most = beyond == Beyond::Fail ? limit + 1 : limit;
    std::string& bytes = file.bytes;
    bytes.resize(std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size) + 1, most));
    std::size_t done = 0;
    while (done < most) {
        if (done == bytes.size())
            bytes.resize(std::min(most, done * 2 + 1)); // the file grew
        const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            file.failure = FileBytes::Failure::Read;
            file.systemError = errno;
            file.detail = std::strerror(errno);
            bytes.clear();
            return file;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    if (done > limit) {
        file.failure = FileBytes::Failure::TooLarge;
        bytes.clear();
    }
    return file;
}

} // namespace tbx
