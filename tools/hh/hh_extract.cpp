#include "hh_extract.h"

#include "chm/reader.h"
#include "chm/stored_name.h"
#include "hh_messages.h"
#include "platform/messages.h"
#include "protocol/tool_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace hh {
namespace {

using tbx::chm::ClassifyStoredName;
using tbx::chm::NameKind;
using tbx::chm::StoredName;

// Content is copied in pieces of this size, so that a damaged length can
// neither exhaust memory nor hold off a stop request for long.
constexpr std::size_t kPieceSize = 1 << 20;

std::string SystemError(int error) {
    return std::strerror(error);
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Sub-folders of DIR opened for the files being written. Consecutive files
// mostly share their folder, so the chain of the last one is remembered:
// by name at every level, and by an open descriptor at the deepest and
// about every kKeepEvery-th level, so that a chain thousands of folders
// deep needs only a few descriptors, and going back up a few levels only a
// few openings.
//
// Under Landlock every folder made costs a walk up to DIR, so a long chain
// made level by level would cost the square of its depth. New chains are
// therefore made in segments beside DIR's root, under the writer's own
// temporary name, each moved into place at once.
class OutputTree {
public:
    OutputTree(int root, std::string segment) : root_(root), segment_(std::move(segment)) {}
    ~OutputTree() { Truncate(0); }
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // The folder that holds parts[0 .. count-1], created as needed; -1 with
    // why when it cannot be had or is not a real folder below DIR.
    int Folder(const std::vector<std::string>& parts, std::size_t count, std::string& why) {
        std::size_t keep = 0;
        while (keep < chain_.size() && keep < count && chain_[keep].name == parts[keep])
            ++keep;
        Truncate(keep);
        int at = Deepest(why);
        for (std::size_t i = keep; i < count && at >= 0;) {
            if (count - i > kSegment && moves_ && !Exists(at, parts[i])) {
                const std::size_t to = std::min(count, i + kSegment);
                if (const int bottom = Segment(at, parts, i, to); bottom >= 0) {
                    at = bottom;
                    i = to;
                    continue;
                }
            }
            const int fd = OpenChild(at, parts[i], why);
            if (fd < 0)
                return -1;
            Push(parts[i], fd);
            at = fd;
            ++i;
        }
        return at;
    }

private:
    static constexpr std::size_t kKeepEvery = 256;
    static constexpr std::size_t kSegment = 64;

    struct Level {
        std::string name;
        int fd; // -1 when not kept open
    };

    static bool Exists(int parent, const std::string& name) {
        struct stat st;
        return ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

    static int OpenChild(int parent, const std::string& name, std::string& why) {
        if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
            why = msg::CannotCreateFolder(name, SystemError(errno));
            return -1;
        }
        // O_NOFOLLOW: a symbolic link on the way could lead anywhere.
        const int fd = ::openat(parent, name.c_str(), kFolderFlags);
        if (fd >= 0)
            return fd;
        const int error = errno;
        struct stat st;
        if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            why = msg::LinkOnTheWay(name);
        else
            why = msg::CannotOpenFolder(name, SystemError(error));
        return -1;
    }

    // Makes parts[from .. to-1], which do not exist yet, below at: as a
    // chain under the segment name in DIR, then moved into place. The
    // descriptor of its last folder, or -1 when it could not be done that
    // way (Landlock before ABI 2 forbids moving folders; the other writer
    // may have made the same folder meanwhile).
    int Segment(int at, const std::vector<std::string>& parts, std::size_t from, std::size_t to) {
        std::string why;
        if (::mkdirat(root_, segment_.c_str(), 0777) != 0)
            return -1;
        int bottom = ::openat(root_, segment_.c_str(), kFolderFlags);
        for (std::size_t i = from + 1; i < to && bottom >= 0; ++i) {
            const int fd = OpenChild(bottom, parts[i], why);
            ::close(bottom);
            bottom = fd;
        }
        if (bottom >= 0 &&
            ::renameat2(root_, segment_.c_str(), at, parts[from].c_str(), RENAME_NOREPLACE) == 0) {
            for (std::size_t i = from; i + 1 < to; ++i)
                Push(parts[i], -1);
            Push(parts[to - 1], bottom);
            return bottom;
        }
        if (errno == EXDEV)
            moves_ = false;
        if (bottom >= 0)
            ::close(bottom);
        RemoveSegment(parts, from, to);
        return -1;
    }

    // Takes a segment that was not moved away, deepest folder first.
    void RemoveSegment(const std::vector<std::string>& parts, std::size_t from, std::size_t to) {
        for (std::size_t depth = to - from; depth-- > 0;) {
            int parent = root_;
            for (std::size_t level = 0; level < depth && parent >= 0; ++level) {
                const char* name = level == 0 ? segment_.c_str() : parts[from + level].c_str();
                const int fd = ::openat(parent, name, kFolderFlags);
                if (parent != root_)
                    ::close(parent);
                parent = fd;
            }
            if (parent < 0)
                continue;
            ::unlinkat(parent, depth == 0 ? segment_.c_str() : parts[from + depth].c_str(),
                       AT_REMOVEDIR);
            if (parent != root_)
                ::close(parent);
        }
    }

    // Adds a level to the chain; fd is its descriptor, or -1 when not open.
    // It is kept open when the last level kept open is far enough up.
    void Push(const std::string& name, int fd) {
        CloseDeepest();
        std::size_t kept = chain_.size();
        while (kept > 0 && chain_[kept - 1].fd < 0)
            --kept;
        const bool keep = fd >= 0 && chain_.size() + 1 - kept >= kKeepEvery;
        chain_.push_back({name, keep ? fd : -1});
        if (!keep)
            deepest_ = fd;
    }

    // The descriptor of the last folder of the chain, opened again from the
    // nearest one kept when it was let go.
    int Deepest(std::string& why) {
        if (chain_.empty())
            return root_;
        if (chain_.back().fd >= 0)
            return chain_.back().fd;
        if (deepest_ >= 0)
            return deepest_;
        std::size_t level = chain_.size();
        while (level > 0 && chain_[level - 1].fd < 0)
            --level;
        int at = level == 0 ? root_ : chain_[level - 1].fd;
        bool owned = false;
        for (; level < chain_.size(); ++level) {
            const int fd = OpenChild(at, chain_[level].name, why);
            if (owned)
                ::close(at);
            if (fd < 0) {
                chain_.resize(level); // only levels not kept open are dropped
                return -1;
            }
            at = fd;
            owned = true;
        }
        deepest_ = at;
        return at;
    }

    void CloseDeepest() {
        if (deepest_ >= 0)
            ::close(deepest_);
        deepest_ = -1;
    }

    void Truncate(std::size_t keep) {
        if (keep >= chain_.size())
            return;
        CloseDeepest();
        while (chain_.size() > keep) {
            if (chain_.back().fd >= 0)
                ::close(chain_.back().fd);
            chain_.pop_back();
        }
    }

    int root_;
    const std::string segment_; // the name a segment is made under in DIR
    bool moves_ = true;         // folders can be moved into place
    std::vector<Level> chain_;
    int deepest_ = -1; // the last level's descriptor when that level is not kept
};

// What stands at a path where a file is to go, when it must not be
// replaced: FIFOs, devices and sockets are the user's, whatever their name.
const char* SpecialKind(int folder, const std::string& name) {
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return nullptr;
    if (S_ISFIFO(st.st_mode))
        return tbx::N_("a FIFO");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return tbx::N_("a device");
    if (S_ISSOCK(st.st_mode))
        return tbx::N_("a socket");
    return nullptr;
}

// The temporary names of hh: ".hh-PID-N.tmp" for a file being written,
// ".hh-PID-N.dir" for a chain of folders being made.
std::string TempName(pid_t pid, unsigned number, std::string_view suffix) {
    return ".hh-" + std::to_string(pid) + "-" + std::to_string(number) + std::string(suffix);
}

// The process that made a temporary file or folder of that name, or 0 for
// another name.
pid_t TempOwner(std::string_view name) {
    if (!name.starts_with(".hh-") || !(name.ends_with(".tmp") || name.ends_with(".dir")))
        return 0;
    name = name.substr(4, name.size() - 8);
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size() || dash > 9)
        return 0;
    const auto digits = [](std::string_view text) {
        return text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(name.substr(0, dash)) || !digits(name.substr(dash + 1)))
        return 0;
    return static_cast<pid_t>(std::stol(std::string(name.substr(0, dash))));
}

// Calls each(name) for every entry of folder but "." and "..".
template <typename Each> void ForEachEntry(int folder, Each each) {
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names)
        each(name);
}

