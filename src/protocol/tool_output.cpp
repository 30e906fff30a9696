#include "protocol/tool_output.h"

#include "platform/messages.h"
#include "res/strings.h"

#include <charconv>
#include <cstdio>
#include <cstring>

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

// Longest text of one field: keeps every line well below what the jobs read
// as one line (4 KiB), whatever a page holds.
constexpr std::size_t kFieldLimit = 1000;

// The field with backslash, the quote and control bytes escaped, cut to
// kFieldLimit bytes of escaped text on a character boundary.
std::string Escape(std::string_view text, bool quoted) {
    std::string out;
    std::size_t whole = 0; // of out, up to the last whole character
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool continuation = (byte & 0xC0) == 0x80;
        char piece[5] = {c, '\0'};
        if (c == '\\' || (quoted && c == '"')) {
            piece[0] = '\\';
            piece[1] = c;
            piece[2] = '\0';
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(piece, sizeof piece, "\\x%02X", byte);
        }
        const std::size_t size = std::strlen(piece);
        if (out.size() + size > kFieldLimit) {
            out.resize(continuation ? whole : out.size());
            break;
        }
        if (!continuation)
            whole = out.size();
        out.append(piece, size);
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Undoes Escape up to the end of text, or up to an unescaped quote when
// quoted (which is then taken too). Nothing when the escapes are not the
// ones Escape writes, or a quoted field does not end.
std::optional<std::string> Unescape(std::string_view& text, bool quoted) {
    std::string out;
    while (!text.empty()) {
        const char c = text.front();
        text.remove_prefix(1);
        if (quoted && c == '"')
            return out;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (text.empty())
            return std::nullopt;
        const char next = text.front();
        text.remove_prefix(1);
        if (next == '\\' || (quoted && next == '"')) {
            out += next;
        } else if (next == 'x' && text.size() >= 2 && HexDigit(text[0]) >= 0 &&
                   HexDigit(text[1]) >= 0) {
            out += static_cast<char>(HexDigit(text[0]) * 16 + HexDigit(text[1]));
            text.remove_prefix(2);
        } else {
            return std::nullopt;
        }
    }
    if (quoted)
        return std::nullopt;
    return out;
}

} // namespace

std::string FormatProgressLine(const ProgressLine& progress) {
    if (progress.kind == ProgressKind::FilesRead)
        return "files read: " + std::to_string(progress.done);
    return (progress.kind == ProgressKind::FilesCompressed ? "files compressed: "
                                                           : "files extracted: ") +
           std::to_string(progress.done) + " of " + std::to_string(progress.total);
}

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

std::string ProgressMessage(const ProgressLine& progress) {
    if (progress.kind == ProgressKind::FilesRead)
        return Format(Tr("files read: %llu"), static_cast<unsigned long long>(progress.done));
    return Format(progress.kind == ProgressKind::FilesCompressed
                      ? Tr("files compressed: %llu of %llu")
                      : Tr("files extracted: %llu of %llu"),
                  static_cast<unsigned long long>(progress.done),
                  static_cast<unsigned long long>(progress.total));
}

namespace {

constexpr std::string_view kUnfollowed = "not followed: \"";

// The walk's reasons as the compiler words them, and their Russian texts.
// The English words are also the messages' ids for the command line.
struct Reason {
    const char* english;
    int russian;
};
constexpr Reason kReasons[] = {
    {N_("leaves the site folder"), kMsgReasonOutsideRoot},
    {N_("is a symbolic link to outside the site folder"), kMsgReasonLinkOutsideRoot},
    {N_("is not a regular file"), kMsgReasonNotAFile},
    // Before "does not exist", which it starts with.
    {N_("does not exist, with its backslashes read as \"/\""), kMsgReasonBackslash},
    {N_("does not exist"), kMsgReasonMissing},
    {N_("has a name or path longer than the system takes"), kMsgReasonTooLong},
    {N_("is in a folder that cannot be entered"), kMsgReasonUnenterable},
    {N_("cannot be read"), kMsgReasonUnreadable},
    {N_("differs only in letter case from a file already taken"), kMsgReasonNameClash},
    {N_("is the help file being written"), kMsgReasonHelpFile},
    {N_("is a Windows drive path"), kMsgReasonDrivePath},
    {N_("has a name the help file keeps for its own data"), kMsgReasonReservedName},
};

// The known reason why starts with, or nothing.
const Reason* FindReason(std::string_view why) {
    for (const Reason& reason : kReasons) {
        if (why.starts_with(reason.english))
            return &reason;
    }
    return nullptr;
}

} // namespace

