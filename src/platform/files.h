#pragma once
// Small file-system services shared by the jobs.

#include <span>
#include <string>
#include <string_view>

namespace tbx {

bool PathExists(const std::string& path);
// True for an existing folder (a symbolic link to one counts).
bool IsFolder(const std::string& path);

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
