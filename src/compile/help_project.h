#pragma once
// The help project (.hhp) that the compile job hands to hhc: one start page,
// the help file to produce, and the help window "Tomebox".

#include "platform/registry.h"

#include <string>
#include <string_view>

namespace tbx {

class COptKey;

// Home page of the help window's "home" field.
inline constexpr const char* kAuthorSite = "http://tomebox.example.org/";

struct ScreenSize {
    int width = 0;
    int height = 0;
};

struct HelpProjectInput {
    std::string pagePath;      // full path of the start page
    std::string outputPath;    // full path of the .chm to produce
    std::string title;         // the build window's title field
    ScreenSize screen;         // used when the help window is sized automatically
    std::string programFolder; // folder of the program, ending with "/"
    std::string projectFolder; // where the project is written: the job's own folder
};

struct HelpProjectResult {
    std::string projectPath; // the project written, on success
    std::string error;       // a message for the log pane, on failure
    int messageId = 0;       // which message that is, and the path or reason
    std::string detail;      // it names, for a caller with words of its own
    bool Ok() const { return error.empty(); }
};

// A folder of one build's own for its project, inside the program's private
// work folder, so the site is only read; removed with everything in it when
// the build ends. Folders that killed builds left there go first.
class ProjectFolder {
public:
    ProjectFolder();
    ~ProjectFolder();
    ProjectFolder(const ProjectFolder&) = delete;
    ProjectFolder& operator=(const ProjectFolder&) = delete;

    // Empty when no folder could be made.
    const std::string& Path() const { return path_; }
    // Then message 203, with where and why when known.
    std::string Failure() const;
    // Where and why alone, when known.
    const std::string& Reason() const { return error_; }

private:
    std::string path_;
    std::string error_;
};

// Writes the project into input.projectFolder under a working name and moves
// it to its final name, so the final file never exists half-written. Never
// replaces or merges into a file it did not create. The project names every
// file by its full path, so it may lie anywhere; the page's folder is only read.
HelpProjectResult WriteHelpProject(const RegHive& hive, const HelpProjectInput& input);

// The value of "WINDOWS"/"Tomebox", in UTF-8. The title becomes one whole
// caption: its line breaks become blanks and its double quotes typographic
// ones.
std::string BuildWindowDefinition(const RegHive& hive, std::string_view title,
                                  std::string_view aboutPage, ScreenSize screen);

// The title as the window definition's caption holds it: on one line, its
// double quotes typographic ones (a straight one would end the field).
std::string CaptionText(std::string_view title);

// A text value of at most 3000 bytes from an open key; empty when unreadable.
std::string ReadOptionText(const COptKey& key, std::string_view name);

} // namespace tbx
