#include "site/project.h"

#include "platform/files.h"
#include "platform/messages.h"
#include "text/ascii.h"
#include "text/charset.h"
#include "text/language.h"
#include "text/text_case.h"
#include "text/utf8.h"

#include <algorithm>
#include <cctype>
#include <deque>
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
    const std::optional<std::uint32_t> value = text::ParseUnsigned32(text);
    if (!value)
        return std::nullopt;
    return negative ? -static_cast<std::int64_t>(*value) : static_cast<std::int64_t>(*value);
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

// ---- What Microsoft's compiler reads, and what hhc does with it -------------------

bool AsksNothing(std::string_view value) {
    return value.empty() || EqualNoCase(value, "no") || EqualNoCase(value, "false") || value == "0";
}
bool Never(std::string_view) {
    return false;
}

// Every [OPTIONS] key Microsoft's compiler knows. A key without a check is
// read into the project; one with a check is not done by hhc, and a value
// the check does not pass gets a warning naming the key and why.
struct OptionKey {
    std::string_view name;
    bool (*honoured)(std::string_view value) = nullptr;
    const char* why = nullptr; // marked N_
};

const char* const kNotDone = N_("hhc does not do what it asks");

const OptionKey kOptionKeys[] = {
    {"Compiled file"},
    {"Contents file"},
    {"Default Font"},
    {"Default topic"},
    {"Default Window"},
    {"Display compile progress"},
    {"Error log file"},
    {"Full text search stop list file"},
    {"Full-text search"},
    {"Index file"},
    {"Language"},
    {"Title"},
    {"Compression"}, // our own: "best" for the smallest file
    {"Binary TOC", AsksNothing,
     N_("hhc writes no binary contents; the viewer reads the contents file")},
    {"Binary Index"},
    {"Create CHI file", AsksNothing,
     N_("hhc writes no .chi file; the index stays in the help file")},
    {"Enhanced decompilation", AsksNothing, N_("hhc stores no project to decompile")},
    {"Flat", AsksNothing, N_("hhc keeps the folders of the files")},
    {"Compatibility", [](std::string_view value) { return value.starts_with("1.1"); },
     N_("hhc writes help files for HTML Help 1.1 and later")},
    {"Display compile notes", [](std::string_view value) { return !AsksNothing(value); },
     N_("hhc shows its warnings whatever it says")},
    {"Auto Index"},
    {"Auto TOC", AsksNothing,
     N_("hhc makes the contents from the contents file or the start page's links, not from "
        "headings")},
    {"Custom tab", Never, kNotDone},
    {"CITATION", Never, kNotDone},
    {"COPYRIGHT", Never, kNotDone},
    {"DBCS", Never, kNotDone},
    {"IGNORE", Never, kNotDone},
    {"PREFIX", Never, kNotDone},
    {"Sample Staging Path", Never, kNotDone},
    {"Sample List File", Never, kNotDone},
    {"TMPDIR", Never, kNotDone},
};

enum class In { None, Options, Files, Windows, Alias, Map, Popups, Merge, NotRead };

// Every section Microsoft's compiler knows; why is given for those hhc
// does not read.
struct SectionName {
    std::string_view name;
    In in;
    const char* why = nullptr; // marked N_
};

const SectionName kSections[] = {
    {"OPTIONS", In::Options},
    {"FILES", In::Files},
    {"WINDOWS", In::Windows},
    {"ALIAS", In::Alias},
    {"MAP", In::Map},
    {"TEXT POPUPS", In::Popups},
    {"MERGE FILES", In::Merge},
    {"INFOTYPES", In::NotRead, N_("hhc writes no information types")},
    {"SUBSETS", In::NotRead, N_("hhc writes no subsets")},
};

// Files included in files included ... this deep are taken for a loop.
constexpr int kMaxIncludeDepth = 16;

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

// "C:\..." or "\\server\share\...", with "\" already read as "/".
bool IsWindowsPath(std::string_view path) {
    const bool drive =
        path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    const bool unc = path.size() > 2 && path.starts_with("//") && path[2] != '/';
    return drive || unc;
}

