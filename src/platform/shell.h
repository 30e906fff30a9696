#pragma once
// Opening a file, folder or address with the desktop's handler (xdg-open).

#include <string>

namespace tbx {

// Launch results in the usual numbering: above 32 is success.
inline constexpr int kLaunchOk = 42;
inline constexpr int kLaunchFileNotFound = 2;
inline constexpr int kLaunchPathNotFound = 3;
inline constexpr int kLaunchAccessDenied = 5;
inline constexpr int kLaunchOutOfMemory = 8;
inline constexpr int kLaunchNoAssociation = 31;

class IShell {
public:
    virtual ~IShell() = default;
    // Opens the target; returns a launch result.
    virtual int Open(const std::string& target) = 0;
};

// The desktop's opener: xdg-open started detached. When it ends quickly its
// exit status maps onto the launch results; when it keeps running, the
// launch counts as done.
class DesktopShell : public IShell {
public:
    int Open(const std::string& target) override;
};

} // namespace tbx
