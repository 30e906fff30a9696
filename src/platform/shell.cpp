#include "platform/shell.h"

#include "platform/files.h"
#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace tbx {
namespace {

// How long Open waits for xdg-open to tell whether it found a handler.
constexpr std::chrono::milliseconds kVerdictWait{2000};

// xdg-open's exit statuses onto launch results.
int LaunchResultOfExit(int status) {
    if (status == 0)
        return kLaunchOk;
    return status == 2 ? kLaunchFileNotFound : kLaunchNoAssociation;
}

// A started program that runs on: its exit status is collected whenever it ends.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int ignored;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// Folders that hold desktop files, most personal first.
std::vector<std::string> ApplicationFolders() {
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && dataHome[0] == '/')
        folders.push_back(std::string(dataHome) + "/applications/");
    else if (home && home[0] == '/')
        folders.push_back(std::string(home) + "/.local/share/applications/");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string dirs = dataDirs && dataDirs[0] ? dataDirs : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        if (end > start && dirs[start] == '/')
            folders.push_back(dirs.substr(start, end - start) + "/applications/");
        start = end + 1;
    }
    return folders;
}

std::string ReadSmallFile(const std::string& path) {
    return ReadWholeFile(path, 1 << 20, Beyond::Cut).bytes;
}

// Starts xdg-open on target and maps its exit status; when it is still
// running after limit (if any), the launch counts as done and it is reaped later.
int RunOpener(const std::string& target, std::optional<std::chrono::milliseconds> limit) {
    std::string error;
    const pid_t pid = SpawnHidden("xdg-open", {target}, -1, error);
    if (pid < 0)
        return kLaunchNoAssociation;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, limit ? WNOHANG : 0);
        if (done == pid)
            return WIFEXITED(status) ? LaunchResultOfExit(WEXITSTATUS(status))
                                     : kLaunchNoAssociation;
        if (done < 0 && errno != EINTR)
            return kLaunchOk;
        if (!limit)
            continue; // EINTR: wait on
        if (std::chrono::steady_clock::now() - start >= *limit)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ReapLater(pid);
    return kLaunchOk;
}

// The first entry of what xdg-mime printed: up to a line end or ";",
// without trailing blanks.
std::string FirstWord(const std::string& output) {
    std::string word = output.substr(0, output.find_first_of("\n\r;"));
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t'))
        word.pop_back();
    return word;
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < command.size())
                word += command[++i];
            else
                word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::string DesktopEntryExec(const std::string& desktopFile) {
    std::istringstream lines(desktopFile);
    std::string line;
    bool inEntry = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with('['))
            inEntry = line == "[Desktop Entry]";
        else if (inEntry && line.starts_with("Exec="))
            return line.substr(5);
    }
    return {};
}

std::string DesktopShell::DefaultHandlerFor(const std::string& path) {
    std::string type = FirstWord(RunForOutput("xdg-mime", {"query", "filetype", path}));
    if (type.empty() || type == "application/octet-stream")
        type = "application/vnd.ms-htmlhelp";
    return FirstWord(RunForOutput("xdg-mime", {"query", "default", type}));
}

std::string DesktopShell::HtmlHandlerCommand() {
    const std::string name = FirstWord(RunForOutput("xdg-mime", {"query", "default", "text/html"}));
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    for (const std::string& folder : ApplicationFolders()) {
        const std::string exec = DesktopEntryExec(ReadSmallFile(folder + name));
        if (!exec.empty())
            return exec;
    }
    return {};
}

int DesktopShell::RunCommand(const std::string& command, const std::string& target) {
    std::vector<std::string> words = SplitCommandLine(command);
    if (words.empty())
        return kLaunchFileNotFound;
    const std::string program = words.front();
    words.erase(words.begin());
    words.push_back(target);
    std::string error;
    const pid_t pid = SpawnHidden(program, words, -1, error);
    if (pid < 0)
        return kLaunchFileNotFound;
    // The browser runs on; reap it whenever it ends.
    ReapLater(pid);
    return kLaunchOk;
}

int DesktopShell::Open(const std::string& target) {
    return RunOpener(target, kVerdictWait);
}

int DesktopShell::OpenAndWait(const std::string& target) {
    return RunOpener(target, std::nullopt);
}

} // namespace tbx
