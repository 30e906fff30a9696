#pragma once
// The program's command line: one file to open (a page, a help file or a
// folder), the decompile window, or help and version texts.

#include <string>
#include <vector>

namespace tbx {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool decompile = false; // --decompile: open the decompile window
    std::string file;       // the file named, made absolute; empty when none
    std::string error;      // Error: what is wrong, for standard error
};

// args: the arguments after the program name, with the toolkit's own options
// already taken out; relative file names start from cwd. --help and
// --version win over anything else given with them.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& cwd);

// The usage text of --help.
std::string CommandLineHelp();
// The text of --version: the version and the folder the tools are taken from.
std::string VersionText(const std::string& programFolder);

// What a file named at start (or dropped on the build window) opens.
enum class StartFileKind {
    Missing,  // nothing there: said in the build window's log pane
    Folder,   // the index window, listing it
    HelpFile, // a name ending in ".chm", any case: the decompile window
    Page,     // anything else: the build window, as its "Обзор ..." fills it
};
StartFileKind KindOfStartFile(const std::string& path);

} // namespace tbx
