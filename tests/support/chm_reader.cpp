#include "support/chm_reader.h"

#include <chm_lib.h>
#include <memory>

namespace tbx::test {
namespace {

struct ChmCloser {
    void operator()(chmFile* file) const { chm_close(file); }
};
using ChmHandle = std::unique_ptr<chmFile, ChmCloser>;

int CollectName(chmFile*, chmUnitInfo* unit, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(unit->path);
    return CHM_ENUMERATOR_CONTINUE;
}

} // namespace

std::vector<std::optional<std::string>> ReadChmObjects(const std::string& chmPath,
                                                       const std::vector<std::string>& names) {
    std::vector<std::optional<std::string>> objects(names.size());
    const ChmHandle help(chm_open(chmPath.c_str()));
    for (std::size_t i = 0; help && i < names.size(); ++i) {
        chmUnitInfo unit{};
        if (chm_resolve_object(help.get(), names[i].c_str(), &unit) != CHM_RESOLVE_SUCCESS)
            continue;
        std::string bytes(static_cast<std::size_t>(unit.length), '\0');
        const LONGINT64 got = chm_retrieve_object(
            help.get(), &unit, reinterpret_cast<unsigned char*>(bytes.data()), 0, unit.length);
        if (got == static_cast<LONGINT64>(unit.length))
            objects[i] = std::move(bytes);
    }
    return objects;
}

std::optional<std::string> ReadChmObject(const std::string& chmPath, const std::string& name) {
    return ReadChmObjects(chmPath, {name})[0];
}

std::vector<std::string> ChmObjectNames(const std::string& chmPath) {
    std::vector<std::string> names;
    const ChmHandle help(chm_open(chmPath.c_str()));
    if (help)
        chm_enumerate(help.get(), CHM_ENUMERATE_ALL, CollectName, &names);
    return names;
}

} // namespace tbx::test
