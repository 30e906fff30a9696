#pragma once
// The progress lines the help compiler and the extractor print on standard
// output while they run, and the log pane's Russian text for them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tbx {

enum class ProgressKind {
    FilesRead,       // "files read: N" (hhc gathering the site)
    FilesCompressed, // "files compressed: K of M" (hhc)
    FilesExtracted,  // "files extracted: K of M" (hh)
};

struct ProgressLine {
    ProgressKind kind = ProgressKind::FilesRead;
    std::uint64_t done = 0;
    std::uint64_t total = 0; // 0 for FilesRead, which has no total
};

// The progress that one line of output reports, or nothing for any other
// line (the tools also report links they could not follow). A trailing
// carriage return is ignored; a count of more done than total is no progress.
std::optional<ProgressLine> ParseProgressLine(std::string_view line);

// "Прочитано файлов: N", "Сжато файлов: K из M", "Извлечено файлов: K из M".
std::string ProgressText(const ProgressLine& progress);

} // namespace tbx
