#pragma once
// Window layouts as data, in dialog units: one unit is a quarter of the
// dialog font's average character width across and an eighth of its height
// down. The user-interface layer turns a template into widgets; controls are
// found by their numeric id.

#include <cstdint>
#include <span>
#include <string_view>

namespace tbx {

enum class ControlKind {
    Label, // static text; buddy names the control it labels
    Edit,  // one-line edit field
    PushButton,
    DefPushButton, // the button that Enter presses
    CheckBox,
    RadioButton,
    GroupBox,
    ComboBox,   // drop-down list; the height is the box's own
    Bitmap,     // image resource `image`, drawn to the control's size
    EtchedLine, // horizontal separator
    LogPane,    // the one-message log pane
    Animation,  // the busy animation
    LinkLabel,  // static text that opens a link when clicked
    ListView,   // a list of rows in columns (report view)
};

// Style flags of a control.
enum ControlFlag : std::uint32_t {
    kReadOnly = 1u << 0,   // edit field or log pane the user cannot type into
    kGroup = 1u << 1,      // starts a new group of radio buttons
    kThreeState = 1u << 2, // check box with a third, undetermined state
    kAlignRight = 1u << 3, // static text set against its right edge
    // How a control follows a window made larger than its template (only
    // windows that may be resized): its right or bottom edge moves with the
    // window's, and unless its left or top edge is fixed, the whole control
    // moves along.
    kGrowX = 1u << 4,   // wider by what the window gained
    kGrowY = 1u << 5,   // taller by what the window gained
    kFollowX = 1u << 6, // moved right by what the window gained
    kFollowY = 1u << 7, // moved down by what the window gained
};

// Static controls that nothing refers to carry negative ids, unique within
// their template, so that every control can still be found.
struct LayoutControl {
    int id = 0;
    ControlKind kind = ControlKind::Label;
    std::string_view text; // UTF-8; "&" marks a mnemonic
    int x = 0, y = 0, width = 0, height = 0;
    int buddy = 0;           // labels: id of the control they name
    int image = 0;           // bitmaps: image resource id
    std::uint32_t flags = 0; // ControlFlag bits
};

struct DialogTemplate {
    int id = 0;
    std::string_view caption;
    int width = 0, height = 0;
    std::span<const LayoutControl> controls; // in tab order
};

// Template ids.
inline constexpr int kBuildTemplate = 102;
inline constexpr int kDecompileTemplate = 153;
inline constexpr int kAboutTemplate = 100;
inline constexpr int kIndexTemplate = 159;
// Pages of the options sheet.
inline constexpr int kCmnOptTemplate = 9;
inline constexpr int kBtnOptTemplate = 138;
inline constexpr int kNavOptTemplate = 139;
inline constexpr int kDecOptTemplate = 158;
inline constexpr int kIndOptTemplate = 160;

// Image resource ids.
inline constexpr int kProgramIcon = 128;
inline constexpr int kImageHelpFile = 132;
inline constexpr int kImageBanner = 157;
inline constexpr int kImageWebPage = 1005;

// Controls of the build window that the program refers to.
inline constexpr int kIdBrowseButton = 1005;
inline constexpr int kIdBuildButton = 1006;
inline constexpr int kIdBuildLog = 1007;
inline constexpr int kIdBuildPageEdit = 1009;
inline constexpr int kIdBuildOutputEdit = 1010;
inline constexpr int kIdBuildTitleEdit = 1011;
inline constexpr int kIdOptionsButton = 1012;
inline constexpr int kIdDecompileButton = 1013;
inline constexpr int kIdIndexButton = 1014;
inline constexpr int kIdExitButton = 1015;
inline constexpr int kIdBuildAnimation = 1049;

// Controls of the about box.
inline constexpr int kIdAboutOk = 1;
inline constexpr int kIdAboutWebLink = 1055;
inline constexpr int kIdAboutMailLink = 1056;

// Controls of the index window.
inline constexpr int kIdIndexPages = 1067;
inline constexpr int kIdIndexBrowse = 1068;
inline constexpr int kIdIndexUp = 1069;
inline constexpr int kIdIndexDown = 1070;
inline constexpr int kIdIndexDelete = 1071;
inline constexpr int kIdIndexBack = 1072;
inline constexpr int kIdIndexEdit = 1074;
inline constexpr int kIdIndexRun = 1075;

// Controls of the decompile window.
inline constexpr int kIdDecBrowseButton = 1005;
inline constexpr int kIdDecStartButton = 1013;
inline constexpr int kIdDecFileEdit = 1050;
inline constexpr int kIdDecFolderEdit = 1051;
inline constexpr int kIdDecBackButton = 1052;
inline constexpr int kIdDecLog = 1054;

// Controls of the options pages.
inline constexpr int kIdOptAutoSize = 1025;
inline constexpr int kIdOptCustomSize = 1026;
inline constexpr int kIdOptSaveWndPos = 1036;
inline constexpr int kIdOptLSide = 1037;
inline constexpr int kIdOptTSide = 1038;
inline constexpr int kIdOptWidth = 1029;
inline constexpr int kIdOptHeight = 1030;
inline constexpr int kIdOptOpenAfterCompile = 1039;
inline constexpr int kIdOptChangeChmOutDir = 1062;
inline constexpr int kIdOptConsentOnRewrite = 1063;
inline constexpr int kIdOptQuitAfterCompile = 1040;
inline constexpr int kIdOptShowHide = 1021;
inline constexpr int kIdOptOptions = 1057;
inline constexpr int kIdOptBack = 1022;
inline constexpr int kIdOptForward = 1023;
inline constexpr int kIdOptStop = 1031;
inline constexpr int kIdOptRefresh = 1032;
inline constexpr int kIdOptHome = 1033;
inline constexpr int kIdOptPrint = 1034;
inline constexpr int kIdOptUserLink = 1035;
inline constexpr int kIdOptUserLinkUrl = 1027;
inline constexpr int kIdOptUserLinkTitle = 1028;
inline constexpr int kIdOptNavPanel = 1041;
inline constexpr int kIdOptNavWidth = 1042;
inline constexpr int kIdOptNavSearch = 1043;
inline constexpr int kIdOptNavFavorites = 1044;
inline constexpr int kIdOptOpnDecDir = 1064;
inline constexpr int kIdOptChgDecDir = 1065;
inline constexpr int kIdOptQuitAfterDec = 1066;
inline constexpr int kIdOptCssPath = 1076;
inline constexpr int kIdOptCssStyle = 1077;
inline constexpr int kIdOptBrowseCss = 1078;
inline constexpr int kIdOptIndexingFinish = 1079;
inline constexpr int kIdOptSendToCompiler = 1080;
inline constexpr int kIdOptCopyCss = 1081;

// The template with this id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);

// The control with this id in the template, or nullptr.
const LayoutControl* FindLayoutControl(const DialogTemplate& dialog, int id);

} // namespace tbx
