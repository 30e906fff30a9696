#include "hh_extract.h"

#include "chm/reader.h"
#include "chm/stored_name.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
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
        : help_(help), cursor_(help), tree_(root), shared_(shared), buffer_(kPieceSize),
          temp_(".hh-" + std::to_string(::getpid()) + "-" + std::to_string(number) + ".tmp") {}

    void Run(const std::uint32_t* begin, const std::uint32_t* end) {
        for (const std::uint32_t* task = begin; task != end && !shared_.Stopped(); ++task) {
            const tbx::chm::ChmEntry entry = help_.Entry(*task);
            const StoredName stored = ClassifyStoredName(entry.name);
            const bool file = stored.kind == NameKind::File;
            std::string why;
            const int folder =
                tree_.Folder(stored.parts, stored.parts.size() - (file ? 1 : 0), why);
            if (folder >= 0 && file)
                why = Write(entry, folder, stored.parts.back());
            if (shared_.Stopped())
                break;
            if (!why.empty())
                shared_.Problem(std::string(entry.name) + ": " + why);
            else if (file)
                shared_.Written();
        }
    }

private:
    // Writes one stored file as name in folder: into the temporary name
    // first, renamed over name only when whole, so that name never holds
    // an empty or partial file, and an old file of that name stays whole
    // if anything fails. renameat replaces a symbolic link of that name,
    // never what it points to.
    std::string Write(const tbx::chm::ChmEntry& entry, int folder, const std::string& name) {
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(folder, temp_.c_str(), flags, 0666);
        // A temporary file left by an earlier run that was killed.
        if (fd < 0 && errno == EEXIST && ::unlinkat(folder, temp_.c_str(), 0) == 0)
            fd = ::openat(folder, temp_.c_str(), flags, 0666);
        if (fd < 0)
            return "cannot create " + name + ": " + SystemError(errno);
        std::string why;
        for (std::uint64_t done = 0; done < entry.length && why.empty();) {
            if (shared_.Stopped()) {
                why = "stopped";
                break;
            }
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(entry.length - done, kPieceSize));
            const std::string error = cursor_.Read(entry, done, {buffer_.data(), piece});
            if (!error.empty())
                why = "damaged content, cannot read " + name + ": " + error;
            else if (!WriteAll(fd, buffer_.data(), piece))
                why = "cannot write " + name + ": " + SystemError(errno);
            done += piece;
        }
        if (::close(fd) != 0 && why.empty())
            why = "cannot write " + name + ": " + SystemError(errno);
        if (why.empty() && ::renameat(folder, temp_.c_str(), folder, name.c_str()) != 0)
            why = "cannot write " + name + ": " + SystemError(errno);
        if (!why.empty())
            ::unlinkat(folder, temp_.c_str(), 0);
        return why;
    }

    const tbx::chm::ChmFile& help_;
    tbx::chm::ChmCursor cursor_;
    OutputTree tree_;
    Shared& shared_;
    std::vector<std::uint8_t> buffer_;
    const std::string temp_;
};

} // namespace

ExtractResult Decompile(const std::string& outDir, const std::string& helpFile,
                        const ExtractListener& listener, const volatile std::sig_atomic_t* stop) {
    ExtractResult result;
    std::string why;
    const std::unique_ptr<tbx::chm::ChmFile> help = tbx::chm::ChmFile::Open(helpFile, why);
    if (!help) {
        result.fatal = helpFile + ": " + why;
        return result;
    }
    const int root = ::open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        result.fatal = outDir + ": " + SystemError(errno);
        return result;
    }
    result.headerChainEntries = help->HeaderChainEntries();

    // Folders and files to write, as entry numbers; an entry costs four
    // bytes here, whatever the size of the directory.
    std::vector<std::uint32_t> tasks;
    tasks.reserve(help->Count());
    for (std::size_t i = 0; i < help->Count(); ++i) {
        const tbx::chm::ChmEntry entry = help->Entry(i);
        const NameKind kind = ClassifyStoredName(entry.name).kind;
        if (kind == NameKind::Refused) {
            ++result.refused;
            if (listener.problem)
                listener.problem("refused, would land outside the output folder: " +
                                 std::string(entry.name));
        } else if (kind != NameKind::Internal) {
            tasks.push_back(static_cast<std::uint32_t>(i));
            result.toWrite += kind == NameKind::File;
        }
    }
    Shared shared(listener, stop, result.toWrite);
    for (const std::string& damage : help->Damage())
        shared.Problem(damage);
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
        const auto run = [&, w, begin, end] { Writer(*help, root, w, shared).Run(begin, end); };
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
