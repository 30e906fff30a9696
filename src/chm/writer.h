#pragma once
// Writing a compiled help file: files are added with their names and
// bytes (or a way to read them), then written out at once, the compressed
// ones LZX-compressed on all cores, streamed through bounded buffers.

#include "chm/format.h"
#include "chm/lzx_encoder.h"
#include "platform/files.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

struct DirEntry;

enum class Storage {
    Compressed,   // in the LZX section, as pages and images go
    Uncompressed, // as they are, as /#SYSTEM and /#ITBITS usually go
};

struct WriteOptions {
    unsigned threads = 0; // compressing threads; 0: one per core
    unsigned windowBits = kDefaultWindowBits;
    LzxLevel level = LzxLevel::Default;
    std::uint32_t lcid = 0x0409; // language of the compiling system, in the headers
    // Called on the thread that runs Finish each time more of the
    // compressed files are complete: (complete, all of them).
    std::function<void(std::size_t, std::size_t)> progress;
    // When given, set from anywhere to stop: Finish then writes nothing and
    // returns kStopped, unless the help file was already being written.
    const std::atomic<bool>* stop = nullptr;
    // Compressed bytes held in memory before they go to an unnamed file
    // beside the help file until it is put together.
    std::uint64_t memoryLimit = std::uint64_t{16} << 20;
};

// The bytes of a file added with Writer::AddFrom, read in order while the
// help file is written, so that they need not be held meanwhile.
class FileSource {
public:
    virtual ~FileSource() = default;
    // Fills up to into.size() bytes and returns how many; 0 at the end.
    // Throws std::runtime_error saying why it cannot.
    virtual std::size_t Read(std::span<std::uint8_t> into) = 0;
};
using SourceOpener = std::function<std::unique_ptr<FileSource>()>;

// What Finish returns when it was stopped.
inline constexpr std::string_view kStopped = "stopped";

class Writer {
public:
    // Adds a file under name ("/page.htm", "/#SYSTEM"). Empty on success,
    // otherwise why the name is refused: empty, longer than 512 bytes, not
    // starting with "/" or "::", ending with "/", not UTF-8, holding a NUL,
    // inside ::DataSpace/ (the container's own), or already added in any
    // letter case.
    std::string Add(std::string_view name, std::string_view bytes,
                    Storage storage = Storage::Compressed);
    // As Add, taking the bytes over rather than copying them.
    std::string Adopt(std::string_view name, std::string&& bytes,
                      Storage storage = Storage::Compressed);

    // Why Add would refuse the name, in a few words without the name
    // ("the name is longer than 512 bytes"); empty when it would not.
    std::string NameRefusal(std::string_view name) const;

    // Adds a compressed file of length bytes that open gives when Finish
    // comes to it (once); a source that gives another length fails Finish.
    // Names are refused as by Add.
    std::string AddFrom(std::string_view name, std::uint64_t length, SourceOpener open);

    // Adds a file stored uncompressed whose bytes are still being made:
    // Finish compresses the other files meanwhile and only then calls
    // bytes, on its own thread (not at all once stopped). A throw from it
    // fails Finish. Names are refused as by Add.
    std::string AddLater(std::string_view name, std::function<std::string()> bytes);

    // Writes every file added into the help file at path. It goes to a
    // temporary file beside path (beside the file a symbolic link at path
    // names), flushed to disk and renamed into place only when whole.
    // Anything at path but a regular file or a link to one is refused.
    // Empty on success, otherwise the reason; then nothing new is left
    // behind and an earlier file at path stays as it was.
    std::string Finish(const std::string& path, const WriteOptions& options = {}) const;

private:
    // A compressed file's bytes: held, or a source. Each held file is a
    // string of its own, so that adding one never copies those before.
    struct Piece {
        std::size_t entry; // in entries_
        std::string held;  // when open is empty
        SourceOpener open;
    };
    class SectionReader;
    struct Entry {
        std::string name;
        Storage storage;
        std::uint64_t offset; // in its section's data
        std::uint64_t length;
    };
    struct Section0;
    std::string Write(const std::string& path, const WriteOptions& options) const;
    bool Compress(SpillBuffer& content, std::vector<std::uint64_t>& frameOffsets,
                  const WriteOptions& options) const;
    std::vector<DirEntry> DirectoryEntries(const Section0& section0,
                                           const std::vector<std::string>& later,
                                           std::uint64_t contentSize) const;
    struct Later {
        std::string name;
        std::function<std::string()> bytes;
    };
    std::string Refusal(std::string_view name);
    // The readers' order, in which names that differ only in the case of
    // ASCII letters are the same.
    struct NameOrder {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const {
            return CompareNames(a, b) < 0;
        }
    };

    std::vector<Entry> entries_;
    std::set<std::string, NameOrder> names_;
    std::vector<Piece> pieces_; // the compressed section, in order
    std::uint64_t compressedSize_ = 0;
    std::string stored_;       // the uncompressed files
    std::vector<Later> later_; // stored after them
};

} // namespace tbx::chm
