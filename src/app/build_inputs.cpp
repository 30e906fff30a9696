#include "app/build_inputs.h"

#include "res/strings.h"
#include "text/page_title.h"

namespace tbx {
namespace {

// Cuts the extension of the file name only: a dot in a folder name, or the
// leading dot of a hidden file, is not one.
std::string WithoutExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        return path;
    return path.substr(0, dot);
}

} // namespace

std::string ChmPathFor(const std::string& pagePath, const std::string& folder) {
    const std::string base = folder.empty() ? pagePath : folder + FileTitle(pagePath);
    return WithoutExtension(base) + ".chm";
}

std::string TitleForPage(const std::string& pagePath, const std::string& fileName) {
    PageTitle title = ExtractPageTitle(pagePath);
    return title.source == TitleSource::Unreadable ? fileName : std::move(title.text);
}

std::string PageReport(const std::string& fileName) {
    return LoadString(103) + " '" + fileName + "' " + LoadString(104) + "\r\n" + LoadString(105);
}

} // namespace tbx
