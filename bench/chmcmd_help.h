#pragma once
// The generated benchmark site (generated_site.h) compiled once by chmcmd
// in a temporary folder: the help file the reading benchmarks share.

#include "generated_site.h"
#include "platform/process.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tbx::bench {

class ChmcmdHelpFile {
public:
    explicit ChmcmdHelpFile(int pages) {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "tomebox-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        root_ = pattern;
        MakeSite(root_ / "site", pages);
        chm_ = root_ / "site.chm";
        WriteText(root_ / "site/site.hhp",
                  "[OPTIONS]\r\nCompiled file=" + chm_.string() +
                      "\r\nDefault topic=index.htm\r\n\r\n[FILES]\r\nindex.htm\r\n");
        const fs::path before = fs::current_path();
        fs::current_path(root_ / "site");
        const ProcessOutcome run = RunProcess("chmcmd", {"--html-scan", "site.hhp"});
        fs::current_path(before);
        if (!run.started || run.exitCode != 0 || !fs::exists(chm_))
            throw std::runtime_error("chmcmd failed");
    }
    ~ChmcmdHelpFile() { std::filesystem::remove_all(root_); }
    ChmcmdHelpFile(const ChmcmdHelpFile&) = delete;
    ChmcmdHelpFile& operator=(const ChmcmdHelpFile&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    const std::filesystem::path& Chm() const { return chm_; }

private:
    std::filesystem::path root_;
    std::filesystem::path chm_;
};

} // namespace tbx::bench
