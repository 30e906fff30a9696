#pragma once
// The work of "hh -decompile DIR FILE": every stored file of a help file is
// written below DIR, keeping its sub-folders. Nothing is ever written
// outside DIR, whatever names the help file holds.

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

namespace hh {

enum class NameKind {
    Internal, // a stream of the file format itself: not extracted
    Folder,   // a folder entry: created
    File,     // a file: written
    Refused,  // would land outside DIR, or is no name of the help file at all
};

struct StoredName {
    NameKind kind = NameKind::Refused;
    std::vector<std::string> parts; // path below DIR, one folder or file name each
};

// What a stored name means below DIR. Every name of the help file's own
// files starts with "/", its root; "#" and "$" streams and "::" names
// belong to the format.
StoredName ClassifyStoredName(std::string_view name);

struct ExtractResult {
    int files = 0;                     // files written
    std::vector<std::string> refused;  // names that would leave DIR
    std::vector<std::string> failures; // entries that could not be read or written, with why
    std::string fatal;                 // why nothing (more) could be done; empty if none
    int stopSignal = 0;                // the signal that stopped the work, or 0
    // Entries the header's listing chain alone would have given, when it
    // gives fewer than the directory holds; 0 otherwise.
    int headerChainEntries = 0;

    bool Ok() const { return fatal.empty() && refused.empty() && failures.empty() && !stopSignal; }
};

// Extracts helpFile into outDir (an existing folder). The work stops
// between two pieces once *stop holds a signal number.
ExtractResult Decompile(const std::string& outDir, const std::string& helpFile,
                        const volatile std::sig_atomic_t* stop = nullptr);

// Removes the file that was being written, if any. Safe in a signal
// handler: for a fault that ends hh halfway through a file.
void RemovePartialFile();

} // namespace hh
