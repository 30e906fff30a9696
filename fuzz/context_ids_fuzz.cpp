// The context-id reader on arbitrary lines: those before a line "[MAP]"
// taken as [ALIAS], the rest as [MAP].

#include "site/context_ids.h"

#include <cstdint>
#include <cstdlib>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> alias, map;
    bool inMap = false;
    for (std::size_t at = 0; at <= bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        const std::string line(bytes.substr(at, end - at));
        if (line == "[MAP]")
            inMap = true;
        else
            (inMap ? map : alias).push_back(line);
        at = end + 1;
    }
    const tbx::site::ContextIds read = tbx::site::ReadContextIds(alias, map);
    // Each name once, with a file, and "\" read as "/".
    std::set<std::string> names;
    for (const tbx::site::ContextId& id : read.ids) {
        if (!names.insert(id.name).second || id.name.empty() || id.target.empty() ||
            id.target.find('\\') != std::string::npos)
            std::abort();
    }
    return 0;
}
