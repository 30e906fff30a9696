#pragma once
// The commands of tomebox-cli, each on its command line once parsed.

#include "cli/cli.h"

#include <map>
#include <string>
#include <vector>

namespace tbx::cli {

struct CommandArgs {
    std::vector<std::string> positional;
    // Each option given, by its long name without "--"; a flag maps to "".
    std::map<std::string, std::string> options;

    bool Has(const std::string& name) const { return options.contains(name); }
};

// build START_PAGE [-o OUT.chm] [--title TEXT] [--search] [--no-settings] [--strict]
int Build(const CommandArgs& args, Environment& env);
// extract HELP.chm [DIR] [--overwrite]
int Extract(const CommandArgs& args, Environment& env);
// index FOLDER [--style NAME] [--copy-style]
int Index(const CommandArgs& args, Environment& env);

// Says "tomebox-cli: subject: message" on standard error and returns
// kExitFailed.
int Fail(Environment& env, const std::string& subject, const std::string& message);
// The same for a wrong command line, with a pointer to the command's help.
int UsageError(Environment& env, const std::string& command, const std::string& problem);

} // namespace tbx::cli
