#pragma once
// A generated site for the benchmarks: a start page "index.htm" linking
// `pages` pages of about 20 KB in sub-folders of 200, each linking the next.

#include <filesystem>
#include <fstream>
#include <string>

namespace tbx::bench {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Returns the start page.
inline std::filesystem::path MakeSite(const std::filesystem::path& root, int pages) {
    std::string filler;
    while (filler.size() < 20000)
        filler += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>\n";
    std::string index = "<html><head><title>Site</title></head><body>\n";
    for (int i = 0; i < pages; ++i) {
        const std::string folder = "part" + std::to_string(i / 200);
        std::filesystem::create_directories(root / folder);
        const std::string name = folder + "/page" + std::to_string(i) + ".htm";
        WriteText(root / name, "<html><head><title>Page " + std::to_string(i) +
                                   "</title></head><body><a href=\"page" + std::to_string(i + 1) +
                                   ".htm\">next</a>\n" + filler + "</body></html>\n");
        index += "<a href=\"" + name + "\">" + name + "</a><br>\n";
    }
    WriteText(root / "index.htm", index + "</body></html>\n");
    return root / "index.htm";
}

} // namespace tbx::bench
