#pragma once
// What a name stored in a help file means for a folder the files are
// extracted into. Every name of the help file's own files starts with "/",
// its root; "#" and "$" streams and "::" names belong to the format. Names
// that would climb out of the folder are refused, so nothing that reads
// these rules ever writes outside it.

#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

enum class NameKind {
    Internal, // a stream of the file format itself: not extracted
    Folder,   // a folder entry: created
    File,     // a file: written
    Refused,  // would land outside the folder, or is no name of the help file at all
};

struct StoredName {
    NameKind kind = NameKind::Refused;
    std::vector<std::string> parts; // path below the folder, one folder or file name each
};

StoredName ClassifyStoredName(std::string_view name);

} // namespace tbx::chm