// A stale chain of folders: hh makes them only in segments, so a few dozen
// levels at most; nothing deeper is followed.
void RemoveFolders(int parent, const std::string& name, int levels) {
    if (::unlinkat(parent, name.c_str(), 0) == 0 || levels == 0)
        return;
    const int folder = ::openat(parent, name.c_str(), kFolderFlags);
    if (folder < 0)
        return;
    ForEachEntry(folder,
                 [&](const std::string& inner) { RemoveFolders(folder, inner, levels - 1); });
    ::close(folder);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// Removes from folder the temporary files and folders that an hh killed
// before it could clean up left behind: those of our naming whose process
// is gone.
void RemoveStaleTemps(int folder) {
    ForEachEntry(folder, [&](const std::string& name) {
        const pid_t owner = TempOwner(name);
        if (owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            RemoveFolders(folder, name, 80);
    });
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
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

// Writers that work side by side, each on its own run of the entries:
// creating files is most of the work, and the kernel does it for files in
// different folders at the same time.
constexpr unsigned kMaxWriters = 2;

// What the writers share: the listener, called one at a time, and the counts.
class Shared {
public:
    Shared(const ExtractListener& listener, const volatile std::sig_atomic_t* stop,
           std::size_t toWrite)
        : listener_(listener), stop_(stop), toWrite_(toWrite) {}

    // True once a stop was asked for; the signal is kept for the result.
    bool Stopped() {
        const int signal = stop_ ? *stop_ : 0;
        if (signal)
            signal_ = signal;
        return signal != 0;
    }
    int StopSignal() const { return signal_; }

    void Problem(const std::string& problem) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++failures_;
        if (listener_.problem)
            listener_.problem(problem);
    }

    void Written() {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++files_;
        if (listener_.progress)
            listener_.progress(files_, toWrite_);
    }

    // After the writers are done.
    std::size_t Files() const { return files_; }
    std::size_t Failures() const { return failures_; }

private:
    const ExtractListener& listener_;
    const volatile std::sig_atomic_t* stop_;
    const std::size_t toWrite_;
    std::mutex mutex_;
    std::size_t files_ = 0;
    std::size_t failures_ = 0;
    std::atomic<int> signal_{0};
};

// One writer: its own cursor on the help file, its own folders and its own
// temporary name.
class Writer {
public:
    Writer(const tbx::chm::ChmFile& help, int root, unsigned number, Shared& shared)
        : help_(help), cursor_(help), tree_(root, TempName(::getpid(), number, ".dir")),
          shared_(shared), buffer_(kPieceSize), temp_(TempName(::getpid(), number, ".tmp")) {}

    void Run(const std::uint32_t* begin, const std::uint32_t* end) {
        for (const std::uint32_t* task = begin; task != end && !shared_.Stopped(); ++task) {
            const tbx::chm::ChmEntry entry = help_.Entry(*task);
            std::string why;
            bool file = false;
            try {
                const StoredName stored = ClassifyStoredName(entry.name);
                file = stored.kind == NameKind::File;
                const int folder =
                    tree_.Folder(stored.parts, stored.parts.size() - (file ? 1 : 0), why);
                if (folder >= 0 && file)
                    why = Write(entry, folder, stored.parts.back());
            } catch (const std::bad_alloc&) {
                why = msg::OutOfMemory();
            }
            // A file renamed into place is whole and counts, stop or not.
            if (why == kStopped)
                break;
            if (!why.empty())
                shared_.Problem(msg::Problem(tbx::EscapeForLine(entry.name), why));
            else if (file)
                shared_.Written();
        }
    }

private:
    static constexpr std::string_view kStopped = "stopped";

    // Writes one stored file as name in folder: into the temporary name
    // first, renamed over name only when whole, so that name never holds
    // an empty or partial file, and an old file of that name stays whole
    // if anything fails. renameat replaces a symbolic link of that name,
    // never what it points to; a FIFO, a device or a socket of that name is
    // left alone.
    std::string Write(const tbx::chm::ChmEntry& entry, int folder, const std::string& name) {
        CleanOnce(folder);
        if (const char* kind = SpecialKind(folder, name))
            return msg::NotReplaced(tbx::EscapeForLine(name), kind);
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(folder, temp_.c_str(), flags, 0666);
        // A temporary file left by an earlier run of this process number.
        if (fd < 0 && errno == EEXIST && ::unlinkat(folder, temp_.c_str(), 0) == 0)
            fd = ::openat(folder, temp_.c_str(), flags, 0666);
        if (fd < 0)
            return msg::CannotCreate(tbx::EscapeForLine(name), SystemError(errno));
        std::string why;
        try {
            why = Copy(entry, fd, name);
        } catch (...) {
            ::close(fd);
            ::unlinkat(folder, temp_.c_str(), 0);
            throw;
        }
        if (::close(fd) != 0 && why.empty())
            why = msg::CannotWrite(tbx::EscapeForLine(name), SystemError(errno));
        if (why.empty() && ::renameat(folder, temp_.c_str(), folder, name.c_str()) != 0)
            why = msg::CannotWrite(tbx::EscapeForLine(name), SystemError(errno));
        if (!why.empty())
            ::unlinkat(folder, temp_.c_str(), 0);
        return why;
    }

    std::string Copy(const tbx::chm::ChmEntry& entry, int fd, const std::string& name) {
        for (std::uint64_t done = 0; done < entry.length;) {
            if (shared_.Stopped())
                return std::string(kStopped);
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(entry.length - done, kPieceSize));
            const std::string error = cursor_.Read(entry, done, {buffer_.data(), piece});
            if (!error.empty())
                return msg::CannotRead(tbx::EscapeForLine(name), error);
            if (!WriteAll(fd, buffer_.data(), piece))
                return msg::CannotWrite(tbx::EscapeForLine(name), SystemError(errno));
            done += piece;
        }
        return {};
    }

    // The first time a folder is written into: stale temporary files out.
    void CleanOnce(int folder) {
        struct stat st;
        if (::fstat(folder, &st) == 0 && cleaned_.emplace(st.st_dev, st.st_ino).second)
            RemoveStaleTemps(folder);
    }

    const tbx::chm::ChmFile& help_;
    tbx::chm::ChmCursor cursor_;
    OutputTree tree_;
    Shared& shared_;
    std::vector<std::uint8_t> buffer_;
    const std::string temp_;
    std::set<std::pair<dev_t, ino_t>> cleaned_;
};

} // namespace

