#pragma once
// Opening a file, folder or address with the desktop's handler (xdg-open).

#include <string>
#include <vector>

namespace tbx {

// Launch results in the usual numbering: above 32 is success.
inline constexpr int kLaunchOk = 42;
inline constexpr int kLaunchFileNotFound = 2;
inline constexpr int kLaunchPathNotFound = 3;
inline constexpr int kLaunchAccessDenied = 5;
inline constexpr int kLaunchOutOfMemory = 8;
inline constexpr int kLaunchNoAssociation = 31;

class IShell {
public:
    virtual ~IShell() = default;
    // Opens the target; returns a launch result. May wait a short while for
    // the opener's verdict.
    virtual int Open(const std::string& target) = 0;
    // Opens the target and waits for the opener's verdict however long it
    // takes, so that a late failure is not taken for success. For callers off
    // the interface thread; the shell must outlive the call.
    virtual int OpenAndWait(const std::string& target) { return Open(target); }
    // The desktop file xdg-mime names as the program for the file's type
    // ("org.example.tomebox.desktop"); empty when none is named.
    virtual std::string DefaultHandlerFor(const std::string& path) {
        (void)path;
        return {};
    }
    // The command line of the desktop's web browser, field codes included;
    // empty when there is none.
    virtual std::string HtmlHandlerCommand() { return {}; }
    // Starts the words of command with target as one more argument, without
    // a shell; returns a launch result.
    virtual int RunCommand(const std::string& command, const std::string& target) {
        (void)command;
        (void)target;
        return kLaunchFileNotFound;
    }
};

// The desktop's opener: xdg-open started detached, its exit status mapped
// onto the launch results. Open waits two seconds for it and counts one
// still running as done (some openers stay in the foreground with the
// program they started); OpenAndWait waits for its end. Usable from any thread.
class DesktopShell : public IShell {
public:
    int Open(const std::string& target) override;
    int OpenAndWait(const std::string& target) override;
    // The type xdg-mime tells for the file (a help file's when it cannot
    // tell), then the desktop file it names for that type.
    std::string DefaultHandlerFor(const std::string& path) override;
    // The Exec line of the desktop file that xdg-mime names for text/html.
    std::string HtmlHandlerCommand() override;
    int RunCommand(const std::string& command, const std::string& target) override;
};

// The words of a desktop-entry command line: blanks separate them, double
// quotes group them, a backslash inside quotes takes the next character.
std::vector<std::string> SplitCommandLine(const std::string& command);

// The Exec value of the [Desktop Entry] group of a desktop file's text.
std::string DesktopEntryExec(const std::string& desktopFile);

} // namespace tbx
