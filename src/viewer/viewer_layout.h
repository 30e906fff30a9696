#pragma once
// What the viewer window shows for a help file, decided from its window
// definition (#WINDOWS) as the Windows viewer reads it. Standard C++.

#include "chm/help_reader.h"

#include <optional>
#include <string>

namespace tbx::viewer {

// Bits of a window definition's properties and toolbar buttons.
inline constexpr std::int64_t kPropTriPane = 0x20;
inline constexpr std::int64_t kPropNoToolbarText = 0x40;
inline constexpr std::int64_t kPropAutoSync = 0x100;
inline constexpr std::int64_t kPropTabSearch = 0x400;
inline constexpr std::int64_t kPropTabFavorites = 0x1000;
inline constexpr std::int64_t kPropChangeTitle = 0x2000;
inline constexpr std::int64_t kPropNoToolbar = 0x8000;
inline constexpr std::int64_t kButtonShowHide = 0x2;
inline constexpr std::int64_t kButtonBack = 0x4;
inline constexpr std::int64_t kButtonForward = 0x8;
inline constexpr std::int64_t kButtonHome = 0x40;
inline constexpr std::int64_t kButtonPrint = 0x2000;
inline constexpr std::int64_t kButtonJump1 = 0x40000;
inline constexpr std::int64_t kButtonJump2 = 0x80000;

enum class NavTab { Contents, Index, Search, Favorites };

struct JumpButton {
    std::string text; // UTF-8
    std::string url;  // as the definition writes it
};

struct ViewerLayout {
    std::string caption;
    bool captionFollowsTopic = false;
    bool syncContents = false; // the contents select the topic shown

    bool navigation = true; // the pane with the tabs
    bool navClosed = false; // the pane starts hidden
    int navWidth = 0;       // pixels; 0: the window's choice
    bool contentsTab = true, indexTab = true, searchTab = true, favoritesTab = false;
    NavTab firstTab = NavTab::Contents;

    bool toolbar = true;
    bool toolbarText = true;
    bool hideShow = true, back = true, forward = true, home = true, print = true;
    std::optional<JumpButton> jump1, jump2;

    std::optional<chm::WindowRect> rect; // screen pixels, as stored

    std::string startTopic; // stored names; the first page shown
    std::string homeTopic;
    std::string contentsFile;
    std::string indexFile;
};

// The layout for a help file: window, its definition (nullptr without one:
// the tri-pane window with contents, index and search), system, its #SYSTEM
// facts; shownFile, the help file's name, which "ms-its:" files may name. A
// file named by the definition counts from the root, as stored.
ViewerLayout LayoutFor(const chm::HelpWindow* window, const chm::HelpSystemInfo& system,
                       std::string_view shownFile);

} // namespace tbx::viewer
