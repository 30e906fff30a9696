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

} // namespace tbx
