#pragma once
// Which files an extraction would replace with other content. Extracting a
// help file into the folder it was built from (the site itself) would
// otherwise silently put the compiled copies over pages edited since.

#include <cstddef>
#include <string>
#include <vector>

namespace tbx {

// How many names a report lists; every conflict is counted.
inline constexpr std::size_t kConflictNamesShown = 10;

struct ExtractConflicts {
    std::size_t count = 0;
    // The first conflicts in the help file's directory order, as paths below
    // the output folder.
    std::vector<std::string> names;
};

// The files of helpFile whose place below outFolder (ending with "/") is
// taken by something else: a file with other bytes, or a folder, link or
// other non-file at the file's name or on its way. A file with the same
// bytes, a missing one and an entry the help file cannot give are no
// conflict. A help file that cannot be opened gives none: the extraction
// itself then says what is wrong.
ExtractConflicts FindExtractConflicts(const std::string& helpFile, const std::string& outFolder,
                                      std::size_t maxNames = kConflictNamesShown);

// The text that counts the conflicts and lists their names, one a line.
std::string ConflictReport(const ExtractConflicts& conflicts);

} // namespace tbx
