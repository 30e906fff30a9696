#include "compile/help_project.h"

#include "platform/files.h"
#include "platform/temp_files.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "text/charset.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

namespace tbx {
namespace {

// Help window property and toolbar button bits of the window definition.
constexpr int kPropTriPane = 0x20;
constexpr int kPropAutoSync = 0x100;
constexpr int kPropChangeTitle = 0x2000;
constexpr int kPropUserPos = 0x40000;
constexpr int kPropTabSearch = 0x400;
constexpr int kPropTabFavorites = 0x1000;

constexpr int kButtonJump1 = 0x40000;
constexpr int kButtonJump2 = 0x80000;

struct ButtonFlag {
    const char* name;
    int bit;
};
constexpr ButtonFlag kButtonFlags[] = {
    {"ShowHide", 0x2}, {"Options", 0x1000}, {"Back", 0x4},  {"Forward", 0x8},
    {"Stop", 0x10},    {"Refresh", 0x20},   {"Home", 0x40}, {"Print", 0x2000},
};

constexpr std::string_view kProjectFolderPrefix = "project-";

// How many alternative project names to try when the usual ones are taken.
constexpr int kProjectNameAttempts = 100;

// A line break inside a value would end the INI line and start a new key.
std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            c = ' ';
    }
    return out;
}

} // namespace

// The caption is the definition's one quoted field, so a straight double
// quote inside it would end it early. A quote at the start, after a blank or
// after an opening bracket opens, any other closes; those that pair up
// become the guillemets of Russian text, and one without a partner becomes
// the right double quotation mark, which reads as the inch or ditto mark
// such a lone quote usually is. All three exist in Windows-1251.
std::string CaptionText(std::string_view title) {
    std::string text = OneLine(title);
    enum class Mark { Open, Close, Lone };
    std::vector<std::pair<std::size_t, Mark>> quotes;
    std::vector<std::size_t> open; // indexes into quotes of unmatched openers
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '"')
            continue;
        if (i == 0 || std::string_view(" \t([{").find(text[i - 1]) != std::string_view::npos) {
            open.push_back(quotes.size());
            quotes.emplace_back(i, Mark::Lone);
        } else if (!open.empty()) {
            quotes[open.back()].second = Mark::Open;
            open.pop_back();
            quotes.emplace_back(i, Mark::Close);
        } else {
            quotes.emplace_back(i, Mark::Lone);
        }
    }
    // From the end, so the positions before each replacement stay valid.
    for (auto it = quotes.rbegin(); it != quotes.rend(); ++it) {
        const char* mark = it->second == Mark::Open ? "«" : it->second == Mark::Close ? "»" : "”";
        text.replace(it->first, 1, mark);
    }
    return text;
}

namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// A path exactly as Windows-1251 bytes, or nothing when it cannot be written so.
std::optional<std::string> PathBytes(const std::string& path) {
    if (path.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    return EncodeCp1251Exact(path);
}

int NavigationStyle(const RegHive& hive) {
    int style = kPropTriPane + kPropAutoSync + kPropChangeTitle;
    style += GetOptFlag(hive, "SaveCHMWndPos", kPropUserPos, kCmnOptsKey);
    if (GetOptFlag(hive, "NavPanel", 1, kNavOptsKey)) {
        style += GetOptFlag(hive, "NavSearch", kPropTabSearch, kNavOptsKey);
        style += GetOptFlag(hive, "NavFavorites", kPropTabFavorites, kNavOptsKey);
    }
    return style;
}

std::string WindowRectangle(const RegHive& hive, ScreenSize screen) {
    int left, top, right, bottom;
    if (GetOptFlag(hive, "AutoSize", 1, kCmnOptsKey)) {
        const int h = screen.width, v = screen.height;
        left = h / 2 - 5 * h / 12;
        top = v / 2 - 5 * v / 12;
        right = 5 * h / 12 + h / 2;
        bottom = 5 * v / 12 + v / 2;
    } else {
        left = GetOptNumber(hive, "LSide", kCmnOptsKey);
        top = GetOptNumber(hive, "TSide", kCmnOptsKey);
        right = GetOptNumber(hive, "Width", kCmnOptsKey);
        bottom = GetOptNumber(hive, "Height", kCmnOptsKey);
    }
    return "[" + std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right) +
           "," + std::to_string(bottom) + "]";
}

std::string ProjectText(const RegHive& hive, const std::string& page, const std::string& output,
                        const std::string& windowDefinition) {
    const bool fullTextSearch = GetOptFlag(hive, "NavSearch", 1, kNavOptsKey) &&
                                GetOptFlag(hive, "NavPanel", 1, kNavOptsKey);
    std::string text;
    text += "[OPTIONS]\r\n";
    text += "Compatibility=1.1 or later\r\n";
    text += "Compiled file=" + output + "\r\n";
    text += "Default Window=Tomebox\r\n";
    text += "Default topic=" + page + "\r\n";
    text += "Display compile progress=Yes\r\n";
    text += std::string("Full-text search=") + (fullTextSearch ? "Yes" : "No") + "\r\n";
    text += "Language=0x419 Russian\r\n";
    text += "\r\n[FILES]\r\n" + page + "\r\n";
    text += "\r\n[WINDOWS]\r\nTomebox=" + windowDefinition + "\r\n";
    return text;
}

