#include "cli/cli.h"

#include "app/command_line.h"
#include "cli/commands.h"
#include "platform/messages.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace tbx::cli {
namespace {

const char* ExitStatuses() {
    return Tr("\n"
              "Exit status: 0 done; 1 failed, with the reason and the file named on standard\n"
              "error; 2 wrong command line; 128+N stopped by signal N.\n");
}

const char* GeneralHelp() {
    return Tr("Usage: tomebox-cli COMMAND [OPTIONS]\n"
              "Builds CHM help files from web pages, extracts the files of a help file and\n"
              "writes a contents page for a folder: with no windows and no display, for\n"
              "scripts and builds.\n"
              "\n"
              "Commands:\n"
              "  build START_PAGE   build a help file from the start page and its site\n"
              "  extract HELP.chm   extract the files of a help file into a folder\n"
              "  index FOLDER       write the contents page index_tbx.html into the folder\n"
              "\n"
              "  tomebox-cli COMMAND --help   help on the command\n"
              "  -h, --help                   show this help and exit\n"
              "  --version                    show the version and exit\n");
}

const char* BuildHelp() {
    return Tr("Usage: tomebox-cli build START_PAGE [-o OUT.chm] [--title TEXT] [--search]\n"
              "                                [--no-settings] [--strict]\n"
              "Builds a help file from START_PAGE and the pages it links to in its folder:\n"
              "writes the same help project as the build window and compiles it with hhc\n"
              "from the program's folder.\n"
              "\n"
              "  -o, --output OUT.chm  the help file; by default START_PAGE with the\n"
              "                        extension .chm\n"
              "  --title TEXT          the help window's title; by default the page's <title>\n"
              "  --search              full-text search, and the navigation pane with its\n"
              "                        Search tab\n"
              "  --no-settings         do not read the program's saved settings: the\n"
              "                        first-start settings apply, so that the result does not\n"
              "                        depend on the user; no settings are written either\n"
              "  --strict              a link that could not be followed is an error: no help\n"
              "                        file is made\n"
              "\n"
              "A help window of automatic size is made for a 1024x768 screen. The compile's\n"
              "progress is shown when standard error is a terminal; every link that could\n"
              "not be followed is always shown. The path of the help file written is printed\n"
              "on standard output.\n");
}

const char* ExtractHelp() {
    return Tr("Usage: tomebox-cli extract HELP.chm [DIR] [--overwrite]\n"
              "Extracts every file of the help file HELP.chm into the folder DIR with hh from\n"
              "the program's folder, as the extract window does. DIR is by default the help\n"
              "file's name without its extension, beside it; missing folders are created.\n"
              "\n"
              "  --overwrite   replace files of DIR whose content differs from the extracted\n"
              "                ones; without it nothing is written in that case\n"
              "\n"
              "The extraction's progress is shown when standard error is a terminal. The\n"
              "folder's path is printed on standard output.\n");
}

const char* IndexHelp() {
    return Tr("Usage: tomebox-cli index FOLDER [--style NAME] [--copy-style]\n"
              "Writes into FOLDER the contents page index_tbx.html listing every page of the\n"
              "folder (*.htm, *.html) in the order and with the titles the index window\n"
              "shows them.\n"
              "\n"
              "  --style NAME    link a style sheet: the name of a file in the program's\n"
              "                  css_dir folder, or the path of a .css file\n"
              "  --copy-style    copy the style sheet into FOLDER and link the copy\n"
              "\n"
              "The path of the contents page written is printed on standard output.\n");
}

struct OptionSpec {
    std::string_view name; // long name, without "--"
    char shortName;        // 0 when none
    bool takesValue;
};

struct Command {
    std::string_view name;
    std::vector<OptionSpec> options;
    std::size_t minPositional;
    std::size_t maxPositional;
    std::string_view positionalNames; // for "missing" messages
    const char* (*help)();
    int (*run)(const CommandArgs&, Environment&);
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"build",
         {{"output", 'o', true},
          {"title", 0, true},
          {"search", 0, false},
          {"no-settings", 0, false},
          {"strict", 0, false}},
         1,
         1,
         "START_PAGE",
         BuildHelp,
         Build},
        {"extract", {{"overwrite", 0, false}}, 1, 2, "HELP.chm", ExtractHelp, Extract},
        {"index", {{"style", 0, true}, {"copy-style", 0, false}}, 1, 1, "FOLDER", IndexHelp, Index},
    };
    return commands;
}

