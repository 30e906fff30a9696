#include "platform/instance_lock.h"

#include "platform/temp_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {
namespace {

enum class Outcome { Held, HeldElsewhere, Unusable };

// Tries the lock file in one folder; the descriptor is set when held.
Outcome TryFolder(const std::string& folder, int& fd) {
    // A folder someone else may write into could hold a lock of theirs, or
    // a link planted under the lock's name.
    if (!IsPrivateFolder(folder))
        return Outcome::Unusable;
    const std::string path = folder + "/" + kInstanceLockName;
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0)
        return Outcome::Unusable;
    if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
        fd = file;
        return Outcome::Held;
    }
    const int err = errno;
    ::close(file);
    return err == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Unusable;
}

} // namespace

InstanceLock::InstanceLock(std::vector<std::string> folders) : folders_(std::move(folders)) {}

InstanceLock::InstanceLock(std::string folder) : folders_{std::move(folder)} {}

InstanceLock::~InstanceLock() {
    Release();
}

bool InstanceLock::Acquire() {
    if (fd_ >= 0)
        return true;
    for (const std::string& folder : folders_) {
        switch (TryFolder(folder, fd_)) {
        case Outcome::Held:
            folder_ = folder;
            return true;
        case Outcome::HeldElsewhere:
            folder_ = folder;
            return false;
        case Outcome::Unusable:
            break;
        }
    }
    return true;
}

void InstanceLock::Release() {
    if (fd_ < 0)
        return;
    ::close(fd_); // closing drops the lock
    fd_ = -1;
    folder_.clear();
}

std::vector<std::string> InstanceLock::DefaultFolders() {
    std::vector<std::string> folders;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        folders.emplace_back(runtime);
    // Made only when the runtime folder cannot serve (missing after su, or
    // another user's): a private folder per user, never one someone else made.
    if (folders.empty() || !IsPrivateFolder(folders.front()) ||
        ::access(folders.front().c_str(), W_OK) != 0) {
        const std::string perUser = "/tmp/tomebox-" + std::to_string(::geteuid());
        MakePrivateFolder(perUser);
        folders.push_back(perUser);
    }
    return folders;
}

} // namespace tbx
