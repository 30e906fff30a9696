#pragma once
// One check for a compiled help file we wrote: every independent reader
// (libmspack with its listing and its quickref lookup, chmlib, 7-Zip) and
// our own reader find exactly the given site files in it, byte for byte.

#include <map>
#include <string>
#include <vector>

namespace tbx::test {

// Every entry of a help file but folders, read with our own reader: stored
// name -> bytes. Empty, with a test failure, when it cannot be read.
std::map<std::string, std::string> ReadHelpFile(const std::string& chmPath);

// The keywords of a help file's binary index (read: ReadHelpFile), as
// lines: two spaces for each level of depth, the keyword as stored
// ("parent, child"), then " -> " and the URLs of its topics (#URLSTR, as
// stored) or " => " and its See Also. One line saying what is wrong when the
// index cannot be read. part: "$WWKeywordLinks" or "$WWAssociativeLinks".
std::vector<std::string> HelpKeywords(const std::map<std::string, std::string>& files,
                                      const std::string& part = "$WWKeywordLinks");

// files: stored name ("/dir/page.htm", UTF-8) -> bytes. The help file's own
// data ("/#...", "/$...", "::..."), the sitemaps hhc generates
// ("/Tomebox.hhc" ...) unless files names them, and folder entries are left
// out of the comparison. Others::Allowed: the help file may hold other site files too, for sites
// whose generator decides what its pages link.
enum class Others { Refused, Allowed };

void ExpectHelpFileHolds(const std::string& chmPath,
                         const std::map<std::string, std::string>& files,
                         Others others = Others::Refused);

} // namespace tbx::test
