#pragma once
// What the build window derives from a chosen page: the help file path, the
// title and the report for the log pane.

#include <string>

namespace tbx {

// The page path with its file name's extension replaced by ".chm" (a name
// without one gets ".chm" appended); placed in folder (ending with "/") when
// folder is not empty.
std::string ChmPathFor(const std::string& pagePath, const std::string& folder);

// The title field's text for a page: the title tag's text, the file title
// when the page has none, the file name when it cannot be read.
std::string TitleForPage(const std::string& pagePath, const std::string& fileName);

// The log pane's report after a page was chosen (two lines).
std::string PageReport(const std::string& fileName);

} // namespace tbx