ExtractResult Decompile(const std::string& outDir, const std::string& helpFile,
                        const ExtractListener& listener, const volatile std::sig_atomic_t* stop) {
    ExtractResult result;
    std::string why;
    const std::unique_ptr<tbx::chm::ChmFile> help = tbx::chm::ChmFile::Open(helpFile, why);
    if (!help) {
        result.fatal = msg::Problem(tbx::EscapeForLine(helpFile), why);
        return result;
    }
    const int root = ::open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        result.fatal = msg::Problem(tbx::EscapeForLine(outDir), SystemError(errno));
        return result;
    }
    result.headerChainEntries = help->HeaderChainEntries();
    // Chains of folders are made in DIR itself: what a killed hh left of
    // them goes first, whether or not a file is written there.
    RemoveStaleTemps(root);

    // Folders and files to write, as entry numbers; an entry costs four
    // bytes here, whatever the size of the directory.
    // A name stored twice would be written twice to one path: the first
    // entry is extracted, the others are reported.
    std::vector<std::uint32_t> tasks;
    std::vector<std::string> twice;
    std::unordered_set<std::string_view> names;
    tasks.reserve(help->Count());
    for (std::size_t i = 0; i < help->Count(); ++i) {
        const tbx::chm::ChmEntry entry = help->Entry(i);
        const NameKind kind = ClassifyStoredName(entry.name).kind;
        if (kind == NameKind::Refused) {
            ++result.refused;
            if (listener.problem) {
                const std::string name = tbx::EscapeForLine(entry.name);
                listener.problem(entry.name.starts_with('/') ? msg::Refused(name)
                                                             : msg::NotRooted(name));
            }
        } else if (kind != NameKind::Internal && names.insert(entry.name).second) {
            tasks.push_back(static_cast<std::uint32_t>(i));
            result.toWrite += kind == NameKind::File;
        } else if (kind == NameKind::File) {
            twice.push_back(msg::StoredTwice(tbx::EscapeForLine(entry.name)));
        }
    }
    names = {};
    // Entries the directory shows but whose names are lost are files lost.
    result.toWrite += help->SkippedEntries();
    Shared shared(listener, stop, result.toWrite);
    for (const std::string& damage : help->Damage())
        shared.Problem(damage);
    for (const std::string& line : twice)
        shared.Problem(line);
    // In the order of their content, so compressed intervals are decoded
    // once; entries at one place keep their directory order.
    const auto key = [&](std::uint32_t index) {
        const tbx::chm::ChmEntry entry = help->Entry(index);
        return std::make_tuple(entry.section, entry.offset, index);
    };
    std::sort(tasks.begin(), tasks.end(),
              [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });

    // Each writer takes one run of neighbouring entries: they share folders
    // and compressed intervals.
    const unsigned writers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWriters);
    std::vector<std::thread> threads;
    const std::size_t share = (tasks.size() + writers - 1) / writers;
    for (unsigned w = 0; w < writers; ++w) {
        const std::uint32_t* begin = tasks.data() + std::min(tasks.size(), w * share);
        const std::uint32_t* end = tasks.data() + std::min(tasks.size(), (w + 1) * share);
        const auto run = [&, w, begin, end] {
            try {
                Writer(*help, root, w, shared).Run(begin, end);
            } catch (const std::bad_alloc&) {
                shared.Problem(msg::OutOfMemory());
            }
        };
        if (w + 1 == writers)
            run();
        else
            threads.emplace_back(run);
    }
    for (std::thread& thread : threads)
        thread.join();
    ::close(root);
    result.files = shared.Files();
    result.failures = shared.Failures();
    result.stopSignal = shared.StopSignal();
    return result;
}

} // namespace hh
