#pragma once
// One running copy per user: an exclusive, non-blocking flock on a lock file.
// The kernel drops it when the process dies, so a crash never blocks a start.

#include <string>

namespace tbx {

inline constexpr const char* kInstanceLockName = "{FC534CF2-C497-52C3-A180-1210F527CC3E}.lock";

class InstanceLock {
public:
    // folder: where the lock file lives; DefaultFolder() in the program.
    explicit InstanceLock(std::string folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now holds the lock; false when another copy does
    // (or the lock file cannot be made).
    bool Acquire();
    void Release();

    // $XDG_RUNTIME_DIR, or a per-user folder under /tmp.
    static std::string DefaultFolder();

private:
    std::string folder_;
    int fd_ = -1;
};

} // namespace tbx
