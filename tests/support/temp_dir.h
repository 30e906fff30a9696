#pragma once
// A fresh folder per test, removed afterwards, and small file helpers.

#include <filesystem>
#include <string>
#include <string_view>

namespace tbx::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Path of a name inside the folder, as the program's path text.
    std::string operator/(std::string_view name) const;

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
std::string ReadFile(const std::filesystem::path& path);

} // namespace tbx::test
