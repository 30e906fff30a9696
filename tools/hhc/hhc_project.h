#pragma once
// Turning a help project as the compile job writes it (Windows-1251, absolute
// paths) into one that chmcmd accepts (UTF-8 file names, paths relative to
// the project's folder). Pure text work, so it can be tested without
// starting anything.

#include <optional>
#include <string>
#include <string_view>

namespace tbx::hhc {

struct ProjectConversion {
    std::string text;  // the project for chmcmd, on success
    std::string error; // one line saying what is wrong, on failure
    bool Ok() const { return error.empty(); }
};

// The path of path relative to folder, with "/" separators, or nothing when
// it does not lie inside folder. Both are taken lexically (no file system
// access); a relative path counts from folder. folder itself is not inside.
std::optional<std::string> PathInsideFolder(const std::string& path, const std::string& folder);

// The first "Compiled file" of [OPTIONS] decoded to UTF-8 and made absolute
// (a relative name counts from projectFolder); empty when there is none.
std::string CompiledFileOf(std::string_view project, const std::string& projectFolder);

// Rewrites the project: every "Compiled file" becomes compiledFile (UTF-8,
// where chmcmd is to write), the topic, contents and index files of
// [OPTIONS] and each line of [FILES] become UTF-8 paths relative to
// projectFolder. Every other line keeps its bytes and its line ending.
// Fails when one of those paths lies outside projectFolder.
ProjectConversion ConvertProject(std::string_view project, const std::string& projectFolder,
                                 const std::string& compiledFile);

} // namespace tbx::hhc
