#pragma once
// The context ids of a help project: the numbers [MAP] gives names, and the
// files [ALIAS] gives the same names, so that an application asking for an
// id (F1 help) opens its topic.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::site {

struct ContextId {
    std::string name;
    std::uint32_t id = 0;
    std::string target; // the file as [ALIAS] names it, with "/" for "\"
};

struct ContextIds {
    std::vector<ContextId> ids;        // in the order [MAP] lists them
    std::vector<std::string> warnings; // lines not read, names defined twice, ids without a file
};

// [MAP] lines "#define NAME value" or "NAME=value" (decimal or 0x hex, C
// and C++ comments allowed, as in a C header), [ALIAS] lines "NAME=file".
// Other preprocessor lines (include guards, #ifdef) are skipped; any other
// line is named in a warning. A name given twice keeps its first value.
ContextIds ReadContextIds(const std::vector<std::string>& aliasLines,
                          const std::vector<std::string>& mapLines);

// A number as C writes it: decimal or 0x hex, maybe in parentheses or with
// an integer suffix (100L); nothing past 32 bits, nothing negative.
std::optional<std::uint32_t> CNumber(std::string_view text);

// The warning for an id whose file is not stored in the help file.
std::string TargetNotInHelpFile(const ContextId& id);

} // namespace tbx::site