std::string Slashes(std::string_view value) {
    std::string path(value);
    for (char& c : path)
        c = c == '\\' ? '/' : c;
    return path;
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/') + 1);
}

enum class Role { Read, Write };

// A path of the project made absolute: "\" read as "/", a relative path
// counted from the project's folder. A Windows path names nothing here:
// a file to write goes into the project's folder; a file to read is the
// longest end of the path found there (or the file name), as a project
// moved from Windows with its files keeps them below it. what is marked
// N_ and translated here.
std::string ProjectPath(const char* what, std::string_view value, const fs::path& folder, Role role,
                        std::vector<std::string>& warnings) {
    const std::string given = Slashes(value);
    if (!IsWindowsPath(given))
        return (given.starts_with('/') ? fs::path(given) : folder / given)
            .lexically_normal()
            .string();
    std::vector<std::string> names;
    for (const auto& part : fs::path(given.substr(given.find('/') + 1)).relative_path()) {
        if (!part.empty())
            names.push_back(part.string());
    }
    fs::path found = folder / (names.empty() ? "" : names.back());
    for (std::size_t from = 0; role == Role::Read && from + 1 < names.size(); ++from) {
        fs::path candidate = folder;
        for (std::size_t i = from; i < names.size(); ++i)
            candidate /= names[i];
        if (PathExists(candidate.string())) {
            found = candidate;
            break;
        }
    }
    const std::string result = found.lexically_normal().string();
    warnings.push_back(Format(Tr("%s \"%s\" is a Windows path; %s is used instead"), Tr(what),
                              std::string(value), result));
    return result;
}

// A [FILES] line may name files by a pattern in its last part
// ("img\*.gif"), as projects written for Windows do: each file of that
// folder it matches, in name order. A file of that very name, or a pattern
// nothing matches, stays as written, so that the walk names what is missing.
std::vector<std::string> FilesNamedBy(const std::string& path) {
    const fs::path given(path);
    const std::string pattern = given.filename().string();
    if (pattern.find_first_of("*?") == std::string::npos || PathExists(path))
        return {path};
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(given.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code unreadable; // a broken link is no file, and no reason to stop
        if (MatchesNoCase(pattern, name) && it->is_regular_file(unreadable))
            names.push_back(name);
    }
    if (names.empty())
        return {path};
    std::sort(names.begin(), names.end(), NameLess);
    for (std::string& name : names)
        name = (given.parent_path() / name).string();
    return names;
}

struct Sections {
    std::vector<std::pair<std::string_view, std::string_view>> options, windows;
    std::vector<std::string_view> files, alias, map, popups, merge;
    std::vector<std::string> warnings;
    std::string error;
    std::deque<std::string> included; // the texts of #include files, which the views point into
};

// Reads the lines of the sections in order; an "#include file" line in any
// section stands for the lines of that file (named relative to the
// project), read in the same section. Included files are read when folder
// is given, in UTF-8 when they are valid UTF-8, else in legacy.
class SectionReader {
public:
    SectionReader(std::optional<fs::path> folder, const text::Charset& legacy)
        : folder_(std::move(folder)), legacy_(legacy) {}

    Sections Read(std::string_view text) {
        Lines(text, 0);
        return std::move(sections_);
    }

private:
    void Lines(std::string_view text, int depth) {
        for (std::string_view line : SplitLines(text)) {
            line = Trim(line);
            if (line.empty() || line.starts_with(';') || !sections_.error.empty())
                continue;
            if (line.size() > 8 && EqualNoCase(line.substr(0, 8), "#include") &&
                (line[8] == ' ' || line[8] == '\t' || line[8] == '"' || line[8] == '<')) {
                Include(Trim(line.substr(8)), depth);
            } else if (line.starts_with('[') && line.find(']') != std::string_view::npos) {
                Section(Trim(line.substr(1, line.find(']') - 1)));
            } else {
                Line(line);
            }
        }
    }

    void Section(std::string_view name) {
        in_ = In::NotRead;
        why_ = N_("it is no section hhc knows");
        for (const SectionName& known : kSections) {
            if (EqualNoCase(name, known.name)) {
                in_ = known.in;
                why_ = known.why;
            }
        }
        section_ = std::string(name);
        warned_ = false;
    }

