// The stored-name rules that hh and the extraction check share.

#include "chm/stored_name.h"

#include <gtest/gtest.h>

namespace tbx::chm {
namespace {

TEST(StoredNames, MapBelowTheFolderOrAreRefused) {
    const StoredName file = ClassifyStoredName("/разделы/глава 1.htm");
    EXPECT_EQ(file.kind, NameKind::File);
    EXPECT_EQ(file.parts, (std::vector<std::string>{"разделы", "глава 1.htm"}));
    EXPECT_EQ(ClassifyStoredName("/a/b/").kind, NameKind::Folder);
    EXPECT_EQ(ClassifyStoredName("/a/b/").parts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ClassifyStoredName("/").kind, NameKind::Folder);
    EXPECT_TRUE(ClassifyStoredName("/").parts.empty());
    // A "#" deeper down is an ordinary name.
    EXPECT_EQ(ClassifyStoredName("/img/#1.png").kind, NameKind::File);

    for (const char* internal : {"/#SYSTEM", "/#TOPICS", "/$FIftiMain", "/$WWKeywordLinks/",
                                 "::DataSpace/Storage/MSCompressed/Content", "::"})
        EXPECT_EQ(ClassifyStoredName(internal).kind, NameKind::Internal) << internal;
    for (const char* refused : {"../x", "x.htm", "", "/..", "/../x", "/a/../../x", "/a/..",
                                "//etc/passwd", "/a//b", "/./x", "/a/./", "/a/b//"})
        EXPECT_EQ(ClassifyStoredName(refused).kind, NameKind::Refused) << refused;
}

} // namespace
} // namespace tbx::chm
