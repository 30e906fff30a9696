// The #SYSTEM records of arbitrary bytes: every record lies inside them,
// one after the other, as the lengths say.

#include "chm/internal_files.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view system(reinterpret_cast<const char*>(data), size);
    std::size_t at = 4;
    for (const tbx::chm::SystemRecord& record : tbx::chm::ReadSystemRecords(system)) {
        if (record.data.data() != system.data() + at + 4 || at + 4 + record.data.size() > size)
            std::abort();
        at += 4 + record.data.size();
    }
    return 0;
}
