// The project reader on arbitrary project text, and the window-definition
// parser on the same bytes as one [WINDOWS] value.

#include "site/project.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const tbx::site::ProjectResult read = tbx::site::ParseProject(bytes, "/fuzz/help.hhp");
    // What a project that was read promises the later stages.
    if (read.Ok() &&
        (!read.project.siteRoot.ends_with('/') || !read.project.defaultTopic.starts_with('/') ||
         !read.project.compiledFile.starts_with('/')))
        std::abort();
    // The parser keeps the window's name, which the [WINDOWS] key gives.
    tbx::chm::HelpWindow window;
    window.name.assign(1, 'w');
    if (tbx::site::ParseWindowDefinition(bytes, window).empty() && window.name != "w")
        std::abort();
    return 0;
}
