#include "hhc/hhc_project.h"

#include "res/cp1251.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace tbx::hhc {
namespace {

namespace fs = std::filesystem;

// One line of the project with the end it had, so untouched lines are
// written back exactly as they came.
struct Line {
    std::string_view body;
    std::string_view end;
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view body = text.substr(0, newline);
        std::size_t endLength = newline == std::string_view::npos ? 0 : 1;
        if (body.ends_with('\r')) {
            body.remove_suffix(1);
            ++endLength;
        }
        lines.push_back({body, text.substr(body.size(), endLength)});
        text.remove_prefix(std::min(text.size(), body.size() + endLength));
    }
    return lines;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Section and key names are compared as the INI readers on Windows do:
// ASCII letters without regard to case.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The section a header line opens, or nothing when the line is no header.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (!trimmed.starts_with('['))
        return std::nullopt;
    const auto close = trimmed.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(trimmed.substr(1, close - 1));
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> SplitKeyValue(std::string_view line) {
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return KeyValue{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

bool IsComment(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    return trimmed.empty() || trimmed.starts_with(';');
}

// [OPTIONS] keys whose value is a file chmcmd reads from the project's folder.
bool IsSourcePathKey(std::string_view key) {
    return SameName(key, "Default topic") || SameName(key, "Contents file") ||
           SameName(key, "Index file");
}

} // namespace

std::optional<std::string> PathInsideFolder(const std::string& path, const std::string& folder) {
    const fs::path base = fs::path(folder).lexically_normal();
    fs::path full = fs::path(path);
    if (full.is_relative())
        full = base / full;
    const fs::path relative = full.lexically_normal().lexically_relative(base);
    if (relative.empty() || relative == "." || *relative.begin() == "..")
        return std::nullopt;
    return relative.generic_string();
}

std::string CompiledFileOf(std::string_view project, const std::string& projectFolder) {
    bool inOptions = false;
    for (const Line& line : SplitLines(project)) {
        if (const auto section = SectionName(line.body)) {
            inOptions = SameName(*section, "OPTIONS");
            continue;
        }
        if (!inOptions || IsComment(line.body))
            continue;
        const auto entry = SplitKeyValue(line.body);
        if (!entry || !SameName(entry->key, "Compiled file"))
            continue;
        if (entry->value.empty())
            return {};
        const fs::path path(DecodeCp1251(entry->value));
        return (path.is_relative() ? fs::path(projectFolder) / path : path)
            .lexically_normal()
            .string();
    }
    return {};
}

ProjectConversion ConvertProject(std::string_view project, const std::string& projectFolder,
                                 const std::string& compiledFile) {
    enum class Section { Other, Options, Files };
    Section section = Section::Other;
    ProjectConversion result;

    // A source file outside the folder cannot be named relative to it, and
    // chmcmd would store it under a name that climbs out of the help file.
    auto relative = [&](std::string_view what,
                        std::string_view value) -> std::optional<std::string> {
        const std::string path = DecodeCp1251(value);
        auto inside = PathInsideFolder(path, projectFolder);
        if (!inside)
            result.error = std::string(what) + " " + path + " is not inside the project's folder " +
                           projectFolder;
        return inside;
    };

    for (const Line& line : SplitLines(project)) {
        std::string body(line.body);
        if (const auto name = SectionName(line.body)) {
            section = SameName(*name, "OPTIONS") ? Section::Options
                      : SameName(*name, "FILES") ? Section::Files
                                                 : Section::Other;
        } else if (IsComment(line.body)) {
            // kept as it is
        } else if (section == Section::Options) {
            const auto entry = SplitKeyValue(line.body);
            if (entry && SameName(entry->key, "Compiled file")) {
                body = std::string(entry->key) + "=" + compiledFile;
            } else if (entry && IsSourcePathKey(entry->key) && !entry->value.empty()) {
                const auto path = relative("\"" + std::string(entry->key) + "\"", entry->value);
                if (!path)
                    return {{}, result.error};
                body = std::string(entry->key) + "=" + *path;
            }
        } else if (section == Section::Files) {
            const auto path = relative("The file", Trim(line.body));
            if (!path)
                return {{}, result.error};
            body = *path;
        }
        result.text += body;
        result.text += line.end;
    }
    return result;
}

} // namespace tbx::hhc
