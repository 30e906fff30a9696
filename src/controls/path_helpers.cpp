#include "controls/path_helpers.h"

#include "platform/files.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <sys/types.h>

namespace tbx {

namespace {

// On Linux "//" is no network path, just a doubled separator.
std::string CollapseSlashes(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    return out;
}

} // namespace

bool CreateDirPath(const std::string& rawPath) {
    const std::string path = CollapseSlashes(rawPath);
    // A relative path would land wherever the program happens to run from.
    if (path.empty() || path[0] != '/')
        return false;
    // The root plays the drive: never checked or created. Below it there must
    // be at least one folder ending in "/".
    std::size_t slash = path.find('/', 1);
    if (slash == std::string::npos)
        return false;
    for (;;) {
        const std::string prefix = path.substr(0, slash + 1);
        // An existing file of that name makes mkdir fail, which ends here;
        // a folder someone else made in the meantime is as good as ours.
        if (!IsFolder(prefix) && ::mkdir(prefix.c_str(), 0777) != 0 &&
            !(errno == EEXIST && IsFolder(prefix)))
            return false;
        slash = path.find('/', slash + 1);
        if (slash == std::string::npos)
            return true;
    }
}

void AssignFolderPath(std::string& target, const std::string& source) {
    target = source;
    if (IsFolder(target))
        return;
    const std::size_t slash = target.rfind('/');
    if (slash != std::string::npos)
        target.resize(slash + 1);
}

std::string AbsolutePath(const std::string& path, const std::string& cwd) {
    if (path.starts_with('/'))
        return path;
    return (std::filesystem::path(cwd) / path).lexically_normal().string();
}

std::string PickerStartFolder(const std::string& fieldPath) {
    const std::string given = CollapseSlashes(fieldPath);
    if (given.empty() || given[0] != '/')
        return {};
    if (IsFolder(given))
        return given.back() == '/' ? given : given + "/";
    std::string path = given;
    // Each round drops the last name: "/a/b/c" gives "/a/b/", then "/a/".
    while (path.size() > 1) {
        if (path.back() == '/')
            path.pop_back();
        path.resize(path.rfind('/') + 1);
        if (path.size() > 1 && IsFolder(path))
            return path;
    }
    // Only the file's own folder may be the root itself.
    return given.rfind('/') == 0 ? "/" : "";
}

} // namespace tbx