    void Line(std::string_view line) {
        if (in_ == In::NotRead && !warned_) {
            sections_.warnings.push_back(
                Format(Tr("[%s] is not read: %s"), section_, std::string(Tr(why_))));
            warned_ = true;
        }
        std::vector<std::string_view>* const lists[] = {
            in_ == In::Files ? &sections_.files : nullptr,
            in_ == In::Alias ? &sections_.alias : nullptr,
            in_ == In::Map ? &sections_.map : nullptr,
            in_ == In::Popups ? &sections_.popups : nullptr,
            in_ == In::Merge ? &sections_.merge : nullptr,
        };
        for (auto* list : lists) {
            if (list) {
                list->push_back(line);
                return;
            }
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || (in_ != In::Options && in_ != In::Windows))
            return;
        const auto entry = std::pair{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
        (in_ == In::Options ? sections_.options : sections_.windows).push_back(entry);
    }

    void Include(std::string_view name, int depth) {
        if (!folder_)
            return;
        if (name.size() >= 2 && ((name.front() == '"' && name.back() == '"') ||
                                 (name.front() == '<' && name.back() == '>')))
            name = name.substr(1, name.size() - 2);
        const std::string path =
            ProjectPath(N_("the included file"), name, *folder_, Role::Read, sections_.warnings);
        const FileBytes file = ReadWholeFile(path, kMaxProjectSize);
        if (depth >= kMaxIncludeDepth || file.failure != FileBytes::Failure::None) {
            const std::string why = depth >= kMaxIncludeDepth ? Tr("it includes itself")
                                    : file.detail.empty()     ? Tr("it is not a file")
                                                              : file.detail;
            sections_.error =
                Format(Tr("cannot read %s, which the project includes: %s"), path, why);
            return;
        }
        std::string_view bytes = file.bytes;
        if (bytes.starts_with("\xEF\xBB\xBF"))
            bytes.remove_prefix(3);
        sections_.included.push_back(IsValidUtf8(bytes) ? std::string(bytes)
                                                        : text::Decode(bytes, legacy_));
        Lines(sections_.included.back(), depth + 1);
    }

    const std::optional<fs::path> folder_;
    const text::Charset legacy_;
    Sections sections_;
    In in_ = In::None;
    std::string section_;
    const char* why_ = nullptr;
    bool warned_ = false;
};

// As the Windows profile reader does, names compare without regard to case
// and the first of repeated keys counts.
std::optional<std::string_view> Option(const Sections& sections, std::string_view key) {
    for (const auto& [name, value] : sections.options) {
        if (EqualNoCase(name, key))
            return value;
    }
    return std::nullopt;
}

// A warning for each key hhc does not know or does not do as asked.
void CheckOptions(const Sections& sections, std::vector<std::string>& warnings) {
    for (const auto& [name, value] : sections.options) {
        const OptionKey* key = nullptr;
        for (const OptionKey& known : kOptionKeys) {
            if (EqualNoCase(name, known.name))
                key = &known;
        }
        if (!key)
            warnings.push_back(Format(Tr("\"%s\" in [OPTIONS] is not read: it is no key hhc knows"),
                                      std::string(name)));
        else if (key->honoured && !key->honoured(value))
            warnings.push_back(Format(Tr("\"%s=%s\" in [OPTIONS] is not honoured: %s"),
                                      std::string(name), std::string(value), Tr(key->why)));
    }
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
    const auto language = [](const Sections& read) {
        const std::string_view value = Option(read, "Language").value_or("");
        return std::pair{value,
                         Trim(value).empty() ? std::nullopt : text::ParseLanguageValue(value)};
    };
    const text::Charset legacy = text::Charset::ForCodePage(
        text::AnsiCodePage(language(SectionReader(std::nullopt, text::Charset::Utf8()).Read(bytes))
                               .second.value_or(text::kDefaultLanguage)));
    const std::string text =
        marked || IsValidUtf8(bytes) ? std::string(bytes) : text::Decode(bytes, legacy);
    const fs::path projectFolder = fs::path(projectPath).parent_path();
    const Sections sections = SectionReader(projectFolder, legacy).Read(text);
    if (!sections.error.empty())
        return Failure(sections.error);
    const auto [languageValue, lcid] = language(sections);
    if (!Trim(languageValue).empty() && !lcid)
        return Failure(
            Format(Tr("\"Language\" names no language: \"%s\""), std::string(languageValue)));
    Project project;
    std::vector<std::string> warnings = sections.warnings;

    const auto path = [&](const char* what, std::string_view value, Role role) {
        return ProjectPath(what, value, projectFolder, role, warnings);
    };

    const std::string_view topic = Option(sections, "Default topic").value_or("");
    if (topic.empty() && sections.files.empty())
        return Failure(Tr("the project names no start page: neither \"Default topic\" in "
                          "[OPTIONS] nor a file in [FILES]"));
    if (!topic.empty())
        project.defaultTopic = path(N_("the start page"), topic, Role::Read);
    const std::string_view output = Option(sections, "Compiled file").value_or("");
    project.compiledFile = output.empty()
                               ? (projectFolder / fs::path(projectPath).stem()).string() + ".chm"
                               : path(N_("the help file"), output, Role::Write);
    // The folder the walk stays in: the start's, when it is named from "/".
    const std::string_view start = topic.empty() ? sections.files.front() : topic;
    const bool absoluteStart = start.starts_with('/') || start.starts_with('\\');
    for (std::string_view file : sections.files) {
        for (std::string& named : FilesNamedBy(path(N_("the file"), file, Role::Read)))
            project.files.push_back(std::move(named));
    }
    project.siteRoot = absoluteStart
                           ? FolderOf(topic.empty() ? project.files.front() : project.defaultTopic)
                           : fs::path(projectFolder / "").lexically_normal().string();
    for (std::string_view file : sections.popups)
        project.textPopups.push_back(path(N_("the text popup file"), file, Role::Read));
    const std::pair<const char*, std::string*> files[] = {
        {"Contents file", &project.contentsFile},
        {"Index file", &project.indexFile},
        {"Full text search stop list file", &project.stopListFile},
        {"Error log file", &project.errorLogFile},
    };
    const char* const whats[] = {N_("the contents file"), N_("the index file"),
                                 N_("the stop list file"), N_("the error log file")};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        if (const auto value = Option(sections, files[i].first); value && !value->empty())
            *files[i].second = path(whats[i], *value, i == 3 ? Role::Write : Role::Read);
    }

