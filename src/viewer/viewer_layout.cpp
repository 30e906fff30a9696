#include "viewer/viewer_layout.h"

#include "viewer/help_link.h"

namespace tbx::viewer {
namespace {

bool Has(const std::optional<std::int64_t>& bits, std::int64_t bit) {
    return bits && (*bits & bit) != 0;
}

// A file a definition names ("index.htm", "/dir/a.htm", "ms-its:x.chm::/a.htm").
std::string StoredOr(const std::string& written, const std::string& otherwise,
                     std::string_view shownFile) {
    if (written.empty())
        return otherwise;
    const HelpLink link = ResolveLink(written, "/", shownFile);
    return link.kind == HelpLink::Kind::Stored ? link.stored : otherwise;
}

std::optional<JumpButton> Jump(bool asked, const std::string& text, const std::string& url) {
    if (!asked)
        return std::nullopt;
    return JumpButton{text.empty() ? url : text, url};
}

} // namespace

ViewerLayout LayoutFor(const chm::HelpWindow* window, const chm::HelpSystemInfo& system,
                       std::string_view shownFile) {
    ViewerLayout layout;
    layout.caption = system.title;
    layout.contentsFile = system.contentsFile;
    layout.indexFile = system.indexFile;
    layout.startTopic = system.defaultTopic;
    layout.homeTopic = system.defaultTopic;
    if (!window)
        return layout;

    if (!window->caption.empty())
        layout.caption = window->caption;
    const auto& props = window->properties;
    layout.captionFollowsTopic = Has(props, kPropChangeTitle);
    layout.syncContents = Has(props, kPropAutoSync);
    // A definition without properties asks for no pane, as in the Windows viewer.
    layout.navigation = Has(props, kPropTriPane);
    layout.navClosed = window->navClosed.value_or(0) != 0;
    if (window->navWidth && *window->navWidth > 0 && *window->navWidth < 10000)
        layout.navWidth = static_cast<int>(*window->navWidth);
    layout.searchTab = Has(props, kPropTabSearch);
    layout.favoritesTab = Has(props, kPropTabFavorites);
    layout.contentsFile = StoredOr(window->contentsFile, system.contentsFile, shownFile);
    layout.indexFile = StoredOr(window->indexFile, system.indexFile, shownFile);
    layout.contentsTab = !layout.contentsFile.empty();
    layout.indexTab = !layout.indexFile.empty();
    switch (window->defaultTab.value_or(0)) {
    case 1:
        layout.firstTab = NavTab::Index;
        break;
    case 2:
        layout.firstTab = NavTab::Search;
        break;
    case 3:
        layout.firstTab = NavTab::Favorites;
        break;
    default:
        layout.firstTab = NavTab::Contents;
    }

    layout.toolbar = !Has(props, kPropNoToolbar);
    layout.toolbarText = !Has(props, kPropNoToolbarText);
    // A definition that gives no buttons gets the viewer's usual ones.
    if (window->buttons) {
        const auto& buttons = window->buttons;
        layout.hideShow = Has(buttons, kButtonShowHide);
        layout.back = Has(buttons, kButtonBack);
        layout.forward = Has(buttons, kButtonForward);
        layout.home = Has(buttons, kButtonHome);
        layout.print = Has(buttons, kButtonPrint);
        layout.jump1 = Jump(Has(buttons, kButtonJump1), window->jump1Text, window->jump1Url);
        layout.jump2 = Jump(Has(buttons, kButtonJump2), window->jump2Text, window->jump2Url);
    }
    if (window->rect && window->rect->right > window->rect->left &&
        window->rect->bottom > window->rect->top)
        layout.rect = window->rect;

    layout.startTopic = StoredOr(window->defaultFile, system.defaultTopic, shownFile);
    layout.homeTopic = StoredOr(window->homeFile, layout.startTopic, shownFile);
    return layout;
}

} // namespace tbx::viewer
