#pragma once
// What hhc does, as a function the tests can call without starting a
// process: the project read, the site walked from its start page, every file
// reached and the help-level files put into one compiled help file, written
// whole or not at all.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace tbx::hhc {

struct CompileOptions {
    bool strict = false;  // any link not followed is a failure: nothing is written
    bool best = false;    // the smaller, slower compression, as "Compression=best" asks
    unsigned threads = 0; // compressing threads; 0: one per core
    // Set from anywhere (a signal) to stop: looked at between the stages
    // and while compressing.
    const std::atomic<bool>* stop = nullptr;
};

// Each line for standard output (the forms of build/tool_output.h), in order.
using OutputSink = std::function<void(const std::string& line)>;

struct CompileResult {
    bool stopped = false;              // the stop came before the help file was written
    std::string error;                 // one line saying what went wrong
    std::vector<std::string> warnings; // what the help file lacks that the project asked for
    bool Ok() const { return !stopped && error.empty(); }
};

CompileResult Compile(const std::string& projectPath, const CompileOptions& options,
                      const OutputSink& output);

} // namespace tbx::hhc
