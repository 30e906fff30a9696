// The lines the tools print, as the jobs read them: any bytes in, a parsed
// line or nothing out, and what parses prints back the same.
#include "protocol/tool_output.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    if (const auto progress = tbx::ParseProgressLine(line)) {
        // A parsed count never claims more done than there is to do.
        if (progress->kind != tbx::ProgressKind::FilesRead && progress->done > progress->total)
            __builtin_trap();
        (void)tbx::ProgressText(*progress);
    }
    if (const auto unfollowed = tbx::ParseUnfollowedLine(line)) {
        // Fields longer than the printed limit come back cut, but still parse.
        const std::string again = tbx::FormatUnfollowedLine(*unfollowed);
        const auto reread = tbx::ParseUnfollowedLine(again);
        const bool cut = unfollowed->link.size() > 1000 || unfollowed->page.size() > 1000 ||
                         unfollowed->why.size() > 1000;
        if (again.find('\n') != std::string::npos || !reread || (!cut && reread != unfollowed))
            __builtin_trap();
        (void)tbx::UnfollowedReasonText(unfollowed->why);
    }
    if (const auto summary = tbx::ParseSummaryLine(line))
        (void)tbx::FormatSummaryLine(*summary);
    return 0;
}
