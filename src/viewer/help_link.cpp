#include "viewer/help_link.h"

#include "text/text_case.h"

#include <vector>

namespace tbx::viewer {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The scheme of a link ("http"), lower-cased; empty for a relative link.
// One letter before ":" is a drive ("C:\..."), not a scheme.
std::string SchemeOf(std::string_view link) {
    const std::size_t colon = link.find(':');
    if (colon == std::string_view::npos || colon < 2)
        return {};
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = link[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return {};
    }
    return ToLowerCase(link.substr(0, colon));
}

std::string FileNameOf(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// "file.chm::/page.htm" after an "ms-its:" or "mk:@MSITStore:" prefix.
HelpLink InHelpFile(std::string_view rest, std::string_view shownFile) {
    HelpLink link;
    const std::size_t sep = rest.find("::");
    std::string_view file = sep == std::string_view::npos ? rest : rest.substr(0, sep);
    std::string_view inside =
        sep == std::string_view::npos ? std::string_view("/") : rest.substr(sep + 2);
    // Our own addresses resolve relative links inside the file, so a
    // served "ms-its:" page may come back with an empty file part.
    const std::string fileName = FileNameOf(PercentDecoded(file));
    const std::size_t hash = inside.find('#');
    if (hash != std::string_view::npos) {
        link.fragment = std::string(inside.substr(hash + 1));
        inside = inside.substr(0, hash);
    }
    link.stored = NormalStoredName(PercentDecoded(inside));
    if (link.stored.empty())
        return {};
    if (fileName.empty() || EqualNoCase(fileName, shownFile)) {
        link.kind = HelpLink::Kind::Stored;
    } else {
        link.kind = HelpLink::Kind::OtherFile;
        link.helpFile = fileName;
    }
    return link;
}

} // namespace

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string NormalStoredName(std::string_view path) {
    std::vector<std::string_view> steps;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find_first_of("/\\", at);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view step = path.substr(at, end - at);
        if (step == "..") {
            if (steps.empty())
                return {};
            steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        at = end + 1;
    }
    std::string out;
    for (const std::string_view step : steps)
        out.append("/").append(step);
    // A folder link ("dir/") keeps its slash, so that it is not taken for a file.
    if (out.empty() || (!path.empty() && (path.back() == '/' || path.back() == '\\')))
        out += '/';
    return out;
}

HelpLink ResolveLink(std::string_view link, std::string_view base, std::string_view shownFile) {
    while (!link.empty() && (link.front() == ' ' || link.front() == '\t' || link.front() == '\n' ||
                             link.front() == '\r'))
        link.remove_prefix(1);
    while (!link.empty() && (link.back() == ' ' || link.back() == '\t' || link.back() == '\n' ||
                             link.back() == '\r'))
        link.remove_suffix(1);
    const std::string scheme = SchemeOf(link);
    if (scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mailto" ||
        scheme == "news") {
        HelpLink web;
        web.kind = HelpLink::Kind::Web;
        web.stored = std::string(link);
        return web;
    }
    if (scheme == kItsScheme || scheme == "its")
        return InHelpFile(link.substr(scheme.size() + 1), shownFile);
    if (scheme == kMkScheme) {
        constexpr std::string_view store = "@msitstore:";
        const std::string_view rest = link.substr(3);
        if (!StartsWithNoCase(rest, store))
            return {};
        return InHelpFile(rest.substr(store.size()), shownFile);
    }
    if (scheme == kHelpScheme) {
        link.remove_prefix(scheme.size() + 1);
        if (link.starts_with("//")) {
            const std::size_t path = link.find('/', 2);
            link = path == std::string_view::npos ? std::string_view("/") : link.substr(path);
        }
        base = "/";
    } else if (!scheme.empty()) {
        return {}; // javascript:, file: and the like stay where they are
    }
    HelpLink out;
    std::string_view path = link;
    const std::size_t hash = path.find('#');
    if (hash != std::string_view::npos) {
        out.fragment = std::string(path.substr(hash + 1));
        path = path.substr(0, hash);
    }
    // A query means nothing to a stored file.
    path = path.substr(0, path.find('?'));
    std::string joined;
    if (!path.empty() && (path.front() == '/' || path.front() == '\\')) {
        joined = std::string(path);
    } else {
        const std::size_t slash = base.rfind('/');
        joined = std::string(slash == std::string_view::npos ? std::string_view("/")
                                                             : base.substr(0, slash + 1));
        joined += path.empty() ? FileNameOf(base) : std::string(path);
    }
    out.stored = NormalStoredName(PercentDecoded(joined));
    if (out.stored.empty())
        return {};
    out.kind = HelpLink::Kind::Stored;
    return out;
}

std::string HelpAddress(std::string_view stored, std::string_view fragment) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(kHelpScheme);
    out += "://";
    out += kHelpHost;
    for (const char c : stored) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '#' || c == '?' || c == '"') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    if (!fragment.empty())
        out.append("#").append(fragment);
    return out;
}

} // namespace tbx::viewer
