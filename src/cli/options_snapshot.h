#pragma once
// The options one command-line run works with: a private copy of the saved
// options (or of none), completed with the first-run defaults exactly as the
// program's start completes the user's own. A run thus never writes into
// the user's settings, and it reads the same values the windows would.

#include "platform/registry.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tbx::cli {

class OptionsSnapshot {
public:
    // saved: the root of the user's option store to copy; empty for none.
    explicit OptionsSnapshot(const std::filesystem::path& saved);
    // Removes the copy.
    ~OptionsSnapshot();
    OptionsSnapshot(const OptionsSnapshot&) = delete;
    OptionsSnapshot& operator=(const OptionsSnapshot&) = delete;

    // Empty when the copy is ready, else what went wrong.
    const std::string& Error() const { return error_; }
    const RegHive& Hive() const { return hive_; }

    // Sets values of key in the copy only; empty on success, else why not.
    std::string Set(std::string_view key,
                    const std::vector<std::pair<std::string, std::string>>& values);

private:
    std::string folder_;
    RegHive hive_{""};
    std::string error_;
};

} // namespace tbx::cli
