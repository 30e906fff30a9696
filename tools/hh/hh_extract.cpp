#include "hh_extract.h"

#include <algorithm>
#include <cerrno>
#include <chm_lib.h>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace hh {
namespace {

// Content is copied in pieces of this size, so that a damaged length can
// neither exhaust memory nor hold off a stop request for long.
constexpr LONGINT64 kPieceSize = 1 << 20;

std::string SystemError(int error) {
    return std::strerror(error);
}

// Sub-folders of DIR opened for the files being written. Consecutive files
// mostly share their folder, so the chain of the last one is kept open.
class OutputTree {
public:
    explicit OutputTree(int root) : root_(root) {}
    ~OutputTree() { CloseFrom(0); }
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // The folder that holds parts[0 .. count-1], created as needed; -1 with
    // why when it cannot be had or is not a real folder below DIR.
    int Folder(const std::vector<std::string>& parts, std::size_t count, std::string& why) {
        std::size_t keep = 0;
        while (keep < chain_.size() && keep < count && chain_[keep].first == parts[keep])
            ++keep;
        CloseFrom(keep);
        for (std::size_t i = keep; i < count; ++i) {
            const int parent = i == 0 ? root_ : chain_[i - 1].second;
            const int fd = OpenChild(parent, parts[i], why);
            if (fd < 0)
                return -1;
            chain_.emplace_back(parts[i], fd);
        }
        return count == 0 ? root_ : chain_[count - 1].second;
    }

private:
    static int OpenChild(int parent, const std::string& name, std::string& why) {
        if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
            why = "cannot create folder " + name + ": " + SystemError(errno);
            return -1;
        }
        // O_NOFOLLOW: a symbolic link on the way could lead anywhere.
        const int fd =
            ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
            return fd;
        const int error = errno;
        struct stat st;
        if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            why = "symbolic link on the way: " + name;
        else
            why = "cannot open folder " + name + ": " + SystemError(error);
        return -1;
    }

    void CloseFrom(std::size_t keep) {
        while (chain_.size() > keep) {
            ::close(chain_.back().second);
            chain_.pop_back();
        }
    }

    int root_;
    std::vector<std::pair<std::string, int>> chain_;
};

bool Stopped(const volatile std::sig_atomic_t* stop, ExtractResult& result) {
    if (stop && *stop) {
        result.stopSignal = *stop;
        return true;
    }
    return false;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

// The file being written, for the fault handler: set before the file is
// created and cleared once it is whole or removed.
struct PartialFile {
    volatile int folder = -1;
    char name[CHM_MAX_PATHLEN + 1] = {};
};
// Writers that work side by side, each on its own part of the entries:
// creating files is most of the work, and the kernel does it for files in
// different folders at the same time.
constexpr unsigned kMaxWriters = 2;
PartialFile g_partial[kMaxWriters];

void MarkPartial(PartialFile& partial, int folder, const std::string& name) {
    partial.folder = -1;
    std::memcpy(partial.name, name.c_str(), std::min(name.size() + 1, sizeof partial.name));
    partial.name[sizeof partial.name - 1] = '\0';
    partial.folder = folder;
}

// Writes one stored file as name in folder. A new name is written in place;
// an existing one is replaced through a temporary file renamed over it, so
// its old content stays whole if anything fails. On failure the file made
// here is removed: never half a file under the real name.
std::string WriteEntry(chmFile* help, chmUnitInfo& unit, int folder, const std::string& name,
                       const std::string& temp, PartialFile& partial,
                       std::vector<unsigned char>& buffer, const volatile std::sig_atomic_t* stop,
                       ExtractResult& result) {
    MarkPartial(partial, folder, name);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(folder, name.c_str(), flags, 0666);
    const bool inPlace = fd >= 0;
    if (!inPlace && errno == EEXIST) {
        MarkPartial(partial, folder, temp);
        ::unlinkat(folder, temp.c_str(), 0);
        fd = ::openat(folder, temp.c_str(), flags, 0666);
    }
    if (fd < 0) {
        partial.folder = -1;
        return "cannot create " + name + ": " + SystemError(errno);
    }
    const std::string& written = inPlace ? name : temp;
    std::string why;
    LONGUINT64 done = 0;
    while (done < unit.length && why.empty()) {
        if (Stopped(stop, result)) {
            why = "stopped";
            break;
        }
        const LONGINT64 want =
            static_cast<LONGINT64>(std::min<LONGUINT64>(unit.length - done, kPieceSize));
        const LONGINT64 got = chm_retrieve_object(help, &unit, buffer.data(), done, want);
        if (got != want)
            why = "damaged content, cannot read " + name;
        else if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(got)))
            why = "cannot write " + name + ": " + SystemError(errno);
        else
            done += static_cast<LONGUINT64>(got);
    }
    if (::close(fd) != 0 && why.empty())
        why = "cannot write " + name + ": " + SystemError(errno);
    // renameat replaces a symbolic link of that name, never what it points to.
    if (why.empty() && !inPlace && ::renameat(folder, temp.c_str(), folder, name.c_str()) != 0)
        why = "cannot write " + name + ": " + SystemError(errno);
    if (!why.empty())
        ::unlinkat(folder, written.c_str(), 0);
    partial.folder = -1;
    return why;
}

