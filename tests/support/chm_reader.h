#pragma once
// Reads compiled help files with chmlib, for tests that check what the
// compiler put inside.

#include <optional>
#include <string>
#include <vector>

namespace tbx::test {

// The bytes of the stored file name ("/page.htm"), or nothing when the help
// file cannot be opened or does not hold it.
std::optional<std::string> ReadChmObject(const std::string& chmPath, const std::string& name);

// The same for many names with one opening of the help file.
std::vector<std::optional<std::string>> ReadChmObjects(const std::string& chmPath,
                                                       const std::vector<std::string>& names);

// Every stored file name (internal streams included), or empty when the help
// file cannot be opened.
std::vector<std::string> ChmObjectNames(const std::string& chmPath);

} // namespace tbx::test