HelpProjectResult Failure(int messageId, const std::string& detail) {
    return {{}, LoadString(messageId) + (detail.empty() ? "" : "\n" + detail), messageId, detail};
}

// Writes the project under a working name and moves it to the final name.
// Names already present, a stale working file included, are skipped rather
// than merged into or replaced: they may be the user's.
HelpProjectResult PlaceProject(const std::string& folder, const std::string& bytes) {
    for (int attempt = 0; attempt < kProjectNameAttempts; ++attempt) {
        const std::string stem =
            attempt == 0 ? "Tomebox!" : "Tomebox!-" + std::to_string(attempt + 1);
        const std::string working = JoinPath(folder, stem + ".ini");
        const std::string final = JoinPath(folder, stem + ".hhp");
        if (PathExists(working) || PathExists(final))
            continue;
        if (std::string error = WriteNewFile(working, bytes); !error.empty())
            return Failure(kMsgProjectWriteFailed, error);
        bool finalExists = false;
        const std::string error = MoveFileNoReplace(working, final, finalExists);
        if (error.empty())
            return {final, {}, 0, {}};
        RemoveFile(working);
        if (!finalExists)
            return Failure(kMsgProjectWriteFailed, error);
    }
    return Failure(kMsgProjectWriteFailed, JoinPath(folder, "Tomebox!.hhp"));
}

} // namespace

ProjectFolder::ProjectFolder() {
    const std::string work = PrivateWorkFolder();
    if (work.empty())
        return;
    RemoveStaleTemporaries(work, kProjectFolderPrefix);
    path_ = CreateTempFolder(work, kProjectFolderPrefix);
    if (path_.empty())
        error_ = work + "\n" + std::strerror(errno);
}

ProjectFolder::~ProjectFolder() {
    std::error_code ec;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ec);
}

std::string ProjectFolder::Failure() const {
    return LoadString(kMsgProjectWriteFailed) + (error_.empty() ? "" : "\n" + error_);
}

std::string ReadOptionText(const COptKey& key, std::string_view name) {
    return COptReg().ReadText(key, name);
}

std::string BuildWindowDefinition(const RegHive& hive, std::string_view title,
                                  std::string_view aboutPage, ScreenSize screen) {
    std::string userLink = ",,";
    int buttons = kButtonJump1;
    {
        COptKey key;
        if (key.Open(hive, kBtnOptsKey) == kErrorSuccess && COptReg().ReadFlag(key, "UserLink")) {
            userLink = OneLine(ReadOptionText(key, "UserLinkUrl")) + "," +
                       OneLine(ReadOptionText(key, "UserLinkTitle")) + ",";
            buttons += kButtonJump2;
        }
    }
    for (const ButtonFlag& flag : kButtonFlags)
        buttons += GetOptFlag(hive, flag.name, flag.bit, kBtnOptsKey);

    std::string definition = "\"" + CaptionText(title) + "\"";
    definition += std::string(",,,,") + kAuthorSite + ",";
    definition += aboutPage;
    definition += ",About,";
    definition += userLink;
    definition += std::to_string(NavigationStyle(hive)) + ",";
    definition += std::to_string(GetOptNumber(hive, "NavWidth", kNavOptsKey)) + ",";
    definition += std::to_string(buttons) + ",";
    definition += WindowRectangle(hive, screen);
    definition += ",,,,,,,0";
    return definition;
}

HelpProjectResult WriteHelpProject(const RegHive& hive, const HelpProjectInput& input) {
    // The project names the page absolutely, so the compiler finds the site
    // wherever the project lies; a relative path would depend on whatever
    // folder the program was started from.
    if (!input.pagePath.starts_with('/'))
        return Failure(kMsgPagePathNotFull, input.pagePath);
    if (!input.projectFolder.starts_with('/'))
        return Failure(kMsgProjectWriteFailed, input.projectFolder);
    const std::string aboutPage = JoinPath(input.programFolder, "about.htm");
    const auto page = PathBytes(input.pagePath);
    if (!page)
        return Failure(kMsgPathNotWritable1251, input.pagePath);
    const auto output = PathBytes(input.outputPath);
    if (!output)
        return Failure(kMsgPathNotWritable1251, input.outputPath);
    if (!PathBytes(aboutPage))
        return Failure(kMsgPathNotWritable1251, aboutPage);

    // The definition holds the about page as it is; every character of it
    // was just shown to be encodable, so only the free texts can turn to '?'.
    const std::string definition = EncodeCp1251(
        BuildWindowDefinition(hive, input.title, aboutPage, input.screen), Unmappable::Nearest);
    return PlaceProject(input.projectFolder, ProjectText(hive, *page, *output, definition));
}

} // namespace tbx
