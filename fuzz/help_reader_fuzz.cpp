// The viewer's reader of a help file's navigation data on a whole file:
// opened from memory as a file, its #SYSTEM, windows and topics read, and
// the full-text index searched for whole words and prefixes.

#include "chm/help_reader.h"
#include "memory_file.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = tbx::fuzz::MemoryFile(data, size);
    if (fd < 0)
        return 0;
    std::string error;
    const std::unique_ptr<tbx::chm::ChmFile> file = tbx::chm::ChmFile::Open(fd, error);
    if (!file)
        return 0;
    tbx::chm::HelpReader reader(*file);
    reader.DefaultWindow();
    // Topics are read one by one on demand; a few thousand cover every
    // path through an entry.
    const std::size_t topics = std::min<std::size_t>(reader.TopicCount(), 4096);
    for (std::uint32_t i = 0; i < topics; ++i)
        reader.Topic(i);
    for (const char* query : {"колонна", "ц", "a", "filler12", "the help", "яяя"}) {
        for (const auto mode : {tbx::chm::SearchMode::WholeWord, tbx::chm::SearchMode::Prefix}) {
            const tbx::chm::SearchResults results = reader.Search(query, mode);
            for (const tbx::chm::SearchHit& hit : results.hits) {
                if (!reader.Topic(hit.topic))
                    __builtin_trap(); // a hit is always a topic one can open
            }
        }
    }
    return 0;
}