    project.title = std::string(Option(sections, "Title").value_or(""));
    project.defaultWindow = std::string(Option(sections, "Default Window").value_or(""));
    project.fullTextSearch = IsYes(Option(sections, "Full-text search").value_or(""));
    project.binaryIndex = !AsksNothing(Option(sections, "Binary Index").value_or("yes"));
    project.autoIndex = IsYes(Option(sections, "Auto Index").value_or(""));
    project.binaryToc = IsYes(Option(sections, "Binary TOC").value_or(""));
    project.displayProgress =
        !AsksNothing(Option(sections, "Display compile progress").value_or("yes"));
    project.defaultFont = std::string(Option(sections, "Default Font").value_or(""));
    project.bestCompression = EqualNoCase(Option(sections, "Compression").value_or(""), "best");
    project.aliasLines.assign(sections.alias.begin(), sections.alias.end());
    project.mapLines.assign(sections.map.begin(), sections.map.end());
    project.mergeFiles.assign(sections.merge.begin(), sections.merge.end());
    CheckOptions(sections, warnings);
    if (lcid) {
        project.language = *lcid;
        if (!text::FindLanguage(*lcid))
            warnings.push_back(Format(Tr("the language %s is not one Windows knows; its texts "
                                         "are stored in Windows-%d"),
                                      std::string(Trim(languageValue)),
                                      static_cast<int>(text::AnsiCodePage(*lcid))));
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
    if (!project.defaultWindow.empty() && !seen.contains(project.defaultWindow))
        warnings.push_back(Format(Tr("\"Default Window\" names %s, which [WINDOWS] does not "
                                     "define; the help file has no default window"),
                                  project.defaultWindow));
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
