#include "decompile/extract_conflicts.h"

#include "chm/reader.h"
#include "chm/stored_name.h"
#include "protocol/tool_output.h"
#include "res/strings.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace tbx {
namespace {

// Pieces in which an entry and its file are compared.
constexpr std::size_t kPieceSize = 64 * 1024;

enum class Place {
    Free,     // nothing there: the file would be new
    Taken,    // something the file would replace that cannot hold its bytes
    SameSize, // a file of the entry's size: its bytes decide
};

// What stands at the place of a file stored as parts, below folder.
Place Inspect(const std::string& folder, const std::vector<std::string>& parts,
              std::uint64_t length) {
    std::string path = folder;
    struct stat st;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        path += parts[i];
        // What cannot be looked at cannot be shown to be free.
        if (::lstat(path.c_str(), &st) != 0)
            return errno == ENOENT ? Place::Free : Place::Taken;
        if (i + 1 == parts.size())
            return S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) == length
                       ? Place::SameSize
                       : Place::Taken;
        if (!S_ISDIR(st.st_mode))
            return Place::Taken;
        path += '/';
    }
    return Place::Free;
}

bool ReadFull(int fd, std::uint8_t* out, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, out, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// True when the file at path holds other bytes than the entry, or cannot be
// read; false when they are equal or the entry cannot be read, since the
// extraction then leaves the file as it is.
bool Differs(chm::ChmCursor& cursor, const chm::ChmEntry& entry, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;
    std::vector<std::uint8_t> stored(kPieceSize), onDisk(kPieceSize);
    bool differs = false;
    for (std::uint64_t done = 0; done < entry.length && !differs;) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(entry.length - done, kPieceSize));
        if (!cursor.Read(entry, done, {stored.data(), piece}).empty())
            break;
        differs = !ReadFull(fd, onDisk.data(), piece) ||
                  !std::equal(stored.begin(), stored.begin() + piece, onDisk.begin());
        done += piece;
    }
    ::close(fd);
    return differs;
}

} // namespace

ExtractConflicts FindExtractConflicts(const std::string& helpFile, const std::string& outFolder,
                                      std::size_t maxNames) {
    ExtractConflicts result;
    std::string why;
    const std::unique_ptr<chm::ChmFile> help = chm::ChmFile::Open(helpFile, why);
    if (!help)
        return result;
    const std::string folder = outFolder.ends_with('/') ? outFolder : outFolder + "/";

    std::vector<std::size_t> conflicts, toCompare;
    for (std::size_t i = 0; i < help->Count(); ++i) {
        const chm::ChmEntry entry = help->Entry(i);
        const chm::StoredName stored = chm::ClassifyStoredName(entry.name);
        if (stored.kind != chm::NameKind::File)
            continue;
        switch (Inspect(folder, stored.parts, entry.length)) {
        case Place::Taken:
            conflicts.push_back(i);
            break;
        case Place::SameSize:
            toCompare.push_back(i);
            break;
        case Place::Free:
            break;
        }
    }
    // In the order of their content, so each compressed interval is decoded once.
    const auto contentOrder = [&](std::size_t index) {
        const chm::ChmEntry entry = help->Entry(index);
        return std::make_tuple(entry.section, entry.offset, index);
    };
    std::sort(toCompare.begin(), toCompare.end(),
              [&](std::size_t a, std::size_t b) { return contentOrder(a) < contentOrder(b); });
    chm::ChmCursor cursor(*help);
    for (const std::size_t index : toCompare) {
        const chm::ChmEntry entry = help->Entry(index);
        // A file's stored name is its path below the folder after the root "/".
        if (Differs(cursor, entry, folder + std::string(entry.name.substr(1))))
            conflicts.push_back(index);
    }

    std::sort(conflicts.begin(), conflicts.end());
    result.count = conflicts.size();
    for (std::size_t i = 0; i < conflicts.size() && i < maxNames; ++i)
        result.names.emplace_back(help->Entry(conflicts[i]).name.substr(1));
    return result;
}

std::string ConflictReport(const ExtractConflicts& conflicts) {
    std::string text = FillString(kMsgExtractWouldReplace, {std::to_string(conflicts.count)});
    // A stored name is the help file's text: it must not move the cursor or forge a line.
    for (const std::string& name : conflicts.names)
        text += "\n" + EscapeForLine(name);
    return text;
}

} // namespace tbx
