#pragma once
// Small file-system services shared by the jobs.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tbx {

bool PathExists(const std::string& path);
// True for an existing folder (a symbolic link to one counts).
bool IsFolder(const std::string& path);

// What identifies one version of a file, to tell whether a program wrote it.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    off_t size = 0;

    bool operator==(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               size == o.size;
    }
};
// The stamp of the regular file at path; not exists for anything else.
FileStamp StampOf(const std::string& path);

// Folder of the running executable, ending with "/".
std::string ProgramFolder();

// Where a file that replaces whatever is at path is to be written: path
// itself, or the file a symbolic link there names, so that the link stays.
struct OutputFile {
    std::string path;    // to write to
    bool exists = false; // a regular file is there now
    dev_t device = 0;
    ino_t inode = 0;
    std::string error; // why nothing may be written there: a folder, a pipe, a device...
};
OutputFile ResolveOutputFile(const std::string& path);

// Bytes held in memory up to a limit, then in an unnamed file in the folder
// of beside (gone once closed, even after a kill): for what is too large to
// hold.
class SpillBuffer {
public:
    SpillBuffer(const std::string& beside, std::uint64_t memoryLimit);
    ~SpillBuffer();
    SpillBuffer(const SpillBuffer&) = delete;
    SpillBuffer& operator=(const SpillBuffer&) = delete;

    // Throws std::runtime_error with the system's words when it cannot.
    void Append(const std::uint8_t* bytes, std::size_t size);
    std::uint64_t Size() const { return size_; }
    // Copies everything to fd at its position; 0 or an errno value.
    int CopyTo(int fd) const;
    // Fills into with the bytes from offset on and returns how many there
    // were (fewer at the end). Safe beside other reads, not beside Append.
    // Throws std::runtime_error with the system's words when it cannot.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> into) const;

private:
    std::string folder_;
    std::uint64_t limit_;
    std::uint64_t size_ = 0;
    // In blocks, so that growing never copies what is held.
    std::vector<std::vector<std::uint8_t>> memory_;
    int fd_ = -1;
};

// Writes the bytes to a temporary file beside path and renames it over path,
// so the old content stays whole if anything fails. Temporary files that a
// killed write left in that folder are removed first. Empty on success,
// otherwise the system's description of the failure.
std::string WriteFileAtomically(const std::string& path, std::string_view bytes);
// The same with the content given in pieces, written one after another,
// then tail when given.
std::string WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces,
                                const SpillBuffer* tail = nullptr);

// Creates path exclusively and writes the bytes; fails when it exists.
// Empty on success, otherwise the system's description of the failure.
std::string WriteNewFile(const std::string& path, std::string_view bytes);

// Renames from to to unless to exists. Empty on success; otherwise the
// system's description, with targetExists set when to was in the way.
std::string MoveFileNoReplace(const std::string& from, const std::string& to, bool& targetExists);

bool RemoveFile(const std::string& path);

// A file descriptor that is closed when its owner goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Ok() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

struct FileBytes {
    enum class Failure {
        None,
        Open,     // could not be opened (detail: the system's words)
        NotAFile, // a folder, pipe, device or socket
        TooLarge, // more than the limit
        Read,     // failed while reading (detail: the system's words)
    };
    std::string bytes;
    Failure failure = Failure::None;
    int systemError = 0; // Open and Read: the errno value
    std::string detail;  // Open and Read: the system's words for it
    bool Ok() const { return failure == Failure::None; }
};

// What to do with a file longer than the limit.
enum class Beyond {
    Fail, // TooLarge, and no bytes
    Cut,  // its first limit bytes
};

// The bytes of the regular file at path, read whole. A named pipe in its
// place never hangs the read (O_NONBLOCK); a file that grows while it is
// read is read to its end, within the limit.
FileBytes ReadWholeFile(const std::string& path, std::size_t limit, Beyond beyond = Beyond::Fail);

// The same for a file already open, read from where it stands; size is
// what it held when opened.
FileBytes ReadOpenFile(int fd, std::uint64_t size, std::size_t limit, Beyond beyond = Beyond::Fail);

} // namespace tbx
