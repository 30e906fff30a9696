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
};

// Style flags of a control.
enum ControlFlag : std::uint32_t {
    kReadOnly = 1u << 0,   // edit field or log pane the user cannot type into
    kGroup = 1u << 1,      // starts a new group of radio buttons
    kThreeState = 1u << 2, // check box with a third, undetermined state
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

// The template with this id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);

// The control with this id in the template, or nullptr.
const LayoutControl* FindLayoutControl(const DialogTemplate& dialog, int id);

} // namespace tbx
