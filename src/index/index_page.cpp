#include "index/index_page.h"

#include "platform/files.h"
#include "settings/opt_store.h"
#include "settings/option_pages_logic.h"
#include "text/charset.h"
#include "text/html_escape.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace tbx {

std::string g_strIndexPage;
std::string g_strIndexChm;
std::string g_strIndexTitle;

namespace {

std::string ReadWholeFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::make_error_code(std::errc::no_such_file_or_directory).message();
        return {};
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        error = std::make_error_code(std::errc::io_error).message();
        return {};
    }
    return std::move(bytes).str();
}

} // namespace

void CIndexPageFile::WriteHtmlLine(std::string_view a, std::string_view b, std::string_view c) {
    std::string line;
    line.reserve(a.size() + b.size() + c.size());
    line.append(a).append(b).append(c);
    bytes_ += EncodeCp1251(line, Unmappable::CharRef);
    bytes_ += "\r\n";
}

std::string CIndexPageFile::Commit(const std::string& path) const {
    return WriteFileAtomically(path, bytes_);
}

std::string LinkTarget(std::string_view fileName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool utf8 = IsValidUtf8(fileName);
    std::string out;
    out.reserve(fileName.size());
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        const bool encode = c == '%' || c == '#' || c == '?' || c == '"' || byte < 0x20 ||
                            byte == 0x7F || (!utf8 && byte >= 0x80);
        if (encode) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else if (c == '&') {
            out += "&amp;";
        } else {
            out += c;
        }
    }
    return out;
}

void WriteIndexPage(CIndexPageFile& file, const std::vector<IndexRow>& rows,
                    const std::string& cssReference) {
    file.Clear();
    file.WriteHtmlLine("<html>", "<head>", "");
    file.WriteHtmlLine("<title>", kIndexPageTitle, "</title>");
    file.WriteHtmlLine("<META http-equiv=Content-Type content=\"text/html; charset=windows-1251\">",
                       "", "");
    if (!cssReference.empty())
        file.WriteHtmlLine("<link REL=stylesheet HREF=\"", LinkTarget(cssReference),
                           "\" TYPE=text/css>");
    file.WriteHtmlLine("</head><body class=\"yourbody\">", "", "");
    file.WriteHtmlLine("<table cellspacing=\"5\" cellpadding=\"5\" align=\"center\" border=\"0\" "
                       "class=\"yourtable\">",
                       "", "");
    file.WriteHtmlLine("<tr>", "", "");
    file.WriteHtmlLine("<td class=\"contents\" colspan=\"2\" align=\"center\">Содержание:</td>", "",
                       "");
    file.WriteHtmlLine("</tr>", "", "");
    std::size_t number = 0;
    for (const IndexRow& row : rows) {
        ++number;
        // Old pages may carry Windows-1251 names: show them readably.
        const std::string shownName = EscapeHtml(DecodeLegacyText(row.file), HtmlContext::Text);
        file.WriteHtmlLine("<tr>", "", "");
        file.WriteHtmlLine("<td class=\"yourstring\">", std::to_string(number) + ". " + row.title,
                           "</td>");
        file.WriteHtmlLine("<td><a href=\"", LinkTarget(row.file), "\" class=\"yourlink\">");
        file.WriteHtmlLine("[", shownName, "]</a></td>");
        file.WriteHtmlLine("</tr>", "", "");
    }
    file.WriteHtmlLine("</table></body></html>", "", "");
}

StyleSheetChoice ChooseStyleSheet(const RegHive& hive, const std::string& programFolder,
                                  const std::string& pageFolder) {
    StyleSheetChoice choice;
    COptKey key;
    if (key.Open(hive, kIndOptsKey) != kErrorSuccess)
        return choice;
    const COptReg reg;
    const std::string style = reg.ReadText(key, "CSSStyle");
    if (style.empty() || EqualNoCase(style, "nocss"))
        return choice;
    // The same folder the options sheet listed the style from: a folder typed
    // without a final "/" still gets one, so the link names the sheet, and
    // an empty one is no folder at all.
    const std::string cssFolder = CssFolder(reg.ReadText(key, "CSSPath"), programFolder);
    if (cssFolder.empty())
        return choice;
    const std::string source = cssFolder + style;
    if (reg.ReadFlag(key, "CopyCSS")) {
        choice.copyFrom = source;
        choice.copyTo = pageFolder + style;
        choice.reference = style;
    } else {
        choice.reference = source;
    }
    return choice;
}

std::string CopyStyleSheet(const std::string& from, const std::string& to) {
    std::error_code ec;
    if (std::filesystem::equivalent(from, to, ec))
        return {};
    if (!std::filesystem::is_regular_file(from, ec))
        return std::make_error_code(std::errc::no_such_file_or_directory).message();
    std::string error;
    const std::string bytes = ReadWholeFile(from, error);
    if (!error.empty())
        return error;
    return WriteFileAtomically(to, bytes);
}

IndexOutcome WriteIndex(CIndexPageFile& file, const RegHive& hive, const std::string& programFolder,
                        const std::string& folder, const std::vector<IndexRow>& rows) {
    IndexOutcome outcome;
    if (folder.empty() || folder.front() != '/' || folder.back() != '/') {
        outcome.status = IndexStatus::NoFolder;
        return outcome;
    }
    outcome.pagePath = folder + kIndexPageName;
    const StyleSheetChoice css = ChooseStyleSheet(hive, programFolder, folder);
    WriteIndexPage(file, rows, css.reference);
    outcome.error = file.Commit(outcome.pagePath);
    if (!outcome.error.empty()) {
        // No page, no copy: the folder is left as it was.
        outcome.status = IndexStatus::WriteFailed;
        return outcome;
    }
    if (!css.copyFrom.empty()) {
        outcome.cssCopyFrom = css.copyFrom;
        outcome.cssCopyError = CopyStyleSheet(css.copyFrom, css.copyTo);
    }
    return outcome;
}

void HandOffIndexPage(const std::string& folder) {
    ClearIndexHandOff();
    g_strIndexPage = folder + kIndexPageName;
    g_strIndexTitle = GetPageTitle(g_strIndexPage);
    g_strIndexChm = folder + kIndexChmName;
}

void ClearIndexHandOff() {
    g_strIndexPage.clear();
    g_strIndexChm.clear();
    g_strIndexTitle.clear();
}

} // namespace tbx
