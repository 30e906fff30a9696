#include "settings/option_pages_logic.h"

#include "settings/opt_store.h"
#include "text/text_case.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tbx {
namespace {

// Longest text each reader takes back: its buffer less the terminating zero.
constexpr std::size_t kMaxNumberBytes = kFlagBufferSize - 1;
constexpr std::size_t kMaxTextBytes = kTextBufferSize - 1;

std::string NumberText(const COptReg& reg, const COptKey& key, std::string_view name) {
    return std::to_string(reg.ReadNumber(key, name));
}

// One value of a page to be written.
struct Entry {
    std::string_view name;
    std::string_view text;
    std::size_t maxBytes;
};

Entry Flag(std::string_view name, bool on) {
    return {name, on ? "1" : "0", 1};
}

Entry Number(std::string_view name, const std::string& text) {
    return {name, text, kMaxNumberBytes};
}

Entry Text(std::string_view name, const std::string& text) {
    return {name, text, kMaxTextBytes};
}

// Writes the entries into the key, created when missing, as one change:
// the whole page is stored or none of it. Checks every length first.
OptSaveResult WritePage(const RegHive& hive, const char* keyPath,
                        const std::vector<Entry>& entries) {
    std::vector<std::pair<std::string, std::string>> values;
    for (const Entry& entry : entries) {
        if (entry.text.size() > entry.maxBytes)
            return {kErrorMoreData, std::string(entry.name)};
        values.emplace_back(entry.name, entry.text);
    }
    OptSaveResult result;
    result.code = RegSetValues(hive, keyPath, values, result.value);
    return result;
}

bool EndsWithCss(std::string_view name) {
    return name.size() > 4 && EndsWithNoCase(name, ".css");
}

} // namespace

std::optional<CmnOptValues> LoadCmnOptions(const RegHive& hive) {
    COptKey key;
    if (key.Open(hive, kCmnOptsKey) != kErrorSuccess)
        return std::nullopt;
    const COptReg reg;
    CmnOptValues v;
    v.autoSize = reg.ReadFlag(key, "AutoSize");
    v.lSide = NumberText(reg, key, "LSide");
    v.tSide = NumberText(reg, key, "TSide");
    v.width = NumberText(reg, key, "Width");
    v.height = NumberText(reg, key, "Height");
    v.openAfterCompile = reg.ReadFlag(key, "OpenAfterCompile");
    v.saveChmWndPos = reg.ReadFlag(key, "SaveCHMWndPos");
    v.quitAfterCompile = reg.ReadFlag(key, "QuitAfterCompile");
    v.changeChmOutDir = reg.ReadFlag(key, "ChangeChmOutDir");
    v.consentOnRewrite = reg.ReadFlag(key, "ConsentOnRewrite");
    return v;
}

OptSaveResult SaveCmnOptions(const RegHive& hive, const CmnOptValues& v) {
    std::vector<Entry> entries = {Flag("SaveCHMWndPos", v.saveChmWndPos),
                                  Flag("AutoSize", v.autoSize)};
    // With automatic size the typed numbers are not used, and the ones
    // stored before stay for the next time the user chooses their own.
    if (!v.autoSize) {
        entries.insert(entries.end(), {Number("LSide", v.lSide), Number("TSide", v.tSide),
                                       Number("Width", v.width), Number("Height", v.height)});
    }
    entries.insert(entries.end(), {Flag("OpenAfterCompile", v.openAfterCompile),
                                   Flag("ChangeChmOutDir", v.changeChmOutDir),
                                   Flag("QuitAfterCompile", v.quitAfterCompile),
                                   Flag("ConsentOnRewrite", v.consentOnRewrite)});
    return WritePage(hive, kCmnOptsKey, entries);
}

std::optional<BtnOptValues> LoadBtnOptions(const RegHive& hive) {
    COptKey key;
    if (key.Open(hive, kBtnOptsKey) != kErrorSuccess)
        return std::nullopt;
    const COptReg reg;
    BtnOptValues v;
    v.showHide = reg.ReadFlag(key, "ShowHide");
    v.back = reg.ReadFlag(key, "Back");
    v.options = reg.ReadFlag(key, "Options");
    v.forward = reg.ReadFlag(key, "Forward");
    v.stop = reg.ReadFlag(key, "Stop");
    v.refresh = reg.ReadFlag(key, "Refresh");
    v.home = reg.ReadFlag(key, "Home");
    v.print = reg.ReadFlag(key, "Print");
    v.userLink = reg.ReadFlag(key, "UserLink");
    v.userLinkUrl = reg.ReadText(key, "UserLinkUrl");
    v.userLinkTitle = reg.ReadText(key, "UserLinkTitle");
    return v;
}

