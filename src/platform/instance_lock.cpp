#include "platform/instance_lock.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tbx {

InstanceLock::InstanceLock(std::string folder) : folder_(std::move(folder)) {}

InstanceLock::~InstanceLock() {
    Release();
}

bool InstanceLock::Acquire() {
    if (fd_ >= 0)
        return true;
    const std::string path = folder_ + "/" + kInstanceLockName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void InstanceLock::Release() {
    if (fd_ < 0)
        return;
    ::close(fd_); // closing drops the lock
    fd_ = -1;
}

std::string InstanceLock::DefaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return runtime;
    // A private folder per user, so another user cannot hold our lock; one
    // that someone else made is not used.
    const std::string folder = "/tmp/tomebox-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
    struct stat st;
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
        return folder;
    const char* home = std::getenv("HOME");
    return home && home[0] == '/' ? home : "/tmp";
}

} // namespace tbx
