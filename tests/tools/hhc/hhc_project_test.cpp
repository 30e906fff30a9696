#include "hhc/hhc_project.h"
#include "res/cp1251.h"

#include <gtest/gtest.h>

namespace tbx::hhc {
namespace {

std::string Cp1251(std::string_view utf8) {
    const auto bytes = EncodeCp1251Exact(utf8);
    EXPECT_TRUE(bytes) << utf8;
    return bytes.value_or("");
}

const std::string kFolder = "/home/user/мой сайт";
const std::string kCompiled = "/home/user/out/.hhc-Ab12Cd.chm";

// The lines joined, each ended as ends.
std::string Join(std::initializer_list<std::string> lines, const char* ends = "\r\n") {
    std::string text;
    for (const std::string& line : lines)
        text += line + ends;
    return text;
}

TEST(HhcProjectTest, CompileJobProjectGetsRelativeUtf8PathsAndKeepsEverythingElse) {
    // A window definition full of bytes that are not UTF-8 and of paths that
    // are not files of the help: none of it may change.
    const std::string window = "Tomebox=\"" + Cp1251("Справка «Один», два") +
                               "\",,,,http://x/,/opt/tomebox/about.htm,About,,,8480,0,"
                               "270398,[86,64,938,704],,,,,,,0";
    const std::string project = Join({
        "[OPTIONS]",
        "Compatibility=1.1 or later",
        "Compiled file=" + Cp1251("/home/user/справка/моя справка.chm"),
        "Default Window=Tomebox",
        "Default topic=" + Cp1251(kFolder + "/начало сайта.htm"),
        "Language=0x419 Russian",
        "",
        "[FILES]",
        Cp1251(kFolder + "/начало сайта.htm"),
        Cp1251(kFolder + "//главы/ глава 1.htm"),
        "",
        "[WINDOWS]",
        window,
    });

    const ProjectConversion result = ConvertProject(project, kFolder, kCompiled);

    ASSERT_TRUE(result.Ok()) << result.error;
    EXPECT_EQ(result.text, Join({
                               "[OPTIONS]",
                               "Compatibility=1.1 or later",
                               "Compiled file=" + kCompiled,
                               "Default Window=Tomebox",
                               "Default topic=начало сайта.htm",
                               "Language=0x419 Russian",
                               "",
                               "[FILES]",
                               "начало сайта.htm",
                               "главы/ глава 1.htm",
                               "",
                               "[WINDOWS]",
                               window,
                           }));
}

TEST(HhcProjectTest, ReadsProjectsAsLooselyAsAnIniReader) {
    // Other letter cases, blanks around names and values, LF line ends,
    // comments and a last line without an end; a relative entry counts from
    // the folder and a path key outside [OPTIONS] is not one of ours.
    const std::string project = Join(
                                    {
                                        "[options]",
                                        "  default TOPIC =  " + Cp1251(kFolder + "/a.htm") + " ",
                                        "COMPILED FILE=x.chm",
                                        "; Default topic=/elsewhere/b.htm",
                                        "[ Files ]",
                                        "sub/../b.htm",
                                        "[Other]",
                                    },
                                    "\n") +
                                "Default topic=/elsewhere/c.htm";

    const ProjectConversion result = ConvertProject(project, kFolder, kCompiled);

    ASSERT_TRUE(result.Ok()) << result.error;
    EXPECT_EQ(result.text, Join(
                               {
                                   "[options]",
                                   "default TOPIC=a.htm",
                                   "COMPILED FILE=" + kCompiled,
                                   "; Default topic=/elsewhere/b.htm",
                                   "[ Files ]",
                                   "b.htm",
                                   "[Other]",
                               },
                               "\n") +
                               "Default topic=/elsewhere/c.htm");
}

TEST(HhcProjectTest, SourceOutsideTheProjectFolderIsRefusedWithItsName) {
    const std::string topic = "[OPTIONS]\r\nDefault topic=" + Cp1251("/home/user/другой/a.htm") +
                              "\r\n[FILES]\r\n" + Cp1251(kFolder + "/a.htm") + "\r\n";
    const ProjectConversion badTopic = ConvertProject(topic, kFolder, kCompiled);
    EXPECT_FALSE(badTopic.Ok());
    EXPECT_TRUE(badTopic.text.empty());
    EXPECT_NE(badTopic.error.find("/home/user/другой/a.htm"), std::string::npos) << badTopic.error;

    // A sibling whose name starts like the folder, a climb out, the folder itself.
    for (const char* file : {"/home/user/мой сайт2/a.htm", "/home/user/мой сайт/../b.htm",
                             "../b.htm", "/home/user/мой сайт/"}) {
        const std::string project = "[OPTIONS]\r\nDefault topic=" + Cp1251(kFolder + "/a.htm") +
                                    "\r\n[FILES]\r\n" + Cp1251(file) + "\r\n";
        const ProjectConversion result = ConvertProject(project, kFolder, kCompiled);
        EXPECT_FALSE(result.Ok()) << file;
        EXPECT_NE(result.error.find(kFolder), std::string::npos) << result.error;
    }
}

TEST(HhcProjectTest, PathInsideFolderIsLexicalAndStrict) {
    EXPECT_EQ(PathInsideFolder("/a/b/c.htm", "/a/b"), "c.htm");
    EXPECT_EQ(PathInsideFolder("/a/b/d/c.htm", "/a/b/"), "d/c.htm");
    EXPECT_EQ(PathInsideFolder("//a//b/./d/c.htm", "/a/b"), "d/c.htm");
    EXPECT_EQ(PathInsideFolder("d/c.htm", "/a/b"), "d/c.htm");
    EXPECT_EQ(PathInsideFolder("/x.htm", "/"), "x.htm");
    EXPECT_EQ(PathInsideFolder("/a/bc/d.htm", "/a/b"), std::nullopt);
    EXPECT_EQ(PathInsideFolder("/a/b/../c.htm", "/a/b"), std::nullopt);
    EXPECT_EQ(PathInsideFolder("/a/b", "/a/b/"), std::nullopt);
    EXPECT_EQ(PathInsideFolder("", "/a/b"), std::nullopt);
}

TEST(HhcProjectTest, CompiledFileIsTheFirstOfOptionsDecodedAndAbsolute) {
    EXPECT_EQ(CompiledFileOf("[OPTIONS]\r\nCompiled file=" + Cp1251("/д/справка.chm") +
                                 "\r\nCompiled file=/second.chm\r\n",
                             kFolder),
              "/д/справка.chm");
    EXPECT_EQ(CompiledFileOf("[OPTIONS]\nCompiled file = out/../h.chm\n", kFolder),
              kFolder + "/h.chm");
    EXPECT_EQ(CompiledFileOf("[WINDOWS]\nCompiled file=/w.chm\n[OPTIONS]\nTitle=t\n", kFolder), "");
    EXPECT_EQ(CompiledFileOf("[OPTIONS]\nCompiled file=\n", kFolder), "");
    EXPECT_EQ(CompiledFileOf("", kFolder), "");
}

} // namespace
} // namespace tbx::hhc