std::string EscapeForLine(std::string_view text) {
    return Escape(text, false);
}

std::string FormatUnfollowedLine(const UnfollowedLink& unfollowed) {
    std::string line = std::string(kUnfollowed) + Escape(unfollowed.link, true) + "\"";
    if (!unfollowed.page.empty())
        line += " in \"" + Escape(unfollowed.page, true) + "\"";
    return line + ": " + Escape(unfollowed.why, false);
}

std::optional<UnfollowedLink> ParseUnfollowedLine(std::string_view line) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    if (!TakePrefix(line, kUnfollowed))
        return std::nullopt;
    UnfollowedLink unfollowed;
    auto link = Unescape(line, true);
    if (!link)
        return std::nullopt;
    unfollowed.link = std::move(*link);
    if (TakePrefix(line, " in \"")) {
        auto page = Unescape(line, true);
        if (!page || page->empty())
            return std::nullopt;
        unfollowed.page = std::move(*page);
    }
    if (!TakePrefix(line, ": "))
        return std::nullopt;
    auto why = Unescape(line, false);
    if (!why || why->empty())
        return std::nullopt;
    unfollowed.why = std::move(*why);
    return unfollowed;
}

std::string UnfollowedReasonText(std::string_view why) {
    const auto* reason = FindReason(why);
    if (!reason)
        return std::string(why);
    return LoadString(reason->russian) + std::string(why.substr(std::strlen(reason->english)));
}

std::string ReasonMessage(std::string_view why) {
    const Reason* reason = FindReason(why);
    if (!reason)
        return std::string(why);
    return Tr(reason->english) + std::string(why.substr(std::strlen(reason->english)));
}

std::string UnfollowedMessage(const UnfollowedLink& unfollowed) {
    const std::string why = ReasonMessage(unfollowed.why);
    if (unfollowed.page.empty())
        return Format(Tr("not followed: \"%s\": %s"), unfollowed.link, why);
    return Format(Tr("not followed: \"%s\" on %s: %s"), unfollowed.link, unfollowed.page, why);
}

std::string FormatSummaryLine(const CompileSummary& summary) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", summary.seconds);
    return "compiled: " + std::to_string(summary.files) + " files, " +
           std::to_string(summary.bytesIn) + " bytes in, " + std::to_string(summary.bytesOut) +
           " bytes out, " + seconds + " s";
}

std::string SummaryMessage(const CompileSummary& summary) {
    const auto files = static_cast<unsigned long long>(summary.files);
    return Format(TrN("compiled: %llu file, %llu bytes in, %llu bytes out, %.2f s",
                      "compiled: %llu files, %llu bytes in, %llu bytes out, %.2f s",
                      static_cast<unsigned long>(summary.files)),
                  files, static_cast<unsigned long long>(summary.bytesIn),
                  static_cast<unsigned long long>(summary.bytesOut), summary.seconds);
}

std::optional<CompileSummary> ParseSummaryLine(std::string_view line) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    CompileSummary summary;
    const auto count = [&](std::uint64_t& value, std::string_view after) {
        const auto taken = TakeCount(line);
        if (!taken || !TakePrefix(line, after))
            return false;
        value = *taken;
        return true;
    };
    if (!TakePrefix(line, "compiled: ") || !count(summary.files, " files, ") ||
        !count(summary.bytesIn, " bytes in, ") || !count(summary.bytesOut, " bytes out, "))
        return std::nullopt;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(),
                                              summary.seconds, std::chars_format::fixed);
    if (error != std::errc() || end == line.data() || summary.seconds < 0)
        return std::nullopt;
    line.remove_prefix(static_cast<std::size_t>(end - line.data()));
    if (line != " s")
        return std::nullopt;
    return summary;
}

} // namespace tbx
