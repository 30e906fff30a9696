#pragma once
// A sitemap reader of the tests' own, to read back the contents and keyword
// files we write.

#include <optional>
#include <string>
#include <vector>

namespace tbx::test {

struct ReadEntry {
    std::string name;
    std::optional<std::string> local;
    std::vector<ReadEntry> children;
};

// The entries of a sitemap given in UTF-8: a <UL> holds entries, an
// <OBJECT> with its <param>s is one, and a <UL> after an entry holds its
// children. Structural faults are test failures.
std::vector<ReadEntry> ReadSitemap(const std::string& utf8);

// "name=local{child;child};name" — a heading has no "=local".
std::string Compact(const std::vector<ReadEntry>& entries);

} // namespace tbx::test
