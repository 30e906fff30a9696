// The progress lines the tools print: any bytes in, progress or nothing out.
#include "build/progress_line.h"

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
    return 0;
}
