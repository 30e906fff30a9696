#include "platform/registry.h"

#include "platform/files.h"
#include "platform/temp_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {
namespace {

namespace fs = std::filesystem;

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

// Prefix of the hidden folder in which a key's new contents are built.
constexpr std::string_view kKeyFolderPrefix = ".key-";

// The new contents of one key, built in a hidden folder beside it and then
// put in its place in one step. The folder goes away unless it was moved.
class StagedKey {
public:
    StagedKey() = default;
    StagedKey(const StagedKey&) = delete;
    StagedKey& operator=(const StagedKey&) = delete;
    ~StagedKey() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }

    // A copy of the key (when copyKey) with the values written over it.
    long Build(const fs::path& dir, bool copyKey,
               const std::vector<std::pair<std::string, std::string>>& values,
               std::string& failedValue) {
        const fs::path parent = dir.parent_path();
        std::error_code ec;
        fs::create_directories(parent, ec);
        // What a killed writer left beside the key goes first.
        RemoveStaleTemporaries(parent.string(), kKeyFolderPrefix);
        path_ = CreateTempFolder(parent.string(), kKeyFolderPrefix);
        if (path_.empty())
            return ErrnoToResult(errno);
        struct stat st;
        const mode_t mode = copyKey && ::stat(dir.c_str(), &st) == 0 ? st.st_mode & 07777 : 0755;
        if (copyKey && !CopyKeyContents(dir, path_))
            return kErrorWriteFault;
        for (const auto& [name, text] : values) {
            if (!IsValidValueName(name)) {
                failedValue = name;
                return kErrorInvalidParameter;
            }
            const fs::path value = fs::path(path_) / name;
            // A value copied from the key is replaced; a sub-key of that name is not.
            if (::unlink(value.c_str()) != 0 && errno != ENOENT) {
                failedValue = name;
                return ErrnoToResult(errno);
            }
            if (!WriteNewFile(value.string(), text).empty()) {
                failedValue = name;
                return kErrorAccessDenied;
            }
        }
        ::chmod(path_.c_str(), mode);
        return kErrorSuccess;
    }

    // For a key that does not exist yet.
    long MoveInto(const fs::path& dir) {
        bool targetExists = false;
        if (!MoveFileNoReplace(path_, dir.string(), targetExists).empty())
            return targetExists ? kErrorAccessDenied : kErrorWriteFault;
        path_.clear();
        return kErrorSuccess;
    }

    // For an existing key: the two swap names, and the old contents go.
    long Exchange(const fs::path& dir) {
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) == 0)
            return kErrorSuccess;
        if (errno != EINVAL && errno != ENOSYS)
            return ErrnoToResult(errno);
        // A file system that cannot swap two names (NFS): move the old key
        // aside, then the new one in, and put the old one back on failure.
        const std::string old = CreateTempFolder(dir.parent_path().string(), kKeyFolderPrefix);
        if (old.empty() || ::rename(dir.c_str(), old.c_str()) != 0) {
            const long result = ErrnoToResult(errno);
            if (!old.empty())
                ::rmdir(old.c_str());
            return result;
        }
        if (::rename(path_.c_str(), dir.c_str()) != 0) {
            const long result = ErrnoToResult(errno);
            ::rename(old.c_str(), dir.c_str());
            return result;
        }
        path_ = old;
        return kErrorSuccess;
    }

private:
    // Every value and sub-key of the key; our own temporary files stay behind,
    // and so do pipes, sockets and devices, which hold no text.
    static bool CopyKeyContents(const fs::path& from, const fs::path& to) {
        std::error_code ec;
        for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (TempNameOwner(name, kTempFilePrefix) != 0)
                continue;
            const fs::file_status status = it->symlink_status(ec);
            if (ec)
                return false;
            if (fs::is_regular_file(status) || fs::is_directory(status) || fs::is_symlink(status))
                fs::copy(it->path(), to / name,
                         fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
            if (ec)
                return false;
        }
        return !ec;
    }

    std::string path_;
};

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
    const fs::path dir = hive.KeyDir(keyPath);
    if (dir.empty())
        return kErrorInvalidParameter;
    if (IsFolder(dir.string()))
        return kErrorAccessDenied;
    std::string failedValue;
    StagedKey staged;
    if (const long result = staged.Build(dir, false, values, failedValue); result != kErrorSuccess)
        return result;
    return staged.MoveInto(dir);
}

long RegSetValues(const RegHive& hive, std::string_view keyPath,
                  const std::vector<std::pair<std::string, std::string>>& values,
                  std::string& failedValue) {
    failedValue.clear();
    const fs::path dir = hive.KeyDir(keyPath);
    if (dir.empty())
        return kErrorInvalidParameter;
    const bool exists = IsFolder(dir.string());
    StagedKey staged;
    if (const long result = staged.Build(dir, exists, values, failedValue); result != kErrorSuccess)
        return result;
    return exists ? staged.Exchange(dir) : staged.MoveInto(dir);
}

void RegRemoveStaleTemporaries(const RegHive& hive, std::string_view keyPath) {
    const fs::path dir = hive.KeyDir(keyPath);
    if (dir.empty())
        return;
    RemoveStaleTemporaries(dir.string(), kTempFilePrefix);
    RemoveStaleTemporaries(dir.parent_path().string(), kKeyFolderPrefix);
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
    // A named pipe standing in for a value does not wait for a writer; the
    // text must leave room for the terminating zero.
    FileBytes file = ReadWholeFile((keyDir / std::string(name)).string(), bufferSize - 1);
    switch (file.failure) {
    case FileBytes::Failure::None:
        break;
    case FileBytes::Failure::NotAFile:
        return kErrorFileNotFound;
    case FileBytes::Failure::TooLarge:
        return kErrorMoreData;
    case FileBytes::Failure::Open:
    case FileBytes::Failure::Read:
        return ErrnoToResult(file.systemError);
    }
    text = std::move(file.bytes);
    return kErrorSuccess;
}

} // namespace tbx
