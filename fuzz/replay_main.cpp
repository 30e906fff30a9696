// Feeds every file below the folders named on the command line to the fuzz
// target once, so that a corpus found by fuzzing stays a test. Fails when
// no file was found, since an empty corpus would test nothing.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char* argv[]) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(argv[i], error), end; !error && it != end;
             it.increment(error))
            if (it->is_regular_file())
                files.push_back(it->path());
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no corpus files found\n");
        return 1;
    }
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // A null pointer for no bytes, as libFuzzer may pass.
        LLVMFuzzerTestOneInput(bytes.empty() ? nullptr
                                             : reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               bytes.size());
    }
    std::printf("%zu corpus files replayed\n", files.size());
    return 0;
}
