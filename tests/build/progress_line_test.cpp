#include "build/progress_line.h"

#include <gtest/gtest.h>
#include <string>

namespace tbx {
namespace {

// Each line as a tool might print it, and the pane's text for it (empty when
// the line is no progress).
TEST(ProgressLine, ParsesExactlyTheToolsFormsIntoRussianText) {
    const struct {
        const char* line;
        const char* text;
    } cases[] = {
        {"files read: 12", "Прочитано файлов: 12"},
        {"files read: 0\r", "Прочитано файлов: 0"},
        {"files compressed: 7 of 3000", "Сжато файлов: 7 из 3000"},
        {"files compressed: 3000 of 3000", "Сжато файлов: 3000 из 3000"},
        {"files extracted: 0 of 0", "Извлечено файлов: 0 из 0"},
        {"files extracted: 18446744073709551615 of 18446744073709551615",
         "Извлечено файлов: 18446744073709551615 из 18446744073709551615"},
        // Not progress: other output, other spellings, damaged counts.
        {"", ""},
        {"warning: link to missing.htm on start.htm", ""},
        {"files read: ", ""},
        {"files read: 12 of 20", ""},
        {"files read: -1", ""},
        {"files read: +1", ""},
        {"Files read: 1", ""},
        {" files read: 1", ""},
        {"files read:  1", ""},
        {"files compressed: 4 of 3", ""},
        {"files compressed: 4 of", ""},
        {"files compressed: 4of 5", ""},
        {"files extracted: 1 of 2 ", ""},
        {"files extracted: 18446744073709551616 of 18446744073709551617", ""},
        {"files read: 1\r\r", ""},
    };
    for (const auto& c : cases) {
        const auto progress = ParseProgressLine(c.line);
        EXPECT_EQ(progress ? ProgressText(*progress) : std::string(), c.text) << c.line;
    }
}

} // namespace
} // namespace tbx