bool IsHelp(std::string_view arg) {
    return arg == "-h" || arg == "--help";
}

// Options may stand before, between and after the positional arguments;
// "--" ends them. A value follows its option or is joined with "=".
std::optional<std::string> Parse(const Command& command, const std::vector<std::string>& args,
                                 CommandArgs& parsed) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string> joined;
        if (name.starts_with("--")) {
            name.remove_prefix(2);
            if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
                joined = std::string(name.substr(equals + 1));
                name = name.substr(0, equals);
            }
        } else if (name.size() == 2) {
            name.remove_prefix(1);
        } else {
            return Format(Tr("unknown option %s"), arg);
        }
        const auto known =
            std::find_if(command.options.begin(), command.options.end(), [&](auto& o) {
                return o.name == name || (name.size() == 1 && o.shortName == name[0]);
            });
        if (known == command.options.end())
            return Format(Tr("unknown option %s"), arg);
        const std::string key(known->name);
        if (parsed.Has(key))
            return Format(Tr("option --%s given twice"), key);
        if (!known->takesValue) {
            if (joined)
                return Format(Tr("option --%s takes no value"), key);
            parsed.options[key];
        } else if (joined) {
            parsed.options[key] = *joined;
        } else if (i + 1 < args.size()) {
            parsed.options[key] = args[++i];
        } else {
            return Format(Tr("%s needs a value"), arg);
        }
    }
    if (parsed.positional.size() < command.minPositional)
        return Format(Tr("%s is missing"), std::string(command.positionalNames));
    if (parsed.positional.size() > command.maxPositional)
        return Format(Tr("one argument too many: %s"), parsed.positional[command.maxPositional]);
    return std::nullopt;
}

} // namespace

void StopSwitch::Stop(int signal) {
    std::lock_guard lock(mutex_);
    if (signal_ == 0)
        signal_ = signal;
    if (child_)
        child_->Terminate();
}

int StopSwitch::Signal() const {
    std::lock_guard lock(mutex_);
    return signal_;
}

ProcessOutcome StopSwitch::Run(const std::string& program, const std::vector<std::string>& args,
                               const OutputLineSink& onOutputLine,
                               const OutputLineSink& onErrorLine) {
    ChildProcess child;
    {
        std::lock_guard lock(mutex_);
        if (signal_ == 0 && child.Start(program, args))
            child_ = &child;
    }
    const ProcessOutcome run = child.Wait(onOutputLine, onErrorLine);
    std::lock_guard lock(mutex_);
    child_ = nullptr;
    return run;
}

int Fail(Environment& env, const std::string& subject, const std::string& message) {
    env.err << "tomebox-cli: " << (subject.empty() ? "" : subject + ": ") << message << "\n";
    return kExitFailed;
}

int UsageError(Environment& env, const std::string& command, const std::string& problem) {
    env.err << "tomebox-cli: " << problem << "\n"
            << Format(Tr("More: tomebox-cli %s--help"), command.empty() ? "" : command + " ")
            << "\n";
    return kExitUsage;
}

int RunCli(const std::vector<std::string>& args, Environment& env) {
    if (args.empty())
        return UsageError(env, "", Tr("no command given"));
    if (IsHelp(args[0])) {
        env.out << GeneralHelp() << ExitStatuses();
        return kExitDone;
    }
    if (args[0] == "--version") {
        env.out << VersionText(env.programFolder);
        return kExitDone;
    }
    const auto command = std::find_if(Commands().begin(), Commands().end(),
                                      [&](const Command& c) { return c.name == args[0]; });
    if (command == Commands().end())
        return UsageError(env, "", Format(Tr("unknown command %s"), args[0]));

    const std::vector<std::string> rest(args.begin() + 1, args.end());
    // --help wins over anything else given with it, as in the program's own
    // command line; after "--" it is a file name.
    for (const std::string& arg : rest) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            env.out << command->help() << ExitStatuses();
            return kExitDone;
        }
    }
    CommandArgs parsed;
    if (const auto problem = Parse(*command, rest, parsed))
        return UsageError(env, std::string(command->name), *problem);
    const int status = command->run(parsed, env);
    // A run that was stopped ends as the signal says, whatever it got to.
    if (const int signal = env.stop.Signal())
        return 128 + signal;
    return status;
}

} // namespace tbx::cli
