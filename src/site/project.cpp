#include "site/project.h"

#include "platform/files.h"
#include "platform/messages.h"
#include "text/charset.h"
#include "text/language.h"
#include "text/text_case.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <optional>
#include <set>

namespace tbx::site {
namespace {

namespace fs = std::filesystem;

// A project is a few lines; anything far larger is not one.
constexpr std::size_t kMaxProjectSize = 16 * 1024 * 1024;
// The fields of a full window definition; the rectangle is the 13th.
constexpr std::size_t kWindowFields = 20;
constexpr std::size_t kRectField = 12;
// Closing quotes tried for a caption with quotes inside.
constexpr int kMaxCaptionEnds = 64;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsYes(std::string_view value) {
    return EqualNoCase(value, "yes") || EqualNoCase(value, "true") || value == "1";
}

// ---- Window definitions ----------------------------------------------------------

// Splits at the commas that stand outside double quotes and brackets; the
// caption's closing quote is the one at captionEnd when given.
std::vector<std::string_view> SplitFields(std::string_view text,
                                          std::optional<std::size_t> captionEnd) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    bool quoted = false, bracketed = false;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || (text[i] == ',' && !quoted && !bracketed)) {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        } else if (text[i] == '"' && !bracketed) {
            // Inside the caption only its chosen closing quote ends it.
            const bool inCaption = fields.empty() && captionEnd;
            if (!quoted)
                quoted = true;
            else if (!inCaption || i == *captionEnd)
                quoted = false;
        } else if (text[i] == '[' && !quoted) {
            bracketed = true;
        } else if (text[i] == ']' && !quoted) {
            bracketed = false;
        }
    }
    return fields;
}

// The compile job puts the title between quotes as it is, so a title with a
// quote in it ends the caption early. Of the quotes that could close the
// caption (those followed by a comma), the one that leaves a whole
// definition behind it is taken.
std::vector<std::string_view> SplitDefinition(std::string_view text) {
    std::vector<std::string_view> fields = SplitFields(text, std::nullopt);
    if (fields.size() == kWindowFields || !Trim(text).starts_with('"'))
        return fields;
    const std::size_t open = text.find('"');
    int tries = 0; // each try splits the whole line: a bound keeps a hostile line cheap
    for (std::size_t at = text.find('"', open + 1);
         at != std::string_view::npos && tries < kMaxCaptionEnds; at = text.find('"', at + 1)) {
        const std::string_view after = Trim(text.substr(at + 1));
        if (!after.empty() && !after.starts_with(','))
            continue;
        ++tries;
        std::vector<std::string_view> candidate = SplitFields(text, at);
        if (candidate.size() == kWindowFields)
            return candidate;
    }
    return fields;
}

// A text field: without its quotes; whatever follows a closing quote is kept.
std::string TextField(std::string_view field) {
    field = Trim(field);
    if (!field.starts_with('"'))
        return std::string(field);
    std::string text(field.substr(1));
    if (const auto close = text.rfind('"'); close != std::string::npos)
        text.erase(close, 1);
    return text;
}

