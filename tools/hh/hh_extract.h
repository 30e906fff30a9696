#pragma once
// The work of "hh -decompile DIR FILE": every stored file of a help file is
// written below DIR, keeping its sub-folders. Nothing is ever written
// outside DIR, whatever names the help file holds.

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace hh {

struct ExtractResult {
    std::size_t files = 0;   // files written
    std::size_t toWrite = 0; // files the help file holds below its root, lost names too
    std::size_t refused = 0; // names that would leave DIR or are no path below its root
    // Entries or chunks that could not be read or written, names stored
    // twice, and FIFOs or devices where a file was to go.
    std::size_t failures = 0;
    std::string fatal;  // why nothing (more) could be done; empty if none
    int stopSignal = 0; // the signal that stopped the work, or 0
    // Entries the header's listing chain alone would have given, when it
    // gives fewer than the directory holds; 0 otherwise.
    std::uint64_t headerChainEntries = 0;

    bool Ok() const { return fatal.empty() && refused == 0 && failures == 0 && !stopSignal; }
};

// What Decompile says while it works. The calls come from its writer
// threads, one at a time.
struct ExtractListener {
    // One refused name or failed entry, as a line of text.
    std::function<void(const std::string& problem)> problem;
    // After each file written: how many so far, of how many.
    std::function<void(std::size_t written, std::size_t total)> progress;
};

// Extracts helpFile into outDir (an existing folder). The work stops
// between two pieces once *stop holds a signal number.
ExtractResult Decompile(const std::string& outDir, const std::string& helpFile,
                        const ExtractListener& listener,
                        const volatile std::sig_atomic_t* stop = nullptr);

} // namespace hh
