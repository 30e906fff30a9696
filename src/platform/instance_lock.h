#pragma once
// One running copy per user: an exclusive, non-blocking flock on a lock file.
// The kernel drops it when the process dies, so a crash never blocks a start.

#include <string>
#include <vector>

namespace tbx {

inline constexpr const char* kInstanceLockName = "{FC534CF2-C497-52C3-A180-1210F527CC3E}.lock";

class InstanceLock {
public:
    // folders: where the lock file may live, tried in order; DefaultFolders()
    // in the program.
    explicit InstanceLock(std::vector<std::string> folders);
    explicit InstanceLock(std::string folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another copy holds the lock. A folder that cannot
    // hold it (missing, not ours alone, not writable) is passed over; when no
    // folder can, the program runs unguarded: true, and Held() stays false.
    bool Acquire();
    bool Held() const { return fd_ >= 0; }
    void Release();
    // The folder of the lock this copy holds, or of the one another copy
    // holds when Acquire returned false; empty when no folder could hold it.
    // The running copy listens beside its lock for the files later starts
    // hand over.
    const std::string& Folder() const { return folder_; }

    // $XDG_RUNTIME_DIR, then the per-user folder /tmp/tomebox-<uid>.
    static std::vector<std::string> DefaultFolders();

private:
    std::vector<std::string> folders_;
    int fd_ = -1;
    std::string folder_;
};

} // namespace tbx
