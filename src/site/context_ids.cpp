#include "site/context_ids.h"

#include "platform/messages.h"
#include "text/ascii.h"

#include <map>
#include <optional>

namespace tbx::site {
namespace {

using text::TrimHtmlSpace;

// The lines without their C and C++ comments; a block comment may span lines.
std::vector<std::string> WithoutComments(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    bool inBlock = false;
    for (const std::string& line : lines) {
        std::string kept;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (inBlock) {
                if (line.compare(i, 2, "*/") == 0) {
                    inBlock = false;
                    ++i;
                    kept += ' ';
                }
            } else if (line.compare(i, 2, "/*") == 0) {
                inBlock = true;
                ++i;
            } else if (line.compare(i, 2, "//") == 0) {
                break;
            } else {
                kept += line[i];
            }
        }
        out.emplace_back(TrimHtmlSpace(kept));
    }
    return out;
}

bool IsIdentifier(std::string_view name) {
    if (name.empty() || text::IsAsciiDigit(name[0]))
        return false;
    for (const char c : name) {
        if (!text::IsAsciiAlnum(c) && c != '_')
            return false;
    }
    return true;
}

} // namespace

std::optional<std::uint32_t> CNumber(std::string_view text) {
    text = TrimHtmlSpace(text);
    if (text.size() >= 2 && text.front() == '(' && text.back() == ')')
        text = TrimHtmlSpace(text.substr(1, text.size() - 2));
    while (!text.empty() &&
           (text.back() == 'u' || text.back() == 'U' || text.back() == 'l' || text.back() == 'L'))
        text.remove_suffix(1);
    return text::ParseUnsigned32(text);
}

namespace {

struct Definition {
    std::string_view name, value;
};

// "NAME=value", spaces allowed around either side.
std::optional<Definition> Assignment(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = TrimHtmlSpace(line.substr(0, equals));
    const std::string_view value = TrimHtmlSpace(line.substr(equals + 1));
    if (!IsIdentifier(name) || value.empty())
        return std::nullopt;
    return Definition{name, value};
}

// "#define NAME value": the name and the rest; an empty value for a
// definition without one (an include guard).
std::optional<Definition> Define(std::string_view line) {
    line = TrimHtmlSpace(line.substr(1));
    if (!line.starts_with("define") || line.size() == 6 || !text::IsHtmlSpace(line[6]))
        return std::nullopt;
    line = TrimHtmlSpace(line.substr(6));
    const std::size_t space = std::min(line.find_first_of(" \t"), line.size());
    const std::string_view name = line.substr(0, space);
    if (!IsIdentifier(name))
        return std::nullopt;
    return Definition{name, TrimHtmlSpace(line.substr(space))};
}

std::string Unreadable(const char* section, const std::string& line, const char* form) {
    return Format(Tr("%s line \"%s\" is not %s; it is ignored"), section, line, form);
}

} // namespace

ContextIds ReadContextIds(const std::vector<std::string>& aliasLines,
                          const std::vector<std::string>& mapLines) {
    ContextIds out;
    std::map<std::string, std::string, std::less<>> files; // name -> target
    for (const std::string& line : WithoutComments(aliasLines)) {
        if (line.empty() || line.starts_with('#'))
            continue;
        const auto alias = Assignment(line);
        if (!alias) {
            out.warnings.push_back(Unreadable("[ALIAS]", line, "\"NAME=file\""));
            continue;
        }
        std::string target(alias->value);
        for (char& c : target)
            c = c == '\\' ? '/' : c;
        const auto [known, fresh] = files.try_emplace(std::string(alias->name), target);
        if (!fresh)
            out.warnings.push_back(
                Format(Tr("%s is defined twice in [ALIAS]; the first file, %s, is kept"),
                       known->first, known->second));
    }

    std::map<std::string, std::uint32_t, std::less<>> values;
    for (const std::string& line : WithoutComments(mapLines)) {
        if (line.empty())
            continue;
        std::optional<Definition> definition;
        if (line.starts_with('#')) {
            definition = Define(line);
            // Include guards and the other directives of a header define no id.
            if (!definition || definition->value.empty())
                continue;
        } else {
            definition = Assignment(line);
        }
        const std::optional<std::uint32_t> value =
            definition ? CNumber(definition->value) : std::nullopt;
        if (!value) {
            out.warnings.push_back(
                Unreadable("[MAP]", line, "\"#define NAME number\" or \"NAME=number\""));
            continue;
        }
        const auto [known, fresh] = values.try_emplace(std::string(definition->name), *value);
        if (!fresh) {
            out.warnings.push_back(
                Format(Tr("%s is defined twice in [MAP]; the first value, %u, is kept"),
                       known->first, static_cast<unsigned>(known->second)));
            continue;
        }
        const auto file = files.find(definition->name);
        if (file == files.end()) {
            out.warnings.push_back(
                Format(Tr("the context id %s (%u) has no file in [ALIAS]; it opens nothing"),
                       known->first, static_cast<unsigned>(*value)));
            continue;
        }
        out.ids.push_back({known->first, *value, file->second});
    }
    for (const auto& [name, target] : files) {
        if (!values.contains(name))
            out.warnings.push_back(Format(
                Tr("the alias %s (%s) has no context id in [MAP]; it is left out"), name, target));
    }
    return out;
}

std::string TargetNotInHelpFile(const ContextId& id) {
    return Format(Tr("the context id %s names %s, which is not in the help file"), id.name,
                  id.target);
}

} // namespace tbx::site
