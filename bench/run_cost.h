#pragma once
// What the benchmarks share beside the generated site: a fresh temporary
// folder, and what one run of a program costs.

#include "platform/process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace tbx::bench {

// A new folder in the temporary folder; the caller removes it.
inline std::filesystem::path MakeTempRoot() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tomebox-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp");
    return pattern;
}

// What one run of a program cost; ok is false when it failed.
struct RunCost {
    bool ok = false;
    double wallS = 0;
    double cpuS = 0;   // user and system time
    double peakMb = 0; // peak resident size
};

// Runs program hidden, its output dropped, and waits for it.
inline RunCost Run(const std::string& program, const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const pid_t pid = SpawnHidden(program, args, -1, error);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return {};
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, wall.count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss / 1024.0};
}

} // namespace tbx::bench
