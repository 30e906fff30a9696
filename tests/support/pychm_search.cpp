#include "support/pychm_search.h"

#include "platform/process.h"

#include <sstream>

namespace tbx::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Queries come in hexadecimal, so that any byte gets through.
constexpr const char* kSearchScript = R"(
import sys, chm.chm
help = chm.chm.CHMFile()
if not help.LoadCHM(sys.argv[1].encode()):
    sys.exit(2)
for query in sys.argv[2:]:
    result = help.Search(bytes.fromhex(query), 0)
    found = result[1] if result and result[1] else {}
    urls = sorted(set(u.decode('latin-1').replace('\\', '/').lstrip('/').lower()
                      for u in found.values()))
    print('\t'.join(urls))
)";

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

} // namespace

bool PychmAvailable() {
    return RunForOutput(kPython, {"-c", "import chm.chm; print('ok')"}) == "ok\n";
}

std::string RunPychmScript(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    return RunForOutput(kPython, all, std::size_t{1} << 20);
}

std::vector<std::set<std::string>> PychmSearch(const std::string& help,
                                               const std::vector<std::string>& queries) {
    std::vector<std::string> args = {help};
    for (const std::string& query : queries)
        args.push_back(Hex(query));
    std::istringstream lines(RunPychmScript(kSearchScript, args));
    std::vector<std::set<std::string>> found;
    for (std::string line; std::getline(lines, line);) {
        std::set<std::string>& pages = found.emplace_back();
        std::istringstream urls(line);
        for (std::string url; std::getline(urls, url, '\t');)
            if (!url.empty())
                pages.insert(url);
    }
    found.resize(queries.size());
    return found;
}

} // namespace tbx::test