std::optional<std::int64_t> ParseNumber(std::string_view text) {
    text = Trim(text);
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

const char* const kFieldNames[kWindowFields] = {
    "caption",          "contents file",     "index file",       "default file", "home page",
    "jump 1 address",   "jump 1 text",       "jump 2 address",   "jump 2 text",  "navigation style",
    "navigation width", "buttons",           "window rectangle", "window style", "extended style",
    "show state",       "navigation closed", "default tab",      "tab position", "notification id",
};

// what is marked N_ and translated here; the field names are the format's.
std::string FieldError(std::size_t index, std::string_view field, const char* what) {
    return Format(Tr("field %zu (%s) %s: \"%s\""), index + 1, kFieldNames[index], Tr(what),
                  std::string(Trim(field)));
}

std::string ParseRect(std::string_view field, std::optional<chm::WindowRect>& rect) {
    std::string_view inside = Trim(field);
    if (inside.empty())
        return {};
    if (!inside.starts_with('[') || !inside.ends_with(']'))
        return FieldError(kRectField, field, N_("is no bracketed rectangle"));
    inside = inside.substr(1, inside.size() - 2);
    if (Trim(inside).empty())
        return {};
    std::int32_t sides[4];
    for (int i = 0; i < 4; ++i) {
        const auto comma = inside.find(',');
        const bool last = i == 3;
        if (last != (comma == std::string_view::npos))
            return FieldError(kRectField, field, N_("does not hold four numbers"));
        const auto number = ParseNumber(inside.substr(0, comma));
        if (!number || *number < INT32_MIN || *number > INT32_MAX)
            return FieldError(kRectField, field, N_("does not hold four numbers"));
        sides[i] = static_cast<std::int32_t>(*number);
        inside = last ? std::string_view{} : inside.substr(comma + 1);
    }
    rect = chm::WindowRect{sides[0], sides[1], sides[2], sides[3]};
    return {};
}

// ---- Project text -------------------------------------------------------------------

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

bool IsWindowsDrivePath(std::string_view path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// A path of the project made absolute: "\" read as "/", a relative path
// counted from the project's folder.
std::optional<std::string> AbsolutePath(std::string_view value, const fs::path& projectFolder) {
    std::string path(value);
    for (char& c : path)
        c = c == '\\' ? '/' : c;
    if (IsWindowsDrivePath(path))
        return std::nullopt;
    const fs::path full = path.starts_with('/') ? fs::path(path) : projectFolder / path;
    return full.lexically_normal().string();
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/') + 1);
}

struct Sections {
    std::vector<std::pair<std::string_view, std::string_view>> options, windows;
    std::vector<std::string_view> files, alias, map;
};

Sections ReadSections(std::string_view text) {
    enum class In { Other, Options, Files, Windows, Alias, Map } in = In::Other;
    Sections sections;
    for (std::string_view line : SplitLines(text)) {
        line = Trim(line);
        if (line.empty() || line.starts_with(';'))
            continue;
        if (line.starts_with('[') && line.find(']') != std::string_view::npos) {
            const std::string_view name = Trim(line.substr(1, line.find(']') - 1));
            in = EqualNoCase(name, "OPTIONS")   ? In::Options
                 : EqualNoCase(name, "FILES")   ? In::Files
                 : EqualNoCase(name, "WINDOWS") ? In::Windows
                 : EqualNoCase(name, "ALIAS")   ? In::Alias
                 : EqualNoCase(name, "MAP")     ? In::Map
                                                : In::Other;
            continue;
        }
        if (in == In::Files || in == In::Alias || in == In::Map) {
            (in == In::Files   ? sections.files
             : in == In::Alias ? sections.alias
                               : sections.map)
                .push_back(line);
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || in == In::Other)
            continue;
        const auto entry = std::pair{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
        (in == In::Options ? sections.options : sections.windows).push_back(entry);
    }
    return sections;
}

// As the Windows profile reader does, names compare without regard to case
// and the first of repeated keys counts.
std::optional<std::string_view> Option(const Sections& sections, std::string_view key) {
    for (const auto& [name, value] : sections.options) {
        if (EqualNoCase(name, key))
            return value;
    }
    return std::nullopt;
}

ProjectResult Failure(std::string error) {
    return {{}, std::move(error), {}};
}

} // namespace

std::string ParseWindowDefinition(std::string_view text, chm::HelpWindow& window) {
    std::vector<std::string_view> fields = SplitDefinition(text);
    if (fields.size() > kWindowFields) {
        // Extra commas in a text such as the second jump's title: when the
        // rectangle and the numbers after it stand where they belong, the
        // surplus goes back into the last text field.
        const std::size_t extra = fields.size() - kWindowFields;
        if (!Trim(fields[kRectField + extra]).starts_with('['))
            return Format(Tr("more than %zu fields"), kWindowFields);
        const std::string_view last = fields[8];
        const std::string_view merged(last.data(), fields[8 + extra].data() +
                                                       fields[8 + extra].size() - last.data());
        fields.erase(fields.begin() + 9, fields.begin() + 9 + static_cast<long>(extra));
        fields[8] = merged;
    }
    fields.resize(kWindowFields);

    chm::HelpWindow parsed;
    parsed.name = window.name;
    std::string* const texts[] = {&parsed.caption,     &parsed.contentsFile, &parsed.indexFile,
                                  &parsed.defaultFile, &parsed.homeFile,     &parsed.jump1Url,
                                  &parsed.jump1Text,   &parsed.jump2Url,     &parsed.jump2Text};
    for (std::size_t i = 0; i < std::size(texts); ++i)
        *texts[i] = TextField(fields[i]);
    std::optional<std::int64_t>* const numbers[] = {
        &parsed.properties, &parsed.navWidth,    &parsed.buttons,   nullptr,
        &parsed.styles,     &parsed.exStyles,    &parsed.showState, &parsed.navClosed,
        &parsed.defaultTab, &parsed.tabPosition, &parsed.notifyId,
    };
    for (std::size_t i = 0; i < std::size(numbers); ++i) {
        const std::size_t index = std::size(texts) + i;
        if (index == kRectField) {
            if (std::string error = ParseRect(fields[index], parsed.rect); !error.empty())
                return error;
            continue;
        }
        if (Trim(fields[index]).empty())
            continue;
        *numbers[i] = ParseNumber(fields[index]);
        if (!*numbers[i])
            return FieldError(index, fields[index], N_("is not a number"));
    }
    window = std::move(parsed);
    return {};
}

ProjectResult ParseProject(std::string_view bytes, const std::string& projectPath) {
    // UTF-8 with a byte order mark or when the bytes are valid UTF-8, else
    // in the code page of the language the project names, which its ASCII
    // "Language" line tells. Everything below is UTF-8.
    const bool marked = bytes.starts_with("\xEF\xBB\xBF");
    if (marked)
        bytes.remove_prefix(3);
    std::optional<std::uint32_t> language;
    bool languageGiven = false;
    const auto readLanguage = [&](const Sections& read) {
        const auto value = Option(read, "Language");
        languageGiven = value && !Trim(*value).empty();
        language = languageGiven ? text::ParseLanguageValue(*value) : std::nullopt;
        return value.value_or("");
    };
    std::string text;
    if (marked || IsValidUtf8(bytes)) {
        text = std::string(bytes);
    } else {
        readLanguage(ReadSections(bytes));
        text = text::Decode(bytes, text::Charset::ForCodePage(text::AnsiCodePage(
                                       language.value_or(text::kDefaultLanguage))));
    }
    const Sections sections = ReadSections(text);
    const std::string_view languageValue = readLanguage(sections);
    if (languageGiven && !language)
        return Failure(Format(Tr("\"Language\" does not start with a language number: \"%s\""),
                              std::string(languageValue)));
    const fs::path projectFolder = fs::path(projectPath).parent_path();
    Project project;

    std::string error;
    // what is marked N_ and translated here.
    auto path = [&](const char* what, std::string_view value) {
        auto absolute = AbsolutePath(value, projectFolder);
        if (!absolute && error.empty())
            error = Format(Tr("%s \"%s\" is a Windows drive path; name it relative to the "
                              "project or from /"),
                           Tr(what), std::string(value));
        return absolute.value_or(std::string());
    };

    const std::string_view topic = Option(sections, "Default topic").value_or("");
    if (topic.empty())
        return Failure(Tr("the project names no start page (\"Default topic\" in [OPTIONS])"));
    const std::string_view output = Option(sections, "Compiled file").value_or("");
    if (output.empty())
        return Failure(
            Tr("the project names no help file to write (\"Compiled file\" in [OPTIONS])"));
    project.defaultTopic = path(N_("the start page"), topic);
    project.compiledFile = path(N_("the help file"), output);
    const bool absoluteTopic = topic.starts_with('/') || topic.starts_with('\\');
    project.siteRoot = absoluteTopic ? FolderOf(project.defaultTopic)
                                     : fs::path(projectFolder / "").lexically_normal().string();

    for (std::string_view file : sections.files)
        project.files.push_back(path(N_("the file"), file));
    if (const auto value = Option(sections, "Contents file"); value && !value->empty())
        project.contentsFile = path(N_("the contents file"), *value);
    if (const auto value = Option(sections, "Index file"); value && !value->empty())
        project.indexFile = path(N_("the index file"), *value);
    if (const auto value = Option(sections, "Full text search stop list file");
        value && !value->empty())
        project.stopListFile = path(N_("the stop list file"), *value);
    if (!error.empty())
        return Failure(error);

    project.title = std::string(Option(sections, "Title").value_or(""));
    project.defaultWindow = std::string(Option(sections, "Default Window").value_or(""));
    project.fullTextSearch = IsYes(Option(sections, "Full-text search").value_or(""));
    project.displayProgress = IsYes(Option(sections, "Display compile progress").value_or(""));
    project.defaultFont = std::string(Option(sections, "Default Font").value_or(""));
    project.bestCompression = EqualNoCase(Option(sections, "Compression").value_or(""), "best");
    project.aliasLines.assign(sections.alias.begin(), sections.alias.end());
    project.mapLines.assign(sections.map.begin(), sections.map.end());
    std::vector<std::string> warnings;
    if (language) {
        project.language = *language;
        if (!text::FindLanguage(*language))
            warnings.push_back(Format(Tr("the language %s is not one Windows knows; its texts "
                                         "are stored in Windows-%d"),
                                      std::string(Trim(languageValue)),
                                      static_cast<int>(text::AnsiCodePage(*language))));
    } else {
        project.language = text::kDefaultLanguage;
        warnings.push_back(Tr("the project names no language (\"Language\" in [OPTIONS]); "
                              "it is compiled as 0x409 English (United States)"));
    }

    const auto noCaseLess = [](std::string_view a, std::string_view b) { return LessNoCase(a, b); };
    std::set<std::string_view, decltype(noCaseLess)> seen(noCaseLess);
    for (const auto& [name, definition] : sections.windows) {
        if (!seen.insert(name).second)
            continue; // the first definition of a name counts
        chm::HelpWindow window;
        window.name = std::string(name);
        if (std::string problem = ParseWindowDefinition(definition, window); !problem.empty())
            return Failure(Format(Tr("window \"%s\" in [WINDOWS]: %s"), window.name, problem));
        project.windows.push_back(std::move(window));
    }
    return {std::move(project), {}, std::move(warnings)};
}

ProjectResult ReadProject(const std::string& given) {
    const std::string path = fs::absolute(given).lexically_normal().string();
    const FileBytes file = ReadWholeFile(path, kMaxProjectSize);
    switch (file.failure) {
    case FileBytes::Failure::None:
        return ParseProject(file.bytes, path);
    case FileBytes::Failure::Open:
        return Failure(Format(Tr("cannot open the project %s: %s"), path, file.detail));
    case FileBytes::Failure::NotAFile:
        return Failure(Format(Tr("the project %s is not a file"), path));
    case FileBytes::Failure::TooLarge:
        return Failure(Format(Tr("the project %s is too large to be a help project"), path));
    case FileBytes::Failure::Read:
        break;
    }
    return Failure(Format(Tr("cannot read the project %s: %s"), path, file.detail));
}

} // namespace tbx::site
