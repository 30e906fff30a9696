#pragma once
// One check for a compiled help file we wrote: every independent reader
// (libmspack with its listing and its quickref lookup, chmlib, 7-Zip) and
// our own reader find exactly the given site files in it, byte for byte.

#include <map>
#include <string>

namespace tbx::test {

// files: stored name ("/dir/page.htm", UTF-8) -> bytes. The help file's own
// data ("/#...", "/$...", "::..."), the sitemaps hhc generates
// ("/Tomebox.hhc" ...) unless files names them, and folder entries are left
// out of the comparison.
// Others::Allowed: the help file may hold other site files too, for sites
// whose generator decides what its pages link.
enum class Others { Refused, Allowed };

void ExpectHelpFileHolds(const std::string& chmPath,
                         const std::map<std::string, std::string>& files,
                         Others others = Others::Refused);

} // namespace tbx::test
