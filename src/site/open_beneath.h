#pragma once
// Opening a file below a folder so that nothing on the way leads out of it,
// whatever is swapped meanwhile: every name is looked up from the folder
// held before it, never from a path checked earlier.

#include <string>

namespace tbx::site {

enum class Lookup {
    Best,       // openat2 with RESOLVE_BENEATH where the kernel has it
    NameByName, // one name at a time with O_NOFOLLOW, as on older kernels
};

struct Beneath {
    enum class Status {
        Opened,   // fd is the file, open for reading
        NotAFile, // a folder, pipe, device or socket: not opened
        Outside,  // a symbolic link on the way leads out of the folder
        Changed,  // a link appeared on the way while it was looked up
        Failed,   // error is the errno value
    };
    Status status = Status::Failed;
    int fd = -1;
    int error = 0;
};

// Opens relative ("dir/page.htm": no "." or ".." and no leading "/") below
// the folder open as rootFd, whose real path is rootReal. A symbolic link on
// the way is followed only to where it leads inside the folder.
Beneath OpenBeneath(int rootFd, const std::string& rootReal, const std::string& relative,
                    Lookup lookup = Lookup::Best);

} // namespace tbx::site
