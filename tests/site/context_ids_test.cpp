#include "site/context_ids.h"

#include <gtest/gtest.h>

namespace tbx::site {
namespace {

// "name=id:file" for each id, then each warning's first words.
std::vector<std::string> Read(const std::vector<std::string>& alias,
                              const std::vector<std::string>& map) {
    const ContextIds read = ReadContextIds(alias, map);
    std::vector<std::string> out;
    for (const ContextId& id : read.ids)
        out.push_back(id.name + "=" + std::to_string(id.id) + ":" + id.target);
    for (const std::string& warning : read.warnings)
        out.push_back("! " + warning.substr(0, warning.find(';')));
    return out;
}

TEST(ContextIds, MapAndAliasLinesAsProjectsAndHeadersWriteThem) {
    struct Case {
        const char* what;
        std::vector<std::string> alias, map, expected;
    };
    const Case cases[] = {
        {"defines and assignments, decimal and hex, in [MAP]'s order",
         {"IDH_B = dir\\b.htm", "IDH_A=a.htm"},
         {"#define IDH_A 7", "IDH_B=0x1F", "#  define\tIDH_C (0x10u)", "IDH_C2 = 12L"},
         {"IDH_A=7:a.htm", "IDH_B=31:dir/b.htm",
          "! the context id IDH_C (16) has no file in [ALIAS]",
          "! the context id IDH_C2 (12) has no file in [ALIAS]"}},
        {"a C header: guards, directives and comments of both kinds",
         {"IDH_X=x.htm", "IDH_Y=y.htm"},
         {"#ifndef HELP_H", "#define HELP_H", "/* ids of the", " dialogs */ #define IDH_X 1",
          "#define IDH_Y 2 // the second", "#endif"},
         {"IDH_X=1:x.htm", "IDH_Y=2:y.htm"}},
        {"a name given twice keeps its first value",
         {"IDH_A=a.htm", "IDH_A=other.htm"},
         {"#define IDH_A 1", "#define IDH_A 2"},
         {"IDH_A=1:a.htm", "! IDH_A is defined twice in [ALIAS]",
          "! IDH_A is defined twice in [MAP]"}},
        {"lines that are no ids are named, aliases without an id too",
         {"just text", "IDH_A=a.htm", "IDH_LONELY=l.htm"},
         {"#define IDH_A IDH_B+1", "IDH_A=-1", "IDH_A=99999999999", "= 5", "#define IDH_A 3"},
         {"IDH_A=3:a.htm", "! [ALIAS] line \"just text\" is not \"NAME=file\"",
          "! [MAP] line \"#define IDH_A IDH_B+1\" is not \"#define NAME number\" or "
          "\"NAME=number\"",
          "! [MAP] line \"IDH_A=-1\" is not \"#define NAME number\" or \"NAME=number\"",
          "! [MAP] line \"IDH_A=99999999999\" is not \"#define NAME number\" or \"NAME=number\"",
          "! [MAP] line \"= 5\" is not \"#define NAME number\" or \"NAME=number\"",
          "! the alias IDH_LONELY (l.htm) has no context id in [MAP]"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(c.alias, c.map), c.expected) << c.what;
}

} // namespace
} // namespace tbx::site