OptSaveResult SaveBtnOptions(const RegHive& hive, const BtnOptValues& v) {
    std::vector<Entry> entries = {
        Flag("ShowHide", v.showHide), Flag("Back", v.back),   Flag("Options", v.options),
        Flag("Forward", v.forward),   Flag("Stop", v.stop),   Flag("Refresh", v.refresh),
        Flag("Home", v.home),         Flag("Print", v.print), Flag("UserLink", v.userLink),
    };
    // Turning the link off keeps its address and caption for later.
    if (v.userLink) {
        entries.insert(entries.end(), {Text("UserLinkUrl", v.userLinkUrl),
                                       Text("UserLinkTitle", v.userLinkTitle)});
    }
    return WritePage(hive, kBtnOptsKey, entries);
}

NavOptValues LoadNavOptions(const RegHive& hive) {
    COptKey key;
    key.OpenOrCreate(hive, kNavOptsKey);
    const COptReg reg;
    NavOptValues v;
    v.navPanel = reg.ReadFlag(key, "NavPanel");
    v.navWidth = NumberText(reg, key, "NavWidth");
    v.navSearch = reg.ReadFlag(key, "NavSearch");
    v.navFavorites = reg.ReadFlag(key, "NavFavorites");
    return v;
}

OptSaveResult SaveNavOptions(const RegHive& hive, const NavOptValues& v) {
    return WritePage(hive, kNavOptsKey,
                     {Flag("NavFavorites", v.navFavorites), Flag("NavSearch", v.navSearch),
                      Flag("NavPanel", v.navPanel), Number("NavWidth", v.navWidth)});
}

std::optional<DecOptValues> LoadDecOptions(const RegHive& hive) {
    COptKey key;
    if (key.Open(hive, kDecOptsKey) != kErrorSuccess)
        return std::nullopt;
    const COptReg reg;
    DecOptValues v;
    v.opnDecDir = reg.ReadFlag(key, "OpnDecDir");
    v.chgDecDir = reg.ReadFlag(key, "ChgDecDir");
    v.quitAfterDec = reg.ReadFlag(key, "QuitAfterDec");
    return v;
}

OptSaveResult SaveDecOptions(const RegHive& hive, const DecOptValues& v) {
    return WritePage(hive, kDecOptsKey,
                     {Flag("OpnDecDir", v.opnDecDir), Flag("ChgDecDir", v.chgDecDir),
                      Flag("QuitAfterDec", v.quitAfterDec)});
}

IndOptValues LoadIndOptions(const RegHive& hive) {
    COptKey key;
    key.OpenOrCreate(hive, kIndOptsKey);
    const COptReg reg;
    IndOptValues v;
    v.indexingFinish = reg.ReadFlag(key, "IndexingFinish");
    v.sendToCompiler = reg.ReadFlag(key, "SendToCompiler");
    v.copyCss = reg.ReadFlag(key, "CopyCSS");
    v.cssPath = reg.ReadText(key, "CSSPath");
    v.cssStyle = reg.ReadText(key, "CSSStyle");
    return v;
}

OptSaveResult SaveIndOptions(const RegHive& hive, const IndOptValues& v) {
    return WritePage(hive, kIndOptsKey,
                     {Flag("IndexingFinish", v.indexingFinish),
                      Flag("SendToCompiler", v.sendToCompiler), Flag("CopyCSS", v.copyCss),
                      Text("CSSPath", v.cssPath), Text("CSSStyle", v.cssStyle)});
}

std::string CssFolder(std::string_view folderText, std::string_view programFolder) {
    if (EqualNoCase(folderText, "default"))
        return std::string(programFolder) + kCssDirName + "/";
    // An empty text names no folder; it is not the root.
    std::string folder(folderText);
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::vector<std::string> ListCssFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        // A folder named like a style sheet is no style sheet.
        if (!it->is_regular_file(typeError))
            continue;
        std::string name = it->path().filename().string();
        if (EndsWithCss(name))
            names.push_back(std::move(name));
    }
    if (names.empty())
        return {kNoCss};
    // The file system lists in no useful order; ties in case keep byte order
    // so the list is the same at every opening.
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NameLess(a, b); });
    return names;
}

std::size_t FindCssItem(const std::vector<std::string>& items, std::string_view stored) {
    if (items.empty() || stored.empty())
        return 0;
    // The stored name itself first: a longer name that merely begins with
    // it must not take its place.
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (EqualNoCase(items[i], stored))
            return i;
    }
    for (std::size_t step = 1; step <= items.size(); ++step) {
        const std::size_t i = step % items.size();
        if (StartsWithNoCase(items[i], stored))
            return i;
    }
    return 0;
}

} // namespace tbx
