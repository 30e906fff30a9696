#pragma once
// Path helpers shared by the jobs. Paths use "/"; a doubled "/" counts as one.

#include <string>

namespace tbx {

// Creates every missing folder up to the path's last "/". False for a path
// that is not absolute or has no folder below the root, or when a folder
// cannot be created; folders created before a failure stay.
bool CreateDirPath(const std::string& path);

// target := source, cut just after its last "/" unless it names an existing
// folder. A text without "/" stays whole.
void AssignFolderPath(std::string& target, const std::string& source);

// path made absolute: a relative one starts from cwd, and "." and ".."
// parts are resolved by name alone.
std::string AbsolutePath(const std::string& path, const std::string& cwd);

// Where a picker for the path in a field opens: the path itself when it is
// a folder, else its nearest existing parent folder, ending with "/". Empty
// for an empty or relative path, or when nothing but the root is left of a
// deeper path, so that the picker falls back on the last folder used.
std::string PickerStartFolder(const std::string& fieldPath);

} // namespace tbx
