#pragma once
// Small file-system services shared by the jobs.

#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

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

// Writes the bytes to a temporary file beside path and renames it over path,
// so the old content stays whole if anything fails. Temporary files that a
// killed write left in that folder are removed first. Empty on success,
// otherwise the system's description of the failure.
std::string WriteFileAtomically(const std::string& path, std::string_view bytes);
// The same with the content given in pieces, written one after another.
std::string WriteFileAtomically(const std::string& path, std::span<const std::string_view> pieces);

// Creates path exclusively and writes the bytes; fails when it exists.
// Empty on success, otherwise the system's description of the failure.
std::string WriteNewFile(const std::string& path, std::string_view bytes);

// Renames from to to unless to exists. Empty on success; otherwise the
// system's description, with targetExists set when to was in the way.
std::string MoveFileNoReplace(const std::string& from, const std::string& to, bool& targetExists);

bool RemoveFile(const std::string& path);

} // namespace tbx
