#include "platform/files.h"

#include "platform/messages.h"
#include "platform/temp_files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {
namespace {

std::string SystemError(int err) {
    return std::strerror(err);
}

// Writes the bytes to fd; 0 or an errno value.
int WriteBytes(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Writes all pieces to fd, then tail, then flushes them to disk; 0 or an
// errno value.
int WriteAll(int fd, std::span<const std::string_view> pieces, const SpillBuffer* tail) {
    for (const std::string_view bytes : pieces) {
        if (const int err = WriteBytes(fd, bytes))
            return err;
    }
    if (tail) {
        if (const int err = tail->CopyTo(fd))
            return err;
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

OutputFile ResolveOutputFile(const std::string& path) {
    OutputFile out;
    out.path = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            out.error = SystemError(errno);
        return out; // ENOENT: to be made
    }
    if (S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) {
            out.error = errno == ENOENT
                            ? std::string(Tr("it is a symbolic link to nothing"))
                            : Format(Tr("it is a symbolic link that cannot be followed: %s"),
                                     SystemError(errno));
            return out;
        }
        out.path = real;
        std::free(real);
        if (::stat(out.path.c_str(), &st) != 0) {
            out.error = SystemError(errno);
            return out;
        }
    }
    if (S_ISDIR(st.st_mode)) {
        out.error = Tr("it is a folder");
    } else if (!S_ISREG(st.st_mode)) {
        out.error = Tr("it is not a regular file but a pipe, device or socket");
    } else {
        out.exists = true;
        out.device = st.st_dev;
        out.inode = st.st_ino;
    }
    return out;
}

// Held bytes go in blocks of this size, each full but the last.
constexpr std::size_t kSpillBlock = std::size_t{1} << 20;

SpillBuffer::SpillBuffer(const std::string& beside, std::uint64_t memoryLimit)
    : folder_(FolderOf(beside)), limit_(memoryLimit) {}

SpillBuffer::~SpillBuffer() {
    if (fd_ >= 0)
        ::close(fd_);
}

void SpillBuffer::Append(const std::uint8_t* bytes, std::size_t size) {
    if (fd_ < 0 && size_ + size <= limit_) {
        size_ += size;
        while (size > 0) {
            if (memory_.empty() || memory_.back().size() == kSpillBlock) {
                memory_.emplace_back();
                memory_.back().reserve(kSpillBlock);
            }
            std::vector<std::uint8_t>& block = memory_.back();
            const std::size_t n = std::min(size, kSpillBlock - block.size());
            block.insert(block.end(), bytes, bytes + n);
            bytes += n;
            size -= n;
        }
        return;
    }
    if (fd_ < 0) {
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            // A file system without unnamed files: a named one, unlinked at once.
            std::string path;
            fd_ = CreateTempFile(folder_, kTempFilePrefix, path);
            if (fd_ >= 0)
                ::unlink(path.c_str());
        }
        if (fd_ < 0)
            throw std::runtime_error(SystemError(errno));
        for (const std::vector<std::uint8_t>& block : memory_) {
            if (const int err =
                    WriteBytes(fd_, {reinterpret_cast<const char*>(block.data()), block.size()}))
                throw std::runtime_error(SystemError(err));
        }
        std::vector<std::vector<std::uint8_t>>().swap(memory_);
    }
    if (const int err = WriteBytes(fd_, {reinterpret_cast<const char*>(bytes), size}))
        throw std::runtime_error(SystemError(err));
    size_ += size;
}

int SpillBuffer::CopyTo(int fd) const {
    if (fd_ < 0) {
        for (const std::vector<std::uint8_t>& block : memory_) {
            if (const int err =
                    WriteBytes(fd, {reinterpret_cast<const char*>(block.data()), block.size()}))
                return err;
        }
        return 0;
    }
    loff_t from = 0;
    while (static_cast<std::uint64_t>(from) < size_) {
        const ssize_t n =
            ::copy_file_range(fd_, &from, fd, nullptr, static_cast<std::size_t>(size_ - from), 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP))
            return n == 0 ? EIO : errno;
        // Between file systems that cannot copy in the kernel: by hand.
        std::vector<char> buffer(1 << 20);
        while (static_cast<std::uint64_t>(from) < size_) {
            const ssize_t got = ::pread(fd_, buffer.data(), buffer.size(), from);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return got == 0 ? EIO : errno;
            if (const int err = WriteBytes(fd, {buffer.data(), static_cast<std::size_t>(got)}))
                return err;
            from += got;
        }
    }
    return 0;
}

std::size_t SpillBuffer::ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) const {
    const std::size_t wanted =
        offset >= size_
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), size_ - offset));
    std::size_t done = 0;
    if (fd_ < 0) {
        while (done < wanted) {
            const std::vector<std::uint8_t>& block = memory_[(offset + done) / kSpillBlock];
            const std::size_t at = (offset + done) % kSpillBlock;
            const std::size_t n = std::min(wanted - done, block.size() - at);
            std::copy_n(block.data() + at, n, into.data() + done);
            done += n;
        }
        return wanted;
    }
    while (done < wanted) {
        const ssize_t got =
            ::pread(fd_, into.data() + done, wanted - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::runtime_error(SystemError(got == 0 ? EIO : errno));
        done += static_cast<std::size_t>(got);
    }
    return wanted;
}

std::string WriteFileAtomically(const std::string& path, std::string_view bytes) {
    return WriteFileAtomically(path, std::span<const std::string_view>(&bytes, 1));
}

std::string WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces,
                                const SpillBuffer* tail) {
    const std::string folder = FolderOf(path);
    // What an earlier write that was killed left here goes now.
    RemoveStaleTemporaries(folder, kTempFilePrefix);
    std::string temp;
    const int fd = CreateTempFile(folder, kTempFilePrefix, temp);
    if (fd < 0)
        return SystemError(errno);
    int err = WriteAll(fd, pieces, tail);
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
    int err = WriteAll(fd, std::span<const std::string_view>(&bytes, 1), nullptr);
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

FileBytes ReadOpenFile(int fd, std::uint64_t size, std::size_t limit, Beyond beyond) {
    FileBytes file;
    // One byte more than the size (within the limit), so that a file read
    // whole meets its end without the buffer growing.
    const std::size_t most = beyond == Beyond::Fail && limit < SIZE_MAX ? limit + 1 : limit;
    std::string& bytes = file.bytes;
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size + 1, most)));
    std::size_t done = 0;
    while (done < most) {
        if (done == bytes.size())
            bytes.resize(std::min(most, done * 2 + 1)); // the file grew
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
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

FileBytes ReadWholeFile(const std::string& path, std::size_t limit, Beyond beyond) {
    FileBytes file;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!fd.Ok()) {
        file.failure = FileBytes::Failure::Open;
        file.systemError = errno;
        file.detail = std::strerror(errno);
    } else if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        file.failure = FileBytes::Failure::NotAFile;
    } else if (static_cast<std::uint64_t>(info.st_size) > limit && beyond == Beyond::Fail) {
        file.failure = FileBytes::Failure::TooLarge;
    } else {
        file = ReadOpenFile(fd.Get(), static_cast<std::uint64_t>(info.st_size), limit, beyond);
    }
    return file;
}

} // namespace tbx
