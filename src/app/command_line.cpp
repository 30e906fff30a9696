#include "app/command_line.h"

#include "controls/path_helpers.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "text/text_case.h"

namespace tbx {
namespace {

CommandLine JustAction(CommandLine::Action action) {
    CommandLine line;
    line.action = action;
    return line;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& cwd) {
    CommandLine line;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && (arg == "-h" || arg == "--help"))
            return JustAction(CommandLine::Action::Help);
        if (!optionsEnded && arg == "--version")
            return JustAction(CommandLine::Action::Version);
        if (line.action == CommandLine::Action::Error)
            continue; // a later --help still wins
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--decompile") {
            line.decompile = true;
        } else if (!optionsEnded && arg.size() > 1 && arg.starts_with('-')) {
            line.action = CommandLine::Action::Error;
            line.error = Format(Tr("unknown option %s"), arg);
        } else if (!line.file.empty()) {
            line.action = CommandLine::Action::Error;
            line.error = Format(Tr("one file only, but %s was given too"), arg);
        } else if (arg.empty()) {
            line.action = CommandLine::Action::Error;
            line.error = Tr("the file name is empty");
        } else {
            line.file = AbsolutePath(arg, cwd);
        }
    }
    return line;
}

std::string CommandLineHelp() {
    return Tr("Usage: tomebox [--decompile] [FILE]\n"
              "Builds CHM help files from web pages and extracts the files of a help file\n"
              "back. The windows speak Russian.\n"
              "\n"
              "  FILE          a web page: the build window, filled in as after «Обзор ...»;\n"
              "                a .chm file: the extract window with that file;\n"
              "                a folder: the index window listing its pages.\n"
              "  --decompile   open the extract window (with the help file FILE, if given).\n"
              "  -h, --help    show this help and exit.\n"
              "  --version     show the version and exit.\n"
              "\n"
              "Only one copy of the program runs at a time.\n");
}

std::string VersionText(const std::string& programFolder) {
    // "css_dir: " ends the second line in every language: scripts read the
    // folder after it.
    return "Tomebox! " TOMEBOX_VERSION "\n" +
           Format(Tr("Compiler hhc, extractor hh and style sheets css_dir: %s"), programFolder) +
           "\n";
}

StartFileKind KindOfStartFile(const std::string& path) {
    if (IsFolder(path))
        return StartFileKind::Folder;
    if (!PathExists(path))
        return StartFileKind::Missing;
    return EndsWithNoCase(path, ".chm") ? StartFileKind::HelpFile : StartFileKind::Page;
}

} // namespace tbx
