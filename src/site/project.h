#pragma once
// Reading a help project (.hhp): the one the compile job writes (Windows-1251,
// absolute paths, CR LF) and one a user writes by hand (paths relative to the
// project's folder, UTF-8 or the ANSI code page of its language).

#include "chm/internal_files.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::site {

// Everything the later stages need, texts in UTF-8, paths absolute with "/".
struct Project {
    // The help file to write: "Compiled file", else the project's name with
    // ".chm" beside it, as Microsoft's compiler names it.
    std::string compiledFile;
    // The folder the walk stays in, ending with "/": the start page's folder
    // when the project names it by an absolute path, else the project's.
    std::string siteRoot;
    // The start page, empty when the project names none: the walk then
    // starts from the first of [FILES] and the help file records no start.
    std::string defaultTopic;
    std::vector<std::string> files; // [FILES], in order
    std::string title;              // "Title", empty when absent
    std::string contentsFile;       // "Contents file", empty when absent
    std::string indexFile;          // "Index file", empty when absent
    std::uint32_t language = 0x409; // the number of "Language"; English (United States) when absent
    bool fullTextSearch = false;
    bool binaryIndex = true; // "Binary Index": $WWKeywordLinks, Microsoft's default
    bool autoIndex = false;  // "Auto Index": the pages' KLink and ALink objects join the index
    bool binaryToc = false;  // "Binary TOC": asked for, not written (the contents stay a sitemap)
    bool displayProgress = true;  // "Display compile progress": the progress lines
    std::string defaultFont;      // "Default Font" as written, e.g. "Arial,8,204"
    std::string stopListFile;     // "Full text search stop list file", absolute; empty when absent
    bool bestCompression = false; // "Compression=best", our own key
    std::string errorLogFile;     // "Error log file", absolute: the compile's lines go there too
    // The lines of [ALIAS] and [MAP] as written (trimmed, comments dropped),
    // those of #include files among them, for the context ids.
    std::vector<std::string> aliasLines, mapLines;
    std::vector<std::string> textPopups;  // [TEXT POPUPS], absolute: stored as they are
    std::vector<std::string> mergeFiles;  // [MERGE FILES], as written
    std::string defaultWindow;            // "Default Window", empty when absent
    std::vector<chm::HelpWindow> windows; // [WINDOWS], in order
};

struct ProjectResult {
    Project project;
    std::string error;                 // one line saying what is wrong, on failure
    std::vector<std::string> warnings; // what was read otherwise than written
    bool Ok() const { return error.empty(); }
};

// Reads the project file at path (a relative path counts from the working folder).
ProjectResult ReadProject(const std::string& path);

// The same on the file's bytes; projectPath (absolute) places relative paths.
ProjectResult ParseProject(std::string_view bytes, const std::string& projectPath);

// One [WINDOWS] value in the window-definition format: comma-separated
// fields, texts optionally in double quotes, the rectangle in brackets.
// Empty text on success, else what is wrong.
std::string ParseWindowDefinition(std::string_view text, chm::HelpWindow& window);

} // namespace tbx::site
