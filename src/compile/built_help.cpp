#include "compile/built_help.h"

#include "chm/internal_files.h"
#include "chm/little_endian.h"
#include "chm/reader.h"
#include "compile/help_project.h"
#include "text/charset.h"
#include "text/language.h"

#include <vector>

namespace tbx {
namespace {

// #SYSTEM is a few hundred bytes; anything far larger is no record list.
constexpr std::uint64_t kMaxSystemSize = 1 << 20;

// A text record without its terminating zero.
std::string RecordText(std::string_view data) {
    return std::string(data.substr(0, data.find('\0')));
}

} // namespace

std::optional<BuiltHelp> ReadBuiltHelp(const std::string& path) {
    std::string error;
    const auto file = chm::ChmFile::Open(path, error);
    if (!file)
        return std::nullopt;
    const auto index = file->Find("/#SYSTEM");
    if (!index)
        return std::nullopt;
    const chm::ChmEntry entry = file->Entry(*index);
    if (entry.length < 4 || entry.length > kMaxSystemSize)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(entry.length);
    chm::ChmCursor cursor(*file);
    if (!cursor.Read(entry, 0, bytes).empty())
        return std::nullopt;
    const std::string_view system(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    BuiltHelp found;
    for (const chm::SystemRecord& record : chm::ReadSystemRecords(system)) {
        if (record.code == chm::kSystemDefaultTopic)
            found.defaultTopic = RecordText(record.data);
        else if (record.code == chm::kSystemTitle)
            found.title = RecordText(record.data);
        else if (record.code == chm::kSystemSettings && record.data.size() >= 4)
            found.language =
                chm::GetLe32(reinterpret_cast<const std::uint8_t*>(record.data.data()));
    }
    return found;
}

bool BuiltFromSamePage(const BuiltHelp& found, std::string_view pageFile, std::string_view title) {
    // Compared as hhc stores them: the caption the project gives the title,
    // both in the code page of the help file's language.
    const int codePage = text::AnsiCodePage(found.language);
    const auto stored = [&](std::string_view utf8) {
        return text::Encode(utf8, codePage, text::Unmappable::Nearest);
    };
    return found.defaultTopic == stored(pageFile) && found.title == stored(CaptionText(title));
}

} // namespace tbx
