#pragma once
// Writing a compiled help file: files are added with their names and
// bytes, then written out at once, the compressed ones LZX-compressed on
// all cores.

#include "chm/format.h"
#include "chm/lzx_encoder.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

enum class Storage {
    Compressed,   // in the LZX section, as pages and images go
    Uncompressed, // as they are, as /#SYSTEM and /#ITBITS usually go
};

struct WriteOptions {
    unsigned threads = 0; // compressing threads; 0: one per core
    unsigned windowBits = kDefaultWindowBits;
    std::uint32_t lcid = 0x0409; // language of the compiling system, in the headers
    // Called on the thread that runs Finish each time more of the
    // compressed files are complete: (complete, all of them).
    std::function<void(std::size_t, std::size_t)> progress;
    // When given, set from anywhere to stop: Finish then writes nothing and
    // returns kStopped, unless the help file was already being written.
    const std::atomic<bool>* stop = nullptr;
};

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

    // Adds a file stored uncompressed whose bytes are still being made:
    // Finish compresses the other files meanwhile and only then calls
    // bytes, on its own thread (not at all once stopped). A throw from it
    // fails Finish. Names are refused as by Add.
    std::string AddLater(std::string_view name, std::function<std::string()> bytes);

    // Makes room for that many bytes of compressed files to come, so that
    // adding a large site does not copy what was added before, again and
    // again.
    void Reserve(std::uint64_t compressedBytes) { compressed_.reserve(compressedBytes); }

    // Writes every file added into the help file at path. It goes to a
    // temporary file beside path, flushed to disk and renamed into place
    // only when whole. Empty on success, otherwise the reason; then nothing
    // new is left behind and an earlier file at path stays as it was.
    std::string Finish(const std::string& path, const WriteOptions& options = {}) const;

private:
    struct Entry {
        std::string name;
        Storage storage;
        std::uint64_t offset; // in its section's data
        std::uint64_t length;
    };
    struct Later {
        std::string name;
        std::function<std::string()> bytes;
    };
    std::string Refusal(std::string_view name);
    // The readers' order, in which names that differ only in the case of
    // ASCII letters are the same.
    struct NameOrder {
        bool operator()(std::string_view a, std::string_view b) const {
            return CompareNames(a, b) < 0;
        }
    };

    std::vector<Entry> entries_;
    std::set<std::string, NameOrder> names_;
    std::vector<std::uint8_t> compressed_; // the compressed files, before compression
    std::string stored_;                   // the uncompressed files
    std::vector<Later> later_;             // stored after them
};

} // namespace tbx::chm
