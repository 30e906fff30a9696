#include "controls/link_target.h"

#include "platform/shell.h"
#include "text/text_case.h"

#include <cctype>
#include <string_view>

namespace tbx {
namespace {

const char* LaunchErrorReason(int code) {
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE "
               "transactions\nwere being processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default:
        return nullptr;
    }
}

} // namespace

std::string LinkTargetFromText(const std::string& text) {
    return StartsWithNoCase(text, "www.") ? "http://" + text : text;
}

std::string BuildTipText(const std::string& target, bool prefix) {
    if (prefix && StartsWithNoCase(target, "http://"))
        return "Go to " + target.substr(7);
    if (prefix && StartsWithNoCase(target, "mailto:"))
        return "E-mail " + target.substr(7);
    return target;
}

std::string HandlerCommandPrefix(const std::string& command) {
    for (std::size_t i = 0; i + 1 < command.size(); ++i) {
        if (command[i] != '%')
            continue;
        if (command[i + 1] == '%') { // "%%" is a plain percent sign
            ++i;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(command[i + 1])))
            continue;
        const bool quoted =
            i > 0 && command[i - 1] == '"' && i + 2 < command.size() && command[i + 2] == '"';
        return command.substr(0, quoted ? i - 1 : i);
    }
    return command;
}

int OpenTarget(IShell& shell, const std::string& target) {
    const int opened = shell.OpenAndWait(target);
    if (opened > 32)
        return opened;
    const std::string command = shell.HtmlHandlerCommand();
    if (command.empty())
        return opened;
    return shell.RunCommand(HandlerCommandPrefix(command), target);
}

std::string LaunchErrorText(int code) {
    const char* reason = LaunchErrorReason(code);
    const std::string text =
        reason ? reason : "Unknown Error (" + std::to_string(code) + ") occurred.";
    return "Unable to open hyperlink:\n\n" + text;
}

} // namespace tbx
