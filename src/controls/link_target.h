#pragma once
// The rules behind a hyperlink label: its target, its tooltip, how it is
// opened (the desktop's opener, then the web browser) and how a failure reads.

#include <string>

namespace tbx {

class IShell;

// A label's target when none was set: its text, with "http://" put in front
// of a text that starts with "www." (in any case).
std::string LinkTargetFromText(const std::string& text);

// "Go to " for an http:// target and "E-mail " for a mailto: one, followed by
// the rest of the target; any other target (or prefix off) is its own tip.
std::string BuildTipText(const std::string& target, bool prefix = true);

// The web browser's command cut at its first field code ("%u", "%f", ...),
// or at the quote that opens a quoted one; the whole command when it has none.
std::string HandlerCommandPrefix(const std::string& command);

// Opens target with the desktop's opener; when that fails, with the web
// browser's command and the target as its last argument. Waits for the
// opener's verdict however long it takes, so call it off the interface
// thread. A launch result: above 32 is success.
int OpenTarget(IShell& shell, const std::string& target);

// The message for a failed launch: "Unable to open hyperlink:", a blank
// line, and the text for the result code.
std::string LaunchErrorText(int code);

} // namespace tbx
