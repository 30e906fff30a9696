#include "build/progress_line.h"

#include "res/strings.h"

#include <charconv>

namespace tbx {
namespace {

// Reads a decimal count from the front of text; at least one digit, and no
// sign or blank, so that nothing but a count the tool printed passes.
std::optional<std::uint64_t> TakeCount(std::string_view& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

} // namespace

std::optional<ProgressLine> ParseProgressLine(std::string_view line) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    ProgressLine progress;
    if (TakePrefix(line, "files read: ")) {
        const auto count = TakeCount(line);
        if (!count || !line.empty())
            return std::nullopt;
        progress.done = *count;
        return progress;
    }
    if (TakePrefix(line, "files compressed: "))
        progress.kind = ProgressKind::FilesCompressed;
    else if (TakePrefix(line, "files extracted: "))
        progress.kind = ProgressKind::FilesExtracted;
    else
        return std::nullopt;
    const auto done = TakeCount(line);
    if (!done || !TakePrefix(line, " of "))
        return std::nullopt;
    const auto total = TakeCount(line);
    if (!total || !line.empty() || *done > *total)
        return std::nullopt;
    progress.done = *done;
    progress.total = *total;
    return progress;
}

std::string ProgressText(const ProgressLine& progress) {
    const int id = progress.kind == ProgressKind::FilesRead         ? kMsgProgressRead
                   : progress.kind == ProgressKind::FilesCompressed ? kMsgProgressCompressed
                                                                    : kMsgProgressExtracted;
    return FillString(id, {std::to_string(progress.done), std::to_string(progress.total)});
}

} // namespace tbx
