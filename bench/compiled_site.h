#pragma once
// The generated benchmark site (generated_site.h) compiled once by our hhc
// in a temporary folder: the help file the reading benchmarks share.
// TOMEBOX_TOOLS_DIR names the folder that holds hhc.

#include "run_cost.h"
#include "support/generated_site.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tbx::bench {

class CompiledSite {
public:
    explicit CompiledSite(int pages) {
        namespace fs = std::filesystem;
        root_ = MakeTempRoot();
        MakeSite(root_ / "site", pages);
        chm_ = root_ / "site.chm";
        WriteText(root_ / "site/site.hhp",
                  "[OPTIONS]\r\nCompiled file=" + chm_.string() +
                      "\r\nDefault topic=index.htm\r\n\r\n[FILES]\r\nindex.htm\r\n");
        const ProcessOutcome run =
            RunProcess(TOMEBOX_TOOLS_DIR "/hhc", {(root_ / "site/site.hhp").string()});
        if (!run.started || run.exitCode != 0 || !fs::exists(chm_))
            throw std::runtime_error("hhc failed: " + run.errorOutput);
    }
    ~CompiledSite() { std::filesystem::remove_all(root_); }
    CompiledSite(const CompiledSite&) = delete;
    CompiledSite& operator=(const CompiledSite&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    const std::filesystem::path& Chm() const { return chm_; }

private:
    std::filesystem::path root_;
    std::filesystem::path chm_;
};

} // namespace tbx::bench
