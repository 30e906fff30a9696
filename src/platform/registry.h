#pragma once
// A directory tree standing in for the current user's registry hive: a key
// is a directory, a value is a file named after it that holds the text
// without a terminating zero.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tbx {

// Registry result codes, kept so that callers can compare with the usual values.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorInvalidData = 13;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorWriteFault = 29;

class RegHive {
public:
    explicit RegHive(std::filesystem::path root) : root_(std::move(root)) {}

    // $XDG_CONFIG_HOME/Tomebox/registry/, or ~/.config/Tomebox/registry/.
    static std::filesystem::path DefaultRoot();

    const std::filesystem::path& Root() const { return root_; }

    // Directory of a key path such as "Software/Tomebox/CmnOpts". Empty when
    // the path could escape the hive (absolute, "..", empty parts).
    std::filesystem::path KeyDir(std::string_view keyPath) const;

private:
    std::filesystem::path root_;
};

// Key and value operations on a key directory; each returns a result code.
long RegOpenKey(const RegHive& hive, std::string_view keyPath, std::filesystem::path& keyDir);
long RegCreateKey(const RegHive& hive, std::string_view keyPath, std::filesystem::path& keyDir);

// Creates a missing key together with its values in one step: the key
// appears whole or not at all. Fails when the key exists.
long RegCreateKeyWithValues(const RegHive& hive, std::string_view keyPath,
                            const std::vector<std::pair<std::string, std::string>>& values);

// Writes several values of a key as one change: the key's new contents are
// built in a hidden folder beside it (a copy of the key with the values
// written over it), which then takes the key's place in one step. A reader
// sees the old values or the new ones, and a failure leaves the key as it
// was. Creates the key when missing. failedValue names the value that could
// not be written; it stays empty when the key itself was at fault.
long RegSetValues(const RegHive& hive, std::string_view keyPath,
                  const std::vector<std::pair<std::string, std::string>>& values,
                  std::string& failedValue);

// Removes what killed writers left of a key: temporary value files in it
// and half-built contents beside it. Only names of our own temporary naming,
// of processes that have ended, are touched (platform/temp_files.h).
void RegRemoveStaleTemporaries(const RegHive& hive, std::string_view keyPath);

// Writes the value atomically: a reader sees the old or the new text, never half.
long RegSetValue(const std::filesystem::path& keyDir, std::string_view name, std::string_view text);

// Reads a value into a buffer of bufferSize bytes, which must also hold the
// terminating zero: a value of bufferSize bytes or more gives kErrorMoreData
// and an empty text.
long RegQueryValue(const std::filesystem::path& keyDir, std::string_view name,
                   std::size_t bufferSize, std::string& text);

} // namespace tbx
