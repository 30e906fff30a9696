#pragma once
// Temporary files and folders of ours, and the private folder they may live
// in. A temporary name is <prefix><host>-<pid>-<6 random letters or digits>,
// so that a later run can tell what a killed process left behind from what a
// running copy (on this machine or on another one sharing the folder) is
// still writing, and from everything that is not ours.

#include <string>
#include <string_view>
#include <sys/types.h>

namespace tbx {

// The prefix of the temporary files that atomic writes put beside their target.
inline constexpr std::string_view kTempFilePrefix = ".tomebox-";

// Creates a new file of that naming in folder, readable and writable by this
// user only. Returns its descriptor (close-on-exec) and sets path; -1 with
// errno set when it cannot be made.
int CreateTempFile(const std::string& folder, std::string_view prefix, std::string& path);

// Creates a new folder of that naming in folder, usable by this user only.
// Returns its path; empty with errno set when it cannot be made.
std::string CreateTempFolder(const std::string& folder, std::string_view prefix);

// The process id that a name of exactly that naming (no folder part) carries
// when it was made on this machine; 0 for any other name.
pid_t TempNameOwner(std::string_view name, std::string_view prefix);

// Removes from folder (not below it) the entries of that naming whose process
// has ended, when they belong to this user: a file is removed, a folder with
// everything in it. Links and everything else are never touched. Returns how
// many entries went.
int RemoveStaleTemporaries(const std::string& folder, std::string_view prefix);

// True for a folder, not a link to one, that belongs to this user and that
// nobody else may write into.
bool IsPrivateFolder(const std::string& path);

// Creates path with mode 0700 unless it exists; true when it is then a
// private folder.
bool MakePrivateFolder(const std::string& path);

// Our folder for short-lived work files: "tomebox" in $XDG_RUNTIME_DIR when
// that is private, otherwise "tomebox-<uid>" in the temporary folder
// ($TMPDIR or /tmp). Created when missing; empty when neither is private.
std::string PrivateWorkFolder();

} // namespace tbx
