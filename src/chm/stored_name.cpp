#include "chm/stored_name.h"

namespace tbx::chm {

StoredName ClassifyStoredName(std::string_view name) {
    StoredName stored;
    if (name.starts_with("::"))
        return {NameKind::Internal, {}};
    if (!name.starts_with('/'))
        return stored;
    name.remove_prefix(1);
    const bool folder = name.empty() || name.ends_with('/');
    if (folder && !name.empty())
        name.remove_suffix(1);
    while (!name.empty()) {
        const std::size_t slash = name.find('/');
        const std::string_view part = name.substr(0, slash);
        // An empty part would make the rest absolute; "." and ".." climb.
        if (part.empty() || part == "." || part == "..")
            return {NameKind::Refused, {}};
        stored.parts.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        name.remove_prefix(slash + 1);
        // "a/" inside a name leaves an empty last part.
        if (name.empty())
            return {NameKind::Refused, {}};
    }
    if (!stored.parts.empty() &&
        (stored.parts[0].starts_with('#') || stored.parts[0].starts_with('$')))
        return {NameKind::Internal, {}};
    stored.kind = folder ? NameKind::Folder : NameKind::File;
    return stored;
}

} // namespace tbx::chm