// The directory as the file lays it out: a header, then chunks of a fixed
// size, each a listing chunk ("PMGL") of entries or an index chunk ("PMGI").
// Every listing chunk is read, in order; the header's field for the first
// listing chunk is only compared, since some compilers write one that
// skips listing chunks.
struct Directory {
    std::vector<chmUnitInfo> entries;
    std::vector<std::string> damage; // chunks that could not be read, with why
    int headerChainEntries = 0;      // entries reached from the header's first listing chunk
    bool chainComplete = false;      // that chain reached every listing chunk
};

constexpr std::size_t kChunkHeader = 20;

std::uint64_t Le(const unsigned char* at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

bool ReadAt(int fd, std::vector<unsigned char>& into, std::uint64_t offset, std::size_t size) {
    into.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, into.data() + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// A variable-length number: seven bits a byte, high bit set on all but the last.
bool EncInt(const unsigned char*& at, const unsigned char* end, LONGUINT64& value) {
    value = 0;
    for (int i = 0; i < 9 && at < end; ++i) {
        const unsigned char byte = *at++;
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

// The entries of one listing chunk; false when the chunk is damaged.
bool ParseListing(const std::vector<unsigned char>& chunk, std::vector<chmUnitInfo>& entries) {
    const std::uint64_t freeSpace = Le(chunk.data() + 4, 4);
    if (freeSpace > chunk.size() - kChunkHeader)
        return false;
    const unsigned char* at = chunk.data() + kChunkHeader;
    const unsigned char* end = chunk.data() + chunk.size() - freeSpace;
    while (at < end) {
        chmUnitInfo unit{};
        LONGUINT64 nameLength = 0;
        if (!EncInt(at, end, nameLength) || nameLength == 0 || nameLength > CHM_MAX_PATHLEN ||
            nameLength > static_cast<std::uint64_t>(end - at))
            return false;
        std::memcpy(unit.path, at, nameLength);
        unit.path[nameLength] = '\0';
        at += nameLength;
        LONGUINT64 space = 0;
        if (std::memchr(unit.path, '\0', nameLength) || !EncInt(at, end, space) || space > 1 ||
            !EncInt(at, end, unit.start) || !EncInt(at, end, unit.length))
            return false;
        unit.space = static_cast<int>(space);
        entries.push_back(unit);
    }
    return true;
}

// Reads the directory, or says in why what keeps it from being read at all.
bool ReadDirectory(int fd, std::uint64_t fileSize, Directory& dir, std::string& why) {
    std::vector<unsigned char> bytes;
    if (!ReadAt(fd, bytes, 0, 0x58) || std::memcmp(bytes.data(), "ITSF", 4) != 0) {
        why = "not a help file, or its header is damaged";
        return false;
    }
    const std::uint64_t dirOffset = Le(&bytes[0x48], 8);
    const std::uint64_t dirLength = Le(&bytes[0x50], 8);
    if (dirOffset >= fileSize || dirLength > fileSize - dirOffset ||
        !ReadAt(fd, bytes, dirOffset, 0x54) || std::memcmp(bytes.data(), "ITSP", 4) != 0) {
        why = "the directory header is missing or damaged";
        return false;
    }
    const std::uint64_t headerLength = Le(&bytes[0x08], 4);
    const std::uint64_t chunkSize = Le(&bytes[0x10], 4);
    const std::int32_t firstListing = static_cast<std::int32_t>(Le(&bytes[0x20], 4));
    const std::uint64_t chunks = Le(&bytes[0x2C], 4);
    if (headerLength < 0x54 || chunkSize <= kChunkHeader || chunkSize > (1u << 20) ||
        headerLength > dirLength || chunks > (dirLength - headerLength) / chunkSize) {
        why = "the directory header is damaged";
        return false;
    }

    std::vector<std::size_t> firstOfChunk(chunks, 0), countOfChunk(chunks, 0);
    std::vector<std::uint32_t> nextOfChunk(chunks, 0xFFFFFFFFu);
    std::vector<bool> listing(chunks, false);
    std::vector<unsigned char> chunk;
    for (std::uint64_t i = 0; i < chunks; ++i) {
        if (!ReadAt(fd, chunk, dirOffset + headerLength + i * chunkSize, chunkSize)) {
            dir.damage.push_back("directory chunk " + std::to_string(i) + " cannot be read");
            continue;
        }
        if (std::memcmp(chunk.data(), "PMGI", 4) == 0)
            continue;
        const std::size_t before = dir.entries.size();
        if (std::memcmp(chunk.data(), "PMGL", 4) != 0 || !ParseListing(chunk, dir.entries)) {
            dir.damage.push_back("directory chunk " + std::to_string(i) + " is damaged");
            dir.entries.resize(before);
            continue;
        }
        listing[i] = true;
        firstOfChunk[i] = before;
        countOfChunk[i] = dir.entries.size() - before;
        nextOfChunk[i] = static_cast<std::uint32_t>(Le(chunk.data() + 16, 4));
    }

    // What a reader that trusts the header would have seen.
    std::vector<bool> visited(chunks, false);
    std::size_t reached = 0, listings = 0;
    for (std::uint64_t i = 0; i < chunks; ++i)
        listings += listing[i];
    for (std::uint32_t at = static_cast<std::uint32_t>(firstListing);
         at < chunks && listing[at] && !visited[at]; at = nextOfChunk[at]) {
        visited[at] = true;
        dir.headerChainEntries += static_cast<int>(countOfChunk[at]);
        ++reached;
    }
    dir.chainComplete = reached == listings;
    return true;
}

struct Task {
    chmUnitInfo* unit;
    StoredName stored;
};

// One writer: its own chmlib handle, folders and temporary name.
void WriteTasks(const std::string& helpFile, int root, unsigned writer, const Task* begin,
                const Task* end, const volatile std::sig_atomic_t* stop, ExtractResult& result) {
    chmFile* help = chm_open(helpFile.c_str());
    if (!help) {
        result.failures.push_back(helpFile + ": cannot be opened a second time");
        return;
    }
    std::vector<unsigned char> buffer(kPieceSize);
    const std::string temp =
        ".hh-" + std::to_string(::getpid()) + "-" + std::to_string(writer) + ".tmp";
    OutputTree tree(root);
    for (const Task* task = begin; task != end; ++task) {
        if (Stopped(stop, result))
            break;
        const StoredName& stored = task->stored;
        const std::size_t folders =
            stored.kind == NameKind::File ? stored.parts.size() - 1 : stored.parts.size();
        std::string why;
        const int folder = tree.Folder(stored.parts, folders, why);
        if (folder >= 0 && stored.kind == NameKind::File)
            why = WriteEntry(help, *task->unit, folder, stored.parts.back(), temp,
                             g_partial[writer], buffer, stop, result);
        if (result.stopSignal)
            break;
        if (!why.empty())
            result.failures.push_back(task->unit->path + std::string(": ") + why);
        else if (stored.kind == NameKind::File)
            ++result.files;
    }
    chm_close(help);
}

} // namespace

void RemovePartialFile() {
    for (PartialFile& partial : g_partial) {
        const int folder = partial.folder;
        if (folder >= 0)
            ::unlinkat(folder, partial.name, 0);
    }
}

StoredName ClassifyStoredName(std::string_view name) {
    StoredName stored;
    if (name.starts_with("::"))
        return {NameKind::Internal, {}};
    if (!name.starts_with('/'))
        return stored;
    name.remove_prefix(1);
    const bool folder = name.empty() || name.ends_with('/');
    if (folder && !name.empty())
        name.remove_suffix(1);
    while (!name.empty()) {
        const std::size_t slash = name.find('/');
        const std::string_view part = name.substr(0, slash);
        // An empty part would make the rest absolute; "." and ".." climb.
        if (part.empty() || part == "." || part == "..")
            return {NameKind::Refused, {}};
        stored.parts.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        name.remove_prefix(slash + 1);
        // "a/" inside a name leaves an empty last part.
        if (name.empty())
            return {NameKind::Refused, {}};
    }
    if (!stored.parts.empty() &&
        (stored.parts[0].starts_with('#') || stored.parts[0].starts_with('$')))
        return {NameKind::Internal, {}};
    stored.kind = folder ? NameKind::Folder : NameKind::File;
    return stored;
}

ExtractResult Decompile(const std::string& outDir, const std::string& helpFile,
                        const volatile std::sig_atomic_t* stop) {
    ExtractResult result;
    struct stat st;
    if (::stat(helpFile.c_str(), &st) != 0) {
        result.fatal = helpFile + ": " + SystemError(errno);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.fatal = helpFile + ": not a file";
        return result;
    }
    const int root = ::open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        result.fatal = outDir + ": " + SystemError(errno);
        return result;
    }
    Directory dir;
    std::string why;
    const int fd = ::open(helpFile.c_str(), O_RDONLY | O_CLOEXEC);
    const bool readable =
        fd >= 0 && ReadDirectory(fd, static_cast<std::uint64_t>(st.st_size), dir, why);
    if (fd >= 0)
        ::close(fd);
    // chmlib reads the content: it knows the compression.
    chmFile* help = readable ? chm_open(helpFile.c_str()) : nullptr;
    if (!help) {
        ::close(root);
        result.fatal =
            helpFile + ": " + (why.empty() ? "not a help file, or its header is damaged" : why);
        return result;
    }
    for (const std::string& damage : dir.damage)
        result.failures.push_back(damage);
    if (!dir.chainComplete)
        result.headerChainEntries = dir.headerChainEntries;
    std::vector<chmUnitInfo>& entries = dir.entries;
    // In the order of their content, so compressed blocks are read once.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const chmUnitInfo& a, const chmUnitInfo& b) {
                         return a.space != b.space ? a.space < b.space : a.start < b.start;
                     });

    chm_close(help);
    std::vector<Task> tasks;
    for (chmUnitInfo& unit : entries) {
        StoredName stored = ClassifyStoredName(unit.path);
        if (stored.kind == NameKind::Refused)
            result.refused.emplace_back(unit.path);
        else if (stored.kind != NameKind::Internal)
            tasks.push_back({&unit, std::move(stored)});
    }

    // Each writer takes one run of neighbouring entries: they share folders
    // and compressed blocks.
    const unsigned writers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWriters);
    std::vector<ExtractResult> parts(writers);
    std::vector<std::thread> threads;
    const std::size_t share = (tasks.size() + writers - 1) / writers;
    for (unsigned w = 0; w < writers; ++w) {
        const std::size_t first = std::min(tasks.size(), w * share);
        const std::size_t last = std::min(tasks.size(), first + share);
        const Task* begin = tasks.data() + first;
        const Task* end = tasks.data() + last;
        if (w + 1 == writers)
            WriteTasks(helpFile, root, w, begin, end, stop, parts[w]);
        else
            threads.emplace_back(WriteTasks, std::cref(helpFile), root, w, begin, end, stop,
                                 std::ref(parts[w]));
    }
    for (std::thread& thread : threads)
        thread.join();
    for (ExtractResult& part : parts) {
        result.files += part.files;
        result.failures.insert(result.failures.end(), part.failures.begin(), part.failures.end());
        result.stopSignal = result.stopSignal ? result.stopSignal : part.stopSignal;
    }
    ::close(root);
    return result;
}

} // namespace hh
