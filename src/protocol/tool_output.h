#pragma once
// The lines the help compiler (hhc) and the extractor (hh) print on standard
// output, in their exact forms: written by the tools, read back by the jobs,
// and shown in the log pane in Russian. Every form is one line; text inside
// a line is escaped so that no field can end it or take another's place.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tbx {

// hhc's lines, as its --help shows them.
inline constexpr std::string_view kCompilerLineForms =
    "  files read: N                        while the site is gathered\n"
    "  files compressed: K of M             while it is compressed\n"
    "  not followed: \"LINK\" in \"PAGE\": WHY  one for each link not followed\n"
    "  not followed: \"LINK\": WHY            the same for a file the project names,\n"
    "                                       or a file that cannot be stored\n"
    "  compiled: N files, B bytes in, C bytes out, S.SS s\n"
    "                                       once the help file is in place\n"
    "In LINK and PAGE a backslash, a double quote and a control character are\n"
    "written \\\\, \\\" and \\xHH; in WHY a backslash and a control character.\n";

enum class ProgressKind {
    FilesRead,       // "files read: N" (hhc gathering the site)
    FilesCompressed, // "files compressed: K of M" (hhc)
    FilesExtracted,  // "files extracted: K of M" (hh)
};

struct ProgressLine {
    ProgressKind kind = ProgressKind::FilesRead;
    std::uint64_t done = 0;
    std::uint64_t total = 0; // 0 for FilesRead, which has no total
};

// The line for a progress report, without its line break.
std::string FormatProgressLine(const ProgressLine& progress);

// Keeps progress lines to a readable rate: Due is true the first time and
// then once a tenth of a second has passed since it last was.
class ProgressPacer {
public:
    bool Due() {
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(100))
            return false;
        shown_ = true;
        last_ = now;
        return true;
    }

private:
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_;
};

// The progress that one line of output reports, or nothing for any other
// line. A trailing carriage return is ignored; a count of more done than
// total is no progress.
std::optional<ProgressLine> ParseProgressLine(std::string_view line);

// Each line has two renderings for people: ...Text for the log pane, in
// Russian (the string table), and ...Message for the command line, in the
// user's language (gettext).

// "Прочитано файлов: N", "Сжато файлов: K из M", "Извлечено файлов: K из M".
std::string ProgressText(const ProgressLine& progress);
std::string ProgressMessage(const ProgressLine& progress);

// A link the compiler did not follow: as written (UTF-8), the stored name of
// the page it stands on (empty for the project's own entries) and why, in
// English words that start with one of the walk's reasons.
struct UnfollowedLink {
    std::string link;
    std::string page;
    std::string why;
    bool operator==(const UnfollowedLink&) const = default;
};

std::string FormatUnfollowedLine(const UnfollowedLink& unfollowed);

// Outside text for a message line, as WHY is written above: a backslash and
// control bytes escaped, so that no stored name can move the cursor, retitle
// the terminal or forge a line.
std::string EscapeForLine(std::string_view text);
std::optional<UnfollowedLink> ParseUnfollowedLine(std::string_view line);

// The reason in Russian for the log pane: the known reasons are translated,
// whatever follows them (the system's words) is kept; an unknown reason is
// shown as it came.
std::string UnfollowedReasonText(std::string_view why);

// A reason with its known start in the user's language, the rest kept.
std::string ReasonMessage(std::string_view why);
// The whole line, the known reasons translated too.
std::string UnfollowedMessage(const UnfollowedLink& unfollowed);

// What the compiler did, printed once the help file is in place.
struct CompileSummary {
    std::uint64_t files = 0;    // site files stored
    std::uint64_t bytesIn = 0;  // their size together
    std::uint64_t bytesOut = 0; // the help file's size
    double seconds = 0;         // from start to the file in place
};

std::string FormatSummaryLine(const CompileSummary& summary);
std::string SummaryMessage(const CompileSummary& summary);
std::optional<CompileSummary> ParseSummaryLine(std::string_view line);

} // namespace tbx
