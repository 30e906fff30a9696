#include "platform/registry.h"

#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {
namespace {

// A value name must stay a plain file name inside its key and must not look
// like the hidden temporary files of an atomic write.
bool IsValidValueName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

long ErrnoToResult(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return kErrorAccessDenied;
    default:
        return kErrorWriteFault;
    }
}

} // namespace

std::filesystem::path RegHive::DefaultRoot() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && home[0] ? home : "/tmp") / ".config";
    }
    return base / "Tomebox" / "registry";
}

std::filesystem::path RegHive::KeyDir(std::string_view keyPath) const {
    std::filesystem::path dir = root_;
    std::size_t start = 0;
    while (start <= keyPath.size()) {
        std::size_t end = keyPath.find('/', start);
        if (end == std::string_view::npos)
            end = keyPath.size();
        const std::string_view part = keyPath.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." ||
            part.find('\0') != std::string_view::npos)
            return {};
        dir /= std::string(part);
        start = end + 1;
    }
    return dir;
}

long RegOpenKey(const RegHive& hive, std::string_view keyPath, std::filesystem::path& keyDir) {
    const std::filesystem::path dir = hive.KeyDir(keyPath);
    if (dir.empty())
        return kErrorInvalidParameter;
    if (!IsFolder(dir.string()))
        return kErrorFileNotFound;
    keyDir = dir;
    return kErrorSuccess;
}

long RegCreateKey(const RegHive& hive, std::string_view keyPath, std::filesystem::path& keyDir) {
    const std::filesystem::path dir = hive.KeyDir(keyPath);
    if (dir.empty())
        return kErrorInvalidParameter;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!IsFolder(dir.string()))
        return ec ? ErrnoToResult(ec.value()) : kErrorFileNotFound;
    keyDir = dir;
    return kErrorSuccess;
}

long RegCreateKeyWithValues(const RegHive& hive, std::string_view keyPath,
                            const std::vector<std::pair<std::string, std::string>>& values) {
    const std::filesystem::path dir = hive.KeyDir(keyPath);
    if (dir.empty())
        return kErrorInvalidParameter;
    if (IsFolder(dir.string()))
        return kErrorAccessDenied;
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    // Build the key under a hidden name beside it, then rename it into place.
    std::string temp = (dir.parent_path() / ".key-XXXXXX").string();
    if (!::mkdtemp(temp.data()))
        return ErrnoToResult(errno);
    ::chmod(temp.c_str(), 0755);
    long result = kErrorSuccess;
    for (const auto& [name, text] : values) {
        if (!IsValidValueName(name) ||
            !WriteNewFile((std::filesystem::path(temp) / name).string(), text).empty()) {
            result = kErrorWriteFault;
            break;
        }
    }
    if (result == kErrorSuccess && ::rename(temp.c_str(), dir.c_str()) != 0)
        result = ErrnoToResult(errno);
    if (result != kErrorSuccess)
        std::filesystem::remove_all(temp, ec);
    return result;
}

long RegSetValue(const std::filesystem::path& keyDir, std::string_view name,
                 std::string_view text) {
    if (!IsValidValueName(name))
        return kErrorInvalidParameter;
    const std::string error = WriteFileAtomically((keyDir / std::string(name)).string(), text);
    return error.empty() ? kErrorSuccess : kErrorAccessDenied;
}

long RegQueryValue(const std::filesystem::path& keyDir, std::string_view name,
                   std::size_t bufferSize, std::string& text) {
    text.clear();
    if (!IsValidValueName(name) || bufferSize == 0)
        return kErrorInvalidParameter;
    const std::string path = (keyDir / std::string(name)).string();
    // Not blocking: a named pipe standing in for a value must not wait for
    // a writer. Only a regular file is read, never more than the buffer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return ErrnoToResult(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kErrorFileNotFound;
    }
    // Read one byte more than the text may have, to see whether it fits.
    std::string buffer(bufferSize, '\0');
    std::size_t got = 0;
    long result = kErrorSuccess;
    while (got < bufferSize) {
        const ssize_t n = ::read(fd, buffer.data() + got, bufferSize - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result = ErrnoToResult(errno);
            break;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (result != kErrorSuccess)
        return result;
    if (got >= bufferSize) // no room left for the terminating zero
        return kErrorMoreData;
    buffer.resize(got);
    text = std::move(buffer);
    return kErrorSuccess;
}

} // namespace tbx
