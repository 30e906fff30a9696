#include "platform/temp_files.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {
namespace {

constexpr std::size_t kRandomLength = 6; // what mkostemp and mkdtemp fill in

// This machine's name as it goes into a temporary name: letters, digits,
// '.', '_' and '-' only, so it can never add a folder or hide a field.
std::string HostPart() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    std::string host(name);
    for (char& c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    }
    return host;
}

const std::string& ThisHost() {
    static const std::string host = HostPart();
    return host;
}

std::string Template(const std::string& folder, std::string_view prefix) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += prefix;
    path += ThisHost() + "-" + std::to_string(::getpid()) + "-";
    path.append(kRandomLength, 'X');
    return path;
}

bool ProcessRuns(pid_t pid) {
    // EPERM: it runs, under another user.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

int CreateTempFile(const std::string& folder, std::string_view prefix, std::string& path) {
    std::string name = Template(folder, prefix);
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        path = std::move(name);
    return fd;
}

std::string CreateTempFolder(const std::string& folder, std::string_view prefix) {
    std::string name = Template(folder, prefix);
    return ::mkdtemp(name.data()) ? name : std::string();
}

pid_t TempNameOwner(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix))
        return 0;
    name.remove_prefix(prefix.size());
    // <host>-<pid>-<random>, read from the end: the host may hold '-' itself.
    if (name.size() < kRandomLength + 2 || name[name.size() - kRandomLength - 1] != '-')
        return 0;
    for (char c : name.substr(name.size() - kRandomLength)) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return 0;
    }
    name.remove_suffix(kRandomLength + 1);
    const auto dash = name.rfind('-');
    if (dash == std::string_view::npos || name.substr(0, dash) != ThisHost())
        return 0;
    const std::string_view digits = name.substr(dash + 1);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0')
        return 0;
    pid_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

int RemoveStaleTemporaries(const std::string& folder, std::string_view prefix) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = TempNameOwner(entry->d_name, prefix);
        if (owner == 0 || ProcessRuns(owner))
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_uid != ::geteuid())
            continue;
        if (S_ISREG(st.st_mode)) {
            removed += ::unlinkat(dirFd, entry->d_name, 0) == 0;
        } else if (S_ISDIR(st.st_mode)) {
            // remove_all takes links inside as links, never what they point to.
            std::error_code ec;
            std::filesystem::remove_all(std::filesystem::path(folder) / entry->d_name, ec);
            removed += !ec;
        }
    }
    ::closedir(dir);
    return removed;
}

bool IsPrivateFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool MakePrivateFolder(const std::string& path) {
    ::mkdir(path.c_str(), 0700);
    return IsPrivateFolder(path);
}

std::string PrivateWorkFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime)) {
        const std::string folder = std::string(runtime) + "/tomebox";
        if (MakePrivateFolder(folder))
            return folder;
    }
    const char* temp = std::getenv("TMPDIR");
    const std::string base = temp && temp[0] == '/' ? temp : "/tmp";
    const std::string folder = base + "/tomebox-" + std::to_string(::geteuid());
    return MakePrivateFolder(folder) ? folder : std::string();
}

} // namespace tbx
