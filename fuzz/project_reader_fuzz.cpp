// The project reader on arbitrary project text, and the window-definition
// parser on the same bytes as one [WINDOWS] value.

#include "site/project.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const tbx::site::ProjectResult read = tbx::site::ParseProject(bytes, "/fuzz/help.hhp");
    // What a project that was read promises the later stages.
    // With no start page the walk starts from the first of [FILES].
    const tbx::site::Project& p = read.project;
    const bool start = p.defaultTopic.empty() ? !p.files.empty() && p.files[0].starts_with('/')
                                              : p.defaultTopic.starts_with('/');
    if (read.Ok() && (!p.siteRoot.ends_with('/') || !start || !p.compiledFile.starts_with('/')))
        std::abort();
    // The parser keeps the window's name, which the [WINDOWS] key gives.
    tbx::chm::HelpWindow window;
    window.name.assign(1, 'w');
    if (tbx::site::ParseWindowDefinition(bytes, window).empty() && window.name != "w")
        std::abort();
    return 0;
}
