#pragma once
// What the option pages load and save, without a window. Each page's values
// are held as its controls hold them (flags as check marks, numbers and texts
// as the edit texts), read from and written to its key by the rules the
// pages follow, so that tests reach every rule without a sheet.

#include "platform/registry.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbx {

// The style-list item that stands for "no style sheet".
inline constexpr const char* kNoCss = "NoCSS";
// The folder "Default" names, inside the program folder.
inline constexpr const char* kCssDirName = "css_dir";

// Outcome of saving one page.
struct OptSaveResult {
    long code = kErrorSuccess;
    // The value that was not written; empty when the key itself could not be
    // opened or created.
    std::string value;

    bool Ok() const { return code == kErrorSuccess; }
};

// "Общие", key CmnOpts.
struct CmnOptValues {
    bool saveChmWndPos = false;
    bool autoSize = false;
    std::string lSide, tSide, width, height;
    bool openAfterCompile = false;
    bool changeChmOutDir = false;
    bool consentOnRewrite = false;
    bool quitAfterCompile = false;

    bool operator==(const CmnOptValues&) const = default;
};

// "Кнопки", key BtnOpts.
struct BtnOptValues {
    bool showHide = false, options = false, back = false, forward = false;
    bool stop = false, refresh = false, home = false, print = false;
    bool userLink = false;
    std::string userLinkUrl, userLinkTitle;

    bool operator==(const BtnOptValues&) const = default;
};

// "Навигационная панель", key NavOpts.
struct NavOptValues {
    bool navPanel = false;
    std::string navWidth;
    bool navSearch = false;
    bool navFavorites = false;

    bool operator==(const NavOptValues&) const = default;
};

// "Разборка", key DecOpts.
struct DecOptValues {
    bool opnDecDir = false;
    bool chgDecDir = false;
    bool quitAfterDec = false;

    bool operator==(const DecOptValues&) const = default;
};

// "Индекс", key IndOpts.
struct IndOptValues {
    bool indexingFinish = false;
    bool sendToCompiler = false;
    bool copyCss = false;
    std::string cssPath;
    std::string cssStyle;

    bool operator==(const IndOptValues&) const = default;
};

// Loaders. Numbers come back as signed decimal text. "Общие", "Кнопки" and
// "Разборка" only open their key: nothing when it is missing, so the page
// keeps its controls as they were built. "Навигационная панель" and "Индекс"
// create a missing key.
std::optional<CmnOptValues> LoadCmnOptions(const RegHive& hive);
std::optional<BtnOptValues> LoadBtnOptions(const RegHive& hive);
NavOptValues LoadNavOptions(const RegHive& hive);
std::optional<DecOptValues> LoadDecOptions(const RegHive& hive);
IndOptValues LoadIndOptions(const RegHive& hive);

// Savers: create the key when missing and write every value of the page,
// except that the four window numbers are written only without automatic
// size, and the link address and caption only with the user link on. A
// value longer than the readers take is refused before anything is written,
// since it would read back as missing. A page is stored as one change: when
// any of its values cannot be written, none of them is.
OptSaveResult SaveCmnOptions(const RegHive& hive, const CmnOptValues& values);
OptSaveResult SaveBtnOptions(const RegHive& hive, const BtnOptValues& values);
OptSaveResult SaveNavOptions(const RegHive& hive, const NavOptValues& values);
OptSaveResult SaveDecOptions(const RegHive& hive, const DecOptValues& values);
OptSaveResult SaveIndOptions(const RegHive& hive, const IndOptValues& values);

// The folder whose style sheets the list offers, ending with "/": "default"
// in any letter case stands for css_dir in programFolder (which ends with
// "/"); any other text gets a "/" unless it ends in one. The empty text is
// no folder and stays empty.
std::string CssFolder(std::string_view folderText, std::string_view programFolder);

// The names of the files in folder that end in ".css" in any letter case,
// sorted by name without regard to case; the single item "NoCSS" when there
// is none or the folder cannot be read.
std::vector<std::string> ListCssFiles(const std::string& folder);

// The item to select for a stored style name: the item equal to it, else the
// first one that begins with it, searched from the second item on and then
// the first (both without regard to case), else the first item. An empty
// name selects the first item.
std::size_t FindCssItem(const std::vector<std::string>& items, std::string_view stored);

} // namespace tbx
